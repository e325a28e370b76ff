#include "baudtable.h"

#include <charconv>

namespace lumo {

LineSettings lineSettingsForBaudText(std::string_view baudText)
{
    LineSettings settings;
    for (std::string_view rate : kBaudTexts) {
        if (baudText == rate)
            std::from_chars(rate.data(), rate.data() + rate.size(), settings.baud);
    }
    return settings;
}

std::string baudTextInUse(std::string_view baudText) { return std::to_string(lineSettingsForBaudText(baudText).baud); }

std::vector<std::string> baudListEntries() { return {kBaudTexts.rbegin(), kBaudTexts.rend()}; }

}  // namespace lumo
