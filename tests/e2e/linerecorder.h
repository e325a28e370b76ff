#pragma once
// The line as a station's poll cycle uses it, recorded between the poll
// cycle and the serial layer: every request written (when, what, whether it
// went out) and every clearing of the input at a tick. Matched with the
// simulator's log (when it read each request and when it sent the answer)
// it tells, from outside the station, how long the line itself held each
// exchange up: a test may then excuse an instrument left unanswered exactly
// where the line held its exchange up, and nowhere else. It also reads, at
// each write and clearing, how long the kernel has kept the station's
// thread waiting for a CPU while it was ready to run (its run-queue time):
// a station kept off the CPU by a loaded machine is told apart from one
// that holds up its own loop, which is running or asleep, never queued.

#include "programdir.h"
#include "serialport.h"
#include "station.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumo::testing {

class LineRecorder : public SerialPort {
public:
    // The station's poll cycle talks to its port through this recorder.
    void installIn(StationConfig& config);

    struct Write {
        std::int64_t atUs;  // CLOCK_MONOTONIC, as the simulator's log
        Bytes bytes;
        bool wentOut;
        std::int64_t queuedUs;  // the thread's run-queue time so far
    };
    const std::vector<Write>& writes() const { return writes_; }
    const std::vector<std::int64_t>& inputClears() const { return inputClears_; }
    const std::vector<std::int64_t>& queuedAtClears() const { return queuedAtClears_; }

    Status setPortNumber(int number) override { return port_->setPortNumber(number); }
    int portNumber() const override { return port_->portNumber(); }
    Status open() override { return port_->open(); }
    Status setNoHandshaking() override { return port_->setNoHandshaking(); }
    Status setSendThreshold(int bytes) override { return port_->setSendThreshold(bytes); }
    Status setLineSettings(const LineSettings& settings) override { return port_->setLineSettings(settings); }
    Status setBinaryInput() override { return port_->setBinaryInput(); }
    Status setReceiveThreshold(int bytes) override { return port_->setReceiveThreshold(bytes); }
    Status clearOutput() override { return port_->clearOutput(); }
    Status clearInput() override;
    Status write(std::span<const std::uint8_t> bytes) override;
    Result<Bytes> readWaiting() override { return port_->readWaiting(); }
    void setReceiveHandler(ReceiveHandler handler) override { port_->setReceiveHandler(std::move(handler)); }

private:
    SerialPort* port_ = nullptr;
    std::vector<Write> writes_;
    std::vector<std::int64_t> inputClears_;
    std::vector<std::int64_t> queuedAtClears_;
};

std::int64_t monotonicUs(std::chrono::steady_clock::time_point at = std::chrono::steady_clock::now());

// The simulator's answer to a request, as its log tells it.
struct SimAnswer {
    std::int64_t sentUs = 0;  // its last byte sent
    std::size_t bytes = 0;
    int addr = -1;            // the address it carries
    std::string fault;        // "none", "badcrc", ...
};

// One request as both ends saw it.
struct Exchange {
    std::int64_t writtenUs = 0;
    Bytes request;
    int address = -1;
    std::optional<std::int64_t> readUs;  // when the simulator read it; never, when a tick's clearing took it back
    std::optional<SimAnswer> answer;     // what the simulator sent for it
    std::optional<std::int64_t> judgedUs;  // the tick after it, which takes it as answered or not
    // How long, from the request to that tick, the kernel kept the station's
    // thread from a CPU while it was ready to run.
    std::optional<std::int64_t> queuedUs;
};

// Every request that went out, in order, with the simulator's side of it.
std::vector<Exchange> exchangesOf(const LineRecorder& recorder, const Simulator& sim);

// The line, not the station, kept this exchange from being answered in
// time: the simulator read the request so late that the answer (its own,
// or one sent at once and `answerOnTheWire` long) ended after the tick that
// judged it, or less than a few milliseconds before; or never read it.
bool heldUpByTheLine(const Exchange& exchange, std::chrono::microseconds answerOnTheWire);

// The machine, not the station, kept this exchange from being taken in
// time: the answer came, but from its last byte to the tick that judged it
// the station's thread was ready to run and waited for a CPU nearly all
// along (the tick and the answer then reach it together).
bool keptFromTheCpu(const Exchange& exchange);

// Either of the two: measured outside the station's own code.
bool heldUpOutsideTheStation(const Exchange& exchange, std::chrono::microseconds answerOnTheWire);

}  // namespace lumo::testing
