#pragma once
// What the station keeps of each instrument's past: rows per minute and per
// hour, a row per instrument and local day, and events (alarms, silences,
// the station's runs, settings changes). Plain data: the recorder makes
// them, the store keeps them, the windows and the export read them.

#include "alarmtext.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumo::history {

// The measured quantities kept as a spread: flow, velocity, percentage and
// resistance (slots 0..3).
inline constexpr int kMeasured = 4;

inline constexpr std::int64_t kMinuteMs = 60'000;
inline constexpr std::int64_t kHourMs = 3'600'000;
// Minutes are kept this long; hours, days and events as the settings say.
inline constexpr std::int64_t kMinutesKeptMs = 90LL * 24 * kHourMs;

enum class Period { Minutes, Hours };

struct Spread {
    float min = 0;
    float mean = 0;
    float max = 0;
    std::uint32_t count = 0;  // the values it was made of

    bool operator==(const Spread&) const = default;
};

// Two spreads of the same quantity as one (two parts of one minute, say).
Spread merged(const Spread& a, const Spread& b);

// Alarms seen, bit i for kAlarms[i].
using AlarmBits = std::uint8_t;
AlarmBits bitsOf(const AlarmFlags& flags);

// One instrument over one minute or one hour.
struct PeriodRow {
    int instrument = 0;
    std::int64_t startMs = 0;  // UTC
    std::int64_t lengthMs = kMinuteMs;
    std::array<std::optional<Spread>, kMeasured> measured{};
    // The last totals as the cells showed them, exactly.
    std::optional<std::string> forwardTotal, reverseTotal;
    std::optional<float> pipeDiameter;
    AlarmBits alarms = 0;
    int answers = 0;
    double blankSeconds = 0;

    bool operator==(const PeriodRow&) const = default;
};

// A total that went down within a day (a reset, a replaced meter, a wrap).
struct TotalDrop {
    std::string from, to;  // as shown
    std::int64_t atMs = 0;

    bool operator==(const TotalDrop&) const = default;
};

// One instrument over one local day: its first and last totals, how long
// it answered, the alarms seen.
struct DayRow {
    int instrument = 0;
    std::string day;  // local, YYYY-MM-DD
    std::optional<std::string> firstForward, lastForward, firstReverse, lastReverse;
    std::int64_t firstAnswerMs = 0, lastAnswerMs = 0;
    double answeredSeconds = 0;
    AlarmBits alarms = 0;
    std::optional<TotalDrop> forwardDrop, reverseDrop;

    bool operator==(const DayRow&) const = default;
};

enum class EventKind { Alarm, Silence, StationRun, SettingsChange };

// An event: opened when it begins (no end yet), then closed with its end;
// one that has no duration (a settings change) ends where it begins.
struct Event {
    EventKind kind = EventKind::StationRun;
    int instrument = 0;  // 0: the station itself
    std::string what;    // the alarm's name, the settings changed, the program
    std::int64_t fromMs = 0;
    std::optional<std::int64_t> toMs;

    bool operator==(const Event&) const = default;
};

std::string kindName(EventKind kind);
std::optional<EventKind> kindNamed(const std::string& name);

// What one minute's close hands to the store, in one transaction.
struct Batch {
    std::vector<PeriodRow> minutes, hours;
    std::vector<DayRow> days;        // what a minute adds to the stored row of its instrument and day
    std::vector<Event> opened;       // new events
    std::vector<Event> closed;       // the end of events opened before (matched by kind, instrument, what, start)

    bool empty() const { return minutes.empty() && hours.empty() && days.empty() && opened.empty() && closed.empty(); }
};

// A day row with what a later minute of the same day adds: the first totals
// stay, the last are the later ones, answered time adds up, alarms join, and
// a total lower than the one before (within the minute, or against the
// day's last so far) is a drop, the first one kept.
DayRow mergedDay(const DayRow& before, const DayRow& added);
// Two rows of the same instrument and period start (a station that
// stopped and started again within the minute).
PeriodRow mergedPeriod(const PeriodRow& before, const PeriodRow& added);

}  // namespace lumo::history
