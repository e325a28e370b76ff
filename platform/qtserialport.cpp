#include "qtserialport.h"

#include <algorithm>

#include <sys/ioctl.h>
#include <termios.h>

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QMetaObject>
#include <QSocketNotifier>

#include <charconv>
#include <optional>
#include <system_error>
#include <vector>

namespace lumo {

namespace fs = std::filesystem;

namespace {

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::vector<std::string_view> commaFields(std::string_view text)
{
    std::vector<std::string_view> fields;
    for (;;) {
        const auto comma = text.find(',');
        fields.push_back(trimmed(text.substr(0, comma)));
        if (comma == std::string_view::npos)
            return fields;
        text.remove_prefix(comma + 1);
    }
}

bool wholeNumber(std::string_view text, qint32& value)
{
    if (text.empty())
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

bool parityOfLetter(std::string_view text, QSerialPort::Parity& parity)
{
    if (text.size() != 1)
        return false;
    switch (text[0]) {
    case 'n': case 'N': parity = QSerialPort::NoParity; return true;
    case 'e': case 'E': parity = QSerialPort::EvenParity; return true;
    case 'o': case 'O': parity = QSerialPort::OddParity; return true;
    case 'm': case 'M': parity = QSerialPort::MarkParity; return true;
    case 's': case 'S': parity = QSerialPort::SpaceParity; return true;
    default: return false;
    }
}

bool stopBitsOfText(std::string_view text, QSerialPort::StopBits& stopBits)
{
    if (text == "1")
        stopBits = QSerialPort::OneStop;
    else if (text == "1.5")
        stopBits = QSerialPort::OneAndHalfStop;
    else if (text == "2")
        stopBits = QSerialPort::TwoStop;
    else
        return false;
    return true;
}

std::string text(const QString& qtText) { return qtText.toStdString(); }

// Qt's own read notifier of an open QSerialPort: a direct child watching the
// port's descriptor. Null if this Qt keeps it elsewhere; the line is then
// simply watched all the time.
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

// The process holding a device, as Qt's lock file LCK..<name> tells it: Qt
// keeps it in the first of these directories that has it (or may have it),
// naming it after the device path below /dev with '/' as '_'. Nothing when
// there is no lock file; 0 when it says no process.
std::optional<qint64> lockingProcess(const std::string& device)
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

// A failed open in the operator's words, where the system's error says
// something they can act on.
std::string openFailureCause(QSerialPort::SerialPortError error, const std::string& device, const std::string& name)
{
    if (error == QSerialPort::DeviceNotFoundError)
        return "串口设备不存在：" + name;
    if (error != QSerialPort::PermissionError)
        return {};
    if (const std::optional<qint64> pid = lockingProcess(device))
        return "串口正被另一个程序使用" + (*pid > 0 ? "（进程号 " + std::to_string(*pid) + "）" : std::string()) + "：" +
               name;
    return "没有使用串口的权限：" + name + "。操作员须是 dialout 组的成员。";
}

}  // namespace

Result<LineSettings> parseLineSettings(std::string_view settingsText)
{
    const std::string quoted = "line settings \"" + std::string(settingsText) + "\"";
    const auto fields = commaFields(settingsText);
    if (fields.size() != 4)
        return Result<LineSettings>::failure(quoted + ": expected baud,parity,data bits,stop bits");
    LineSettings settings;
    if (!wholeNumber(fields[0], settings.baud) || settings.baud <= 0)
        return Result<LineSettings>::failure(quoted + ": baud rate is not a positive number");
    if (!parityOfLetter(fields[1], settings.parity))
        return Result<LineSettings>::failure(quoted + ": parity is not one of n, e, o, m, s");
    qint32 dataBits = 0;
    if (!wholeNumber(fields[2], dataBits) || dataBits < 5 || dataBits > 8)
        return Result<LineSettings>::failure(quoted + ": data bits are not 5 to 8");
    settings.dataBits = static_cast<QSerialPort::DataBits>(dataBits);
    if (!stopBitsOfText(fields[3], settings.stopBits))
        return Result<LineSettings>::failure(quoted + ": stop bits are not 1, 1.5 or 2");
    return Result<LineSettings>::success(settings);
}

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

QtSerialPort::QtSerialPort(fs::path programDirectory)
    : programDirectory_(std::move(programDirectory)), port_(std::make_unique<QSerialPort>())
{
    listenTimer_.setSingleShot(true);
    listenTimer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&listenTimer_, &QTimer::timeout, port_.get(), [this] { watchLineNow(); });
    QObject::connect(port_.get(), &QSerialPort::readyRead, port_.get(), [this] { onReadyRead(); });
    QObject::connect(port_.get(), &QSerialPort::errorOccurred, port_.get(),
                     [this](QSerialPort::SerialPortError error) { onError(error); });
}

QtSerialPort::~QtSerialPort()
{
    port_->disconnect();
    listenTimer_.stop();
    if (port_->isOpen())
        port_->close();
}

std::string QtSerialPort::portName() const
{
    return "COM" + std::to_string(number_) + " (" + resolvePortPath(programDirectory_, number_).shown + ")";
}

Status QtSerialPort::setPortNumber(int number)
{
    if (number < 1 || number > 255)
        return Status::failure("port number " + std::to_string(number) + " is not in 1..255");
    if (opened_)
        return Status::failure("cannot change the port number while " + openedName_ + " is open");
    number_ = number;
    return Status::success();
}

int QtSerialPort::portNumber() const { return number_; }

Status QtSerialPort::open()
{
    if (opened_ && !lost_)
        return Status::failure(openedName_ + " is already open");
    if (lost_)
        closeLostPort();
    return openResolved();
}

// Resolves COMN afresh and opens it with every setting remembered so far;
// Qt applies them as part of opening and refuses the open if one fails.
Status QtSerialPort::openResolved()
{
    const PortPath path = resolvePortPath(programDirectory_, number_);
    const std::string name = "COM" + std::to_string(number_) + " (" + path.shown + ")";
    port_->setPortName(QString::fromStdString(path.device));
    port_->setBaudRate(lineSettings_.baud);
    port_->setParity(lineSettings_.parity);
    port_->setDataBits(lineSettings_.dataBits);
    port_->setStopBits(lineSettings_.stopBits);
    port_->clearError();
    if (!port_->open(QIODevice::ReadWrite)) {
        openFailure_ = "cannot open " + name + ": " + text(port_->errorString());
        return Status::failure(openFailure_, openFailureCause(port_->error(), path.device, name));
    }
    openFailure_.clear();
    opened_ = true;
    lost_ = false;
    lossReason_.clear();
    openedName_ = name;
    applyWakeThreshold();
    return Status::success();
}

// The line discipline holds back the read notification until VMIN bytes
// are waiting (non-canonical mode, VTIME 0), so the program wakes once per
// answer instead of once per byte as the bytes trickle in at the line's
// speed. Reads stay non-blocking; fewer bytes simply wait, as they would
// for the receive event anyway, until the next tick clears them.
void QtSerialPort::applyWakeThreshold()
{
    if (!opened_ || lost_)
        return;
    const int fd = port_->handle();
    termios tio{};
    if (fd < 0 || ::tcgetattr(fd, &tio) != 0)
        return;
    const auto wake = static_cast<cc_t>(std::clamp(receiveThreshold_, 1, 255));
    if (tio.c_cc[VMIN] == wake && tio.c_cc[VTIME] == 0)
        return;
    tio.c_cc[VMIN] = wake;
    tio.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &tio);
}

