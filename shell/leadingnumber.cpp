#include "leadingnumber.h"

#include <cctype>
#include <cmath>
#include <charconv>
#include <system_error>

namespace lumo {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

double leadingNumber(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    const std::size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) {
        ++i;
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return 0.0;
    // An exponent counts only when digits follow it ("1e9" is 1E9, "1e" is 1).
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        if (j < text.size() && isDigit(text[j])) {
            while (j < text.size() && isDigit(text[j]))
                ++j;
            i = j;
        }
    }
    // from_chars, not strtod: it does not follow the locale (Qt sets the
    // user's, in which "1.5" may read as 1), and it takes no '+'.
    std::string_view number = text.substr(start, i - start);
    if (number.front() == '+')
        number.remove_prefix(1);
    double value = 0.0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    return error == std::errc() && std::isfinite(value) ? value : 0.0;
}

}  // namespace lumo
