#include "selection.h"

#include "gridmodel.h"

#include <algorithm>
#include <charconv>
#include <set>
#include <string>

namespace lumo::history {

namespace {

// Digits at `at`, exactly `width` of them (any number for width 0).
std::optional<int> numberAt(std::string_view text, std::size_t& at, std::size_t width)
{
    const std::size_t end = width ? at + width : text.find_first_not_of("0123456789", at);
    const std::size_t stop = end == std::string_view::npos ? text.size() : end;
    if (stop > text.size() || stop == at)
        return std::nullopt;
    int value = 0;
    const auto [ptr, error] = std::from_chars(text.data() + at, text.data() + stop, value);
    if (error != std::errc() || ptr != text.data() + stop)
        return std::nullopt;
    at = stop;
    return value;
}

bool take(std::string_view text, std::size_t& at, char c)
{
    if (at < text.size() && text[at] == c) {
        ++at;
        return true;
    }
    return false;
}

}  // namespace

Result<std::vector<int>> instrumentsOf(std::string_view text)
{
    using Instruments = Result<std::vector<int>>;
    std::set<int> chosen;
    std::size_t at = 0;
    const auto skipBlanks = [&] {
        while (at < text.size() && text[at] == ' ')
            ++at;
    };
    skipBlanks();
    while (at < text.size()) {
        const std::size_t began = at;
        const auto first = numberAt(text, at, 0);
        skipBlanks();
        auto last = first;
        if (first && take(text, at, '-')) {
            skipBlanks();
            last = numberAt(text, at, 0);
            skipBlanks();
        }
        const std::string part(text.substr(began, at - began));
        if (!first || !last || (at < text.size() && text[at] != ','))
            return Instruments::failure("仪表号“" + std::string(text) + "”看不懂：写成 1,3-5 这样（instruments \"" +
                                        std::string(text) + "\": write them as 1,3-5）");
        if (*first < 1 || *last > kInstruments || *first > *last)
            return Instruments::failure("仪表号“" + part + "”不在 1 到 " + std::to_string(kInstruments) +
                                        " 之内，或范围颠倒（instruments \"" + part + "\" outside 1.." +
                                        std::to_string(kInstruments) + " or reversed）");
        for (int n = *first; n <= *last; ++n)
            chosen.insert(n);
        if (take(text, at, ','))
            skipBlanks();
    }
    return Instruments::success(std::vector<int>(chosen.begin(), chosen.end()));
}

Result<std::int64_t> momentOf(std::string_view text, bool endOfDay, const FromLocal& fromLocal)
{
    using Moment = Result<std::int64_t>;
    const auto refused = [&](const std::string& why) {
        return Moment::failure("时间“" + std::string(text) + "”" + why + "：写成 2026-12-10 或 2026-12-10T08:00（time \"" +
                               std::string(text) + "\": write 2026-12-10 or 2026-12-10T08:00, local time, or with an offset "
                               "such as +08:00）");
    };
    std::size_t at = 0;
    LocalTime local;
    const auto year = numberAt(text, at, 4);
    const bool dashes = year && take(text, at, '-');
    const auto month = dashes ? numberAt(text, at, 2) : std::nullopt;
    const auto day = month && take(text, at, '-') ? numberAt(text, at, 2) : std::nullopt;
    if (!day)
        return refused("看不懂");
    local.year = *year;
    local.month = *month;
    local.day = *day;
    const bool dateOnly = at == text.size();
    if (!dateOnly) {
        if (!take(text, at, 'T') && !take(text, at, ' '))
            return refused("看不懂");
        const auto hour = numberAt(text, at, 2);
        const auto minute = hour && take(text, at, ':') ? numberAt(text, at, 2) : std::nullopt;
        if (!minute)
            return refused("看不懂");
        local.hour = *hour;
        local.minute = *minute;
        if (take(text, at, ':')) {
            const auto second = numberAt(text, at, 2);
            if (!second)
                return refused("看不懂");
            local.second = *second;
        }
    }
    std::optional<int> offsetSeconds;
    if (take(text, at, 'Z')) {
        offsetSeconds = 0;
    } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        const int sign = text[at++] == '-' ? -1 : 1;
        const auto hours = numberAt(text, at, 2);
        const auto minutes = hours && take(text, at, ':') ? numberAt(text, at, 2) : std::nullopt;
        if (!minutes || *hours > 23 || *minutes > 59)
            return refused("的时差看不懂");
        offsetSeconds = sign * (*hours * 3600 + *minutes * 60);
    }
    if (at != text.size())
        return refused("看不懂");
    if (local.month < 1 || local.month > 12 || local.day < 1 || local.hour > 23 || local.minute > 59 ||
        local.second > 59 || normalised(local).day != local.day)
        return refused("不存在");
    std::int64_t moment = 0;
    if (offsetSeconds) {
        const long days = daysOf(local.year, local.month, local.day);
        moment = ((static_cast<std::int64_t>(days) * 24 + local.hour) * 60 + local.minute) * 60'000 +
                 local.second * 1000LL - *offsetSeconds * 1000LL;
    } else {
        const auto found = fromLocal(local);
        if (!found)
            return refused("在本地不存在");
        moment = *found;
    }
    if (dateOnly && endOfDay) {
        // The next midnight: local, a day is not always 24 hours long.
        if (offsetSeconds)
            return Moment::success(moment + 24 * 3'600'000LL);
        LocalTime next = local;
        ++next.day;
        return Moment::success(fromLocal(normalised(next)).value_or(moment + 24 * 3'600'000LL));
    }
    return Moment::success(moment);
}

}  // namespace lumo::history
