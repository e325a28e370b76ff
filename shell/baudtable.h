#pragma once
#include <string>
#include <string_view>

namespace lumo {

// The line settings string for a stored baud text, by exact comparison:
// "600" .. "19200" give "<rate>,n,8,1"; any other text, empty included,
// gives "9600,n,8,1".
std::string lineSettingsForBaudText(std::string_view baudText);

// The baud text the line really runs at for a stored baud text: the text
// itself for "600" .. "19200", "9600" for any other.
std::string baudTextInUse(std::string_view baudText);

// The baud rate at the front of a line settings string ("19200,n,8,1" ->
// 19200), 0 when there is none.
int baudOfLineSettings(std::string_view lineSettings);

}  // namespace lumo
