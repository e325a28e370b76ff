#include "decimal.h"

#include <algorithm>
#include <cctype>

namespace lumo::history {

namespace {

// Two numbers are brought to one exponent before they are compared or
// subtracted: with at most 17 digits and exponents within +-10 that stays
// below 10^37, well inside the 128-bit mantissa. A total's cell shows at
// most 14 digits ("4294967295.9999").
constexpr int kMostDigits = 17;
constexpr int kWidestExponent = 10;

__int128 powerOfTen(int exponent)
{
    __int128 power = 1;
    for (int i = 0; i < exponent; ++i)
        power *= 10;
    return power;
}

}  // namespace

std::optional<Decimal> Decimal::of(std::string_view text)
{
    std::size_t i = 0;
    bool minus = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        minus = text[i++] == '-';
    __int128 mantissa = 0;
    int exponent = 0, digits = 0;
    bool point = false, any = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !point) {
            point = true;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            any = true;
            if (mantissa != 0 || c != '0')
                ++digits;
            if (digits > kMostDigits)
                return std::nullopt;
            mantissa = mantissa * 10 + (c - '0');
            if (point)
                --exponent;
        } else {
            break;
        }
    }
    if (!any)
        return std::nullopt;
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
        ++i;
        bool minusExponent = false;
        if (i < text.size() && (text[i] == '-' || text[i] == '+'))
            minusExponent = text[i++] == '-';
        int power = 0;
        bool powerDigits = false;
        for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
            power = power * 10 + (text[i] - '0');
            powerDigits = true;
            if (power > 99)
                return std::nullopt;
        }
        if (!powerDigits)
            return std::nullopt;
        exponent += minusExponent ? -power : power;
    }
    if (i != text.size() || exponent > kWidestExponent || exponent < -kWidestExponent)
        return std::nullopt;
    return Decimal(minus ? -mantissa : mantissa, exponent);
}

void Decimal::align(__int128& a, int exponentA, __int128& b, int exponentB)
{
    if (exponentA > exponentB)
        a *= powerOfTen(exponentA - exponentB);
    else
        b *= powerOfTen(exponentB - exponentA);
}

Decimal Decimal::operator-(const Decimal& other) const
{
    __int128 a = mantissa_, b = other.mantissa_;
    align(a, exponent_, b, other.exponent_);
    return Decimal(a - b, std::min(exponent_, other.exponent_));
}

std::strong_ordering Decimal::operator<=>(const Decimal& other) const
{
    __int128 a = mantissa_, b = other.mantissa_;
    align(a, exponent_, b, other.exponent_);
    return a < b ? std::strong_ordering::less : a > b ? std::strong_ordering::greater : std::strong_ordering::equal;
}

std::string Decimal::text() const
{
    __int128 magnitude = mantissa_ < 0 ? -mantissa_ : mantissa_;
    const int exponent = exponent_;
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
        magnitude /= 10;
    } while (magnitude != 0);
    if (exponent >= 0) {
        digits.append(static_cast<std::size_t>(exponent), '0');
    } else {
        const auto decimals = static_cast<std::size_t>(-exponent);
        if (digits.size() <= decimals)
            digits = std::string(decimals - digits.size() + 1, '0') + digits;
        const std::size_t whole = digits.size() - decimals;
        digits = digits.substr(0, whole) + "." + digits.substr(whole);
    }
    return (mantissa_ < 0 ? "-" : "") + digits;
}

}  // namespace lumo::history
