#pragma once

#include "bytes.h"
#include "faults.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace lumo::sim {

// Microseconds of CLOCK_MONOTONIC, the clock of the event log.
std::int64_t monotonicMicros();

// Bytes for the line with their timing: pieces separated by gaps, each byte
// leaving microsecondsPerByte after the one before it (0: all at once).
struct Transmission {
    std::int64_t earliestStartUs = 0;
    std::vector<Piece> pieces;
    double microsecondsPerByte = 0;
    int tag = 0; // the caller's handle for the completion
};

struct Completed {
    int tag = 0;
    std::int64_t lastByteUs = 0; // when the last byte was handed to the line
    Bytes bytes;                 // everything sent, all pieces
    std::size_t dropped = 0;     // bytes the line would not take
};

// The one wire: transmissions go out one after another, never interleaved,
// earliest start first; a transmission whose start has come while the line is
// busy waits until it is free. Each byte is due at an absolute time (its last
// bit on a real wire), so pacing does not drift.
class Transmitter {
public:
    void queue(Transmission transmission);
    std::optional<std::int64_t> nextDueUs();
    // Writes every byte due at nowUs to fd; returns the transmissions finished.
    std::vector<Completed> writeDue(int fd, std::int64_t nowUs);
    bool idle() const { return !active_ && waiting_.empty(); }

private:
    struct Active {
        int tag = 0;
        std::vector<std::pair<std::uint8_t, std::int64_t>> bytes; // byte, due time
        std::size_t next = 0;
        Completed done;
    };
    void activateNext(std::int64_t nowUs);

    std::deque<Transmission> waiting_;
    std::optional<Active> active_;
    std::int64_t lineFreeUs_ = 0;
};

} // namespace lumo::sim
