#pragma once
#include <string_view>

namespace lumo {

// The text without the blanks and tabs around it, as value fields and line
// settings are read.
constexpr std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

}  // namespace lumo
