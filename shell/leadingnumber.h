#pragma once
#include <string_view>

namespace lumo {

// The numeric value of the beginning of a text, as the instrument count in
// the value field is read: leading blanks skipped, an optional sign, digits
// with an optional fraction and exponent. 0 when the text does not begin
// with a number ("abc", "", "-").
double leadingNumber(std::string_view text);

}  // namespace lumo
