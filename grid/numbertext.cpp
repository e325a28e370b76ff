#include "numbertext.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace lumo {

namespace {

void stripTrailingZeros(std::string& digits)
{
    if (digits.find('.') == std::string::npos)
        return;
    while (!digits.empty() && digits.back() == '0')
        digits.pop_back();
    if (!digits.empty() && digits.back() == '.')
        digits.pop_back();
}

// std::to_chars, not printf: the C library's conversions follow the locale,
// and Qt sets the user's locale at start, so a German desktop would show
// 563,412.
std::string formatted(double value, std::chars_format format, int precision)
{
    char text[400];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value, format, precision);
    return error == std::errc() ? std::string(text, end) : std::string();
}

}  // namespace

std::string numberText(float value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value < 0 ? "-Inf" : "Inf";
    if (value == 0.0f)
        return "0";

    // Rounding to 7 significant digits first decides the exponent: 9999999.5
    // rounds to 1.000000e+07 and so takes the exponent form.
    const std::string scientific = formatted(value, std::chars_format::scientific, 6);
    const auto e = scientific.find('e');
    const std::string_view exponentText = std::string_view(scientific).substr(e + (scientific[e + 1] == '+' ? 2 : 1));
    int exponent = 0;
    std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent);

    if (exponent < -4 || exponent >= 7) {
        std::string mantissa = scientific.substr(0, e);
        stripTrailingZeros(mantissa);
        const std::string digits = std::to_string(std::abs(exponent));
        return mantissa + "E" + (exponent < 0 ? "-" : "+") + (digits.size() < 2 ? "0" : "") + digits;
    }

    std::string text = formatted(value, std::chars_format::fixed, 6 - exponent);
    stripTrailingZeros(text);
    if (text == "-0")
        return "0";
    return text;
}


std::string decimalText(std::int64_t count, int decimals)
{
    std::uint64_t scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    // The magnitude as unsigned, so that INT64_MIN does not overflow.
    const std::uint64_t magnitude = count < 0 ? 0 - static_cast<std::uint64_t>(count) : static_cast<std::uint64_t>(count);
    std::string text = count < 0 ? "-" : "";
    text += std::to_string(magnitude / scale);
    const std::uint64_t fraction = magnitude % scale;
    if (fraction == 0)
        return text;
    std::string digits = std::to_string(fraction);
    digits.insert(0, static_cast<std::size_t>(decimals) - digits.size(), '0');
    digits.erase(digits.find_last_not_of('0') + 1);
    return text + "." + digits;
}

}  // namespace lumo
