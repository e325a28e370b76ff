#pragma once
#include "timers.h"

namespace lumo::testing {

class FakePollTimer : public PollTimer {
public:
    int intervalMs = 1000;  // the timer's preset
    bool isEnabled = false;
    std::string failure;    // non-empty: setInterval fails with it

    Status setInterval(int ms) override
    {
        if (!failure.empty())
            return Status::failure(failure);
        intervalMs = ms;
        return Status::success();
    }
    int interval() const override { return intervalMs; }
    void setEnabled(bool e) override { isEnabled = e; }
    bool enabled() const override { return isEnabled; }
};

// Holds the deferred call until the test fires it.
class FakeOneShotTimer : public OneShotTimer {
public:
    std::chrono::microseconds delay{0};
    std::function<void()> call;
    int starts = 0;

    void start(std::chrono::microseconds d, std::function<void()> c) override
    {
        delay = d;
        call = std::move(c);
        ++starts;
    }
    void cancel() override { call = nullptr; }
    bool pending() const override { return static_cast<bool>(call); }
    // Runs the pending call, if any; returns whether there was one.
    bool fire()
    {
        if (!call)
            return false;
        auto c = std::move(call);
        call = nullptr;
        c();
        return true;
    }
};

// Stands still until the test moves it.
class FakeClock : public Clock {
public:
    std::chrono::steady_clock::time_point time{};
    std::chrono::steady_clock::time_point now() const override { return time; }
    void advance(std::chrono::microseconds by) { time += by; }
};

}  // namespace lumo::testing
