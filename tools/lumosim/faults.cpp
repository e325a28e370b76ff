#include "faults.h"

namespace lumo::sim {

namespace {

struct FaultName {
    Fault fault;
    const char* name;
    bool block;
    bool modbus;
};

constexpr FaultName faultTable[] = {
    {silentFault, "silent", true, true},       {badCheckFault, "badcheck", true, false},
    {badAddrFault, "badaddr", true, false},    {badBlockFault, "badblock", true, false},
    {strayFault, "stray", true, false},        {badCrcFault, "badcrc", false, true},
    {exceptionFault, "exception", false, true}, {foreignFault, "foreign", false, true},
    {noiseFault, "noise", false, true},        {splitFault, "split", true, true},
    {lateFault, "late", true, true},           {flipBitFault, "flipbit", true, true},
    {duplicateFault, "duplicate", true, true},
};

constexpr std::uint8_t strayByte = 0x55;

Bytes randomBytes(std::size_t count, std::mt19937& random)
{
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes bytes(count);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(byte(random));
    return bytes;
}

} // namespace

std::optional<Fault> faultNamed(std::string_view name, Protocol protocol)
{
    for (const auto& entry : faultTable) {
        if (name == entry.name && (protocol == Protocol::block ? entry.block : entry.modbus))
            return entry.fault;
    }
    return std::nullopt;
}

std::string faultNames(std::uint32_t faults)
{
    std::string names;
    for (const auto& entry : faultTable) {
        if (faults & entry.fault)
            names += (names.empty() ? "" : "+") + std::string(entry.name);
    }
    return names.empty() ? "none" : names;
}

bool FaultTrigger::fires(const FaultPlan& plan, std::mt19937& random)
{
    ++answerCount_;
    if (plan.faults == 0)
        return false;
    if (plan.every > 0)
        return answerCount_ % plan.every == 0;
    if (plan.probability >= 0) {
        std::uniform_real_distribution<double> draw(0.0, 1.0);
        return draw(random) < plan.probability;
    }
    return true;
}

void flipRandomBit(Bytes& frame, std::mt19937& random)
{
    if (frame.empty())
        return;
    std::uniform_int_distribution<std::size_t> position(0, frame.size() * 8 - 1);
    const std::size_t bit = position(random);
    frame[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
}

OutgoingAnswer shapeAnswer(Bytes frame, std::uint32_t faults, const FaultPlan& plan,
                           std::mt19937& random)
{
    OutgoingAnswer answer;
    answer.faults = faults;
    answer.frame = frame;
    Bytes wire;
    if (faults & strayFault)
        wire.push_back(strayByte);
    if (faults & noiseFault) {
        std::uniform_int_distribution<std::size_t> count(1, 8);
        wire = randomBytes(count(random), random);
    }
    wire.insert(wire.end(), frame.begin(), frame.end());
    if (faults & duplicateFault)
        wire.insert(wire.end(), frame.begin(), frame.end());
    if ((faults & splitFault) && wire.size() >= 2) {
        const auto half = static_cast<std::ptrdiff_t>(wire.size() / 2);
        answer.pieces.push_back({Bytes(wire.begin(), wire.begin() + half), 0});
        answer.pieces.push_back({Bytes(wire.begin() + half, wire.end()), plan.splitGapMs});
    } else {
        answer.pieces.push_back({std::move(wire), 0});
    }
    if (faults & lateFault)
        answer.delayMs = plan.delayMs;
    return answer;
}

} // namespace lumo::sim
