#include "serialport_posix.h"

#include <QMetaObject>

namespace lumo {

namespace {

std::string text(const QString& qtText) { return qtText.toStdString(); }

QSerialPort::Parity qtParity(Parity parity)
{
    switch (parity) {
    case Parity::Even: return QSerialPort::EvenParity;
    case Parity::Odd: return QSerialPort::OddParity;
    case Parity::Mark: return QSerialPort::MarkParity;
    case Parity::Space: return QSerialPort::SpaceParity;
    case Parity::None: break;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits qtStopBits(StopBits stopBits)
{
    switch (stopBits) {
    case StopBits::OneAndHalf: return QSerialPort::OneAndHalfStop;
    case StopBits::Two: return QSerialPort::TwoStop;
    case StopBits::One: break;
    }
    return QSerialPort::OneStop;
}

// A failed open in the operator's words, where the system's error says
// something they can act on.
std::string openFailureCause(QSerialPort::SerialPortError error, const std::string& device, const std::string& name)
{
    if (error == QSerialPort::DeviceNotFoundError)
        return "串口设备不存在：" + name;
    if (error != QSerialPort::PermissionError)
        return {};
    if (const std::optional<long long> pid = lockingProcess(device))
        return "串口正被另一个程序使用" + (*pid > 0 ? "（进程号 " + std::to_string(*pid) + "）" : std::string()) + "：" +
               name;
    return "没有使用串口的权限：" + name + "。操作员须是 dialout 组的成员。";
}

}  // namespace

PosixSerialPort::PosixSerialPort(std::filesystem::path programDirectory)
    : programDirectory_(std::move(programDirectory)), port_(std::make_unique<QSerialPort>()), waker_(*port_)
{
    QObject::connect(port_.get(), &QSerialPort::readyRead, port_.get(), [this] { onReadyRead(); });
    QObject::connect(port_.get(), &QSerialPort::errorOccurred, port_.get(),
                     [this](QSerialPort::SerialPortError error) { onError(error); });
}

PosixSerialPort::~PosixSerialPort()
{
    port_->disconnect();
    waker_.stop();
    if (port_->isOpen())
        port_->close();
}

std::string PosixSerialPort::portName() const
{
    return "COM" + std::to_string(number_) + " (" + resolvePortPath(programDirectory_, number_).shown + ")";
}

// Every setting remembered so far goes with the open: Qt applies them as
// part of opening and refuses the open if one fails.
Status PosixSerialPort::openDevice()
{
    const PortPath path = resolvePortPath(programDirectory_, number_);
    const std::string name = "COM" + std::to_string(number_) + " (" + path.shown + ")";
    port_->setPortName(QString::fromStdString(path.device));
    port_->setBaudRate(lineSettings_.baud);
    port_->setParity(qtParity(lineSettings_.parity));
    port_->setDataBits(static_cast<QSerialPort::DataBits>(lineSettings_.dataBits));
    port_->setStopBits(qtStopBits(lineSettings_.stopBits));
    port_->clearError();
    if (!port_->open(QIODevice::ReadWrite)) {
        openFailure_ = "cannot open " + name + ": " + text(port_->errorString());
        return Status::failure(openFailure_, openFailureCause(port_->error(), path.device, name));
    }
    noteOpened(name);
    waker_.apply(receiveThreshold_);
    return Status::success();
}

Status PosixSerialPort::applyLineSettings(const LineSettings& settings)
{
    const auto failed = [this](const char* what) {
        return Status::failure("cannot set the " + std::string(what) + " of " + openedName_ + ": " +
                               text(port_->errorString()));
    };
    if (!port_->setBaudRate(settings.baud))
        return failed("baud rate");
    if (!port_->setParity(qtParity(settings.parity)))
        return failed("parity");
    if (!port_->setDataBits(static_cast<QSerialPort::DataBits>(settings.dataBits)))
        return failed("data bits");
    if (!port_->setStopBits(qtStopBits(settings.stopBits)))
        return failed("stop bits");
    return Status::success();
}

Status PosixSerialPort::setNoHandshaking()
{
    if (!port_->setFlowControl(QSerialPort::NoFlowControl))
        return Status::failure("cannot turn off flow control of " + openedName_ + ": " +
                               text(port_->errorString()));
    return Status::success();
}

Status PosixSerialPort::setLineSettings(const LineSettings& settings)
{
    if (Status checked = checkLineSettings(settings); !checked.ok())
        return checked;
    if (port_->isOpen()) {
        port_->clearError();
        if (Status applied = applyLineSettings(settings); !applied.ok()) {
            // A pty or driver may refuse parity or 7 bits half-way: put the
            // line back the way it was rather than leave it mixed.
            applyLineSettings(lineSettings_);
            return applied;
        }
    }
    lineSettings_ = settings;
    if (isOpen())
        waker_.apply(receiveThreshold_);
    return Status::success();
}

Status PosixSerialPort::setReceiveThreshold(int bytes)
{
    if (Status checked = checkReceiveThreshold(bytes); !checked.ok())
        return checked;
    receiveThreshold_ = bytes;
    if (isOpen())
        waker_.apply(receiveThreshold_);
    return Status::success();
}

Status PosixSerialPort::clear(QSerialPort::Direction direction, const char* what)
{
    if (Status usable = ensureUsable(std::string("clear ") + what); !usable.ok())
        return usable;
    if (!port_->clear(direction))
        return Status::failure(std::string("cannot clear ") + what + " of " + openedName_ + ": " +
                               text(port_->errorString()));
    return Status::success();
}

Status PosixSerialPort::clearOutput() { return clear(QSerialPort::Output, "output"); }

Status PosixSerialPort::clearInput() { return clear(QSerialPort::Input, "input"); }

Status PosixSerialPort::writeBytes(std::span<const std::uint8_t> bytes)
{
    port_->clearError();
    const auto size = static_cast<qint64>(bytes.size());
    const qint64 taken = port_->write(reinterpret_cast<const char*>(bytes.data()), size);
    if (taken != size)
        return Status::failure("cannot write " + std::to_string(size) + " bytes to " + openedName_ + ": " +
                               text(port_->errorString()));
    // Hand the request to the driver now rather than at the next turn of
    // the event loop: the instrument's answer time starts here.
    port_->flush();
    if (isLost())
        return Status::failure("cannot write to " + openedName_ + ": " + lossReason_);
    if (port_->error() != QSerialPort::NoError) {
        const std::string reason = text(port_->errorString());
        port_->clear(QSerialPort::Output);
        return Status::failure("cannot write to " + openedName_ + ": " + reason);
    }
    waker_.afterWrite(bytes.size(), receiveThreshold_, lineSettings_);
    return Status::success();
}

Result<Bytes> PosixSerialPort::readWaiting()
{
    if (Status usable = ensureUsable("read"); !usable.ok())
        return Result<Bytes>::failure(usable.error());
    const QByteArray waiting = port_->readAll();
    return Result<Bytes>::success(Bytes(waiting.begin(), waiting.end()));
}

// readyRead may come once per piece or once for several pieces, so the
// threshold is checked on what is waiting, not on the signals.
void PosixSerialPort::onReadyRead()
{
    if (!canRaise() || port_->bytesAvailable() < receiveThreshold_)
        return;
    waker_.answerComplete();
    raiseReceiveEvent();
}

// The far end is gone: Qt would repeat the read error on every turn of the
// event loop. Closing is deferred to the next turn because the error is
// reported from inside Qt's own read notification.
void PosixSerialPort::onError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    if (!noteLost(text(port_->errorString())))
        return;
    closeQueued_ = true;
    QMetaObject::invokeMethod(
        port_.get(),
        [this] {
            if (closeQueued_)
                closeLostDevice();
        },
        Qt::QueuedConnection);
}

void PosixSerialPort::closeLostDevice()
{
    closeQueued_ = false;
    waker_.stop();
    if (port_->isOpen())
        port_->close();
}

}  // namespace lumo
