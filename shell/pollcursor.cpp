#include "pollcursor.h"

#include <limits>

namespace lumo {

bool PollCursor::timeOutUnanswered()
{
    copyAddressToByte();
    if (answerPending_) {
        stats_.unanswered(currentAddressByte_);
        statusDowith();
    }
    return answerPending_;
}

void PollCursor::requestSent(bool written)
{
    answerPending_ = true;
    if (written)
        stats_.requestWritten(currentAddressByte_, clock_.now());
    else
        stats_.requestFailed(currentAddressByte_);
}

void PollCursor::answerAccepted()
{
    answerPending_ = false;
    stats_.answerAccepted(currentAddressByte_, clock_.now());
}

void PollCursor::advance()
{
    if (listener_ && isInstrument(currentAddressByte_))
        listener_->pollLeaves(currentAddressByte_);
    // The count is the leading number of its value field, 0 for a text that
    // is not a number, so such a count keeps polling address 1.
    if (fields_.instrumentCount() > currentAddress_) {
        // CurrentAddress is 16-bit signed: an increase beyond 32767 is refused.
        if (currentAddress_ < std::numeric_limits<std::int16_t>::max())
            ++currentAddress_;
        copyAddressToByte();
    } else {
        currentAddress_ = 1;
        currentAddressByte_ = 1;
    }
}

void PollCursor::showInstrument(std::uint8_t address, const InstrumentReading& reading, bool wholeSet)
{
    if (!isInstrument(address))
        return;
    for (int slot = 0; slot < kSlots; ++slot)
        grid_.setCellText(address, slot, reading.texts[static_cast<std::size_t>(slot)]);
    if (listener_)
        listener_->instrumentAnswered(address, reading, wholeSet);
}

// A value outside 0..255 does not fit the byte and leaves it as it was.
void PollCursor::copyAddressToByte()
{
    if (currentAddress_ >= 0 && currentAddress_ <= std::numeric_limits<std::uint8_t>::max())
        currentAddressByte_ = static_cast<std::uint8_t>(currentAddress_);
}

void PollCursor::statusDowith()
{
    grid_.clearInstrument(currentAddressByte_);
    if (listener_ && isInstrument(currentAddressByte_))
        listener_->instrumentSilent(currentAddressByte_);
}

}  // namespace lumo
