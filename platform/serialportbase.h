#pragma once
// What every serial backend of the station keeps and checks alike: the port
// number, the receive threshold and handler, whether the port is open or
// was lost, and the failure texts that say so. qtserialport.cpp (POSIX) and
// serialport_win.cpp (Windows) do the rest.

#include "serialport.h"

#include <string>

namespace lumo {

class SerialPortBase : public SerialPort {
public:
    Status setPortNumber(int number) override;
    int portNumber() const override { return number_; }
    // No event is raised when the output drains, which is what a send
    // threshold of 0 asks for; only a nonsensical value is refused.
    Status setSendThreshold(int bytes) override;
    // Bytes are always handed over as they are.
    Status setBinaryInput() override { return Status::success(); }
    void setReceiveHandler(ReceiveHandler handler) override { receiveHandler_ = std::move(handler); }

    // True between the loss of the far end and a successful reopen.
    bool isLost() const { return lost_; }

protected:
    // "COM3 (/opt/lumo/com3 -> /dev/ttyUSB0)" on POSIX, "COM3" on Windows.
    virtual std::string portName() const = 0;

    static Status checkLineSettings(const LineSettings& settings);
    static Status checkReceiveThreshold(int bytes);
    // While the far end is gone every operation but write fails without a
    // word; write is the one that tries to get the line back. A port that
    // never opened says why, since start-up reports the last failure it saw.
    Status ensureUsable(const std::string& operation) const;
    // The open succeeded (again) under this name.
    void noteOpened(std::string name);
    // Raises a receive event unless one is being handled: the handler reads,
    // clears and writes on this port, and a notification that arrives
    // meanwhile must not raise a second event inside the first.
    void raiseReceiveEvent();
    bool canRaise() const { return !lost_ && !inReceiveHandler_ && receiveThreshold_ > 0 && receiveHandler_; }

    int number_ = 1;
    int receiveThreshold_ = 0;
    // The program opened the port; stays true while the far end is lost.
    bool opened_ = false;
    bool lost_ = false;
    std::string openedName_;
    std::string lossReason_;
    std::string openFailure_;  // why the last open failed, until one succeeds

private:
    ReceiveHandler receiveHandler_;
    bool inReceiveHandler_ = false;
};

}  // namespace lumo
