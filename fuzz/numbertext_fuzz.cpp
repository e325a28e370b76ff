// The cell text of a float and the fixed-point totals, for arbitrary bits.
//
// Input: 4 bytes of float bits, 8 bytes of a fixed-point value, 4 bytes of a
// whole count (missing bytes read as 0).

#include "fixedpoint.h"
#include "fuzzinput.h"
#include "numbertext.h"

#include <bit>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

using lumo::fuzz::check;

namespace {

template <typename T>
T valueOf(lumo::fuzz::InputReader& in)
{
    std::uint8_t raw[sizeof(T)] = {};
    for (auto& b : raw)
        b = in.byte();
    T value;
    std::memcpy(&value, raw, sizeof value);
    return value;
}

int significantDigits(const std::string& text)
{
    // Digits of the mantissa, leading zeros not counted.
    int digits = 0;
    bool leading = true;
    for (char c : text) {
        if (c == 'E')
            break;
        if (!std::isdigit(static_cast<unsigned char>(c)))
            continue;
        if (leading && c == '0')
            continue;
        leading = false;
        ++digits;
    }
    return digits;
}

void checkNumberText(float value)
{
    const std::string text = lumo::numberText(value);
    check(!text.empty(), "number text is empty");
    if (std::isnan(value)) {
        check(text == "NaN", "NaN not shown as NaN");
        return;
    }
    if (std::isinf(value)) {
        check(text == (value > 0 ? "Inf" : "-Inf"), "infinity not shown as Inf");
        return;
    }
    for (char c : text)
        check(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' || c == 'E',
              "number text has a character other than digits, sign, point, E");
    check(significantDigits(text) <= 7, "more than 7 significant digits");
    check(text.back() != '.', "trailing point");
    if (text.find('.') != std::string::npos && text.find('E') == std::string::npos)
        check(text.back() != '0', "trailing zero after the point");
    check(text[0] != '.' && text.rfind("-.", 0) != 0, "no leading 0 below 1");

    char* end = nullptr;
    const double back = std::strtod(text.c_str(), &end);
    check(end == text.c_str() + text.size(), "number text does not parse as a whole");
    // Seven significant digits: the text is within half a unit of the 7th
    // digit of the value (plus a little for the float's own rounding).
    const double v = value;
    if (v == 0.0) {
        check(back == 0.0, "zero shown as another value");
        return;
    }
    const double tolerance = std::fabs(v) * 5.0000001e-7 + 1e-300;
    check(std::fabs(back - v) <= tolerance, "number text is not the value rounded to 7 digits");
}

void checkFixedPoint(std::int64_t value)
{
    const std::string text = lumo::modbus::fixedPointText(value);
    check(text.find_first_not_of("-0123456789.") == std::string::npos, "fixed-point text has stray characters");
    check(text != "-0", "fixed-point text of zero is negative");
    // Parse back exactly: whole digits and up to four decimals.
    const bool negative = !text.empty() && text[0] == '-';
    const std::size_t point = text.find('.');
    const std::string whole = text.substr(negative ? 1 : 0, point == std::string::npos ? std::string::npos
                                                                                       : point - (negative ? 1 : 0));
    check(!whole.empty() && (whole == "0" || whole[0] != '0'), "whole part malformed");
    std::uint64_t magnitude = std::strtoull(whole.c_str(), nullptr, 10) * 10000;
    if (point != std::string::npos) {
        std::string decimals = text.substr(point + 1);
        check(!decimals.empty() && decimals.size() <= 4, "not one to four decimals");
        check(decimals.back() != '0', "trailing zero in the decimals");
        decimals.append(4 - decimals.size(), '0');
        magnitude += std::strtoull(decimals.c_str(), nullptr, 10);
    }
    const std::uint64_t expected =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    check(magnitude == expected, "fixed-point text does not parse back to its value");
    check(negative == (value < 0), "fixed-point sign wrong");
}

void checkTotal(std::uint32_t whole, float fraction)
{
    const std::int64_t total = lumo::modbus::totalOf(whole, fraction);
    const auto rounded = lumo::modbus::roundToTenThousandths(fraction);
    if (!rounded) {
        check(total == 0, "total of an unconvertible fraction is not 0");
        return;
    }
    // The rounding is to the nearest ten-thousandth.
    check(std::fabs(static_cast<long double>(*rounded) - static_cast<long double>(fraction) * 10000.0L) <= 0.5L,
          "fraction not rounded to the nearest ten-thousandth");
    __int128 exact = static_cast<__int128>(whole) * 10000 + *rounded;
    if (exact > INT64_MAX || exact < INT64_MIN)
        check(total == 0, "total beyond the range is not 0");
    else
        check(total == static_cast<std::int64_t>(exact), "total is not whole + fraction");
    checkFixedPoint(total);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    lumo::fuzz::InputReader in(data, size);
    const float f = valueOf<float>(in);
    const std::int64_t fixed = valueOf<std::int64_t>(in);
    const std::uint32_t whole = valueOf<std::uint32_t>(in);
    checkNumberText(f);
    checkFixedPoint(fixed);
    checkTotal(whole, f);
    return 0;
}
