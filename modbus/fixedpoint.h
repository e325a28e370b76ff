#pragma once
// Totals are fixed-point numbers: a signed 64-bit count of ten-thousandths,
// so exactly four decimals (range about +-9.22e14).

#include <cstdint>
#include <optional>
#include <string>

namespace lumo::modbus {

using FixedPoint = std::int64_t;
inline constexpr FixedPoint kTenThousandths = 10000;

// The float rounded to the nearest ten-thousandth, an exact tie of its binary
// value to the even last digit (0.03125 -> 312, 0.09375 -> 938). Nothing for
// infinities, NaN and values beyond the fixed-point range.
std::optional<FixedPoint> roundToTenThousandths(float fraction);

// A total: the whole part plus the fraction rounded to four decimals; 0 when
// the fraction cannot be converted or the sum leaves the range.
FixedPoint totalOf(std::uint32_t whole, float fraction);

// The whole digits, then a full stop and one to four decimals without
// trailing zeros if the fraction is not zero; a minus for negative values;
// no grouping, no exponent: 1234.5678, 1234.5, 0, -0.25.
std::string fixedPointText(FixedPoint value);

}  // namespace lumo::modbus
