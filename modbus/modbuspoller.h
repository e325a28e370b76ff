#pragma once
// The Modbus RTU master of lumoscan13: the poll state, the tick of Timer1,
// the receive event of MSComm1 and the decoder, over a SerialPort and the
// grid model. The owner connects the port's receive handler to
// onReceiveEvent and the poll timer to tick.
//
// Three refinements over the plain poll cycle:
// - With more than 3 instruments every accepted answer chains the next
//   request at once, so a tick usually lands while one is under way. A tick
//   leaves a chained request alone while its answer could still be on its
//   way (one exchange on the wire plus the instrument's turnaround since it
//   was written) and times out an older one, as it times out any request.
// - An intact answer from another address than the one polled (a late answer
//   of the previous instrument) fills its own instrument's cells but does not
//   end the outstanding request, nor chain the next one.
// - A chained request waits for 3.5 character times of silence after the
//   answer, the gap that separates Modbus RTU frames, on chainTimer. A tick
//   during that wait leaves the sending to the chain.

#include "registers.h"

#include "gridmodel.h"
#include "pollcycle.h"
#include "serialport.h"
#include "timers.h"
#include "valuefields.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace lumo::modbus {

// Chained polling starts above this instrument count.
inline constexpr double kChainAboveCount = 3;
// How long an instrument may take from the end of a request to the start of
// its answer. Instruments of this kind answer within some tens of
// milliseconds; a tick that found a healthy answer still due would blank
// the instrument, so the allowance errs on the long side of that.
inline constexpr std::chrono::milliseconds kTurnaroundAllowance{50};

class ModbusPoller : public PollCycle {
public:
    ModbusPoller(SerialPort& port, GridModel& grid, const ValueFields& fields, OneShotTimer& chainTimer,
                 const Clock& clock = steadyClock());
    ~ModbusPoller() override;
    ModbusPoller(const ModbusPoller&) = delete;
    ModbusPoller& operator=(const ModbusPoller&) = delete;

    int receiveThreshold() const override { return static_cast<int>(kAnswerLength); }
    void setCurrentAddress(std::int16_t address) override { currentAddress_ = address; }
    void resetBlockIndex() override {}

    void tick() override;
    void onReceiveEvent(int eventCode) override;

    // Send_Dowith: advances the address by the instrument count, writes the
    // read request and marks it unanswered (also when the write fails).
    void sendDowith();
    // Data_Dowith: checks and decodes ReceivedHex and empties it.
    void dataDowith();

    // The silence before a chained request: 35 bit times at the configured
    // baud rate, rounded up, and at least 1750 us above 19200 baud.
    std::chrono::microseconds silentInterval() const;
    // How long after its writing a chained request's answer may still be on
    // its way: request and answer on the wire at 10 bits a byte, the
    // silence before the answer, and kTurnaroundAllowance.
    std::chrono::microseconds answerWindow() const;

    std::int16_t currentAddress() const { return currentAddress_; }
    std::uint8_t currentAddressByte() const { return currentAddressByte_; }
    bool answerPending() const { return answerPending_; }
    const std::string& receivedHex() const { return receivedHex_; }
    // The decoder's copy of the last text it was given.
    const std::string& answerHex() const { return answerHex_; }
    // The values of the last accepted answer.
    const RegisterValues& decodedValues() const { return values_; }

private:
    void copyAddressToByte();
    void advanceAddress();
    void scheduleChainedRequest();
    void sendChainedRequest();
    void writeCells(std::uint8_t instrument);

    SerialPort& port_;
    GridModel& grid_;
    const ValueFields& fields_;
    OneShotTimer& chainTimer_;
    const Clock& clock_;

    std::int16_t currentAddress_ = 1;
    std::uint8_t currentAddressByte_ = 0;
    bool answerPending_ = false;
    // When the outstanding request was written, if the chain wrote it.
    std::optional<std::chrono::steady_clock::time_point> chainedAt_;
    // A tick has already found the chained request waiting for its silence.
    bool chainWaitSeenByTick_ = false;

    std::string receivedHex_;
    std::string answerHex_;
    RegisterValues values_;
};

}  // namespace lumo::modbus