Status QtSerialPort::applyLineSettings(const LineSettings& settings)
{
    const auto failed = [this](const char* what) {
        return Status::failure("cannot set the " + std::string(what) + " of " + openedName_ + ": " +
                               text(port_->errorString()));
    };
    if (!port_->setBaudRate(settings.baud))
        return failed("baud rate");
    if (!port_->setParity(settings.parity))
        return failed("parity");
    if (!port_->setDataBits(settings.dataBits))
        return failed("data bits");
    if (!port_->setStopBits(settings.stopBits))
        return failed("stop bits");
    return Status::success();
}

Status QtSerialPort::setNoHandshaking()
{
    if (!port_->setFlowControl(QSerialPort::NoFlowControl))
        return Status::failure("cannot turn off flow control of " + openedName_ + ": " +
                               text(port_->errorString()));
    return Status::success();
}

// Qt has no counterpart of a send threshold; it is kept for the record.
Status QtSerialPort::setSendThreshold(int bytes)
{
    if (bytes < 0)
        return Status::failure("send threshold " + std::to_string(bytes) + " is negative");
    sendThreshold_ = bytes;
    return Status::success();
}

Status QtSerialPort::setLineSettings(std::string_view settingsText)
{
    const auto parsed = parseLineSettings(settingsText);
    if (!parsed.ok())
        return Status::failure(parsed.error());
    if (port_->isOpen()) {
        port_->clearError();
        if (Status applied = applyLineSettings(parsed.value()); !applied.ok()) {
            // A pty or driver may refuse parity or 7 bits half-way: put the
            // line back the way it was rather than leave it mixed.
            applyLineSettings(lineSettings_);
            return applied;
        }
    }
    lineSettings_ = parsed.value();
    applyWakeThreshold();
    return Status::success();
}

