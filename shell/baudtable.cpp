#include "baudtable.h"

#include <array>
#include <charconv>

namespace lumo {

std::string lineSettingsForBaudText(std::string_view baudText)
{
    static constexpr std::array<std::string_view, 7> kRates = {"600",  "1200",  "2400", "4800",
                                                                "9600", "14400", "19200"};
    for (std::string_view rate : kRates) {
        if (baudText == rate)
            return std::string(rate) + ",n,8,1";
    }
    return "9600,n,8,1";
}

std::string baudTextInUse(std::string_view baudText)
{
    const std::string settings = lineSettingsForBaudText(baudText);
    return settings.substr(0, settings.find(','));
}

int baudOfLineSettings(std::string_view lineSettings)
{
    int baud = 0;
    const auto end = lineSettings.data() + lineSettings.size();
    const auto [ptr, ec] = std::from_chars(lineSettings.data(), end, baud);
    if (ec != std::errc() || baud <= 0)
        return 0;
    return baud;
}

}  // namespace lumo
