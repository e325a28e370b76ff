#include "historyrow.h"

#include "historyfile.h"

#include <algorithm>
#include <cstring>

namespace lumo::history {

std::string spreadBlob(const PeriodRow& row)
{
    if (std::none_of(row.measured.begin(), row.measured.end(), [](const auto& s) { return s.has_value(); }))
        return {};
    std::string blob(16 * kMeasured, '\0');
    for (int i = 0; i < kMeasured; ++i) {
        const Spread spread = row.measured[static_cast<std::size_t>(i)].value_or(Spread{});
        const float values[3] = {spread.min, spread.mean, spread.max};
        char* at = blob.data() + 16 * i;
        std::memcpy(at, values, sizeof values);
        std::memcpy(at + 12, &spread.count, sizeof spread.count);
    }
    return blob;
}

void readSpreads(const void* blob, int size, PeriodRow& row)
{
    if (!blob || size != 16 * kMeasured)
        return;
    for (int i = 0; i < kMeasured; ++i) {
        const char* at = static_cast<const char*>(blob) + 16 * i;
        Spread spread;
        float values[3];
        std::memcpy(values, at, sizeof values);
        std::memcpy(&spread.count, at + 12, sizeof spread.count);
        spread.min = values[0];
        spread.mean = values[1];
        spread.max = values[2];
        if (spread.count > 0)
            row.measured[static_cast<std::size_t>(i)] = spread;
    }
}

std::string dropText(const std::optional<TotalDrop>& drop)
{
    return drop ? drop->from + '\x1f' + drop->to + '\x1f' + std::to_string(drop->atMs) : std::string();
}

std::optional<TotalDrop> dropOf(const std::string& text)
{
    const auto first = text.find('\x1f'), second = text.find('\x1f', first + 1);
    if (text.empty() || first == std::string::npos || second == std::string::npos)
        return std::nullopt;
    return TotalDrop{text.substr(0, first), text.substr(first + 1, second - first - 1),
                     std::stoll(text.substr(second + 1))};
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

}  // namespace lumo::history
