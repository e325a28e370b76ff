#include "blockpoller.h"

#include <algorithm>

namespace lumo {

using block::kBlockCount;

// Port operations report failure, but a failed step of the tick or of the
// receive handler is skipped and the routine goes on: their outcomes are
// deliberately not looked at.

BlockPoller::BlockPoller(SerialPort& port, GridModel& grid, const ValueFields& fields, const Clock& clock)
    : port_(port), grid_(grid), cursor_(grid, fields, clock)
{
}

void BlockPoller::tick()
{
    grid_.hideActivity();
    // Whatever arrived since the last request and was not read, a late or
    // partial answer included, is dropped here.
    port_.clearOutput();
    port_.clearInput();

    // The request of the previous tick went unanswered: the instrument is
    // silent, its remaining blocks are skipped in this sweep.
    if (cursor_.timeOutUnanswered()) {
        blockIndex_ = 0;
        cursor_.advance();
    }
    if (blockIndex_ > kBlockCount - 1) {
        blockIndex_ = 0;
        cursor_.advance();
    }

    const block::Request request = block::requestFrame(cursor_.currentAddressByte(), blockIndex_);
    sentBlockIndex_ = blockIndex_;
    ++blockIndex_;
    cursor_.requestSent(port_.write(request).ok());
}

void BlockPoller::onReceiveEvent(int eventCode)
{
    if (eventCode != kReceiveEventData)
        return;

    // The answer must begin with the first byte read; bytes beyond the ten of
    // an answer are dropped.
    std::size_t received = 0;
    std::size_t bytesRead = 0;
    if (Result<Bytes> read = port_.readWaiting(); read.ok()) {
        const Bytes& bytes = read.value();
        received = bytes.size();
        bytesRead = std::min(bytes.size(), receiveBuffer_.size());
        std::copy_n(bytes.begin(), bytesRead, receiveBuffer_.begin());
    }
    LineStats& stats = cursor_.lineStats();
    stats.received(received);
    // Positions not overwritten still hold an earlier answer; a short read
    // must not let those old bytes pass for a new answer.
    if (bytesRead < receiveBuffer_.size()) {
        if (received > 0)
            cursor_.answerRejected(Rejection::Length);
        stats.thrownAway(received);
        return;
    }
    if (const auto why = block::rejectionOf(receiveBuffer_, cursor_.currentAddressByte(), sentBlockIndex_)) {
        cursor_.answerRejected(*why);
        stats.thrownAway(received);
        return;
    }
    stats.thrownAway(received - bytesRead);
    dataDowith();
}

void BlockPoller::dataDowith()
{
    grid_.showActivity();
    cursor_.answerAccepted();

    // Byte 0 equals CurrentAddressByte here: the echo test has passed.
    const std::uint8_t address = receiveBuffer_[0];
    block::DecodedValues& values = values_[address];
    block::decodeBlock(sentBlockIndex_, receiveBuffer_, values);
    // Every accepted answer rewrites the whole line; it carried one block.
    InstrumentReading reading = block::readingOf(values);
    if (sentBlockIndex_ < kBlockCount)
        reading.fresh[static_cast<std::size_t>(block::slotOfBlock(sentBlockIndex_))] = true;
    cursor_.showInstrument(address, reading, false);
}

BlockPollState BlockPoller::state() const
{
    return {cursor_.currentAddress(), cursor_.currentAddressByte(), blockIndex_, sentBlockIndex_,
            cursor_.answerPending()};
}

}  // namespace lumo
