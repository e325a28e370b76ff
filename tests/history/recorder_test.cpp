// What the recorder makes of a poll: minutes, hours, day rows and events,
// on a clock of the test's own.

#include "recorder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace lumo::history {
namespace {

// 2026-12-10T00:00:00Z
constexpr std::int64_t kMidnight = 1796860800000;
constexpr std::int64_t kSecond = 1000;

struct Sink : HistorySink {
    void write(Batch batch) override { batches.push_back(std::move(batch)); }
    std::vector<Batch> batches;

    template <class T>
    std::vector<T> all(std::vector<T> Batch::*part) const
    {
        std::vector<T> out;
        for (const Batch& b : batches)
            out.insert(out.end(), (b.*part).begin(), (b.*part).end());
        return out;
    }
    std::vector<PeriodRow> minutesOf(int instrument) const
    {
        std::vector<PeriodRow> rows;
        for (const PeriodRow& row : all(&Batch::minutes))
            if (row.instrument == instrument)
                rows.push_back(row);
        return rows;
    }
    // Every day row of an instrument merged as the store merges them.
    DayRow dayOf(int instrument, const std::string& day) const
    {
        DayRow merged;
        bool any = false;
        for (const DayRow& row : all(&Batch::days))
            if (row.instrument == instrument && row.day == day) {
                merged = any ? mergedDay(merged, row) : row;
                any = true;
            }
        return merged;
    }
};

struct Station {
    std::int64_t now = kMidnight + 30 * kSecond;
    Sink sink;
    Recorder recorder{sink, [this] { return now; },
                      [](std::int64_t ms) { return ms < kMidnight + 24 * 3600 * kSecond ? "2026-12-10" : "2026-12-11"; },
                      "lumoscan13"};

    void at(std::int64_t ms)
    {
        now = ms;
        recorder.tick();
    }
};

// A Modbus answer: every quantity fresh.
InstrumentReading answer(float flow, const std::string& forward = "100.5", AlarmFlags alarms = {})
{
    InstrumentReading r;
    r.texts = {"", "", "", "", forward, "0", "100", ""};
    r.quantities[kSlotFlow] = Quantity::ofFloat(flow);
    r.quantities[1] = Quantity::ofFloat(flow / 10);
    r.quantities[2] = Quantity::ofFloat(50);
    r.quantities[3] = Quantity::ofFloat(3.25f);
    r.quantities[kSlotPipeDiameter] = Quantity::ofFloat(100);
    r.alarms = alarms;
    r.fresh.fill(true);
    return r;
}

TEST(Recorder, MinuteRowsHoldTheSpreadTheLastTotalsAndTheBlankSeconds)
{
    Station s;
    s.recorder.stationStarted();
    // Instrument 1 answers every 10 s with 1, 2, 3...; instrument 2 answers
    // at :30, then is silent from 00:01:20 to 00:02:10.
    float flow = 1;
    for (std::int64_t t = 30; t < 180; t += 10) {
        s.at(kMidnight + t * kSecond);
        s.recorder.instrumentAnswered(1, answer(flow, t < 120 ? "100.5" : "100.75"), true);
        flow += 1;
        if (t == 30 || t >= 130)
            s.recorder.instrumentAnswered(2, answer(7), true);
        if (t == 80)
            s.recorder.instrumentSilent(2);
    }
    s.at(kMidnight + 180 * kSecond);

    const auto one = s.sink.minutesOf(1);
    ASSERT_EQ(one.size(), 3u);
    const struct {
        Spread flow;
        const char* forward;
        int answers;
    } expected[] = {
        {{1, 2, 3, 3}, "100.5", 3},        // :30 :40 :50
        {{4, 6.5f, 9, 6}, "100.5", 6},     // 01:00 .. 01:50
        {{10, 12.5f, 15, 6}, "100.75", 6}, // 02:00 .. 02:50
    };
    for (std::size_t m = 0; m < 3; ++m) {
        SCOPED_TRACE(m);
        EXPECT_EQ(one[m].startMs, kMidnight + static_cast<std::int64_t>(m) * 60 * kSecond);
        EXPECT_EQ(one[m].measured[0], expected[m].flow);
        EXPECT_EQ(one[m].forwardTotal, expected[m].forward);
        EXPECT_EQ(one[m].answers, expected[m].answers);
        EXPECT_EQ(one[m].pipeDiameter, 100.0f);
        EXPECT_EQ(one[m].blankSeconds, 0);
    }
    const auto two = s.sink.minutesOf(2);
    ASSERT_EQ(two.size(), 3u);
    EXPECT_EQ(two[1].blankSeconds, 40);  // 01:20 .. 02:00
    EXPECT_EQ(two[1].answers, 0);
    EXPECT_FALSE(two[1].measured[0]);
    EXPECT_EQ(two[2].blankSeconds, 10);  // 02:00 .. 02:10
    EXPECT_EQ(two[2].answers, 5);

    // The silence is an event with both ends; the run's start too.
    const auto opened = s.sink.all(&Batch::opened);
    const auto closed = s.sink.all(&Batch::closed);
    EXPECT_EQ(opened.front(), (Event{EventKind::StationRun, 0, "lumoscan13", kMidnight + 30 * kSecond, std::nullopt}));
    EXPECT_EQ(closed, (std::vector<Event>{{EventKind::Silence, 2, "", kMidnight + 80 * kSecond, kMidnight + 130 * kSecond}}));
    // Each minute went as one batch, when it had ended.
    EXPECT_EQ(s.sink.batches.size(), 4u);  // the start, then three minutes
}

TEST(Recorder, ABlockAnswerFeedsOnlyTheQuantityItCarried)
{
    Station s;
    s.recorder.stationStarted();
    InstrumentReading block = answer(5);
    block.fresh = {};
    block.fresh[kSlotFlow] = true;  // velocity, totals... are as an earlier answer left them
    s.recorder.instrumentAnswered(3, block, false);
    s.at(kMidnight + 60 * kSecond);
    const auto rows = s.sink.minutesOf(3);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].measured[0], (Spread{5, 5, 5, 1}));
    EXPECT_FALSE(rows[0].measured[1]);
    EXPECT_FALSE(rows[0].forwardTotal);
    EXPECT_EQ(rows[0].alarms, 0);
}

