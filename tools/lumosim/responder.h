#pragma once

#include "bytes.h"
#include "faults.h"
#include "scenario.h"

#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace lumo::sim {

// What the instrument side makes of one request found on the line.
struct Reply {
    Bytes request;
    std::optional<OutgoingAnswer> answer;
    std::string skipReason; // why there is no answer: "silent", "no instrument", ...
    int address = 0;        // the address the request was sent to
    int block = -1;         // block protocol: the block asked for
    int function = -1;      // modbus: function, first register and count asked for
    int start = -1;
    int count = -1;
    std::string valueText;  // block protocol: the engineering value the answer carries
};

// The instruments of a scenario behind one line: finds requests in the bytes
// received and builds the answers, faults included. No I/O and no clock: the
// caller passes the time since the start.
class Responder {
public:
    Responder(Scenario scenario, std::uint32_t seed);

    std::vector<Reply> receive(const Bytes& bytes, double seconds);
    // Bytes skipped while looking for requests since the last call.
    Bytes takeJunk();

    const Scenario& scenario() const { return scenario_; }
    std::mt19937& random() { return random_; }

private:
    std::optional<Reply> nextBlockRequest(double seconds);
    std::optional<Reply> nextModbusRequest(double seconds);
    void answerBlock(Reply& reply, const Instrument& instrument, double seconds);
    void answerModbus(Reply& reply, const Instrument& instrument, double seconds);
    // The faults of this answer, or nothing when the instrument stays silent.
    std::optional<std::uint32_t> faultsFor(Reply& reply, const Instrument& instrument, double seconds);
    void skipOneByte();

    Scenario scenario_;
    std::mt19937 random_;
    std::map<int, FaultTrigger> triggers_;
    Bytes pending_;
    Bytes junk_;
};

} // namespace lumo::sim
