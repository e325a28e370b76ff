#pragma once
// What start-up and the event loop need of a protocol's poll cycle. The block
// protocol and the Modbus master each implement it over a SerialPort and a
// PollCursor.

#include "linestats.h"
#include "reading.h"

#include <cstdint>

namespace lumo {

class PollCycle {
public:
    virtual ~PollCycle() = default;

    // Length of one complete answer: the serial receive threshold.
    virtual int receiveThreshold() const = 0;
    // Start-up sets CurrentAddress to 1 before the port is opened. The
    // block protocol's BlockIndex starts at 0 with its poller.
    virtual void setCurrentAddress(std::int16_t address) = 0;

    // Who else hears of answering and silent instruments (publishing).
    virtual void setInstrumentListener(InstrumentListener* listener) = 0;
    // What the poll has seen on the line, for the technician.
    virtual const LineStats& lineStats() const = 0;

    // Tick of the poll timer Timer1.
    virtual void tick() = 0;
    // Receive event of the serial port, with its event code.
    virtual void onReceiveEvent(int eventCode) = 0;
};

}  // namespace lumo
