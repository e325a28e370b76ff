#pragma once
// The history of every instrument, made from what the poll takes: each
// answer feeds its instrument's minute, hour and local day (the spread of
// flow, velocity, percentage and resistance; the last totals as shown; the
// pipe diameter; the alarms seen; the answers; the seconds it was blank),
// and the alarms' starts and ends, the silences, the station's run and its
// settings changes are events. Once a minute has ended, everything it made
// goes to the sink in one batch. Plain C++: no clock, no disk of its own.

#include "reading.h"
#include "records.h"

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace lumo::history {

class HistorySink {
public:
    virtual ~HistorySink() = default;
    // Takes a batch; never waits for a disk.
    virtual void write(Batch batch) = 0;
};

// The local day of a moment (YYYY-MM-DD), as the station's clock counts days.
using DayOf = std::function<std::string(std::int64_t utcMs)>;

class Recorder : public InstrumentListener {
public:
    // program: "lumoscan13", for the station's run events.
    Recorder(HistorySink& sink, std::function<std::int64_t()> utcNowMs, DayOf dayOf, std::string program);

    void stationStarted();
    // Closes what is under way: the minute and hour so far, the day, every
    // open event, and the station's run.
    void stationEnds();
    // A change of the station's settings, stored (say which, in words).
    void settingsChanged(const std::string& detail);
    // Closes the minutes (and hours) that have ended by now; called about
    // once a second, and before anything that happens later.
    void tick();

    void instrumentAnswered(int instrument, const InstrumentReading& reading, bool wholeSet) override;
    void instrumentSilent(int instrument) override;
    void pollLeaves(int) override {}

private:
    // A spread in the making.
    struct Samples {
        int count = 0;
        double sum = 0;
        float min = 0, max = 0;
        void add(float value);
        std::optional<Spread> spread() const;
    };
    // One instrument over one period in the making.
    struct Gathering {
        std::array<Samples, kMeasured> measured{};
        std::optional<std::string> forward, reverse;
        std::optional<float> diameter;
        AlarmBits alarms = 0;
        int answers = 0;
        std::int64_t blankMs = 0;
        bool seen = false;  // polled in this period
        PeriodRow row(int instrument, std::int64_t startMs, std::int64_t lengthMs) const;
    };
    struct Instrument {
        Gathering minute, hour;
        DayRow day;  // what the minute under way adds to its day
        std::optional<std::int64_t> blankSince;
        std::optional<std::string> lastForward, lastReverse;  // shown last on `totalsDay`
        std::string totalsDay;
        std::array<std::optional<std::int64_t>, kAlarmCount> alarmSince{};
    };

    void advanceTo(std::int64_t nowMs);
    void closeMinute(std::int64_t endMs);
    void restartAt(std::int64_t nowMs);
    void countBlankUntil(int number, Instrument& instrument, std::int64_t untilMs);
    void recordAnswer(int number, Instrument& instrument, const InstrumentReading& reading, std::int64_t nowMs);
    void noteTotal(std::optional<std::string>& last, std::optional<TotalDrop>& drop, const std::string& shown,
                   std::int64_t nowMs);
    void noteAlarms(int number, Instrument& instrument, const AlarmFlags& flags, std::int64_t nowMs);
    Instrument& instrument(int number, std::int64_t nowMs);
    void dayOfMinute(int number, Instrument& instrument, std::int64_t endMs);
    void flush();

    HistorySink& sink_;
    std::function<std::int64_t()> utcNowMs_;
    DayOf dayOf_;
    std::string program_;
    std::map<int, Instrument> instruments_;
    std::int64_t minuteStart_ = 0, hourStart_ = 0, startedMs_ = 0;
    std::string minuteDay_;  // the local day of the minute under way
    bool running_ = false;
    Batch pending_;
};

}  // namespace lumo::history
