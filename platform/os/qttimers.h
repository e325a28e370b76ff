#pragma once
// The poll timer and the deferred call on precise Qt timers.

#include "timers.h"

#include <QTimer>

namespace lumo {

class QtPollTimer : public PollTimer {
public:
    explicit QtPollTimer(std::function<void()> onTick);

    Status setInterval(int milliseconds) override;
    int interval() const override { return interval_; }
    void setEnabled(bool enabled) override;
    bool enabled() const override { return enabled_; }

private:
    void apply();

    QTimer timer_;
    int interval_ = 1000;
    bool enabled_ = false;
};

class QtOneShotTimer : public OneShotTimer {
public:
    QtOneShotTimer();

    void start(std::chrono::microseconds delay, std::function<void()> call) override;
    void cancel() override;
    bool pending() const override { return timer_.isActive(); }

private:
    QTimer timer_;
    std::function<void()> call_;
};

}  // namespace lumo
