// The leading-number rule of the count field and the integer rule of the
// port and interval fields, against references written here independently.

#include "fuzzinput.h"
#include "leadingnumber.h"
#include "startup.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

using lumo::fuzz::check;

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }
bool blank(char c) { return c == ' ' || c == '\t'; }

// Blanks, sign, digits with an optional fraction (at least one digit in
// all), then an exponent only when it has digits; strtod of that prefix.
double referenceLeadingNumber(const std::string& s)
{
    std::size_t i = 0;
    while (i < s.size() && blank(s[i]))
        ++i;
    std::string number;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        number += s[i++];
    bool anyDigit = false;
    while (i < s.size() && digit(s[i])) {
        number += s[i++];
        anyDigit = true;
    }
    if (i < s.size() && s[i] == '.') {
        number += s[i++];
        while (i < s.size() && digit(s[i])) {
            number += s[i++];
            anyDigit = true;
        }
    }
    if (!anyDigit)
        return 0.0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::string exponent(1, s[i]);
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            exponent += s[j++];
        if (j < s.size() && digit(s[j])) {
            while (j < s.size() && digit(s[j]))
                exponent += s[j++];
            number += exponent;
        }
    }
    const double value = std::strtod(number.c_str(), nullptr);
    return std::isfinite(value) ? value : 0.0;
}

// Blanks around, one optional sign, one or more digits, nothing else, and
// the value within long long.
std::optional<long long> referenceIntegerValue(const std::string& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && blank(s[b]))
        ++b;
    while (e > b && blank(s[e - 1]))
        --e;
    const std::string t = s.substr(b, e - b);
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
        ++i;
    if (i == t.size())
        return std::nullopt;
    for (std::size_t k = i; k < t.size(); ++k)
        if (!digit(t[k]))
            return std::nullopt;
    errno = 0;
    const long long value = std::strtoll(t.c_str(), nullptr, 10);
    if (errno == ERANGE)
        return std::nullopt;
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 256)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);

    const double got = lumo::leadingNumber(text);
    const double want = referenceLeadingNumber(text);
    check(std::isfinite(got), "leading number not finite");
    check(got == want || (std::isnan(got) && std::isnan(want)), "leading number differs from the reference");

    const std::optional<long long> integer = lumo::integerValue(text);
    const std::optional<long long> expected = referenceIntegerValue(text);
    check(integer == expected, "integer value differs from the reference");
    return 0;
}
