#pragma once
// The texts of JSON the station writes (the plant network's messages,
// lumoprobe's report) and of the times in them.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace lumo {

// A JSON string: quotes, backslashes and control characters escaped, UTF-8
// as it is.
std::string jsonString(std::string_view text);
// 2026-12-09T05:40:12.345Z
std::string utcText(std::int64_t utcMs);
// Milliseconds with one decimal: 71.4
std::string millisecondsText(std::chrono::microseconds time);

}  // namespace lumo
