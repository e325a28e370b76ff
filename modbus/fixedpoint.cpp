#include "fixedpoint.h"

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

std::string fixedPointText(FixedPoint value)
{
    // The magnitude as unsigned, so that INT64_MIN does not overflow.
    const std::uint64_t magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    std::string text = value < 0 ? "-" : "";
    text += std::to_string(magnitude / kTenThousandths);
    std::uint64_t decimals = magnitude % kTenThousandths;
    if (decimals == 0)
        return text;
    std::string digits = std::to_string(decimals);
    digits.insert(0, 4 - digits.size(), '0');
    digits.erase(digits.find_last_not_of('0') + 1);
    return text + "." + digits;
}

}  // namespace lumo::modbus
