#pragma once
// The ports the settings editor offers: "com1" .. "com10". The entry "comN"
// stands for port number N, which the settings file keeps as the number.

#include <optional>
#include <string>
#include <string_view>

namespace lumo {

inline constexpr int kListedPorts = 10;

// "com" followed by N.
std::string portEntry(int number);
// N of an entry "com1" .. "com10", nothing for any other text.
std::optional<int> portNumberOfEntry(std::string_view entry);
// The entry of a port value field whose text is the decimal N of a listed
// port ("3" -> "com3"); nothing for "11", "03", "" or text.
std::optional<std::string> portEntryOfField(std::string_view portText);

}  // namespace lumo
