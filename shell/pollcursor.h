#pragma once
// The poll state both protocols share, and what they do with it: which
// instrument is asked (CurrentAddress, and CurrentAddressByte: the address
// in the request and the instrument the blanking clears), whether its
// request is still unanswered (AnswerPending), the blanking of a silent
// instrument (Status_Dowith) and the rewriting of an answering instrument's
// eight cells. Each protocol keeps its requests, its reception and its codec.
// Beside it the line's statistics, which change nothing of the above.

#include "gridmodel.h"
#include "linestats.h"
#include "reading.h"
#include "timers.h"
#include "valuefields.h"

#include <cstdint>

namespace lumo {

class PollCursor {
public:
    PollCursor(GridModel& grid, const ValueFields& fields, const Clock& clock = steadyClock())
        : grid_(grid), fields_(fields), clock_(clock)
    {
    }

    std::int16_t currentAddress() const { return currentAddress_; }
    std::uint8_t currentAddressByte() const { return currentAddressByte_; }
    bool answerPending() const { return answerPending_; }

    // Start-up sets CurrentAddress to 1.
    void setCurrentAddress(std::int16_t address) { currentAddress_ = address; }

    // The tick's look at the last request: CurrentAddressByte takes
    // CurrentAddress, which still names the instrument asked; if that
    // request is unanswered, the instrument is blanked. Answers whether it was.
    bool timeOutUnanswered();
    // To the next address by the instrument count, read afresh: with a
    // count of N the addresses run ..., N, 1, 2, ..., N, 1, ...
    void advance();
    // A request was written, or failed to be: either way the next tick
    // blanks its instrument unless an answer is accepted first.
    void requestSent(bool written);
    void answerAccepted();
    // A received answer was turned away while CurrentAddressByte was polled.
    void answerRejected(Rejection why) { stats_.rejected(currentAddressByte_, why); }
    LineStats& lineStats() { return stats_; }
    const LineStats& lineStats() const { return stats_; }

    // The eight cells of the answering instrument, slots 0..7, each once;
    // addresses 0 and 40..255 have no line and write nothing. wholeSet: the
    // answer carried all eight quantities.
    void showInstrument(std::uint8_t address, const InstrumentReading& reading, bool wholeSet);

    // Who else hears of answering, silent and left instruments (publishing);
    // none by default.
    void setListener(InstrumentListener* listener) { listener_ = listener; }

private:
    void copyAddressToByte();
    // Status_Dowith: blanks the instrument named by CurrentAddressByte.
    void statusDowith();

    GridModel& grid_;
    const ValueFields& fields_;
    const Clock& clock_;
    LineStats stats_;
    InstrumentListener* listener_ = nullptr;
    std::int16_t currentAddress_ = 1;
    std::uint8_t currentAddressByte_ = 0;
    bool answerPending_ = false;
};

}  // namespace lumo
