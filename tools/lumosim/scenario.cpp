#include "scenario.h"

#include "alarmbits.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <numbers>
#include <sstream>

namespace lumo::sim {

double ValueSource::at(double seconds) const
{
    double value = base + ratePerSecond * seconds;
    if (amplitude != 0 && periodSeconds > 0)
        value += amplitude * std::sin(2 * std::numbers::pi * seconds / periodSeconds);
    return value;
}

namespace {

using Tokens = std::vector<std::string>;

Tokens splitWords(const std::string& line)
{
    std::istringstream words(line.substr(0, line.find('#')));
    Tokens tokens;
    for (std::string word; words >> word;)
        tokens.push_back(word);
    return tokens;
}

bool parseDouble(const std::string& text, double& value)
{
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && std::isfinite(value);
}

// Decimal, or hexadecimal with 0x.
bool parseInt(const std::string& text, long min, long max, long& value)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* begin = text.data() + (hex ? 2 : 0);
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(begin, end, value, hex ? 16 : 10);
    return ec == std::errc() && ptr == end && begin != end && value >= min && value <= max;
}

bool isHexDigits(const std::string& text, std::size_t count)
{
    if (text.size() != count)
        return false;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

unsigned hexValue(const std::string& text)
{
    return static_cast<unsigned>(std::stoul(text, nullptr, 16));
}

// "5", "5~2/10" (5 +- 2, period 10 s) or "1000+2.5/s" (ramp).
bool parseValueSource(const std::string& text, ValueSource& source)
{
    if (const auto tilde = text.find('~'); tilde != std::string::npos) {
        const auto slash = text.find('/', tilde);
        return slash != std::string::npos && parseDouble(text.substr(0, tilde), source.base)
               && parseDouble(text.substr(tilde + 1, slash - tilde - 1), source.amplitude)
               && parseDouble(text.substr(slash + 1), source.periodSeconds)
               && source.periodSeconds > 0;
    }
    if (text.size() > 2 && text.ends_with("/s")) {
        const auto sign = text.find_last_of("+-", text.size() - 3);
        if (sign == std::string::npos || sign == 0)
            return false;
        std::string rate = text.substr(sign, text.size() - 2 - sign);
        if (rate[0] == '+')
            rate.erase(0, 1);
        return parseDouble(text.substr(0, sign), source.base)
               && parseDouble(rate, source.ratePerSecond);
    }
    return parseDouble(text, source.base);
}

bool parseAlarmList(const std::string& text, std::uint8_t& alarms)
{
    static const std::pair<const char*, std::uint8_t> names[] = {
        {"excitation", excitationAlarm}, {"electrode", electrodeAlarm},
        {"empty", emptyPipeAlarm},       {"upper", upperLimitAlarm},
        {"lower", lowerLimitAlarm},      {"none", 0},
    };
    alarms = 0;
    std::istringstream list(text);
    for (std::string name; std::getline(list, name, ',');) {
        bool known = false;
        for (const auto& [alarmName, bit] : names) {
            if (name == alarmName) {
                alarms |= bit;
                known = true;
            }
        }
        if (!known)
            return false;
    }
    return true;
}

class ScenarioParser {
public:
    explicit ScenarioParser(std::string fileName) : fileName_(std::move(fileName)) {}

    std::string parseLine(const std::string& line);
    std::string finish();
    Scenario take() { return std::move(scenario_); }
    int lineNumber = 0;

private:
    std::string fail(const std::string& what) const
    {
        return fileName_ + ":" + std::to_string(lineNumber) + ": " + what;
    }
    std::string parseProtocol(const Tokens& tokens);
    std::string parseStorm(const Tokens& tokens);
    std::string parseInstrument(const Tokens& tokens);
    std::string parseSetting(Instrument& instrument, const std::string& key,
                             const std::string& value, const Tokens& tokens, std::size_t& next);
    std::string parseFault(Instrument& instrument, const std::string& key,
                           const std::string& value, bool& known);
    std::string parseBlockCode(Instrument& instrument, const std::string& key,
                               const std::string& value, bool& known);
    std::string parseRawBlock(Instrument& instrument, int block, const std::string& value,
                              const Tokens& tokens, std::size_t& next);
    std::string parseRawRegisters(Instrument& instrument, int first, const std::string& value,
                                  const Tokens& tokens, std::size_t& next);
    std::string checkInstrument(const Instrument& instrument);
    bool isBlock() const { return scenario_.protocol == Protocol::block; }

    std::string fileName_;
    Scenario scenario_;
    bool protocolSeen_ = false;
};

std::string ScenarioParser::parseLine(const std::string& line)
{
    const Tokens tokens = splitWords(line);
    if (tokens.empty())
        return {};
    if (tokens[0] == "protocol")
        return parseProtocol(tokens);
    if (!protocolSeen_)
        return fail("the first line must be 'protocol block' or 'protocol modbus'");
    if (tokens[0] == "instrument")
        return parseInstrument(tokens);
    if (tokens[0] == "storm")
        return parseStorm(tokens);
    return fail("unknown line '" + tokens[0] + "' (expected protocol, instrument or storm)");
}

std::string ScenarioParser::parseProtocol(const Tokens& tokens)
{
    if (protocolSeen_)
        return fail("protocol given twice");
    if (tokens.size() != 2 || (tokens[1] != "block" && tokens[1] != "modbus"))
        return fail("expected 'protocol block' or 'protocol modbus'");
    scenario_.protocol = tokens[1] == "block" ? Protocol::block : Protocol::modbus;
    protocolSeen_ = true;
    return {};
}

std::string ScenarioParser::parseStorm(const Tokens& tokens)
{
    Storm storm;
    bool hasStart = false;
    bool hasDuration = false;
    for (std::size_t i = 1; i < tokens.size(); ++i) {
        const auto eq = tokens[i].find('=');
        const std::string key = tokens[i].substr(0, eq);
        double value = 0;
        if (eq == std::string::npos || !parseDouble(tokens[i].substr(eq + 1), value) || value < 0)
            return fail("storm expects start_s=SECONDS duration_s=SECONDS, not '" + tokens[i] + "'");
        if (key == "start_s") {
            storm.startSeconds = value;
            hasStart = true;
        } else if (key == "duration_s") {
            storm.durationSeconds = value;
            hasDuration = true;
        } else {
            return fail("unknown storm setting '" + key + "'");
        }
    }
    if (!hasStart || !hasDuration)
        return fail("storm needs both start_s= and duration_s=");
    scenario_.storms.push_back(storm);
    return {};
}

std::string ScenarioParser::parseInstrument(const Tokens& tokens)
{
    long address = 0;
    if (tokens.size() < 2 || !parseInt(tokens[1], 1, 39, address))
        return fail("instrument needs an address 1..39");
    if (scenario_.instruments.count(static_cast<int>(address)))
        return fail("instrument " + tokens[1] + " defined twice");
    Instrument instrument;
    instrument.address = static_cast<int>(address);
    for (std::size_t next = 2; next < tokens.size();) {
        const std::string token = tokens[next++];
        if (token == "silent") {
            instrument.faults.faults |= silentFault;
            continue;
        }
        const auto eq = token.find('=');
        if (eq == std::string::npos || eq == 0)
            return fail("expected key=value, not '" + token + "'");
        if (auto error = parseSetting(instrument, token.substr(0, eq), token.substr(eq + 1),
                                      tokens, next);
            !error.empty())
            return error;
    }
    if (auto error = checkInstrument(instrument); !error.empty())
        return error;
    scenario_.instruments[instrument.address] = instrument;
    return {};
}

std::string ScenarioParser::parseSetting(Instrument& instrument, const std::string& key,
                                         const std::string& value, const Tokens& tokens,
                                         std::size_t& next)
{
    const std::pair<const char*, ValueSource*> quantities[] = {
        {"flow", &instrument.flow},
        {"velocity", &instrument.velocity},
        {"percent", &instrument.percent},
        {"resistance", &instrument.resistance},
        {"forward", &instrument.forwardTotal},
        {"reverse", &instrument.reverseTotal},
        {"diameter", &instrument.diameterMm},
    };
    for (const auto& [name, source] : quantities) {
        if (key == name) {
            if (!parseValueSource(value, *source))
                return fail("bad value '" + value + "' for " + key
                            + " (a number, BASE~AMPLITUDE/PERIOD_S or START+RATE/s)");
            return {};
        }
    }
    if (key == "silent_s" || key == "alarms_s") {
        const auto dash = value.find('-');
        TimeWindow window;
        if (dash == std::string::npos || !parseDouble(value.substr(0, dash), window.from) ||
            !parseDouble(value.substr(dash + 1), window.to) || window.from < 0 || window.to <= window.from)
            return fail(key + " takes FROM-TO, seconds after the start, FROM < TO, not '" + value + "'");
        (key == "silent_s" ? instrument.silentWindow : instrument.alarmWindow) = window;
        return {};
    }
    if (key == "alarms") {
        if (!parseAlarmList(value, instrument.alarms))
            return fail("bad alarm list '" + value
                        + "' (comma list of excitation, electrode, empty, upper, lower, none)");
        return {};
    }
    if (key.size() == 6 && key.starts_with("block") && key[5] >= '0' && key[5] <= '7')
        return parseRawBlock(instrument, key[5] - '0', value, tokens, next);
    long reg = 0;
    if (key.starts_with("reg") && parseInt(key.substr(3), 0, 25, reg))
        return parseRawRegisters(instrument, static_cast<int>(reg), value, tokens, next);
    bool known = false;
    if (auto error = parseBlockCode(instrument, key, value, known); known || !error.empty())
        return error;
    if (auto error = parseFault(instrument, key, value, known); known || !error.empty())
        return error;
    return fail("unknown setting '" + key + "'");
}

std::string ScenarioParser::parseBlockCode(Instrument& instrument, const std::string& key,
                                           const std::string& value, bool& known)
{
    const std::pair<const char*, std::optional<int>*> codes[] = {
        {"flow_code", &instrument.flowCode},
        {"velocity_code", &instrument.velocityCode},
        {"forward_code", &instrument.forwardCode},
        {"reverse_code", &instrument.reverseCode},
    };
    const std::pair<const char*, std::optional<std::uint8_t>*> bytes[] = {
        {"diameter_code", &instrument.diameterCode},
        {"alarm_byte", &instrument.alarmByte},
    };
    long code = 0;
    for (const auto& [name, target] : codes) {
        if (key == name) {
            known = true;
            if (!parseInt(value, 0, 255, code))
                return fail(key + " must be 0..255, not '" + value + "'");
            *target = static_cast<int>(code);
        }
    }
    for (const auto& [name, target] : bytes) {
        if (key == name) {
            known = true;
            if (!parseInt(value, 0, 255, code))
                return fail(key + " must be 0..255, not '" + value + "'");
            *target = static_cast<std::uint8_t>(code);
        }
    }
    if (known && !isBlock())
        return fail(key + " belongs to the block protocol");
    return {};
}

std::string ScenarioParser::parseFault(Instrument& instrument, const std::string& key,
                                       const std::string& value, bool& known)
{
    FaultPlan& plan = instrument.faults;
    known = true;
    long number = 0;
    if (key == "fault") {
        std::istringstream list(value);
        for (std::string name; std::getline(list, name, ',');) {
            const auto fault = faultNamed(name, scenario_.protocol);
            if (!fault)
                return fail("no fault '" + name + "' in the "
                            + (isBlock() ? "block" : "modbus") + " protocol");
            plan.faults |= *fault;
        }
    } else if (key == "every") {
        if (!parseInt(value, 1, 1000000, number))
            return fail("every must be a whole number of 1 or more");
        plan.every = static_cast<int>(number);
    } else if (key == "p") {
        if (!parseDouble(value, plan.probability) || plan.probability < 0 || plan.probability > 1)
            return fail("p must be a probability 0..1");
    } else if (key == "foreign") {
        if (isBlock() || !parseInt(value, 0, 255, number))
            return fail("foreign=ADDRESS (0..255) belongs to the modbus protocol");
        plan.foreignAddress = static_cast<std::uint8_t>(number);
        plan.faults |= foreignFault;
    } else if (key == "delay_ms" || key == "split_gap_ms") {
        if (!parseInt(value, 0, 3600000, number))
            return fail(key + " must be a whole number of milliseconds");
        (key == "delay_ms" ? plan.delayMs : plan.splitGapMs) = static_cast<int>(number);
        if (key == "delay_ms")
            plan.faults |= lateFault;
    } else {
        known = false;
    }
    return {};
}

// block0=12 34 56 02 00 00 or block0=123456020000.
std::string ScenarioParser::parseRawBlock(Instrument& instrument, int block,
                                          const std::string& value, const Tokens& tokens,
                                          std::size_t& next)
{
    if (!isBlock())
        return fail("block" + std::to_string(block) + "= belongs to the block protocol");
    std::string digits = value;
    while (digits.size() < 12 && next < tokens.size() && isHexDigits(tokens[next], 2))
        digits += tokens[next++];
    if (!isHexDigits(digits, 12))
        return fail("block" + std::to_string(block) + "= needs six hexadecimal bytes");
    BlockPayload payload{};
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<std::uint8_t>(hexValue(digits.substr(i * 2, 2)));
    instrument.rawBlocks[static_cast<std::size_t>(block)] = payload;
    return {};
}

// reg3=0000 04D2 ...: words for consecutive registers from the first one.
std::string ScenarioParser::parseRawRegisters(Instrument& instrument, int first,
                                              const std::string& value, const Tokens& tokens,
                                              std::size_t& next)
{
    if (isBlock())
        return fail("reg" + std::to_string(first) + "= belongs to the modbus protocol");
    if (!isHexDigits(value, 4))
        return fail("reg" + std::to_string(first) + "= needs 4-digit hexadecimal words");
    int reg = first;
    instrument.rawRegisters[reg++] = static_cast<std::uint16_t>(hexValue(value));
    while (next < tokens.size() && isHexDigits(tokens[next], 4)) {
        if (reg > 25)
            return fail("raw registers run past register 25");
        instrument.rawRegisters[reg++] = static_cast<std::uint16_t>(hexValue(tokens[next++]));
    }
    return {};
}

std::string ScenarioParser::checkInstrument(const Instrument& instrument)
{
    const FaultPlan& plan = instrument.faults;
    if (plan.every > 0 && plan.probability >= 0)
        return fail("give either every= or p=, not both");
    if (!isBlock()) {
        if (!instrument.forwardTotal.varies() && instrument.forwardTotal.base < 0)
            return fail("a total cannot be negative");
        if (!instrument.reverseTotal.varies() && instrument.reverseTotal.base < 0)
            return fail("a total cannot be negative");
        return {};
    }
    if (instrument.diameterMm.varies())
        return fail("diameter cannot vary in the block protocol (it is a table code)");
    if (instrument.diameterMm.base != 0 && !instrument.diameterCode
        && !diameterCodeOfMm(instrument.diameterMm.base))
        return fail("diameter " + std::to_string(std::lround(instrument.diameterMm.base))
                    + " mm is not a nominal diameter of the code table; use diameter_code=");
    struct Check {
        const char* name;
        const ValueSource& source;
        EncodedBlock (*encode)(const Instrument&, double);
    };
    const Check checks[] = {
        {"flow", instrument.flow,
         [](const Instrument& i, double v) { return encodeFlow(v, i.flowCode); }},
        {"velocity", instrument.velocity,
         [](const Instrument& i, double v) { return encodeVelocity(v, i.velocityCode); }},
        {"percent", instrument.percent, [](const Instrument&, double v) { return encodePercent(v); }},
        {"resistance", instrument.resistance,
         [](const Instrument&, double v) { return encodeResistance(v); }},
        {"forward", instrument.forwardTotal,
         [](const Instrument& i, double v) { return encodeTotal(v, i.forwardCode); }},
        {"reverse", instrument.reverseTotal,
         [](const Instrument& i, double v) { return encodeTotal(v, i.reverseCode); }},
    };
    for (const auto& check : checks) {
        if (!check.source.varies() && check.encode(instrument, check.source.base).clamped)
            return fail(std::string(check.name) + " value does not fit its BCD digits"
                        + " (too large, or negative where the block has no sign)");
    }
    return {};
}

std::string ScenarioParser::finish()
{
    if (!protocolSeen_)
        return fileName_ + ": no 'protocol block' or 'protocol modbus' line";
    return {};
}

} // namespace

ScenarioOutcome parseScenario(std::istream& in, const std::string& fileName)
{
    ScenarioParser parser(fileName);
    for (std::string line; std::getline(in, line);) {
        ++parser.lineNumber;
        if (auto error = parser.parseLine(line); !error.empty())
            return {std::nullopt, error};
    }
    if (auto error = parser.finish(); !error.empty())
        return {std::nullopt, error};
    return {parser.take(), {}};
}

ScenarioOutcome loadScenario(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        return {std::nullopt, path + ": cannot open the scenario file"};
    return parseScenario(in, path);
}

} // namespace lumo::sim
