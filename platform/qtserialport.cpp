#include "qtserialport.h"

#include <QDir>
#include <QFileInfo>

#include <charconv>

namespace lumo {

namespace {

std::optional<int> wholeNumber(std::string_view text)
{
    int value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::vector<std::string_view> splitCommas(std::string_view text)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string_view::npos)
            return parts;
        start = comma + 1;
    }
}

}  // namespace

std::optional<LineSettings> parseLineSettings(std::string_view text)
{
    const std::vector<std::string_view> parts = splitCommas(text);
    if (parts.size() != 4)
        return std::nullopt;
    LineSettings line;
    const std::optional<int> baud = wholeNumber(parts[0]);
    if (!baud || *baud <= 0)
        return std::nullopt;
    line.baud = *baud;
    if (parts[1].size() != 1)
        return std::nullopt;
    switch (parts[1][0]) {
    case 'n': case 'N': line.parity = QSerialPort::NoParity; break;
    case 'e': case 'E': line.parity = QSerialPort::EvenParity; break;
    case 'o': case 'O': line.parity = QSerialPort::OddParity; break;
    case 'm': case 'M': line.parity = QSerialPort::MarkParity; break;
    case 's': case 'S': line.parity = QSerialPort::SpaceParity; break;
    default: return std::nullopt;
    }
    const std::optional<int> bits = wholeNumber(parts[2]);
    if (!bits || *bits < 5 || *bits > 8)
        return std::nullopt;
    line.dataBits = static_cast<QSerialPort::DataBits>(*bits);
    if (parts[3] == "1")
        line.stopBits = QSerialPort::OneStop;
    else if (parts[3] == "1.5")
        line.stopBits = QSerialPort::OneAndHalfStop;
    else if (parts[3] == "2")
        line.stopBits = QSerialPort::TwoStop;
    else
        return std::nullopt;
    return line;
}

QtSerialPort::QtSerialPort(const QString& programDir) : dir_(programDir)
{
    QObject::connect(&port_, &QSerialPort::readyRead, [this] { onReadyRead(); });
    QObject::connect(&port_, &QSerialPort::errorOccurred,
                     [this](QSerialPort::SerialPortError error) { onError(error); });
}

QtSerialPort::~QtSerialPort()
{
    if (port_.isOpen())
        port_.close();
}