// QSerialPort always hands over bytes; nothing to switch.
Status QtSerialPort::setBinaryInput()
{
    binaryInput_ = true;
    return Status::success();
}

Status QtSerialPort::setReceiveThreshold(int bytes)
{
    if (bytes < 0)
        return Status::failure("receive threshold " + std::to_string(bytes) + " is negative");
    receiveThreshold_ = bytes;
    applyWakeThreshold();
    return Status::success();
}

// While the far end is gone every operation but write fails without a
// word; write is the one that tries to get the line back.
Status QtSerialPort::ensureUsable(const char* operation)
{
    if (lost_)
        return Status::failure("cannot " + std::string(operation) + ": " + openedName_ + " was lost (" +
                               lossReason_ + ")");
    // Say why it is not open: start-up reports the last failure it saw,
    // and that must still name the device and the system's reason.
    if (!opened_)
        return Status::failure(portName() + " is not open" +
                               (openFailure_.empty() ? std::string() : " (" + openFailure_ + ")"));
    return Status::success();
}

Status QtSerialPort::clearOutput()
{
    if (Status usable = ensureUsable("clear output"); !usable.ok())
        return usable;
    if (!port_->clear(QSerialPort::Output))
        return Status::failure("cannot clear output of " + openedName_ + ": " + text(port_->errorString()));
    return Status::success();
}

Status QtSerialPort::clearInput()
{
    if (Status usable = ensureUsable("clear input"); !usable.ok())
        return usable;
    if (!port_->clear(QSerialPort::Input))
        return Status::failure("cannot clear input of " + openedName_ + ": " + text(port_->errorString()));
    return Status::success();
}

Status QtSerialPort::write(std::span<const std::uint8_t> bytes)
{
    if (lost_) {
        closeLostPort();
        if (Status reopened = openResolved(); !reopened.ok())
            return Status::failure("cannot write: " + reopened.error());
    }
    if (Status usable = ensureUsable("write"); !usable.ok())
        return usable;
    port_->clearError();
    const auto size = static_cast<qint64>(bytes.size());
    const qint64 taken = port_->write(reinterpret_cast<const char*>(bytes.data()), size);
    if (taken != size)
        return Status::failure("cannot write " + std::to_string(size) + " bytes to " + openedName_ + ": " +
                               text(port_->errorString()));
    // Hand the request to the driver now rather than at the next turn of
    // the event loop: the instrument's answer time starts here.
    port_->flush();
    if (lost_)
        return Status::failure("cannot write to " + openedName_ + ": " + lossReason_);
    if (port_->error() != QSerialPort::NoError) {
        const std::string reason = text(port_->errorString());
        port_->clear(QSerialPort::Output);
        return Status::failure("cannot write to " + openedName_ + ": " + reason);
    }
    watchLineAfter(bytes.size());
    return Status::success();
}

// The time one character takes on the wire at the configured settings, at
// the least (1.5 stop bits are counted as one).
std::chrono::microseconds QtSerialPort::characterTime() const
{
    const int bits = 1 + static_cast<int>(lineSettings_.dataBits) +
                     (lineSettings_.parity == QSerialPort::NoParity ? 0 : 1) +
                     (lineSettings_.stopBits == QSerialPort::TwoStop ? 2 : 1);
    return std::chrono::microseconds(1'000'000LL * bits / std::max(lineSettings_.baud, 1));
}

