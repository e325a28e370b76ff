#include "historysettings.h"

#include "text.h"

#include <charconv>

namespace lumo {

Result<HistorySettings> historySettingsOf(const HistoryRow& row)
{
    HistorySettings settings;
    const std::string enabled(trimmed(row.enabled.value_or("1")));
    if (enabled != "1" && enabled != "0")
        return Result<HistorySettings>::failure("字段 enabled 只能是 1 或 0（history settings: enabled is \"" + enabled +
                                                "\", not 1 or 0）");
    settings.enabled = enabled == "1";
    const std::string years(trimmed(row.keepYears.value_or("10")));
    int number = 0;
    const auto [end, error] = std::from_chars(years.data(), years.data() + years.size(), number);
    if (error != std::errc() || end != years.data() + years.size() || number < 1 || number > 100)
        return Result<HistorySettings>::failure("字段 keep_years 须为 1 到 100 的整数（history settings: keep_years \"" +
                                                years + "\" is not 1..100）");
    settings.keepYears = number;
    return Result<HistorySettings>::success(settings);
}

}  // namespace lumo
