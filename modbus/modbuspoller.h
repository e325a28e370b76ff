#pragma once
// The Modbus RTU master of lumoscan13: the tick of Timer1, the receive event
// of MSComm1, Send_Dowith and the decoder Data_Dowith, over a SerialPort and
// the PollCursor. The owner connects the port's receive handler to
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

#include "pollcursor.h"
#include "pollcycle.h"
#include "serialport.h"
#include "stationsettings.h"
#include "timers.h"

#include <chrono>
#include <cstdint>
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
    // settings: the line the silences are timed for, filled by start-up.
    ModbusPoller(SerialPort& port, GridModel& grid, const ValueFields& fields, const StationSettings& settings,
                 OneShotTimer& chainTimer, const Clock& clock = steadyClock());
    ~ModbusPoller() override;
    ModbusPoller(const ModbusPoller&) = delete;
    ModbusPoller& operator=(const ModbusPoller&) = delete;

    int receiveThreshold() const override { return static_cast<int>(kAnswerLength); }
    void setCurrentAddress(std::int16_t address) override { cursor_.setCurrentAddress(address); }
    void setInstrumentListener(InstrumentListener* listener) override { cursor_.setListener(listener); }
    const LineStats& lineStats() const override { return cursor_.lineStats(); }

    void tick() override;
    void onReceiveEvent(int eventCode) override;

    // The silence before a chained request: 3.5 characters at the line's
    // settings, rounded up, and at least 1750 us above 19200 baud.
    std::chrono::microseconds silentInterval() const;
    // How long after its writing a chained request's answer may still be on
    // its way: request and answer on the wire, the silence before the
    // answer, and kTurnaroundAllowance.
    std::chrono::microseconds answerWindow() const;

    std::int16_t currentAddress() const { return cursor_.currentAddress(); }
    std::uint8_t currentAddressByte() const { return cursor_.currentAddressByte(); }
    bool answerPending() const { return cursor_.answerPending(); }
    // AnswerHex: the decoder's copy of the last text it was given.
    const std::string& answerHex() const { return answerHex_; }
    // The values of the last accepted answer, whichever instrument sent it.
    const RegisterValues& lastAnswerValues() const { return values_; }

private:
    // Where the chain of requests stands.
    enum class Chain {
        Off,               // the outstanding request, if any, was the tick's
        AwaitingSilence,   // an answer was accepted; the next request waits for the line's silence
        SilenceSeenByTick, // ... and a tick has come meanwhile: the next tick sends itself
        RequestOnItsWay,   // the chain wrote the outstanding request, at chainedAt_
    };

    void sendDowith();                 // Send_Dowith
    void dataDowith(const Bytes& read);  // Data_Dowith, on the bytes of one receive event
    void scheduleChainedRequest();
    void sendChainedRequest();

    SerialPort& port_;
    GridModel& grid_;
    const ValueFields& fields_;
    const StationSettings& settings_;
    OneShotTimer& chainTimer_;
    const Clock& clock_;
    PollCursor cursor_;

    Chain chain_ = Chain::Off;
    std::chrono::steady_clock::time_point chainedAt_{};
    std::string answerHex_;
    RegisterValues values_;
};

}  // namespace lumo::modbus
