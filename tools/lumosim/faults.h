#pragma once

#include "bytes.h"

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace lumo::sim {

enum class Protocol { block, modbus };

// Misbehaviours an instrument can be told to show; several may be combined.
enum Fault : std::uint32_t {
    silentFault = 1u << 0,    // no answer at all
    badCheckFault = 1u << 1,  // block: wrong XOR check byte
    badAddrFault = 1u << 2,   // block: wrong address echo
    badBlockFault = 1u << 3,  // block: wrong block echo
    strayFault = 1u << 4,     // block: one stray byte before the answer
    badCrcFault = 1u << 5,    // modbus: wrong CRC
    exceptionFault = 1u << 6, // modbus: exception 04 instead of the data
    foreignFault = 1u << 7,   // modbus: intact answer under another address
    noiseFault = 1u << 8,     // modbus: random bytes before the answer
    splitFault = 1u << 9,     // the answer in two pieces with a gap
    lateFault = 1u << 10,     // the answer after a delay
    flipBitFault = 1u << 11,  // one random bit of the answer flipped
    duplicateFault = 1u << 12 // the answer sent twice
};

// The fault of a name if that protocol knows it.
std::optional<Fault> faultNamed(std::string_view name, Protocol protocol);
// "none", or the names of the faults joined with '+': "split+late".
std::string faultNames(std::uint32_t faults);

// When the faults of an instrument apply: always, every Nth answer, or at random.
struct FaultPlan {
    std::uint32_t faults = 0;
    int every = 0;            // > 0: only every Nth answer (N, 2N, ...)
    double probability = -1;  // in [0, 1]: each answer with this probability
    std::uint8_t foreignAddress = 0;
    int delayMs = 1000;
    int splitGapMs = 50;
};

// Decides per answer whether the plan's faults apply; counts the answers.
class FaultTrigger {
public:
    bool fires(const FaultPlan& plan, std::mt19937& random);

private:
    long answerCount_ = 0;
};

// One piece of an answer on the wire, sent gapBeforeMs after the previous one.
struct Piece {
    Bytes bytes;
    int gapBeforeMs = 0;
};

// An answer ready for the line: its pieces, a delay before the first one, and
// what the event log tells about it.
struct OutgoingAnswer {
    std::vector<Piece> pieces;
    int delayMs = 0;
    std::uint32_t faults = 0;
    Bytes frame; // the frame itself, before stray or noise bytes are put in front
};

// Faults that corrupt the frame: a flipped bit. The others are built by the
// protocol encoders (echo, check, CRC, exception, foreign address).
void flipRandomBit(Bytes& frame, std::mt19937& random);

// Turns a finished frame into pieces: leading stray/noise bytes, duplicate,
// split and delay.
OutgoingAnswer shapeAnswer(Bytes frame, std::uint32_t faults, const FaultPlan& plan,
                           std::mt19937& random);

} // namespace lumo::sim
