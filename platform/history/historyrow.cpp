#include "historyrow.h"

#include "historyfile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace lumo::history {

std::string spreadBlob(const PeriodRow& row)
{
    std::string blob(1, '\0');
    for (std::size_t i = 0; i < row.measured.size(); ++i) {
        const auto& spread = row.measured[i];
        if (!spread || spread->count == 0)
            continue;
        blob[0] = static_cast<char>(blob[0] | (1 << i));
        const float values[3] = {spread->min, spread->mean, spread->max};
        blob.append(reinterpret_cast<const char*>(values), sizeof values);
        for (std::uint32_t count = spread->count;; count >>= 7) {
            const auto low = static_cast<char>(count & 0x7F);
            if (count < 0x80) {
                blob += low;
                break;
            }
            blob += static_cast<char>(low | 0x80);
        }
    }
    return blob.size() > 1 ? blob : std::string();
}

// The blob may come from anywhere (the file is the operators'): a spread
// that does not read whole, or is no number, is none.
void readSpreads(const void* blob, int size, PeriodRow& row)
{
    if (!blob || size < 1)
        return;
    const auto* bytes = static_cast<const unsigned char*>(blob);
    const auto end = static_cast<std::size_t>(size);
    std::size_t at = 1;
    for (std::size_t i = 0; i < row.measured.size(); ++i) {
        if (!(bytes[0] & (1u << i)))
            continue;
        if (at + 12 > end)
            return;
        float values[3];
        std::memcpy(values, bytes + at, sizeof values);
        at += 12;
        std::uint32_t count = 0;
        bool whole = false;
        for (int shift = 0; shift < 35 && at < end; shift += 7) {
            const unsigned char b = bytes[at++];
            count |= static_cast<std::uint32_t>(b & 0x7F) << shift;
            if (!(b & 0x80)) {
                whole = true;
                break;
            }
        }
        if (!whole)
            return;
        if (count > 0 && std::isfinite(values[0]) && std::isfinite(values[1]) && std::isfinite(values[2]))
            row.measured[i] = Spread{values[0], values[1], values[2], count};
    }
}

std::string dropText(const std::optional<TotalDrop>& drop)
{
    return drop ? drop->from + '\x1f' + drop->to + '\x1f' + std::to_string(drop->atMs) : std::string();
}

// Whatever the file holds: what does not read as a drop is none.
std::optional<TotalDrop> dropOf(const std::string& text)
{
    const auto first = text.find('\x1f');
    if (text.empty() || first == std::string::npos)
        return std::nullopt;
    const auto second = text.find('\x1f', first + 1);
    if (second == std::string::npos)
        return std::nullopt;
    std::int64_t atMs = 0;
    const char* begin = text.data() + second + 1;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(begin, end, atMs);
    if (error != std::errc() || stop != end)
        return std::nullopt;
    return TotalDrop{text.substr(0, first), text.substr(first + 1, second - first - 1), atMs};
}

PeriodRow periodOf(const Statement& s, std::int64_t lengthMs)
{
    PeriodRow row;
    row.instrument = static_cast<int>(s.integer(0));
    row.startMs = s.integer(1);
    row.lengthMs = lengthMs;
    readSpreads(sqlite3_column_blob(s.get(), 2), sqlite3_column_bytes(s.get(), 2), row);
    row.forwardTotal = s.optionalText(3);
    row.reverseTotal = s.optionalText(4);
    if (!s.null(5))
        row.pipeDiameter = static_cast<float>(s.real(5));
    row.alarms = static_cast<AlarmBits>(s.integer(6));
    row.answers = static_cast<int>(s.integer(7));
    row.blankSeconds = s.real(8);
    return row;
}

DayRow dayOf(const Statement& s)
{
    DayRow day;
    day.instrument = static_cast<int>(s.integer(0));
    day.day = s.text(1);
    day.firstForward = s.optionalText(2);
    day.lastForward = s.optionalText(3);
    day.firstReverse = s.optionalText(4);
    day.lastReverse = s.optionalText(5);
    day.firstAnswerMs = s.integer(6);
    day.lastAnswerMs = s.integer(7);
    day.answeredSeconds = s.real(8);
    day.alarms = static_cast<AlarmBits>(s.integer(9));
    day.forwardDrop = dropOf(s.text(10));
    day.reverseDrop = dropOf(s.text(11));
    return day;
}

}  // namespace lumo::history
