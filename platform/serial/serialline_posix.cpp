// The serial layer's POSIX side: comN links, Qt's lock files, the wake
// threshold on termios and the quiet spell after a request.

#include "serialline_posix.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSocketNotifier>

#include <algorithm>
#include <system_error>

#include <sys/ioctl.h>
#include <termios.h>

namespace lumo {

namespace fs = std::filesystem;

namespace {

// Qt's own read notifier of an open QSerialPort: a direct child watching the
// port's descriptor. This is Qt's inside, not its interface: should another
// Qt keep the notifier elsewhere, none is found here and the line is simply
// watched all the time, as without the quiet spell; nothing else changes.
QSocketNotifier* readNotifierOf(QSerialPort& port)
{
    const int fd = port.handle();
    if (fd < 0)
        return nullptr;
    for (QSocketNotifier* notifier : port.findChildren<QSocketNotifier*>(Qt::FindDirectChildrenOnly)) {
        if (notifier->type() == QSocketNotifier::Read && notifier->socket() == fd)
            return notifier;
    }
    return nullptr;
}

// Looking again this long before the answer is due absorbs timer lateness
// and an instrument that answers a little faster than the last ones.
constexpr std::chrono::microseconds kWatchMargin{2000};
// Shorter quiet spells are not worth a timer.
constexpr std::chrono::microseconds kShortestQuiet{2000};

}  // namespace

PortPath resolvePortPath(const fs::path& programDirectory, int number)
{
    std::error_code error;
    const fs::path directory = fs::absolute(programDirectory, error).lexically_normal();
    const fs::path entry = directory / ("com" + std::to_string(number));
    const auto entryStatus = fs::symlink_status(entry, error);
    if (error || !fs::exists(entryStatus)) {
        const std::string device = "/dev/ttyS" + std::to_string(number - 1);
        return {device, device};
    }
    fs::path device = entry;
    std::string shown = entry.string();
    if (fs::is_symlink(entryStatus)) {
        fs::path target = fs::read_symlink(entry, error);
        if (!error) {
            if (target.is_relative())
                target = directory / target;
            device = target.lexically_normal();
            shown += " -> " + device.string();
        }
    }
    // A target such as /dev/serial/by-id/usb-... is itself a link: open the
    // real device, so that Qt's lock file is the one every other program
    // that opens /dev/ttyUSB0 takes too.
    const fs::path real = fs::canonical(device, error);
    if (!error && real != device) {
        shown += " -> " + real.string();
        device = real;
    }
    return {device.string(), shown};
}

// Qt's lock file LCK..<name>: Qt keeps it in the first of these directories
// that has it (or may have it), naming it after the device path below /dev
// with '/' as '_'.
std::optional<long long> lockingProcess(const std::string& device)
{
    QString name = QString::fromStdString(device);
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QString directories[] = {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp",
                                   "/var/tmp", "/var/lock/lockdev", "/run/lock", QDir::tempPath()};
    for (const QString& directory : directories) {
        const QString path = directory + "/LCK.." + name;
        if (!QFileInfo::exists(path))
            continue;
        qint64 pid = 0;
        QString host, application;
        return QLockFile(path).getLockInfo(&pid, &host, &application) ? pid : 0;
    }
    return std::nullopt;
}

LineWaker::LineWaker(QSerialPort& port) : port_(port)
{
    listenTimer_.setSingleShot(true);
    listenTimer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&listenTimer_, &QTimer::timeout, &port_, [this] { watchLineNow(); });
}

// The line discipline holds back the read notification until VMIN bytes
// are waiting (non-canonical mode, VTIME 0), so the program wakes once per
// answer instead of once per byte as the bytes trickle in at the line's
// speed. Reads stay non-blocking; fewer bytes simply wait, as they would
// for the receive event anyway, until the next tick clears them. Qt sets
// its own termios at open and at every line setting, so this follows those.
void LineWaker::apply(int receiveThreshold)
{
    const int fd = port_.handle();
    termios tio{};
    if (!port_.isOpen() || fd < 0 || ::tcgetattr(fd, &tio) != 0)
        return;
    const auto wake = static_cast<cc_t>(std::clamp(receiveThreshold, 1, 255));
    if (tio.c_cc[VMIN] == wake && tio.c_cc[VTIME] == 0)
        return;
    tio.c_cc[VMIN] = wake;
    tio.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &tio);
}

// Bytes that trickle in one at a time (a paced line, a USB adapter with a
// short latency timer) would still wake the program once per byte: the
// kernel wakes every reader of the line for each byte and only then finds
// too few waiting. After a request the port therefore stops watching the
// line for as long as the answer has taken to come complete lately, never
// longer than request and answer take on the wire, and looks again a
// little before it is due.
void LineWaker::afterWrite(std::size_t bytesWritten, int answerBytes, const LineSettings& line)
{
    if (listenTimer_.isActive())
        watchLineNow();
    writtenAt_ = std::chrono::steady_clock::now();
    answerBytes_ = answerBytes;
    answerAwaited_ = answerBytes > 0;
    if (!answerAwaited_ || answerTimesKnown_ == 0)
        return;
    const auto onTheWire =
        line.timeOfBits(static_cast<long long>(bytesWritten + static_cast<std::size_t>(answerBytes)) *
                        line.bitsPerCharacter());
    const std::size_t known = std::min(answerTimesKnown_, kRememberedAnswers);
    const auto fastestLately = *std::min_element(answerTimes_.begin(), answerTimes_.begin() + known);
    const auto quiet = std::min(onTheWire, fastestLately) - kWatchMargin;
    if (quiet < kShortestQuiet)
        return;
    QSocketNotifier* notifier = readNotifierOf(port_);
    if (!notifier || !notifier->isEnabled())
        return;
    notifier->setEnabled(false);
    listenTimer_.start(std::chrono::duration_cast<std::chrono::milliseconds>(quiet));
}

// At the end of a quiet spell, or when a new request cuts it short.
void LineWaker::watchLineNow()
{
    const bool cutShort = listenTimer_.isActive();
    listenTimer_.stop();
    if (!port_.isOpen())
        return;
    QSocketNotifier* notifier = readNotifierOf(port_);
    if (!notifier || notifier->isEnabled())
        return;
    if (cutShort && answerAwaited_) {
        // A new request went out before the answer to the last one was
        // seen: requests come faster than the learned answer time, and a
        // spell that outlasts the gap between requests would hide every
        // answer from then on. Watch the next answer from the start.
        answerTimesKnown_ = 0;
        answerAwaited_ = false;
    } else if (answerAwaited_) {
        int waiting = 0;
        if (::ioctl(port_.handle(), FIONREAD, &waiting) == 0 && waiting + port_.bytesAvailable() >= answerBytes_) {
            // The answer came faster than the last ones: learn afresh, and
            // not from this answer, whose time here is the quiet spell's.
            answerTimesKnown_ = 0;
            answerAwaited_ = false;
        }
    }
    notifier->setEnabled(true);
}

void LineWaker::answerComplete()
{
    if (!answerAwaited_)
        return;
    answerAwaited_ = false;
    const auto took = std::chrono::steady_clock::now() - writtenAt_;
    answerTimes_[answerTimesKnown_ % kRememberedAnswers] =
        std::chrono::duration_cast<std::chrono::microseconds>(took);
    ++answerTimesKnown_;
}

void LineWaker::stop()
{
    listenTimer_.stop();
    answerAwaited_ = false;
}

}  // namespace lumo
