#pragma once
#include <cstdint>
#include <string>

namespace lumo {

// The text of a 32-bit float in a cell: rounded to at most 7 significant
// digits, no trailing zeros and no trailing point, a leading 0 below 1, and
// the exponent form (1E-05, 1.234568E+07) when the rounded value's decimal
// exponent is below -4 or 7 and more. Infinities and NaN read "Inf", "-Inf"
// and "NaN".
std::string numberText(float value);

// A whole count of 10^-decimals as a decimal text: the whole digits, then a
// full stop and the decimals without trailing zeros if there are any; a
// minus for negative counts; no grouping, no exponent (12345678 with 4
// decimals: 1234.5678).
std::string decimalText(std::int64_t count, int decimals);

}  // namespace lumo