void QtSerialPort::watchLineAfter(std::size_t bytesWritten)
{
    if (listenTimer_.isActive())
        watchLineNow();
    writtenAt_ = std::chrono::steady_clock::now();
    answerAwaited_ = receiveThreshold_ > 0;
    if (!answerAwaited_ || answerTimesKnown_ == 0)
        return;
    // The request still has to go out and the answer to come back.
    const std::chrono::microseconds onTheWire =
        characterTime() * static_cast<std::chrono::microseconds::rep>(bytesWritten + receiveThreshold_);
    const std::size_t known = std::min(answerTimesKnown_, kRememberedAnswers);
    const auto fastestLately = *std::min_element(answerTimes_.begin(), answerTimes_.begin() + known);
    const auto quiet = std::min(onTheWire, fastestLately) - kWatchMargin;
    if (quiet < kShortestQuiet)
        return;
    QSocketNotifier* notifier = readNotifierOf(*port_);
    if (!notifier || !notifier->isEnabled())
        return;
    notifier->setEnabled(false);
    listenTimer_.start(std::chrono::duration_cast<std::chrono::milliseconds>(quiet));
}

// At the end of a quiet spell, or when a new request cuts it short.
void QtSerialPort::watchLineNow()
{
    const bool cutShort = listenTimer_.isActive();
    listenTimer_.stop();
    if (!port_->isOpen())
        return;
    QSocketNotifier* notifier = readNotifierOf(*port_);
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
        if (::ioctl(port_->handle(), FIONREAD, &waiting) == 0 &&
            waiting + port_->bytesAvailable() >= receiveThreshold_) {
            // The answer came faster than the last ones: learn afresh, and
            // not from this answer, whose time here is the quiet spell's.
            answerTimesKnown_ = 0;
            answerAwaited_ = false;
        }
    }
    notifier->setEnabled(true);
}

void QtSerialPort::noteAnswerComplete()
{
    if (!answerAwaited_)
        return;
    answerAwaited_ = false;
    const auto took = std::chrono::steady_clock::now() - writtenAt_;
    answerTimes_[answerTimesKnown_ % kRememberedAnswers] =
        std::chrono::duration_cast<std::chrono::microseconds>(took);
    ++answerTimesKnown_;
}

Result<Bytes> QtSerialPort::readWaiting()
{
    if (Status usable = ensureUsable("read"); !usable.ok())
        return Result<Bytes>::failure(usable.error());
    const QByteArray waiting = port_->readAll();
    return Result<Bytes>::success(Bytes(waiting.begin(), waiting.end()));
}

void QtSerialPort::setReceiveHandler(ReceiveHandler handler) { receiveHandler_ = std::move(handler); }

// readyRead may come once per piece or once for several pieces, so the
// threshold is checked on what is waiting, not on the signals.
void QtSerialPort::onReadyRead()
{
    if (lost_ || inReceiveHandler_ || receiveThreshold_ <= 0 || !receiveHandler_)
        return;
    if (port_->bytesAvailable() < receiveThreshold_)
        return;
    noteAnswerComplete();
    // The handler reads, clears and writes on this port; a readyRead that
    // Qt delivers meanwhile must not raise a second event inside the first.
    inReceiveHandler_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{inReceiveHandler_};
    receiveHandler_(kReceiveEventData);
}

// The far end is gone: Qt would repeat the read error on every turn of the
// event loop. Closing is deferred to the next turn because the error is
// reported from inside Qt's own read notification.
void QtSerialPort::onError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    if (!opened_ || lost_)
        return;
    lost_ = true;
    lossReason_ = text(port_->errorString());
    closeQueued_ = true;
    QMetaObject::invokeMethod(
        port_.get(),
        [this] {
            if (closeQueued_)
                closeLostPort();
        },
        Qt::QueuedConnection);
}

void QtSerialPort::closeLostPort()
{
    closeQueued_ = false;
    listenTimer_.stop();
    answerAwaited_ = false;
    if (port_->isOpen())
        port_->close();
}

}  // namespace lumo
