#include "qttimers.h"

namespace lumo {

QtPollTimer::QtPollTimer(std::function<void()> onTick)
{
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(interval_);
    QObject::connect(&timer_, &QTimer::timeout, [onTick = std::move(onTick)] { onTick(); });
}

Status QtPollTimer::setInterval(int milliseconds)
{
    if (milliseconds < 0)
        return Status::failure("poll timer interval " + std::to_string(milliseconds) + " ms is negative");
    interval_ = milliseconds;
    apply();
    return Status::success();
}

void QtPollTimer::setEnabled(bool enabled)
{
    enabled_ = enabled;
    apply();
}

void QtPollTimer::apply()
{
    // An interval of 0 means no ticks (a Qt timer at 0 would fire whenever
    // the event loop is idle).
    if (enabled_ && interval_ > 0) {
        if (!timer_.isActive() || timer_.interval() != interval_)
            timer_.start(interval_);
    } else {
        timer_.stop();
        timer_.setInterval(interval_);
    }
}

QtOneShotTimer::QtOneShotTimer()
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        auto call = std::move(call_);
        call_ = nullptr;
        if (call)
            call();
    });
}

void QtOneShotTimer::start(std::chrono::microseconds delay, std::function<void()> call)
{
    call_ = std::move(call);
    // Qt timers count whole milliseconds: round up, so the wait is never short.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(delay);
    timer_.start(static_cast<int>(ms.count()));
}

void QtOneShotTimer::cancel()
{
    timer_.stop();
    call_ = nullptr;
}

}  // namespace lumo
