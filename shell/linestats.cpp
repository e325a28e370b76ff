#include "linestats.h"

#include <algorithm>

namespace lumo {

void AnswerTimes::add(Microseconds time)
{
    times_[count_ % kKept] = time;
    ++count_;
}

// The middle one of the answers kept, the lower middle for an even count.
std::optional<Microseconds> AnswerTimes::median() const
{
    if (count() == 0)
        return std::nullopt;
    std::array<Microseconds, kKept> sorted = times_;
    const auto end = sorted.begin() + static_cast<std::ptrdiff_t>(count());
    const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>((count() - 1) / 2);
    std::nth_element(sorted.begin(), middle, end);
    return *middle;
}

std::optional<Microseconds> AnswerTimes::max() const
{
    if (count() == 0)
        return std::nullopt;
    return *std::max_element(times_.begin(), times_.begin() + static_cast<std::ptrdiff_t>(count()));
}

InstrumentStats* LineStats::at(int address)
{
    if (address < 1 || address > kInstruments)
        return nullptr;
    InstrumentStats* stats = &instruments_[static_cast<std::size_t>(address - 1)];
    ++stats->changes;
    return stats;
}

void LineStats::requestWritten(int address, std::chrono::steady_clock::time_point at)
{
    if (InstrumentStats* stats = this->at(address)) {
        ++stats->requests;
        writtenAt_[static_cast<std::size_t>(address - 1)] = at;
        lastWriteFailed_[static_cast<std::size_t>(address - 1)] = false;
    }
}

void LineStats::requestFailed(int address)
{
    if (InstrumentStats* stats = this->at(address)) {
        ++stats->failedWrites;
        lastWriteFailed_[static_cast<std::size_t>(address - 1)] = true;
    }
}

void LineStats::answerAccepted(int address, std::chrono::steady_clock::time_point at)
{
    InstrumentStats* stats = this->at(address);
    if (!stats)
        return;
    ++stats->answers;
    stats->lastAnswer = at;
    // Each request's time counts once: a duplicate answer has none of its own.
    auto& written = writtenAt_[static_cast<std::size_t>(address - 1)];
    if (written && at >= *written)
        stats->answerTimes.add(std::chrono::duration_cast<Microseconds>(at - *written));
    written.reset();
}

void LineStats::unanswered(int address)
{
    if (address < 1 || address > kInstruments)
        return;
    // A request that never went out had no answer to wait for.
    bool& failed = lastWriteFailed_[static_cast<std::size_t>(address - 1)];
    if (failed)
        failed = false;
    else
        ++at(address)->unanswered;
}

void LineStats::rejected(int address, Rejection why)
{
    if (InstrumentStats* stats = at(address))
        ++stats->rejected[static_cast<std::size_t>(why)];
}

void LineStats::received(std::size_t bytes)
{
    bytesReceived_ += bytes;
    lineChanges_ += bytes > 0;
}

void LineStats::thrownAway(std::size_t bytes)
{
    bytesThrownAway_ += bytes;
    lineChanges_ += bytes > 0;
}

}  // namespace lumo
