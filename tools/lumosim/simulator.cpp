#include "simulator.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <unistd.h>

namespace lumo::sim {

namespace {

constexpr double bitsPerByte = 10; // 8N1: start bit, 8 data bits, stop bit
// Closer than this to a due byte, sleep to its exact time instead of polling.
constexpr std::int64_t preciseSleepUs = 2000;

void sleepUntilMicros(std::int64_t dueUs)
{
    timespec due{};
    due.tv_sec = static_cast<time_t>(dueUs / 1000000);
    due.tv_nsec = static_cast<long>(dueUs % 1000000) * 1000;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
    }
}

} // namespace

Simulator::Simulator(const Options& options, Scenario scenario, const Line& line, EventLog& log)
    : options_(options),
      responder_(std::move(scenario), options.seed),
      line_(line),
      log_(log),
      startUs_(monotonicMicros()),
      microsecondsPerByte_(options.baud > 0 ? bitsPerByte * 1e6 / options.baud : 0)
{
    queueStorms();
}

double Simulator::secondsAt(std::int64_t tUs) const
{
    return static_cast<double>(tUs - startUs_) / 1e6;
}

void Simulator::queueStorms()
{
    const double perByte = bitsPerByte * 1e6 / options_.stormBaud;
    std::uniform_int_distribution<int> byte(0, 255);
    for (const Storm& storm : responder_.scenario().storms) {
        const auto count = static_cast<std::size_t>(storm.durationSeconds * 1e6 / perByte);
        Bytes garbage(count);
        for (auto& b : garbage)
            b = static_cast<std::uint8_t>(byte(responder_.random()));
        Transmission t;
        t.earliestStartUs = startUs_ + static_cast<std::int64_t>(storm.startSeconds * 1e6);
        t.pieces.push_back({std::move(garbage), 0});
        t.microsecondsPerByte = perByte;
        t.tag = -1; // storms carry no answer
        transmitter_.queue(std::move(t));
    }
}

bool Simulator::inStorm(std::int64_t tUs) const
{
    const double seconds = secondsAt(tUs);
    for (const Storm& storm : responder_.scenario().storms) {
        if (seconds >= storm.startSeconds && seconds < storm.startSeconds + storm.durationSeconds)
            return true;
    }
    return false;
}

int Simulator::run(int stopFd)
{
    log_.begin(startUs_, "start")
        .field("path", line_.path)
        .field("protocol", responder_.scenario().protocol == Protocol::block ? "block" : "modbus")
        .end();
    for (;;) {
        writeDue();
        bool stop = false;
        if (!waitForNextEvent(stopFd, stop))
            return 1;
        if (stop)
            return 0;
    }
}

// Sleeps until the next due byte, a received byte, a stop or the end of stdin.
bool Simulator::waitForNextEvent(int stopFd, bool& stop)
{
    int timeoutMs = -1;
    if (const auto due = transmitter_.nextDueUs()) {
        const std::int64_t wait = *due - monotonicMicros();
        if (wait <= 0)
            return true;
        if (wait < preciseSleepUs) {
            sleepUntilMicros(*due);
            return true;
        }
        timeoutMs = static_cast<int>((wait - preciseSleepUs / 2) / 1000);
    }
    pollfd fds[3] = {{line_.fd, POLLIN, 0},
                     {stopFd, POLLIN, 0},
                     {options_.exitOnStdinEof ? STDIN_FILENO : -1, POLLIN, 0}};
    if (poll(fds, 3, timeoutMs) < 0)
        return errno == EINTR;
    if (fds[1].revents) {
        stop = true;
        return true;
    }
    if (fds[2].revents) {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            stop = true;
            return true;
        }
    }
    if (fds[0].revents)
        return readLine();
    return true;
}

bool Simulator::readLine()
{
    Bytes received;
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t n = ::read(line_.fd, buffer, sizeof buffer);
        if (n > 0) {
            received.insert(received.end(), buffer, buffer + n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            std::fprintf(stderr, "lumosim: %s: reading the line failed: %s\n", line_.path.c_str(),
                         n == 0 ? "end of file" : std::strerror(errno));
            return false;
        }
        break;
    }
    const std::int64_t readUs = monotonicMicros();
    auto replies = responder_.receive(received, secondsAt(readUs));
    if (const Bytes junk = responder_.takeJunk(); !junk.empty())
        log_.begin(readUs, "junk").hexField("hex", junk).end();
    for (auto& reply : replies)
        handle(std::move(reply), readUs);
    return true;
}

void Simulator::handle(Reply reply, std::int64_t readUs)
{
    log_.begin(readUs, "rx").hexField("hex", reply.request).end();
    if (!reply.answer) {
        logSkip(readUs, reply, reply.skipReason);
        return;
    }
    if (inStorm(readUs)) {
        logSkip(readUs, reply, "storm");
        return;
    }
    // On a real wire the request's last byte arrives one request length after
    // the master began writing; the answer follows after the turnaround.
    const auto requestUs = static_cast<std::int64_t>(
        static_cast<double>(reply.request.size()) * microsecondsPerByte_);
    Transmission t;
    t.earliestStartUs = readUs + requestUs
                        + (static_cast<std::int64_t>(options_.turnaroundMs) + reply.answer->delayMs) * 1000;
    t.pieces = std::move(reply.answer->pieces);
    t.microsecondsPerByte = microsecondsPerByte_;
    t.tag = nextTag_++;
    SentAnswer sent{reply, std::move(reply.answer->frame), reply.answer->faults};
    sent.reply.answer.reset();
    inFlight_.emplace(t.tag, std::move(sent));
    transmitter_.queue(std::move(t));
}

void Simulator::writeDue()
{
    for (const Completed& done : transmitter_.writeDue(line_.fd, monotonicMicros()))
        logCompleted(done);
}

void Simulator::logSkip(std::int64_t tUs, const Reply& reply, const std::string& reason)
{
    log_.begin(tUs, "skip").field("to", reply.address);
    if (reply.block >= 0)
        log_.field("block", reply.block);
    log_.field("reason", reason).end();
}

void Simulator::logCompleted(const Completed& done)
{
    const auto found = inFlight_.find(done.tag);
    if (found == inFlight_.end()) {
        log_.begin(done.lastByteUs, "storm").field("bytes", static_cast<long long>(done.bytes.size()));
        if (done.dropped > 0)
            log_.field("dropped", static_cast<long long>(done.dropped));
        log_.end();
        return;
    }
    const SentAnswer& sent = found->second;
    log_.begin(done.lastByteUs, "tx").field("addr", sent.frame.at(0));
    if (sent.reply.block >= 0)
        log_.field("block", sent.frame.at(1));
    else
        log_.field("function", sent.frame.at(1));
    log_.field("to", sent.reply.address).hexField("hex", done.bytes).field("fault", faultNames(sent.faults));
    if (!sent.reply.valueText.empty())
        log_.numberField("value", sent.reply.valueText);
    if (done.dropped > 0)
        log_.field("dropped", static_cast<long long>(done.dropped));
    log_.end();
    inFlight_.erase(found);
}

} // namespace lumo::sim
