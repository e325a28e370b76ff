#pragma once
// What the serial layer on QSerialPort needs of the system below it: where
// port N leads, who holds a device, and how the program is woken for an
// answer (serialline_posix.cpp). Windows has a serial layer of its own
// (serialport_win.h).

#include "linesettings.h"

#include <QSerialPort>
#include <QTimer>

#include <array>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace lumo {

// Where port N leads. `device` is what gets opened; `shown` is the same for
// a person reading a failure ("/opt/lumo/com3 -> /dev/ttyUSB0").
struct PortPath {
    std::string device;
    std::string shown;
};

// POSIX: whatever a link (or file) named "comN" in the program directory
// points at, otherwise /dev/ttyS<N-1>. Windows: COMN.
PortPath resolvePortPath(const std::filesystem::path& programDirectory, int number);

// The process holding a device, where the system tells: nothing when it
// does not, 0 when it tells of a holder but not which.
std::optional<long long> lockingProcess(const std::string& device);

// Wakes the program for an answer rather than for each of its bytes. On
// POSIX: the line discipline holds the read notification back until the
// receive threshold is waiting (VMIN), and after a request the line is left
// alone while the answer is on its way (the quiet spell). Elsewhere it does
// nothing and the port is watched all the time.
class LineWaker {
public:
    explicit LineWaker(QSerialPort& port);
    LineWaker(const LineWaker&) = delete;
    LineWaker& operator=(const LineWaker&) = delete;

    // The port is open, or its receive threshold or line settings changed.
    void apply(int receiveThreshold);
    // A request of this many bytes went out; its answer is `answerBytes`.
    void afterWrite(std::size_t bytesWritten, int answerBytes, const LineSettings& line);
    // The receive threshold was reached.
    void answerComplete();
    // The port was closed (lost): nothing is awaited any more.
    void stop();
    // True while the line is left alone after a request.
    bool quiet() const { return listenTimer_.isActive(); }

private:
    void watchLineNow();

    QSerialPort& port_;
    QTimer listenTimer_;
    int answerBytes_ = 0;
    // How long the last answers took from the end of the write to the
    // receive threshold, the newest at answerTimesKnown_ - 1 (mod size).
    static constexpr std::size_t kRememberedAnswers = 8;
    std::array<std::chrono::microseconds, kRememberedAnswers> answerTimes_{};
    std::size_t answerTimesKnown_ = 0;
    std::chrono::steady_clock::time_point writtenAt_{};
    bool answerAwaited_ = false;
};

}  // namespace lumo