TEST(Recorder, AlarmsSettingsAndTheRunAreEventsAndTheEndClosesWhatIsOpen)
{
    Station s;
    s.recorder.stationStarted();
    const AlarmFlags empty{false, false, true, false, false}, emptyAndUpper{false, false, true, true, false};
    s.at(kMidnight + 40 * kSecond);
    s.recorder.instrumentAnswered(4, answer(1, "1", empty), true);
    s.at(kMidnight + 70 * kSecond);
    s.recorder.instrumentAnswered(4, answer(1, "1", emptyAndUpper), true);
    s.at(kMidnight + 95 * kSecond);
    s.recorder.instrumentAnswered(4, answer(1, "1", {}), true);
    s.at(kMidnight + 100 * kSecond);
    s.recorder.instrumentAnswered(4, answer(1, "1", empty), true);
    s.recorder.settingsChanged("发送间隔 200→300");
    s.at(kMidnight + 125 * kSecond);
    s.recorder.instrumentAnswered(4, answer(1, "1", empty), true);
    s.at(kMidnight + 130 * kSecond);
    s.recorder.instrumentSilent(5);
    s.at(kMidnight + 150 * kSecond);
    s.recorder.stationEnds();

    const std::int64_t end = kMidnight + 150 * kSecond;
    const auto closed = s.sink.all(&Batch::closed);
    const std::vector<Event> expected = {
        {EventKind::Alarm, 4, "empty_pipe", kMidnight + 40 * kSecond, kMidnight + 95 * kSecond},
        {EventKind::Alarm, 4, "upper_limit", kMidnight + 70 * kSecond, kMidnight + 95 * kSecond},
        {EventKind::Silence, 5, "", kMidnight + 130 * kSecond, end},
        {EventKind::Alarm, 4, "empty_pipe", kMidnight + 100 * kSecond, end},
        {EventKind::StationRun, 0, "lumoscan13", kMidnight + 30 * kSecond, end},
    };
    for (const Event& e : expected)
        EXPECT_NE(std::find(closed.begin(), closed.end(), e), closed.end()) << kindName(e.kind) << " " << e.what;
    EXPECT_EQ(closed.size(), expected.size());
    const auto opened = s.sink.all(&Batch::opened);
    EXPECT_NE(std::find(opened.begin(), opened.end(),
                        Event{EventKind::SettingsChange, 0, "发送间隔 200→300", kMidnight + 100 * kSecond,
                              kMidnight + 100 * kSecond}),
              opened.end());
    // The minute under way went too, and its alarms with it.
    const auto rows = s.sink.minutesOf(4);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].alarms, bitsOf(emptyAndUpper));
    EXPECT_EQ(rows[2].startMs, kMidnight + 120 * kSecond);
}

