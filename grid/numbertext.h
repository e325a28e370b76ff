#pragma once
#include <string>

namespace lumo {

// The text of a 32-bit float in a cell: rounded to at most 7 significant
// digits, no trailing zeros and no trailing point, a leading 0 below 1, and
// the exponent form (1E-05, 1.234568E+07) when the rounded value's decimal
// exponent is below -4 or 7 and more. Infinities and NaN read "Inf", "-Inf"
// and "NaN".
std::string numberText(float value);

}  // namespace lumo
