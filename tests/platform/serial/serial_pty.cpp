#include "serial_pty.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/resource.h>
#include <unistd.h>

namespace lumo::testing {

void runEventLoopFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        runEventLoopFor(10);
    }
    return true;
}

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

Pty::Pty()
{
    char name[PATH_MAX] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    slavePath_ = name;
}

Pty::~Pty()
{
    closeMaster();
    if (slave_ >= 0)
        ::close(slave_);
}

void Pty::send(const Bytes& bytes)
{
    if (::write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("write to pty master failed");
}

Bytes Pty::receive(std::size_t count, int ms)
{
    Bytes got;
    waitUntil(
        [&] {
            pollfd ready{master_, POLLIN, 0};
            while (got.size() < count && ::poll(&ready, 1, 0) == 1 && (ready.revents & POLLIN)) {
                std::uint8_t chunk[256];
                const ssize_t n = ::read(master_, chunk, sizeof chunk);
                if (n <= 0)
                    break;
                got.insert(got.end(), chunk, chunk + n);
            }
            return got.size() >= count;
        },
        ms);
    return got;
}

void Pty::closeMaster()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

ProgramDirectory::ProgramDirectory()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "lumo-serial-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ProgramDirectory::~ProgramDirectory()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void ProgramDirectory::link(int number, const std::string& target)
{
    const auto entry = path_ / ("com" + std::to_string(number));
    std::error_code ignored;
    std::filesystem::remove(entry, ignored);
    std::filesystem::create_symlink(target, entry);
}

}  // namespace lumo::testing
