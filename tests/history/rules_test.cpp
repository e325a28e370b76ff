// The history's rules as tables: exact totals, daily volumes, CSV, what an
// operator types, the axes' ticks, a trend's buckets.

#include "csv.h"
#include "dayvolume.h"
#include "decimal.h"
#include "selection.h"
#include "timeaxis.h"
#include "trend.h"

#include <gtest/gtest.h>

namespace lumo::history {
namespace {

constexpr std::int64_t kMidnight = 1796860800000;  // 2026-12-10T00:00:00Z
constexpr std::int64_t kHour = 3'600'000;

// A fixed zone, 8 hours east of UTC (no summer time).
LocalTime beijing(std::int64_t utcMs)
{
    LocalTime t;
    const std::int64_t local = utcMs + 8 * kHour;
    const std::int64_t days = (local >= 0 ? local : local - 86'399'999) / 86'400'000;
    t.year = 1970;
    t.month = 1;
    t.day = static_cast<int>(days) + 1;
    t = normalised(t);
    const std::int64_t inDay = local - days * 86'400'000;
    t.hour = static_cast<int>(inDay / kHour);
    t.minute = static_cast<int>(inDay / 60'000 % 60);
    t.second = static_cast<int>(inDay / 1000 % 60);
    t.millisecond = static_cast<int>(inDay % 1000);
    t.offsetSeconds = 8 * 3600;
    return t;
}

std::optional<std::int64_t> fromBeijing(const LocalTime& t)
{
    return ((static_cast<std::int64_t>(daysOf(t.year, t.month, t.day)) * 24 + t.hour) * 60 + t.minute) * 60'000 +
           t.second * 1000LL - 8 * kHour;
}

TEST(Decimal, TotalsSubtractExactlyAndStrangeTextsAreNoNumber)
{
    const struct {
        const char *last, *first, *difference;
    } rows[] = {
        {"1240.0001", "1234.5678", "5.4323"},
        {"4294967295.9999", "0.0001", "4294967295.9998"},
        {"1.234568E+07", "12345670", "10"},
        {"12", "12.000", "0.000"},
        {"156.0000", "0.1200", "155.8800"},
        {"0.3", "0.1", "0.2"},  // a float would make it 0.19999999
        {"5", "7.25", "-2.25"},
    };
    for (const auto& row : rows) {
        const auto last = Decimal::of(row.last), first = Decimal::of(row.first);
        ASSERT_TRUE(last && first) << row.last << " " << row.first;
        EXPECT_EQ((*last - *first).text(), row.difference) << row.last << " - " << row.first;
    }
    for (const char* text : {"", "-", "abc", "1.2.3", "12 ", "1E", "1E+11", "123456789012345678", "3.402823E+38", "NaN"})
        EXPECT_FALSE(Decimal::of(text)) << text;
    EXPECT_LT(*Decimal::of("99.99"), *Decimal::of("100"));
}

TEST(DayVolume, TheDifferenceOfTheDaysTotalsOrWhyThereIsNone)
{
    DayRow day;
    day.instrument = 3;
    day.day = "2026-12-10";
    day.firstForward = "1234.5678";
    day.lastForward = "1300";
    day.firstReverse = "0";
    day.lastReverse = "0";
    day.answeredSeconds = 5400;
    day.alarms = bitsOf({false, false, true, true, false});
    DayVolume v = volumeOf(day, beijing);
    EXPECT_EQ(v.forward, "65.4322");
    EXPECT_EQ(v.reverse, "0");
    EXPECT_EQ(v.answeredHours, 1.5);
    EXPECT_EQ(alarmWords(v.alarms), "空管报警、上限报警");

    // A total that went down: no volume, the drop said with its local time.
    day.forwardDrop = TotalDrop{"1299", "3", kMidnight + 2 * kHour + 5 * 60'000};
    v = volumeOf(day, beijing);
    EXPECT_FALSE(v.forward);
    EXPECT_EQ(v.forwardNote, "正向累积量减小：1299 → 3（10:05，复位或更换）");
    // No totals that day: no volume and nothing to say.
    day = DayRow{};
    v = volumeOf(day, beijing);
    EXPECT_FALSE(v.forward);
    EXPECT_EQ(v.forwardNote, "");
}

TEST(Csv, SpreadsheetReadyWithUnitsAndLocalTimes)
{
    PeriodRow row;
    row.instrument = 2;
    row.startMs = kMidnight;
    row.measured[0] = Spread{1.5f, 2.25f, 3.0f, 6};
    row.forwardTotal = "1234.5678";
    row.alarms = bitsOf({false, false, true, false, false});
    row.answers = 6;
    row.blankSeconds = 12.5;
    const std::string minutes = csvOfPeriods({row}, beijing);
    EXPECT_EQ(minutes.rfind(kByteOrderMark, 0), 0u);
    EXPECT_NE(minutes.find("仪表,开始时间,时长(s),瞬时流量最小(m³/h),瞬时流量平均(m³/h),瞬时流量最大(m³/h)"), std::string::npos);
    EXPECT_NE(minutes.find("\r\n2,2026-12-10T08:00:00+08:00,60,1.5,2.25,3,,,,,,,,,,1234.5678,,,空管报警,6,12.5\r\n"),
              std::string::npos)
        << minutes;

    const std::vector<Event> events = {
        {EventKind::Alarm, 4, "empty_pipe", kMidnight, kMidnight + 90'000},
        {EventKind::SettingsChange, 0, "发送间隔 200→300，仪表数 \"13\"", kMidnight, kMidnight},
        {EventKind::Silence, 5, "", kMidnight, std::nullopt},
    };
    const std::string text = csvOfEvents(events, beijing);
    EXPECT_NE(text.find("4,报警,空管报警,2026-12-10T08:00:00+08:00,2026-12-10T08:01:30+08:00,90.0\r\n"), std::string::npos);
    EXPECT_NE(text.find(",设置更改,\"发送间隔 200→300，仪表数 \"\"13\"\"\","), std::string::npos) << text;
    EXPECT_NE(text.find("5,无应答,,2026-12-10T08:00:00+08:00,,\r\n"), std::string::npos);

    LocalTime west;
    west.year = 2026, west.month = 3, west.day = 8, west.hour = 1, west.offsetSeconds = -(5 * 3600 + 30 * 60);
    EXPECT_EQ(isoText(west), "2026-03-08T01:00:00-05:30");
}

TEST(Selection, InstrumentsAsTyped)
{
    const struct {
        const char* text;
        std::vector<int> chosen;
    } accepted[] = {
        {"", {}}, {"1", {1}}, {"1,3-5", {1, 3, 4, 5}}, {" 5 - 3 ", {}}, {"39,1,1", {1, 39}}, {"7-7", {7}},
    };
    for (const auto& a : accepted) {
        const auto got = instrumentsOf(a.text);
        if (std::string(a.text) == " 5 - 3 ") {
            EXPECT_FALSE(got.ok());  // reversed
            continue;
        }
        ASSERT_TRUE(got.ok()) << a.text << ": " << got.error();
        EXPECT_EQ(got.value(), a.chosen) << a.text;
    }
    for (const char* refused : {"0", "40", "1,,2", "a", "1-", "-3", "3;4", "1 2", "2-41"})
        EXPECT_FALSE(instrumentsOf(refused).ok()) << refused;
}

TEST(Selection, MomentsAsTyped)
{
    const struct {
        const char* text;
        bool endOfDay;
        std::int64_t utcMs;
    } accepted[] = {
        {"2026-12-10", false, kMidnight - 8 * kHour},
        {"2026-12-10", true, kMidnight + 16 * kHour},
        {"2026-12-10T08:00", false, kMidnight},
        {"2026-12-10 08:00:30", false, kMidnight + 30'000},
        {"2026-12-10T08:00Z", false, kMidnight + 8 * kHour},
        {"2026-12-10T00:00+08:00", true, kMidnight - 8 * kHour},  // a time is never stretched to the day's end
        {"2026-12-09T19:00-05:00", false, kMidnight},
        {"2024-02-29", false, 1709164800000 - 8 * kHour},
    };
    for (const auto& a : accepted) {
        const auto got = momentOf(a.text, a.endOfDay, fromBeijing);
        ASSERT_TRUE(got.ok()) << a.text << ": " << got.error();
        EXPECT_EQ(got.value(), a.utcMs) << a.text;
    }
    for (const char* refused : {"", "2026-13-01", "2026-02-30", "2026-12-10T24:00", "2026-12-10T08", "10.12.2026",
                                "2026-12-10T08:00+8", "2026-12-10T08:00:00.5", "2026-12-10x"})
        EXPECT_FALSE(momentOf(refused, false, fromBeijing).ok()) << refused;
}

TEST(TimeAxis, RoundLocalMomentsFittingTheWidth)
{
    const struct {
        std::int64_t from, to;
        int most;
        std::vector<std::string> labels;
    } rows[] = {
        // An hour from 08:07 local: ticks every 10 minutes.
        {kMidnight + 7 * 60'000, kMidnight + 67 * 60'000, 8, {"08:10", "08:20", "08:30", "08:40", "08:50", "09:00"}},
        // A day across local midnight: the midnight shows its date.
        {kMidnight + 10 * kHour, kMidnight + 34 * kHour, 5, {"18:00", "12-11", "06:00", "12:00", "18:00"}},
        // A week at most 4 ticks: every other local midnight, counted from a Monday.
        {kMidnight - 8 * kHour, kMidnight + (7 * 24 - 8) * kHour, 4, {"12-11", "12-13", "12-15", "12-17"}},
        // A year: quarters.
        {1767225600000 - 8 * kHour, 1798761600000 - 8 * kHour, 5, {"2026-01", "2026-04", "2026-07", "2026-10", "2027-01"}},
    };
    for (const auto& row : rows) {
        std::vector<std::string> labels;
        for (const TimeTick& tick : timeTicks(row.from, row.to, row.most, beijing, fromBeijing)) {
            EXPECT_GE(tick.atMs, row.from);
            EXPECT_LE(tick.atMs, row.to);
            labels.push_back(tick.label);
        }
        EXPECT_EQ(labels, row.labels);
    }
}

TEST(TimeAxis, RoundValues)
{
    const struct {
        double low, high;
        int most;
        double step, axisLow, axisHigh;
        int decimals;
    } rows[] = {
        {0.3, 9.7, 6, 2, 0, 10, 0},
        {12.31, 12.37, 5, 0.02, 12.3, 12.38, 2},
        {-5, 5, 6, 5, -5, 5, 0},
        {50, 50, 5, 5, 45, 55, 0},  // flat: an axis around it
        {0, 0, 5, 0.5, -1, 1, 1},
    };
    for (const auto& row : rows) {
        const ValueTicks ticks = valueTicks(row.low, row.high, row.most);
        EXPECT_NEAR(ticks.step, row.step, 1e-12) << row.low << ".." << row.high;
        EXPECT_NEAR(ticks.low, row.axisLow, 1e-9);
        EXPECT_NEAR(ticks.high, row.axisHigh, 1e-9);
        EXPECT_LE(static_cast<int>(ticks.values.size()), row.most);
        EXPECT_EQ(ticks.decimals, row.decimals);
    }
}

TEST(Trend, BucketsSpreadsAndGaps)
{
    // Minutes 0..9 with a silent minute 4 (no row) and minute 7 blank (no
    // spread): a day's worth of buckets keeps each minute, gaps and all.
    std::vector<PeriodRow> rows;
    for (int m = 0; m < 10; ++m) {
        if (m == 4)
            continue;
        PeriodRow row;
        row.instrument = 1;
        row.startMs = kMidnight + m * 60'000;
        if (m != 7)
            row.measured[0] = Spread{static_cast<float>(m), static_cast<float>(m) + 0.5f, static_cast<float>(m) + 1, 6};
        rows.push_back(row);
    }
    auto points = pointsOf(rows, Measured::Flow, kMidnight, kMidnight + 10 * 60'000, 1000);
    ASSERT_EQ(points.size(), 8u);
    EXPECT_EQ(points[3].toMs, kMidnight + 4 * 60'000);
    EXPECT_EQ(points[4].fromMs, kMidnight + 5 * 60'000);  // a gap: minute 4
    EXPECT_EQ(points[6].fromMs, kMidnight + 8 * 60'000);  // a gap: minute 7

    // Two buckets of 5 minutes: each the spread of its rows.
    points = pointsOf(rows, Measured::Flow, kMidnight, kMidnight + 10 * 60'000, 2);
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0].spread, (Spread{0, 2, 4, 24}));  // minutes 0..3
    EXPECT_EQ(points[1].spread.count, 24u);             // 5, 6, 8, 9
    EXPECT_EQ(points[1].spread.min, 5);
    EXPECT_EQ(points[1].spread.max, 10);
    EXPECT_TRUE(pointsOf(rows, Measured::Velocity, kMidnight, kMidnight + 10 * 60'000, 10).empty());

    EXPECT_EQ(periodFor(kMidnight, kMidnight + 24 * kHour, kMidnight + 25 * kHour), Period::Minutes);
    EXPECT_EQ(periodFor(kMidnight, kMidnight + 7 * 24 * kHour, kMidnight + 8 * 24 * kHour), Period::Hours);
    EXPECT_EQ(periodFor(kMidnight, kMidnight + kHour, kMidnight + 100 * 24 * kHour), Period::Hours);  // minutes gone

    const std::vector<Event> events = {
        {EventKind::Alarm, 1, "empty_pipe", 100, 300}, {EventKind::Alarm, 1, "upper_limit", 200, 500},
        {EventKind::Alarm, 2, "empty_pipe", 0, 1000},  {EventKind::Silence, 1, "", 600, 700},
        {EventKind::Alarm, 1, "lower_limit", 800, std::nullopt},
    };
    EXPECT_EQ(alarmSpansOf(events, 1, 900), (std::vector<Span>{{100, 500}, {800, 900}}));
}

}  // namespace
}  // namespace lumo::history
