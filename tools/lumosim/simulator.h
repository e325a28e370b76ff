#pragma once

#include "eventlog.h"
#include "line.h"
#include "options.h"
#include "responder.h"
#include "transmitter.h"

#include <cstdint>
#include <map>
#include <string>

namespace lumo::sim {

// The event loop: reads requests from the line, lets the responder build the
// answers, and hands them to the transmitter at their paced times. Ends when
// stopFd becomes readable (a signal arrived) or, if asked, at the end of stdin.
class Simulator {
public:
    Simulator(const Options& options, Scenario scenario, const Line& line, EventLog& log);

    // 0 after a requested stop; 1 when the line fails.
    int run(int stopFd);

private:
    struct SentAnswer {
        Reply reply;
        Bytes frame;
        std::uint32_t faults = 0;
    };

    void queueStorms();
    void writeDue();
    bool readLine();
    void handle(Reply reply, std::int64_t readUs);
    bool inStorm(std::int64_t tUs) const;
    double secondsAt(std::int64_t tUs) const;
    void logSkip(std::int64_t tUs, const Reply& reply, const std::string& reason);
    void logCompleted(const Completed& done);
    bool waitForNextEvent(int stopFd, bool& stop);

    const Options& options_;
    Responder responder_;
    Line line_;
    EventLog& log_;
    Transmitter transmitter_;
    std::int64_t startUs_;
    double microsecondsPerByte_;
    std::map<int, SentAnswer> inFlight_;
    int nextTag_ = 1;
};

} // namespace lumo::sim
