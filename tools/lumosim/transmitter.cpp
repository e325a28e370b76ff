#include "transmitter.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <unistd.h>

namespace lumo::sim {

std::int64_t monotonicMicros()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

void Transmitter::queue(Transmission transmission)
{
    // Stable: among equal starts the one queued first goes first.
    const auto later = std::upper_bound(
        waiting_.begin(), waiting_.end(), transmission.earliestStartUs,
        [](std::int64_t start, const Transmission& t) { return start < t.earliestStartUs; });
    waiting_.insert(later, std::move(transmission));
}

void Transmitter::activateNext(std::int64_t nowUs)
{
    if (active_ || waiting_.empty() || waiting_.front().earliestStartUs > nowUs)
        return;
    Transmission t = std::move(waiting_.front());
    waiting_.pop_front();
    Active active;
    active.tag = t.tag;
    active.done.tag = t.tag;
    std::int64_t pieceStart = std::max(t.earliestStartUs, lineFreeUs_);
    for (const Piece& piece : t.pieces) {
        pieceStart += static_cast<std::int64_t>(piece.gapBeforeMs) * 1000;
        for (std::size_t i = 0; i < piece.bytes.size(); ++i) {
            const auto offset = std::llround(static_cast<double>(i + 1) * t.microsecondsPerByte);
            active.bytes.emplace_back(piece.bytes[i], pieceStart + offset);
        }
        if (!active.bytes.empty())
            pieceStart = active.bytes.back().second;
    }
    active_ = std::move(active);
}

std::optional<std::int64_t> Transmitter::nextDueUs()
{
    if (active_)
        return active_->bytes[active_->next].second;
    if (waiting_.empty())
        return std::nullopt;
    return std::max(waiting_.front().earliestStartUs, lineFreeUs_);
}

std::vector<Completed> Transmitter::writeDue(int fd, std::int64_t nowUs)
{
    std::vector<Completed> finished;
    for (;;) {
        activateNext(nowUs);
        if (!active_)
            return finished;
        Active& a = *active_;
        Bytes due;
        while (a.next + due.size() < a.bytes.size() && a.bytes[a.next + due.size()].second <= nowUs)
            due.push_back(a.bytes[a.next + due.size()].first);
        if (!due.empty()) {
            const ssize_t written = ::write(fd, due.data(), due.size());
            const std::size_t taken = written > 0 ? static_cast<std::size_t>(written) : 0;
            // A line nobody reads drops what it cannot take, like a real wire.
            a.done.dropped += due.size() - taken;
            a.done.bytes.insert(a.done.bytes.end(), due.begin(), due.end());
            a.next += due.size();
            a.done.lastByteUs = monotonicMicros();
        }
        if (a.next < a.bytes.size())
            return finished;
        if (a.bytes.empty())
            a.done.lastByteUs = monotonicMicros();
        lineFreeUs_ = a.bytes.empty() ? nowUs : a.bytes.back().second;
        finished.push_back(std::move(a.done));
        active_.reset();
    }
}

} // namespace lumo::sim
