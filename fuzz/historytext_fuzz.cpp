// What the history reads as text: totals as the cells show them (and as
// history.db, which the operators may write, holds them), instruments and
// moments as typed. Nothing may crash or overflow; a total's text and a
// difference's are plain numbers that read back to themselves.
//
// Input: three texts separated by 0x00 bytes.

#include "decimal.h"
#include "fuzzinput.h"
#include "selection.h"

#include <string>

using lumo::fuzz::check;
using namespace lumo::history;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const auto first = input.find('\0');
    const std::string a = input.substr(0, first);
    const std::string rest = first == std::string::npos ? std::string() : input.substr(first + 1);
    const auto second = rest.find('\0');
    const std::string b = rest.substr(0, second);
    const std::string c = second == std::string::npos ? std::string() : rest.substr(second + 1);

    const auto x = Decimal::of(a), y = Decimal::of(b);
    if (x) {
        const auto again = Decimal::of(x->text());
        check(!again || *again == *x, "a total's text reads back to another number");
    }
    if (x && y) {
        const Decimal d = *x - *y;
        const std::string text = d.text();
        check(text.find_first_not_of("-0123456789.") == std::string::npos, "a difference's text is no plain number");
        // Within what a total's text may hold, it reads back to itself.
        if (const auto back = Decimal::of(text))
            check(*back == d, "a difference's text reads back to another number");
        check((d.negative()) == (*x < *y), "the sign of a difference and the order disagree");
        check((*y - *x).negative() == (*y < *x), "the order is not the same both ways");
    }
    if (const auto chosen = instrumentsOf(c); chosen.ok()) {
        int before = 0;
        for (const int n : chosen.value()) {
            check(n >= 1 && n <= 39 && n > before, "instruments out of range or out of order");
            before = n;
        }
    }
    const auto moment = momentOf(c, true, [](const LocalTime& t) -> std::optional<std::int64_t> {
        return ((static_cast<std::int64_t>(daysOf(t.year, t.month, t.day)) * 24 + t.hour) * 60 + t.minute) * 60'000 +
               t.second * 1000LL;
    });
    (void)moment;
    return 0;
}
