#pragma once

#include "blockanswer.h"
#include "faults.h"

#include <array>
#include <cstdint>
#include <istream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lumo::sim {

// A quantity that is constant, swings as a sine (base +- amplitude with a
// period), or ramps at a rate per second.
struct ValueSource {
    double base = 0;
    double amplitude = 0;
    double periodSeconds = 0;
    double ratePerSecond = 0;

    double at(double seconds) const;
    bool varies() const { return amplitude != 0 || ratePerSecond != 0; }
};

// Seconds after the start, [from, to).
struct TimeWindow {
    double from = 0, to = 0;
    bool contains(double seconds) const { return seconds >= from && seconds < to; }
};

struct Instrument {
    int address = 0;
    ValueSource flow, velocity, percent, resistance, forwardTotal, reverseTotal, diameterMm;
    std::uint8_t alarms = 0; // AlarmBit flags
    // Silent only within this window (silent_s=FROM-TO); the alarms raised
    // only within this one (alarms_s=FROM-TO), none outside it.
    std::optional<TimeWindow> silentWindow, alarmWindow;

    std::uint8_t alarmsAt(double seconds) const
    {
        return !alarmWindow || alarmWindow->contains(seconds) ? alarms : 0;
    }
    // Block protocol codes; without one the encoder picks the code that fits.
    std::optional<int> flowCode, velocityCode, forwardCode, reverseCode;
    std::optional<std::uint8_t> diameterCode; // from the mm table or given raw
    std::optional<std::uint8_t> alarmByte;    // raw byte 2 of block 6
    std::array<std::optional<BlockPayload>, 8> rawBlocks;
    std::map<int, std::uint16_t> rawRegisters; // Modbus: register -> word
    FaultPlan faults;
};

// Garbage at the line's full rate from startSeconds for durationSeconds.
struct Storm {
    double startSeconds = 0;
    double durationSeconds = 0;
};

struct Scenario {
    Protocol protocol = Protocol::block;
    std::map<int, Instrument> instruments; // by address 1..39
    std::vector<Storm> storms;
};

// Either a scenario or an error "file:line: what is wrong".
struct ScenarioOutcome {
    std::optional<Scenario> scenario;
    std::string error;
};

ScenarioOutcome parseScenario(std::istream& in, const std::string& fileName);
ScenarioOutcome loadScenario(const std::string& path);

} // namespace lumo::sim
