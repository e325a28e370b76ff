#pragma once
// Exact arithmetic on numbers as the cells show them ("12345.6789",
// "1.234568E+07", "-5"): a total's difference is taken on its text, never
// through a float.

#include <compare>
#include <optional>
#include <string>
#include <string_view>

namespace lumo::history {

class Decimal {
public:
    // Nothing for a text that is not a number, or one of more than 17
    // digits or beyond 10^+-10 in its last digit (no total's cell is).
    static std::optional<Decimal> of(std::string_view text);

    Decimal operator-(const Decimal& other) const;
    std::strong_ordering operator<=>(const Decimal& other) const;
    bool operator==(const Decimal& other) const { return (*this <=> other) == 0; }
    bool negative() const { return mantissa_ < 0; }
    // Plain decimal text with the decimals it was written with (a difference:
    // those of the finer of the two): "12.3456", "-3", "0.000".
    std::string text() const;

private:
    Decimal(__int128 mantissa, int exponent) : mantissa_(mantissa), exponent_(exponent) {}
    // Both at the smaller exponent.
    static void align(__int128& a, int exponentA, __int128& b, int exponentB);

    __int128 mantissa_ = 0;  // value = mantissa * 10^exponent
    int exponent_ = 0;
};

}  // namespace lumo::history
