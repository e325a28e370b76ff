#include "modbuspoller.h"

#include "answer.h"
#include "baudtable.h"
#include "request.h"

#include <algorithm>
#include <limits>

namespace lumo::modbus {

namespace {

// 3.5 characters of 10 bits (start, 8 data, stop at 8N1).
constexpr long long kSilentBits = 35;
// Modbus fixes the gap at 1750 us above 19200 baud.
constexpr long long kFastLineFloorUs = 1750;
constexpr int kFastLineBaud = 19200;
constexpr int kDefaultBaud = 9600;

// The baud rate the line runs at, as start-up set it from the baud field.
int lineBaud(const ValueFields& fields)
{
    const int baud = baudOfLineSettings(lineSettingsForBaudText(fields.text(ValueField::Baud)));
    return baud > 0 ? baud : kDefaultBaud;
}

}  // namespace

ModbusPoller::ModbusPoller(SerialPort& port, GridModel& grid, const ValueFields& fields,
                           OneShotTimer& chainTimer, const Clock& clock)
    : port_(port), grid_(grid), fields_(fields), chainTimer_(chainTimer), clock_(clock)
{
}

// The pending chained call refers to this object.
ModbusPoller::~ModbusPoller() { chainTimer_.cancel(); }

void ModbusPoller::tick()
{
    grid_.hideActivity();
    if (chainTimer_.pending()) {
        // The answer was accepted moments ago and the chain is about to ask
        // the next instrument; a request from here would break the silence.
        // Should the chain still wait at the next tick, that tick sends.
        if (!chainWaitSeenByTick_) {
            chainWaitSeenByTick_ = true;
            return;
        }
        chainTimer_.cancel();
    }
    // Its instrument may still be talking.
    if (answerPending_ && chainedAt_ && clock_.now() - *chainedAt_ < answerWindow())
        return;
    port_.clearOutput();
    port_.clearInput();
    copyAddressToByte();
    if (answerPending_)
        statusDowith(grid_, currentAddressByte_);
    sendDowith();
    chainedAt_.reset();
}

void ModbusPoller::onReceiveEvent(int eventCode)
{
    if (eventCode != kReceiveEventData)
        return;
    Result<Bytes> read = port_.readWaiting();
    const Bytes bytes = read.ok() ? std::move(read.value()) : Bytes{};
    // Bytes on the line restart the silence a chained request waits for.
    if (!bytes.empty() && chainTimer_.pending())
        scheduleChainedRequest();
    receivedHex_ = hexText(bytes);
    dataDowith();
}

void ModbusPoller::sendDowith()
{
    advanceAddress();
    const RequestFrame frame = readRequest(currentAddressByte_);
    port_.write(frame);
    // Also when the write failed: the next tick then blanks the instrument
    // and the addresses keep cycling.
    answerPending_ = true;
}

void ModbusPoller::dataDowith()
{
    answerHex_ = std::move(receivedHex_);
    receivedHex_.clear();
    const auto answer = acceptAnswer(answerHex_);
    if (!answer)
        return;
    grid_.showActivity();
    values_ = decodeRegisters(*answer);
    const std::uint8_t answering = (*answer)[0];
    // Only the instrument polled ends its request; a late answer of another
    // one still shows its values below.
    if (answering == currentAddressByte_) {
        answerPending_ = false;
        if (fields_.instrumentCount() > kChainAboveCount)
            scheduleChainedRequest();
    }
    writeCells(answering);
}

std::chrono::microseconds ModbusPoller::silentInterval() const
{
    const int baud = lineBaud(fields_);
    long long us = (kSilentBits * 1'000'000 + baud - 1) / baud;
    if (baud > kFastLineBaud)
        us = std::max(us, kFastLineFloorUs);
    return std::chrono::microseconds(us);
}

std::chrono::microseconds ModbusPoller::answerWindow() const
{
    const int baud = lineBaud(fields_);
    constexpr long long kBitsOnTheWire = 10 * static_cast<long long>(kRequestLength + kAnswerLength);
    const std::chrono::microseconds bytes((kBitsOnTheWire * 1'000'000 + baud - 1) / baud);
    return bytes + silentInterval() + kTurnaroundAllowance;
}

// A value outside 0..255 is refused and leaves the byte as it was.
void ModbusPoller::copyAddressToByte()
{
    if (currentAddress_ >= 0 && currentAddress_ <= std::numeric_limits<std::uint8_t>::max())
        currentAddressByte_ = static_cast<std::uint8_t>(currentAddress_);
}

// With a count of N the addresses run ..., N, 1, 2, ..., N, 1, ...; the
// count is read afresh every time.
void ModbusPoller::advanceAddress()
{
    if (fields_.instrumentCount() > currentAddress_) {
        // CurrentAddress is 16-bit signed: beyond 32767 is refused.
        if (currentAddress_ < std::numeric_limits<std::int16_t>::max())
            ++currentAddress_;
        copyAddressToByte();
    } else {
        currentAddressByte_ = 1;
        currentAddress_ = 1;
    }
}

void ModbusPoller::scheduleChainedRequest()
{
    chainWaitSeenByTick_ = false;
    chainTimer_.start(silentInterval(), [this] { sendChainedRequest(); });
}

void ModbusPoller::sendChainedRequest()
{
    sendDowith();
    chainedAt_ = clock_.now();
}

void ModbusPoller::writeCells(std::uint8_t instrument)
{
    if (!isInstrument(instrument))
        return;
    const auto texts = cellTexts(values_);
    for (int slot = 0; slot < kSlots; ++slot)
        grid_.setCellText(instrument, slot, texts[static_cast<std::size_t>(slot)]);
}

}  // namespace lumo::modbus
