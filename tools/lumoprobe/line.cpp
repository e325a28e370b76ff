#include "line.h"

namespace lumo::probe {

using std::chrono::microseconds;

ProbeLine::ProbeLine(SerialPort& port) : port_(port)
{
    port_.setReceiveHandler([this](int) { collect(); });
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, &loop_, &QEventLoop::quit);
}

Result<Heard> ProbeLine::exchange(Protocol protocol, int address, const LineSettings& line)
{
    const auto failed = [&](const Status& status) {
        return Result<Heard>::failure("cannot ask address " + std::to_string(address) + " in the " +
                                      protocolName(protocol) + " protocol: " + status.error());
    };
    pause(silenceBefore(line));
    if (Status cleared = port_.clearOutput(); !cleared.ok())
        return failed(cleared);
    if (Status cleared = port_.clearInput(); !cleared.ok())
        return failed(cleared);
    heard_ = {};
    expected_ = answerLengthOf(protocol);
    phase_ = Phase::Answer;
    const Bytes request = requestOf(protocol, address);
    // The answer's time counts from the request handed to the port: started
    // after the write, a probe held up in between (a loaded machine) would
    // find a fast slave's answer already waiting and report next to nothing.
    clock_.start();
    const Status written = port_.write(request);
    if (written.ok()) {
        waitUntil(firstByteWait(protocol, line));
        if (!heard_.bytes.empty() && heard_.bytes.size() < expected_)
            waitUntil(*heard_.firstAfter + restOfAnswerWait(protocol, line));
    }
    phase_ = Phase::Silence;
    if (!written.ok())
        return failed(written);
    return Result<Heard>::success(heard_);
}

microseconds ProbeLine::elapsed() const { return microseconds(clock_.nsecsElapsed() / 1000); }

void ProbeLine::collect()
{
    const Result<Bytes> read = port_.readWaiting();
    if (phase_ != Phase::Answer || !read.ok() || read.value().empty())
        return;
    if (!heard_.firstAfter)
        heard_.firstAfter = elapsed();
    heard_.lastAfter = elapsed();
    heard_.bytes.insert(heard_.bytes.end(), read.value().begin(), read.value().end());
    if (heard_.bytes.size() >= expected_)
        loop_.quit();
}

// Runs the event loop until `deadline` after the request, or until the whole
// answer is there.
void ProbeLine::waitUntil(microseconds deadline)
{
    const microseconds left = deadline - elapsed();
    if (left.count() <= 0 || heard_.bytes.size() >= expected_)
        return;
    timer_.start(static_cast<int>((left.count() + 999) / 1000));
    loop_.exec();
    timer_.stop();
}

void ProbeLine::pause(microseconds time)
{
    timer_.start(static_cast<int>((time.count() + 999) / 1000));
    loop_.exec();
}

}  // namespace lumo::probe
