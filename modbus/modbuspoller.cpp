#include "modbuspoller.h"

#include "answer.h"
#include "request.h"

#include <algorithm>

namespace lumo::modbus {

namespace {

// Modbus fixes the gap at 1750 us above 19200 baud.
constexpr std::chrono::microseconds kFastLineFloor{1750};
constexpr int kFastLineBaud = 19200;

}  // namespace

ModbusPoller::ModbusPoller(SerialPort& port, GridModel& grid, const ValueFields& fields,
                           const StationSettings& settings, OneShotTimer& chainTimer, const Clock& clock)
    : port_(port), grid_(grid), fields_(fields), settings_(settings), chainTimer_(chainTimer), clock_(clock),
      cursor_(grid, fields, clock)
{
}

// The pending chained call refers to this object.
ModbusPoller::~ModbusPoller() { chainTimer_.cancel(); }

void ModbusPoller::tick()
{
    grid_.hideActivity();
    // The timer's owner may have cancelled the wait (a stopped start-up).
    if ((chain_ == Chain::AwaitingSilence || chain_ == Chain::SilenceSeenByTick) && !chainTimer_.pending())
        chain_ = Chain::Off;
    switch (chain_) {
    case Chain::AwaitingSilence:
        // The answer was accepted moments ago and the chain is about to ask
        // the next instrument; a request from here would break the silence.
        chain_ = Chain::SilenceSeenByTick;
        return;
    case Chain::SilenceSeenByTick:
        chainTimer_.cancel();  // the chain never got to send: this tick does
        break;
    case Chain::RequestOnItsWay:
        // Its instrument may still be talking.
        if (cursor_.answerPending() && clock_.now() - chainedAt_ < answerWindow())
            return;
        break;
    case Chain::Off:
        break;
    }
    chain_ = Chain::Off;
    port_.clearOutput();
    port_.clearInput();
    cursor_.timeOutUnanswered();
    sendDowith();
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
    dataDowith(bytes);
}

void ModbusPoller::sendDowith()
{
    cursor_.advance();
    const bool written = port_.write(readRequest(cursor_.currentAddressByte())).ok();
    // Also when the write failed: the next tick then blanks the instrument
    // and the addresses keep cycling.
    cursor_.requestSent(written);
}

void ModbusPoller::dataDowith(const Bytes& read)
{
    // ReceivedHex lives only for this call: the text of one event's bytes.
    answerHex_ = hexText(read);
    LineStats& stats = cursor_.lineStats();
    stats.received(read.size());
    const auto answer = acceptAnswerHex(answerHex_);
    if (!answer) {
        if (!read.empty())
            cursor_.answerRejected(read.size() != kAnswerLength ? Rejection::Length : Rejection::Check);
        stats.thrownAway(read.size());
        return;
    }
    grid_.showActivity();
    values_ = decodeRegisters(*answer);
    const std::uint8_t answering = (*answer)[0];
    // Only the instrument polled ends its request; a late answer of another
    // one still shows its values below.
    if (answering == cursor_.currentAddressByte()) {
        cursor_.answerAccepted();
        if (fields_.instrumentCount() > kChainAboveCount)
            scheduleChainedRequest();
    } else {
        cursor_.answerRejected(Rejection::Foreign);
    }
    cursor_.showInstrument(answering, readingOf(values_), true);
}

std::chrono::microseconds ModbusPoller::silentInterval() const
{
    // 3.5 characters: half the time of seven, rounded up.
    const LineSettings& line = settings_.line;
    const std::chrono::microseconds silence((line.timeOfBits(7LL * line.bitsPerCharacter()).count() + 1) / 2);
    return line.baud > kFastLineBaud ? std::max(silence, kFastLineFloor) : silence;
}

std::chrono::microseconds ModbusPoller::answerWindow() const
{
    const LineSettings& line = settings_.line;
    const long long bytes = static_cast<long long>(kRequestLength + kAnswerLength);
    return line.timeOfBits(bytes * line.bitsPerCharacter()) + silentInterval() + kTurnaroundAllowance;
}

void ModbusPoller::scheduleChainedRequest()
{
    chain_ = Chain::AwaitingSilence;
    chainTimer_.start(silentInterval(), [this] { sendChainedRequest(); });
}

void ModbusPoller::sendChainedRequest()
{
    sendDowith();
    chain_ = Chain::RequestOnItsWay;
    chainedAt_ = clock_.now();
}

}  // namespace lumo::modbus
