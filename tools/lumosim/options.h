#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lumo::sim {

struct Options {
    std::string scenarioPath;
    std::string devicePath; // empty: a pseudo-terminal
    std::string linkPath;
    std::string logPath;
    int baud = 0;           // 0: no pacing, answers leave at once
    int turnaroundMs = 0;
    bool exitOnStdinEof = false;
    std::uint32_t seed = 1;
    int stormBaud = 9600;   // the storm's rate when no --baud is given
    bool help = false;
};

struct OptionsOutcome {
    std::optional<Options> options;
    std::string error;
};

OptionsOutcome parseOptions(int argc, const char* const* argv);

extern const char* const usageText;

} // namespace lumo::sim
