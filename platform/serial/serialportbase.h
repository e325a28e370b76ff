#pragma once
// What every serial backend of the station keeps and checks alike: the port
// number, the receive threshold and handler, whether the port is open or
// was lost, the failure texts that say so, and the shape of opening and of
// writing (a lost device is asked for again by the next write).
// serialport_posix.cpp and serialport_win.cpp do the rest.

#include "serialport.h"

#include <string>

namespace lumo {

// Where a port stands. Lost: it was open and the device went away (a USB
// adapter pulled out); it is closed, nothing is watched, and the next write
// tries one reopen with the same settings.
enum class PortState { Closed, Open, Lost };

class SerialPortBase : public SerialPort {
public:
    Status open() final;
    Status write(std::span<const std::uint8_t> bytes) final;
    Status setPortNumber(int number) override;
    int portNumber() const override { return number_; }
    // No event is raised when the output drains, which is what a send
    // threshold of 0 asks for; only a nonsensical value is refused.
    Status setSendThreshold(int bytes) override;
    // Bytes are always handed over as they are.
    Status setBinaryInput() override { return Status::success(); }
    void setReceiveHandler(ReceiveHandler handler) override { receiveHandler_ = std::move(handler); }

    PortState state() const { return state_; }
    // True between the loss of the far end and a successful reopen.
    bool isLost() const { return state_ == PortState::Lost; }

protected:
    // "COM3 (/opt/lumo/com3 -> /dev/ttyUSB0)" on POSIX, "COM3" on Windows.
    virtual std::string portName() const = 0;
    // Opens the device with every setting remembered so far; on success
    // noteOpened, else the port stays as it was and openFailure_ says why.
    virtual Status openDevice() = 0;
    // Closes what is left of a lost device.
    virtual void closeLostDevice() = 0;
    // Writes on an open port.
    virtual Status writeBytes(std::span<const std::uint8_t> bytes) = 0;

    static Status checkLineSettings(const LineSettings& settings);
    static Status checkReceiveThreshold(int bytes);
    // While the far end is gone every operation but write fails without a
    // word; write is the one that tries to get the line back. A port that
    // never opened says why, since start-up reports the last failure it saw.
    Status ensureUsable(const std::string& operation) const;
    // The open succeeded (again) under this name.
    void noteOpened(std::string name);
    // The device went away: the port counts as lost from now on (once).
    // Answers whether it was open until now.
    bool noteLost(std::string reason);
    bool isOpen() const { return state_ == PortState::Open; }
    // Raises a receive event unless one is being handled: the handler reads,
    // clears and writes on this port, and a notification that arrives
    // meanwhile must not raise a second event inside the first.
    void raiseReceiveEvent();
    bool canRaise() const { return isOpen() && !inReceiveHandler_ && receiveThreshold_ > 0 && receiveHandler_; }

    int number_ = 1;
    int receiveThreshold_ = 0;
    PortState state_ = PortState::Closed;
    std::string openedName_;
    std::string lossReason_;
    std::string openFailure_;  // why the last open failed, until one succeeds

private:
    ReceiveHandler receiveHandler_;
    bool inReceiveHandler_ = false;
};

}  // namespace lumo
