#include "fixedpoint.h"

#include "numbertext.h"

#include <cmath>
#include <limits>

namespace lumo::modbus {

std::optional<FixedPoint> roundToTenThousandths(float fraction)
{
    if (!std::isfinite(fraction))
        return std::nullopt;
    // A float carries 24 significant bits and 10000 needs 14, so the product
    // has at most 38 and is exact in a double: ties below are true ties of
    // the float's binary value, not artefacts of the multiplication.
    const double scaled = static_cast<double>(fraction) * static_cast<double>(kTenThousandths);
    double rounded = std::floor(scaled);
    const double rest = scaled - rounded;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(rounded, 2.0) != 0.0))
        rounded += 1.0;
    // 2^63 is exact in a double; the range is [-2^63, 2^63).
    constexpr double kLimit = 9223372036854775808.0;
    if (rounded >= kLimit || rounded < -kLimit)
        return std::nullopt;
    return static_cast<FixedPoint>(rounded);
}

FixedPoint totalOf(std::uint32_t whole, float fraction)
{
    const auto rounded = roundToTenThousandths(fraction);
    if (!rounded)
        return 0;
    // The whole part times 10000 is below 4.3e13; only a large positive
    // fraction can carry the sum past the top of the range.
    const FixedPoint wholePart = static_cast<FixedPoint>(whole) * kTenThousandths;
    if (*rounded > 0 && wholePart > std::numeric_limits<FixedPoint>::max() - *rounded)
        return 0;
    return wholePart + *rounded;
}

std::string fixedPointText(FixedPoint value) { return decimalText(value, 4); }

}  // namespace lumo::modbus
