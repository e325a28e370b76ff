#pragma once
// Helpers shared by the fuzz targets: a reader that takes small numbers and
// byte chunks off the fuzzer's input, a UTF-8 check, and a grid observer that
// records every cell write.

#include "gridmodel.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lumo::fuzz {

// Stops the run with a message; libFuzzer keeps the input that led here.
[[noreturn]] inline void fail(const char* what)
{
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

inline void check(bool condition, const char* what)
{
    if (!condition)
        fail(what);
}

class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    std::uint8_t byte()
    {
        return pos_ < size_ ? data_[pos_++] : 0;
    }
    // Up to n bytes (fewer at the end of the input).
    std::vector<std::uint8_t> bytes(std::size_t n)
    {
        const std::size_t take = std::min(n, size_ - std::min(pos_, size_));
        std::vector<std::uint8_t> out(data_ + pos_, data_ + pos_ + take);
        pos_ += take;
        return out;
    }
    std::string text(std::size_t n)
    {
        const auto b = bytes(n);
        return std::string(b.begin(), b.end());
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
inline bool isValidUtf8(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + n >= s.size())
            return false;
        for (std::size_t k = 1; k <= n; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

// Records the grid's cell writes and hands each to a check.
class CellWatch : public GridObserver {
public:
    using Check = std::function<void(int instrument, int slot, const std::string& text)>;
    explicit CellWatch(Check check) : check_(std::move(check)) {}

    void cellChanged(int instrument, int slot, const std::string& text) override
    {
        lumo::fuzz::check(isInstrument(instrument), "cell written outside instruments 1..39");
        lumo::fuzz::check(slot >= 0 && slot < kSlots, "cell written outside slots 0..7");
        lumo::fuzz::check(isValidUtf8(text), "cell text is not valid UTF-8");
        check_(instrument, slot, text);
    }
    void activityChanged(int page, bool) override
    {
        lumo::fuzz::check(page >= 1 && page <= kPages, "activity of a page outside 1..3");
    }
    void pageVisibilityChanged(int page, bool) override
    {
        lumo::fuzz::check(page >= 1 && page <= kPages, "visibility of a page outside 1..3");
    }

private:
    Check check_;
};

// Instrument count texts the poll cycles meet: ordinary, odd and hostile.
inline std::string countText(InputReader& in)
{
    static const char* const kTexts[] = {
        "13", "1", "0", "3", "4", "39", "40", "255", "256", "300", "32767", "-5", "abc", "",
        "  13 ", "1e2", "nan", "inf", "1e400", "12.9", "13台", "2", "5", "38.5",
    };
    const std::uint8_t choice = in.byte();
    constexpr std::size_t kCount = sizeof kTexts / sizeof kTexts[0];
    if (choice < kCount)
        return kTexts[choice];
    return in.text(choice % 8);
}

}  // namespace lumo::fuzz
