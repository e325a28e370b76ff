#include "blockpoller.h"

#include <algorithm>
#include <limits>

namespace lumo {

using block::DecodedValues;
using block::kBlockCount;
using block::Request;

// Port operations report failure, but a failed step of the tick or of the
// receive handler is skipped and the routine goes on: their outcomes are
// deliberately not looked at.

BlockPoller::BlockPoller(SerialPort& port, GridModel& grid, const ValueFields& fields)
    : port_(port), grid_(grid), fields_(fields)
{
}

void BlockPoller::tick()
{
    grid_.hideActivity();
    // Whatever arrived since the last request and was not read, a late or
    // partial answer included, is dropped here.
    port_.clearOutput();
    port_.clearInput();
    copyAddressToByte();

    // The request of the previous tick went unanswered: the instrument is
    // silent, its remaining blocks are skipped in this sweep.
    if (state_.answerPending == 1) {
        statusDowith(grid_, state_.currentAddressByte);
        state_.blockIndex = 0;
        advanceAddress();
    }
    if (state_.blockIndex > kBlockCount - 1) {
        state_.blockIndex = 0;
        advanceAddress();
    }

    const Request request = block::requestFrame(state_.currentAddressByte, state_.blockIndex);
    state_.sentBlockIndex = state_.blockIndex;
    ++state_.blockIndex;
    // A failed write still leaves the request outstanding, so the next tick
    // blanks the instrument and the addresses keep cycling.
    port_.write(request);
    state_.answerPending = 1;
}

void BlockPoller::advanceAddress()
{
    // The count is read afresh each time: it is the leading number of the
    // count field, 0 for a text that is not a number.
    const double count = fields_.instrumentCount();
    if (count > state_.currentAddress) {
        if (state_.currentAddress < std::numeric_limits<std::int16_t>::max())
            ++state_.currentAddress;
        copyAddressToByte();
    } else {
        state_.currentAddress = 1;
        state_.currentAddressByte = 1;
    }
}

void BlockPoller::copyAddressToByte()
{
    // An address outside 0..255 does not fit the byte and leaves it as it was.
    if (state_.currentAddress >= 0 && state_.currentAddress <= 255)
        state_.currentAddressByte = static_cast<std::uint8_t>(state_.currentAddress);
}

void BlockPoller::onReceiveEvent(int eventCode)
{
    if (eventCode != kReceiveEventData)
        return;

    // The answer must begin with the first byte read; bytes beyond the ten of
    // an answer are dropped.
    std::size_t bytesRead = 0;
    if (Result<Bytes> read = port_.readWaiting(); read.ok()) {
        const Bytes& bytes = read.value();
        bytesRead = std::min(bytes.size(), state_.receiveBuffer.size());
        std::copy_n(bytes.begin(), bytesRead, state_.receiveBuffer.begin());
    }
    // Positions not overwritten still hold an earlier answer; a short read
    // must not let those old bytes pass for a new answer.
    if (bytesRead < state_.receiveBuffer.size())
        return;
    if (block::acceptAnswer(state_.receiveBuffer, state_.currentAddressByte, state_.sentBlockIndex))
        dataDowith();
}

void BlockPoller::dataDowith()
{
    grid_.showActivity();
    state_.answerPending = 0;

    // Byte 0 equals CurrentAddressByte here: the echo test has passed.
    const std::uint8_t address = state_.receiveBuffer[0];
    DecodedValues& values = values_[address];
    block::decodeBlock(state_.sentBlockIndex, state_.receiveBuffer, values);

    // Every accepted answer rewrites the whole line; addresses above 39 have
    // values but no line.
    if (!isInstrument(address))
        return;
    const auto texts = block::cellTexts(values);
    for (int slot = 0; slot < kSlots; ++slot)
        grid_.setCellText(address, slot, texts[slot]);
}

}  // namespace lumo
