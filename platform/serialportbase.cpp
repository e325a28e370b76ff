#include "serialportbase.h"

namespace lumo {

Status SerialPortBase::setPortNumber(int number)
{
    if (number < 1 || number > 255)
        return Status::failure("port number " + std::to_string(number) + " is not in 1..255");
    if (opened_)
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

Status SerialPortBase::ensureUsable(const std::string& operation) const
{
    if (lost_)
        return Status::failure("cannot " + operation + ": " + openedName_ + " was lost (" + lossReason_ + ")");
    if (!opened_)
        return Status::failure(portName() + " is not open" +
                               (openFailure_.empty() ? std::string() : " (" + openFailure_ + ")"));
    return Status::success();
}

void SerialPortBase::noteOpened(std::string name)
{
    opened_ = true;
    lost_ = false;
    lossReason_.clear();
    openFailure_.clear();
    openedName_ = std::move(name);
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
