#include "responder.h"

#include "blockanswer.h"
#include "crc16.h"
#include "instrumentdata.h"
#include "registerimage.h"

#include <utility>

namespace lumo::sim {

namespace {

constexpr std::size_t blockRequestSize = 4;
constexpr std::size_t modbusRequestSize = 8;
constexpr int maxRegistersPerRead = 125;

} // namespace

Responder::Responder(Scenario scenario, std::uint32_t seed)
    : scenario_(std::move(scenario)), random_(seed)
{
}

std::vector<Reply> Responder::receive(const Bytes& bytes, double seconds)
{
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    std::vector<Reply> replies;
    for (;;) {
        auto reply = scenario_.protocol == Protocol::block ? nextBlockRequest(seconds)
                                                           : nextModbusRequest(seconds);
        if (!reply)
            return replies;
        replies.push_back(std::move(*reply));
    }
}

Bytes Responder::takeJunk()
{
    return std::exchange(junk_, {});
}

void Responder::skipOneByte()
{
    junk_.push_back(pending_.front());
    pending_.erase(pending_.begin());
}

// A block request is 2A, address, block, 2E; anything else is skipped byte by
// byte until such a window lines up.
std::optional<Reply> Responder::nextBlockRequest(double seconds)
{
    while (pending_.size() >= blockRequestSize) {
        if (pending_[0] != blockRequestStart || pending_[3] != blockRequestEnd) {
            skipOneByte();
            continue;
        }
        Reply reply;
        reply.request.assign(pending_.begin(), pending_.begin() + blockRequestSize);
        pending_.erase(pending_.begin(), pending_.begin() + blockRequestSize);
        reply.address = reply.request[1];
        reply.block = reply.request[2];
        const auto found = scenario_.instruments.find(reply.address);
        if (reply.block > 7)
            reply.skipReason = "no such block";
        else if (found == scenario_.instruments.end())
            reply.skipReason = "no instrument";
        else
            answerBlock(reply, found->second, seconds);
        return reply;
    }
    return std::nullopt;
}

// RTU frames have no start mark: a request is any 8-byte window whose CRC is
// right. Garbage in front of it is skipped one byte at a time.
std::optional<Reply> Responder::nextModbusRequest(double seconds)
{
    while (pending_.size() >= modbusRequestSize) {
        if (!hasValidModbusCrc(pending_.data(), modbusRequestSize)) {
            skipOneByte();
            continue;
        }
        Reply reply;
        reply.request.assign(pending_.begin(), pending_.begin() + modbusRequestSize);
        pending_.erase(pending_.begin(), pending_.begin() + modbusRequestSize);
        reply.address = reply.request[0];
        reply.function = reply.request[1];
        reply.start = reply.request[2] << 8 | reply.request[3];
        reply.count = reply.request[4] << 8 | reply.request[5];
        const auto found = scenario_.instruments.find(reply.address);
        if (found == scenario_.instruments.end())
            reply.skipReason = "no instrument";
        else
            answerModbus(reply, found->second, seconds);
        return reply;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> Responder::faultsFor(Reply& reply, const Instrument& instrument, double seconds)
{
    if (instrument.silentWindow && instrument.silentWindow->contains(seconds)) {
        reply.skipReason = "silent";
        return std::nullopt;
    }
    const FaultPlan& plan = instrument.faults;
    const std::uint32_t faults =
        triggers_[instrument.address].fires(plan, random_) ? plan.faults : 0;
    if (faults & silentFault) {
        reply.skipReason = "silent";
        return std::nullopt;
    }
    return faults;
}

void Responder::answerBlock(Reply& reply, const Instrument& instrument, double seconds)
{
    const auto faults = faultsFor(reply, instrument, seconds);
    if (!faults)
        return;
    const EncodedBlock encoded = instrumentBlock(instrument, reply.block, seconds);
    reply.valueText = encoded.valueText;
    auto address = static_cast<std::uint8_t>(reply.address);
    auto block = static_cast<std::uint8_t>(reply.block);
    if (*faults & badAddrFault)
        address = static_cast<std::uint8_t>(address % 39 + 1);
    if (*faults & badBlockFault)
        block = static_cast<std::uint8_t>((block + 1) % 8);
    Bytes frame = blockAnswer(address, block, encoded.payload);
    if (*faults & badCheckFault)
        frame[8] ^= 0xFF;
    if (*faults & flipBitFault)
        flipRandomBit(frame, random_);
    reply.answer = shapeAnswer(std::move(frame), *faults, instrument.faults, random_);
}

void Responder::answerModbus(Reply& reply, const Instrument& instrument, double seconds)
{
    const auto faults = faultsFor(reply, instrument, seconds);
    if (!faults)
        return;
    auto address = static_cast<std::uint8_t>(reply.address);
    if (*faults & foreignFault) {
        const std::uint8_t foreign = instrument.faults.foreignAddress;
        address = foreign != 0 ? foreign : static_cast<std::uint8_t>(reply.address % 39 + 1);
    }
    const auto function = static_cast<std::uint8_t>(reply.function);
    Bytes frame;
    if (function != readHoldingRegisters)
        frame = exceptionAnswer(address, function, illegalFunction);
    else if (reply.count < 1 || reply.count > maxRegistersPerRead)
        frame = exceptionAnswer(address, function, illegalDataValue);
    else if (reply.start + reply.count > registerCount)
        frame = exceptionAnswer(address, function, illegalDataAddress);
    else if (*faults & exceptionFault)
        frame = exceptionAnswer(address, function, slaveDeviceFailure);
    else
        frame = readHoldingRegistersAnswer(address, instrumentImage(instrument, seconds),
                                           reply.start, reply.count);
    if (*faults & badCrcFault)
        frame[frame.size() - 2] ^= 0xFF;
    if (*faults & flipBitFault)
        flipRandomBit(frame, random_);
    reply.answer = shapeAnswer(std::move(frame), *faults, instrument.faults, random_);
}

} // namespace lumo::sim
