#pragma once
// Instruments whose cell texts are known, for end-to-end runs that check
// every cell shown.

#include <array>
#include <cstdio>
#include <string>

namespace lumo::testing {

// Each instrument sends its own constants, exact in binary, so its texts are
// known: instrument N shows 10N.5, N.25, 10N.5, N.5, 100N.25, 10N.75, a
// diameter (one of four in turn) and an alarm text.
inline constexpr int kDiameters[] = {50, 65, 80, 100};

inline std::array<double, 7> numbersOf(int n)
{
    return {10.0 * n + 0.5, n + 0.25, 10.0 * n + 0.5, n + 0.5, 100.0 * n + 0.25, 10.0 * n + 0.75,
            double(kDiameters[(n - 1) % 4])};
}

inline std::string decimal(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", v);
    std::string s = text;
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s;
}

inline std::array<std::string, 8> textsOf(int n)
{
    std::array<std::string, 8> texts;
    const auto numbers = numbersOf(n);
    for (int slot = 0; slot < 7; ++slot)
        texts[slot] = decimal(numbers[slot]);
    texts[7] = n % 2 ? "通讯正常,空管报警" : "通讯正常";
    return texts;
}

inline std::string instrumentLine(int n, const std::string& faults)
{
    const auto v = numbersOf(n);
    return "instrument " + std::to_string(n) + " flow=" + decimal(v[0]) + " velocity=" + decimal(v[1]) +
           " percent=" + decimal(v[2]) + " resistance=" + decimal(v[3]) + " forward=" + decimal(v[4]) +
           " reverse=" + decimal(v[5]) + " diameter=" + decimal(v[6]) + " alarms=" + (n % 2 ? "empty" : "none") +
           (faults.empty() ? "" : " " + faults) + "\n";
}

}  // namespace lumo::testing
