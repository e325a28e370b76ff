#pragma once
// Timers as the plain logic sees them. platform/ implements them on precise
// Qt timers; tests drive them by hand.

#include "status.h"

#include <chrono>
#include <functional>

namespace lumo {

// Timer1: the poll timer.
class PollTimer {
public:
    virtual ~PollTimer() = default;
    // Milliseconds; 0 is allowed and leaves the timer without ticks.
    virtual Status setInterval(int milliseconds) = 0;
    virtual int interval() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool enabled() const = 0;
};

// A single deferred call on the event loop, for waits that must not block it
// (the silent interval before a chained Modbus request). Starting it again
// replaces the pending call.
class OneShotTimer {
public:
    virtual ~OneShotTimer() = default;
    virtual void start(std::chrono::microseconds delay, std::function<void()> call) = 0;
    virtual void cancel() = 0;
    virtual bool pending() const = 0;
};

// The time now, for telling how long ago something happened. The programs
// use the steady clock; tests move a clock of their own by hand.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::chrono::steady_clock::time_point now() const = 0;
};

class SteadyClock : public Clock {
public:
    std::chrono::steady_clock::time_point now() const override { return std::chrono::steady_clock::now(); }
};

inline const Clock& steadyClock()
{
    static const SteadyClock clock;
    return clock;
}

}  // namespace lumo
