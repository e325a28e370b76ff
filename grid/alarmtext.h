#pragma once
// The alarm status text of slot 7, the same in both protocols: "通讯正常"
// (communication normal), then a suffix for each alarm raised, always in
// this order.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace lumo {

inline constexpr std::size_t kAlarmCount = 5;

struct AlarmName {
    std::string_view suffix;  // as shown, with its leading comma
    std::string_view name;    // in English, for machines
};

inline constexpr std::string_view kAlarmNormal = "通讯正常";
inline constexpr std::array<AlarmName, kAlarmCount> kAlarms = {{
    {",励磁报警", "excitation"},
    {",电极报警", "electrode"},
    {",空管报警", "empty_pipe"},
    {",上限报警", "upper_limit"},
    {",下限报警", "lower_limit"},
}};

// Which of the alarms, in the order above, are raised.
using AlarmFlags = std::array<bool, kAlarmCount>;

std::string alarmText(const AlarmFlags& raised);

}  // namespace lumo