TEST(Recorder, HoursAndDaysGatherTheirMinutes)
{
    Station s;
    s.now = kMidnight + (24 * 3600 - 125) * kSecond;  // 23:57:55
    s.recorder.stationStarted();
    // Totals 500.25 .. rising, reset to 3 at 23:59:10, rising again; past
    // midnight the next day starts from its own first answer.
    const struct {
        int second;  // after 23:57:55
        const char* forward;
    } answers[] = {{5, "500.25"}, {35, "500.5"}, {65, "501"}, {75, "3"}, {95, "3.5"}, {130, "4"}, {150, "4.25"}};
    for (const auto& a : answers) {
        s.at(kMidnight + (24 * 3600 - 125 + a.second) * kSecond);
        s.recorder.instrumentAnswered(6, answer(2, a.forward), true);
    }
    s.at(kMidnight + (24 * 3600 + 60) * kSecond);

    const DayRow today = s.sink.dayOf(6, "2026-12-10");
    EXPECT_EQ(today.firstForward, "500.25");
    EXPECT_EQ(today.lastForward, "3.5");
    ASSERT_TRUE(today.forwardDrop);
    EXPECT_EQ(today.forwardDrop->from, "501");
    EXPECT_EQ(today.forwardDrop->to, "3");
    EXPECT_EQ(today.answeredSeconds, 120);  // its minutes with answers, 23:58 and 23:59
    const DayRow tomorrow = s.sink.dayOf(6, "2026-12-11");
    EXPECT_EQ(tomorrow.firstForward, "4");
    EXPECT_EQ(tomorrow.lastForward, "4.25");
    EXPECT_FALSE(tomorrow.forwardDrop);  // 3.5 yesterday, 4 today: no drop within a day

    const auto hours = s.sink.all(&Batch::hours);
    ASSERT_EQ(hours.size(), 1u);  // 23:00, closed at midnight
    EXPECT_EQ(hours[0].startMs, kMidnight + 23 * 3600 * kSecond);
    EXPECT_EQ(hours[0].answers, 5);
    EXPECT_EQ(hours[0].measured[0], (Spread{2, 2, 2, 5}));
    EXPECT_EQ(hours[0].forwardTotal, "3.5");
}

// A clock set right after the machine started with a wrong one (years
// ahead), or set back a day: the history goes on from the new time, and
// nothing is made up for the time between, however long.
TEST(Recorder, AClockThatJumpsMakesUpNothing)
{
    Station s;
    s.recorder.stationStarted();
    s.recorder.instrumentAnswered(1, answer(1), true);
    s.recorder.instrumentSilent(2);
    const std::int64_t years = 5LL * 365 * 24 * 3600 * kSecond;
    const struct {
        std::int64_t at;
        int minuteRows;  // rows of instrument 1 so far
    } steps[] = {
        {kMidnight + 50 * kSecond, 0},
        {kMidnight + years + 10 * kSecond, 1},         // the minute under way closes; then from the new time
        {kMidnight + years + 70 * kSecond, 2},         // a minute there
        {kMidnight - 24 * 3600 * kSecond + 5 * kSecond, 3},  // a day back
        {kMidnight - 24 * 3600 * kSecond + 65 * kSecond, 4},
    };
    for (const auto& step : steps) {
        s.at(step.at);
        s.recorder.instrumentAnswered(1, answer(2), true);
        EXPECT_EQ(s.sink.minutesOf(1).size(), static_cast<std::size_t>(step.minuteRows)) << step.at;
    }
    // The silent instrument: a row for each minute the station lived
    // through, not one for every minute of five years.
    EXPECT_LE(s.sink.minutesOf(2).size(), 4u);
    for (const PeriodRow& row : s.sink.all(&Batch::minutes))
        EXPECT_LE(row.blankSeconds, 60) << row.instrument << " " << row.startMs;
}

}  // namespace
}  // namespace lumo::history