QString QtSerialPort::devicePath(int number) const
{
    const QFileInfo link(QDir(dir_).filePath(QStringLiteral("com%1").arg(number)));
    if (link.isSymLink() || link.exists()) {
        // Follow every link, so the same device is always locked under the
        // same name; a dangling link names its own target.
        const QString device = link.canonicalFilePath();
        if (!device.isEmpty())
            return device;
        return link.isSymLink() ? link.symLinkTarget() : link.absoluteFilePath();
    }
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

std::string QtSerialPort::describe() const
{
    const QString link = QDir(dir_).filePath(QStringLiteral("com%1").arg(number_));
    const QString device = openedPath_.isEmpty() ? devicePath(number_) : openedPath_;
    QString text = QStringLiteral("COM%1 (").arg(number_);
    if (QFileInfo(link).isSymLink() || QFileInfo::exists(link))
        text += link + QStringLiteral(" -> ");
    text += device + ')';
    return text.toStdString();
}

Status QtSerialPort::failure(const QString& what) const
{
    return Status::failure(describe() + ": " + what.toStdString());
}

Status QtSerialPort::notOpen() const { return Status::failure(describe() + " is not open"); }

Status QtSerialPort::setPortNumber(int number)
{
    if (port_.isOpen())
        return failure(QStringLiteral("the port number cannot change while the port is open"));
    if (number < 1 || number > 255)
        return Status::failure("port number " + std::to_string(number) + " is outside 1..255");
    number_ = number;
    return Status::success();
}

Status QtSerialPort::open()
{
    if (port_.isOpen())
        return failure(QStringLiteral("the port is already open"));
    return openDevice();
}

Status QtSerialPort::openDevice()
{
    openedPath_.clear();
    const QString path = devicePath(number_);
    port_.setPortName(path);
    if (!port_.open(QIODevice::ReadWrite))
        return Status::failure("cannot open " + describe() + ": " + port_.errorString().toStdString());
    openedPath_ = path;
    lost_ = false;
    port_.setFlowControl(QSerialPort::NoFlowControl);
    return applyLineSettings(line_);
}

Status QtSerialPort::applyLineSettings(const LineSettings& line)
{
    if (!port_.setBaudRate(line.baud) || !port_.setParity(line.parity) || !port_.setDataBits(line.dataBits) ||
        !port_.setStopBits(line.stopBits))
        return failure(QStringLiteral("cannot set the line settings: ") + port_.errorString());
    return Status::success();
}

Status QtSerialPort::setNoHandshaking()
{
    if (port_.isOpen() && !port_.setFlowControl(QSerialPort::NoFlowControl))
        return failure(QStringLiteral("cannot turn off flow control: ") + port_.errorString());
    return Status::success();
}

Status QtSerialPort::setSendThreshold(int bytes)
{
    if (bytes < 0)
        return Status::failure("send threshold " + std::to_string(bytes) + " is negative");
    sendThreshold_ = bytes;  // no send events are used
    return Status::success();
}

Status QtSerialPort::setLineSettings(std::string_view settings)
{
    const std::optional<LineSettings> line = parseLineSettings(settings);
    if (!line)
        return failure(QStringLiteral("malformed line settings \"%1\"").arg(QString::fromUtf8(settings)));
    if (port_.isOpen()) {
        if (Status applied = applyLineSettings(*line); !applied.ok())
            return applied;
    }
    line_ = *line;
    return Status::success();
}

Status QtSerialPort::setBinaryInput() { return Status::success(); }  // bytes are all we ever hand over

Status QtSerialPort::setReceiveThreshold(int bytes)
{
    if (bytes < 0)
        return Status::failure("receive threshold " + std::to_string(bytes) + " is negative");
    receiveThreshold_ = bytes;
    return Status::success();
}

Status QtSerialPort::clearOutput()
{
    if (!port_.isOpen())
        return notOpen();
    if (!port_.clear(QSerialPort::Output))
        return failure(QStringLiteral("cannot clear the output: ") + port_.errorString());
    return Status::success();
}

Status QtSerialPort::clearInput()
{
    if (!port_.isOpen())
        return notOpen();
    if (!port_.clear(QSerialPort::Input))
        return failure(QStringLiteral("cannot clear the input: ") + port_.errorString());
    return Status::success();
}

Status QtSerialPort::write(std::span<const std::uint8_t> bytes)
{
    // A device that vanished gets one attempt to come back per request.
    if (lost_ && !port_.isOpen()) {
        if (Status reopened = openDevice(); !reopened.ok())
            return reopened;
    }
    if (!port_.isOpen())
        return notOpen();
    const auto size = static_cast<qint64>(bytes.size());
    const qint64 written = port_.write(reinterpret_cast<const char*>(bytes.data()), size);
    if (written != size)
        return failure(QStringLiteral("cannot write: ") + port_.errorString());
    port_.flush();  // out now, not at the next turn of the event loop
    return Status::success();
}

Result<Bytes> QtSerialPort::readWaiting()
{
    if (!port_.isOpen())
        return Result<Bytes>::failure(notOpen().error());
    const QByteArray data = port_.readAll();
    return Result<Bytes>::success(Bytes(data.begin(), data.end()));
}

void QtSerialPort::onReadyRead()
{
    // Pieces are joined: the event waits for the threshold, however the bytes
    // arrived. The handler may read, clear or write; it is never re-entered.
    if (inHandler_ || receiveThreshold_ <= 0 || !handler_)
        return;
    if (port_.bytesAvailable() < receiveThreshold_)
        return;
    inHandler_ = true;
    handler_(kReceiveEventData);
    inHandler_ = false;
}

void QtSerialPort::onError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    if (!port_.isOpen())
        return;
    port_.close();
    lost_ = true;
}

}  // namespace lumo
