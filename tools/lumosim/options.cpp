#include "options.h"

#include <charconv>
#include <string_view>

namespace lumo::sim {

const char* const usageText =
    "usage: lumosim --scenario FILE [--pty | --device PATH] [--link PATH] [--log FILE]\n"
    "               [--baud N] [--turnaround-ms T] [--seed N] [--exit-on-stdin-eof]\n";

namespace {

bool parseNumber(std::string_view text, long long min, long long max, long long& value)
{
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && ptr == text.data() + text.size() && !text.empty()
           && value >= min && value <= max;
}

} // namespace

OptionsOutcome parseOptions(int argc, const char* const* argv)
{
    Options options;
    bool ptyGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::string& target) {
            if (i + 1 >= argc)
                return false;
            target = argv[++i];
            return true;
        };
        auto number = [&](long long min, long long max, long long& target) {
            return i + 1 < argc && parseNumber(argv[++i], min, max, target);
        };
        long long n = 0;
        bool ok = true;
        if (arg == "--scenario")
            ok = value(options.scenarioPath);
        else if (arg == "--device")
            ok = value(options.devicePath) && !options.devicePath.empty();
        else if (arg == "--pty")
            ptyGiven = true;
        else if (arg == "--link")
            ok = value(options.linkPath) && !options.linkPath.empty();
        else if (arg == "--log")
            ok = value(options.logPath) && !options.logPath.empty();
        else if (arg == "--baud")
            ok = number(1, 4000000, n) && (options.baud = static_cast<int>(n), true);
        else if (arg == "--turnaround-ms")
            ok = number(0, 60000, n) && (options.turnaroundMs = static_cast<int>(n), true);
        else if (arg == "--seed")
            ok = number(0, 0xFFFFFFFFLL, n) && (options.seed = static_cast<std::uint32_t>(n), true);
        else if (arg == "--exit-on-stdin-eof")
            options.exitOnStdinEof = true;
        else if (arg == "--help" || arg == "-h")
            options.help = true;
        else
            return {std::nullopt, "unknown option '" + std::string(arg) + "'"};
        if (!ok)
            return {std::nullopt, "option " + std::string(arg) + " needs a valid value"};
    }
    if (options.help)
        return {options, {}};
    if (options.scenarioPath.empty())
        return {std::nullopt, "--scenario FILE is required"};
    if (ptyGiven && !options.devicePath.empty())
        return {std::nullopt, "give either --pty or --device, not both"};
    if (!options.devicePath.empty() && !options.linkPath.empty())
        return {std::nullopt, "--link makes a link to the pseudo-terminal; it needs --pty"};
    if (options.baud > 0)
        options.stormBaud = options.baud;
    return {options, {}};
}

} // namespace lumo::sim
