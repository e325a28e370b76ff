#include "numbertext.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    // rounds to 1.000000E+07 and so takes the exponent form.
    char scientific[32];
    std::snprintf(scientific, sizeof scientific, "%.6E", static_cast<double>(value));
    const char* e = std::strchr(scientific, 'E');
    const int exponent = std::atoi(e + 1);

    if (exponent < -4 || exponent >= 7) {
        std::string mantissa(static_cast<const char*>(scientific), e);
        stripTrailingZeros(mantissa);
        char tail[16];
        std::snprintf(tail, sizeof tail, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        return mantissa + tail;
    }

    char fixed[64];
    std::snprintf(fixed, sizeof fixed, "%.*f", 6 - exponent, static_cast<double>(value));
    std::string text(fixed);
    stripTrailingZeros(text);
    if (text == "-0")
        return "0";
    return text;
}

}  // namespace lumo
