#pragma once
// The baud rates the station offers: the baud table of start-up and the
// entries of the editor's baud list.

#include "linesettings.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace lumo {

inline constexpr std::array<std::string_view, 7> kBaudTexts = {"600",  "1200",  "2400", "4800",
                                                              "9600", "14400", "19200"};

// The line settings for a stored baud text, by exact comparison: "600" ..
// "19200" give that rate at 8N1; any other text, empty included, gives
// 9600,n,8,1.
LineSettings lineSettingsForBaudText(std::string_view baudText);

// The baud text the line really runs at for a stored baud text: the text
// itself for "600" .. "19200", "9600" for any other.
std::string baudTextInUse(std::string_view baudText);

// The editor's baud list: the rates from the highest to the lowest.
std::vector<std::string> baudListEntries();

}  // namespace lumo
