#include "serialportbase.h"

namespace lumo {

Status SerialPortBase::setPortNumber(int number)
{
    if (number < 1 || number > 255)
        return Status::failure("port number " + std::to_string(number) + " is not in 1..255");
    if (state_ != PortState::Closed)
        return Status::failure("cannot change the port number while " + openedName_ + " is open");
    number_ = number;
    return Status::success();
}

Status SerialPortBase::setSendThreshold(int bytes)
{
    if (bytes < 0)
        return Status::failure("send threshold " + std::to_string(bytes) + " is negative");
    return Status::success();
}

Status SerialPortBase::checkLineSettings(const LineSettings& settings)
{
    if (settings.baud <= 0 || settings.dataBits < 5 || settings.dataBits > 8)
        return Status::failure("line settings \"" + settings.text() + "\" cannot be set");
    return Status::success();
}

Status SerialPortBase::checkReceiveThreshold(int bytes)
{
    if (bytes < 0)
        return Status::failure("receive threshold " + std::to_string(bytes) + " is negative");
    return Status::success();
}

Status SerialPortBase::open()
{
    if (state_ == PortState::Open)
        return Status::failure(openedName_ + " is already open");
    if (state_ == PortState::Lost)
        closeLostDevice();
    return openDevice();
}

Status SerialPortBase::write(std::span<const std::uint8_t> bytes)
{
    if (state_ == PortState::Lost) {
        closeLostDevice();
        if (Status reopened = openDevice(); !reopened.ok())
            return Status::failure("cannot write: " + reopened.error());
    }
    if (Status usable = ensureUsable("write"); !usable.ok())
        return usable;
    return writeBytes(bytes);
}

Status SerialPortBase::ensureUsable(const std::string& operation) const
{
    switch (state_) {
    case PortState::Lost:
        return Status::failure("cannot " + operation + ": " + openedName_ + " was lost (" + lossReason_ + ")");
    case PortState::Closed:
        return Status::failure(portName() + " is not open" +
                               (openFailure_.empty() ? std::string() : " (" + openFailure_ + ")"));
    case PortState::Open:
        break;
    }
    return Status::success();
}

void SerialPortBase::noteOpened(std::string name)
{
    state_ = PortState::Open;
    lossReason_.clear();
    openFailure_.clear();
    openedName_ = std::move(name);
}

bool SerialPortBase::noteLost(std::string reason)
{
    if (state_ != PortState::Open)
        return false;
    state_ = PortState::Lost;
    lossReason_ = std::move(reason);
    return true;
}

void SerialPortBase::raiseReceiveEvent()
{
    if (!canRaise())
        return;
    inReceiveHandler_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{inReceiveHandler_};
    receiveHandler_(kReceiveEventData);
}

}  // namespace lumo
