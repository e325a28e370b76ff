#pragma once
// One request on the line and what comes back, waiting on the event loop:
// the silence before the request, then the first byte of an answer for as
// long as an instrument needs to react, then the rest of it.

#include "scan.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace lumo::probe {

class ProbeLine {
public:
    explicit ProbeLine(SerialPort& port);

    // What came back, or why the request could not be sent (the port's
    // words: a device that is gone, a write refused).
    Result<Heard> exchange(Protocol protocol, int address, const LineSettings& line);

private:
    // Bytes that come in the silence before a request are noise: they are
    // thrown away and do not end the silence.
    enum class Phase { Silence, Answer };

    std::chrono::microseconds elapsed() const;
    void collect();
    void waitUntil(std::chrono::microseconds deadline);
    void pause(std::chrono::microseconds time);

    SerialPort& port_;
    QEventLoop loop_;
    QTimer timer_;
    QElapsedTimer clock_;
    Phase phase_ = Phase::Silence;
    Heard heard_;
    std::size_t expected_ = 0;
};

}  // namespace lumo::probe
