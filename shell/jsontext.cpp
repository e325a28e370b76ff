#include "jsontext.h"

#include <cstdio>

namespace lumo {

namespace {

// Days since 1970-01-01 to year, month, day (proleptic Gregorian).
void civilFromDays(std::int64_t days, std::int64_t& year, int& month, int& day)
{
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

std::string twoDigits(std::int64_t value) { return (value < 10 ? "0" : "") + std::to_string(value); }

}  // namespace

std::string jsonString(std::string_view text)
{
    std::string json = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20) {
            constexpr char kHex[] = "0123456789abcdef";
            json += "\\u00";
            json += kHex[byte >> 4];
            json += kHex[byte & 0x0F];
        } else {
            json += c;  // UTF-8 passes as it is
        }
    }
    return json + '"';
}

std::string utcText(std::int64_t utcMs)
{
    const std::int64_t msPerDay = 86'400'000;
    std::int64_t days = utcMs / msPerDay, ms = utcMs % msPerDay;
    if (ms < 0) {
        ms += msPerDay;
        --days;
    }
    std::int64_t year = 0;
    int month = 0, day = 0;
    civilFromDays(days, year, month, day);
    const std::int64_t seconds = ms / 1000;
    std::string millis = std::to_string(ms % 1000);
    millis.insert(0, 3 - millis.size(), '0');
    return std::to_string(year) + '-' + twoDigits(month) + '-' + twoDigits(day) + 'T' + twoDigits(seconds / 3600) +
           ':' + twoDigits(seconds / 60 % 60) + ':' + twoDigits(seconds % 60) + '.' + millis + 'Z';
}

std::string millisecondsText(std::chrono::microseconds time)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(time.count()) / 1000.0);
    return text;
}

}  // namespace lumo
