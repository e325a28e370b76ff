#pragma once
// What a technician needs to learn why an instrument stays blank, kept beside
// the poll: per instrument the requests, the answers taken, the requests left
// unanswered, the answers turned away and why, and how long answers take;
// for the line the bytes received and those thrown away. The poll cursor and
// the two decoders keep it; it changes nothing on the line or the screen.

#include "gridmodel.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace lumo {

// Why a received answer was not taken.
enum class Rejection {
    Length,   // too short or too long: not one whole answer
    Check,    // the check byte (block protocol) or the CRC (Modbus) is wrong
    Echo,     // the block echo is not the block asked for
    Foreign,  // another instrument's address
};
inline constexpr std::size_t kRejectionKinds = 4;

using Microseconds = std::chrono::microseconds;

// The last answer times of one instrument, request written to answer
// complete.
class AnswerTimes {
public:
    static constexpr std::size_t kKept = 100;

    void add(Microseconds time);
    std::size_t count() const { return count_ < kKept ? count_ : kKept; }
    std::optional<Microseconds> median() const;
    std::optional<Microseconds> max() const;

private:
    std::array<Microseconds, kKept> times_{};
    std::size_t count_ = 0;  // all ever added; the newest at (count_ - 1) % kKept
};

struct InstrumentStats {
    std::uint64_t requests = 0;       // written to the line
    std::uint64_t failedWrites = 0;   // requests the port could not write
    std::uint64_t answers = 0;
    std::uint64_t unanswered = 0;     // written and left unanswered: never more than requests
    std::array<std::uint64_t, kRejectionKinds> rejected{};
    std::optional<std::chrono::steady_clock::time_point> lastAnswer;
    AnswerTimes answerTimes;
    // Counts every change, so that a reader can tell whether anything moved.
    std::uint64_t changes = 0;

    std::uint64_t rejectedFor(Rejection why) const { return rejected[static_cast<std::size_t>(why)]; }
};

class LineStats {
public:
    // Addresses outside 1..39 have no instrument and are not counted.
    void requestWritten(int address, std::chrono::steady_clock::time_point at);
    // The port could not write it: counted as such, and the tick that finds
    // it unanswered does not count it as unanswered.
    void requestFailed(int address);
    void answerAccepted(int address, std::chrono::steady_clock::time_point at);
    void unanswered(int address);
    void rejected(int address, Rejection why);
    void received(std::size_t bytes);
    void thrownAway(std::size_t bytes);

    const InstrumentStats& instrument(int number) const { return instruments_[static_cast<std::size_t>(number - 1)]; }
    std::uint64_t bytesReceived() const { return bytesReceived_; }
    std::uint64_t bytesThrownAway() const { return bytesThrownAway_; }
    std::uint64_t lineChanges() const { return lineChanges_; }

private:
    InstrumentStats* at(int address);

    std::array<InstrumentStats, kInstruments> instruments_{};
    std::array<std::optional<std::chrono::steady_clock::time_point>, kInstruments> writtenAt_{};
    std::array<bool, kInstruments> lastWriteFailed_{};
    std::uint64_t bytesReceived_ = 0;
    std::uint64_t bytesThrownAway_ = 0;
    std::uint64_t lineChanges_ = 0;
};

}  // namespace lumo
