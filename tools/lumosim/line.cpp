#include "line.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace lumo::sim {

namespace {

std::string systemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

bool setNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

std::optional<speed_t> speedOfBaud(int baud)
{
    static const std::pair<int, speed_t> speeds[] = {
        {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
        {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
        {230400, B230400}, {460800, B460800}, {921600, B921600},
    };
    for (const auto& [rate, speed] : speeds) {
        if (rate == baud)
            return speed;
    }
    return std::nullopt;
}

void makeRaw8N1(termios& settings)
{
    cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
}

} // namespace

LineOutcome openPseudoTerminal()
{
    Line line;
    termios settings{};
    cfmakeraw(&settings);
    makeRaw8N1(settings);
    if (openpty(&line.fd, &line.slaveFd, nullptr, &settings, nullptr) != 0)
        return {std::nullopt, systemError("cannot open a pseudo-terminal")};
    const char* name = ttyname(line.slaveFd);
    if (!name || !setNonBlocking(line.fd)) {
        closeLine(line);
        return {std::nullopt, systemError("cannot set up the pseudo-terminal")};
    }
    line.path = name;
    return {line, {}};
}

LineOutcome openSerialDevice(const std::string& path, int baud)
{
    const auto speed = speedOfBaud(baud);
    if (!speed)
        return {std::nullopt, path + ": baud rate " + std::to_string(baud) + " is not supported"};
    Line line;
    line.path = path;
    line.fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (line.fd < 0)
        return {std::nullopt, systemError(path)};
    termios settings{};
    if (tcgetattr(line.fd, &settings) != 0) {
        const std::string error = systemError(path + ": not a serial device");
        closeLine(line);
        return {std::nullopt, error};
    }
    makeRaw8N1(settings);
    cfsetispeed(&settings, *speed);
    cfsetospeed(&settings, *speed);
    if (tcsetattr(line.fd, TCSANOW, &settings) != 0) {
        const std::string error = systemError(path + ": cannot set 8N1 at " + std::to_string(baud));
        closeLine(line);
        return {std::nullopt, error};
    }
    tcflush(line.fd, TCIOFLUSH);
    return {line, {}};
}

void closeLine(Line& line)
{
    if (line.fd >= 0)
        ::close(line.fd);
    if (line.slaveFd >= 0)
        ::close(line.slaveFd);
    line.fd = line.slaveFd = -1;
}

bool makeLink(const std::string& linkPath, const std::string& target, std::string& error)
{
    struct stat existing{};
    if (lstat(linkPath.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            error = linkPath + ": exists and is not a symbolic link; not replaced";
            return false;
        }
        if (::unlink(linkPath.c_str()) != 0) {
            error = systemError(linkPath + ": cannot remove the old link");
            return false;
        }
    }
    if (::symlink(target.c_str(), linkPath.c_str()) != 0) {
        error = systemError(linkPath + ": cannot make the link");
        return false;
    }
    return true;
}

} // namespace lumo::sim
