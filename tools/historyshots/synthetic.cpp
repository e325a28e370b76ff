#include "synthetic.h"

#include "alarmtext.h"

#include <cmath>
#include <cstdio>
#include <map>

namespace lumo::history {

namespace {

constexpr double kPi = 3.14159265358979323846;

// An instrument's flow in m³/h at a moment: its own level, swinging over
// the day, with a ripple of a few minutes.
double flowAt(int instrument, std::int64_t ms)
{
    const double t = static_cast<double>(ms) / 1000.0;
    const double level = 5.0 + instrument * 1.5;
    return level * (1.0 + 0.3 * std::sin(2 * kPi * t / 86400.0 + instrument)) + 0.4 * std::sin(2 * kPi * t / 420.0);
}

// Totals kept in ten-thousandths of m³, shown with four decimals.
std::string totalText(std::int64_t tenThousandths)
{
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%04lld", static_cast<long long>(tenThousandths / 10000),
                  static_cast<long long>(tenThousandths % 10000));
    return text;
}

bool within(const std::vector<SyntheticPlan::Window>& windows, int instrument, std::int64_t ms, std::string* alarm = nullptr)
{
    for (const auto& w : windows)
        if (w.instrument == instrument && ms >= w.fromMs && ms < w.toMs) {
            if (alarm)
                *alarm = w.alarm;
            return true;
        }
    return false;
}

AlarmBits bitOf(const std::string& name)
{
    for (std::size_t i = 0; i < kAlarmCount; ++i)
        if (kAlarms[i].name == name)
            return static_cast<AlarmBits>(1u << i);
    return 0;
}

// One instrument's minute: the spreads around the flow of its middle.
PeriodRow minuteRow(int instrument, std::int64_t startMs, std::int64_t total)
{
    PeriodRow row;
    row.instrument = instrument;
    row.startMs = startMs;
    const auto flow = static_cast<float>(flowAt(instrument, startMs + 30'000));
    const float swing = 0.02f * flow;
    const float values[kMeasured] = {flow, flow / 8.0f, flow * 2.0f, 3.0f + 0.1f * static_cast<float>(instrument)};
    for (int i = 0; i < kMeasured; ++i) {
        const float v = values[i];
        const float spread = i == 3 ? 0.01f : swing * (v / flow);
        row.measured[static_cast<std::size_t>(i)] = Spread{v - spread, v, v + spread, 12};
    }
    row.forwardTotal = totalText(total);
    row.reverseTotal = "0.0000";
    row.pipeDiameter = 100;
    row.answers = 12;
    return row;
}

// Ten-thousandths of m³ in a minute at this flow.
std::int64_t minuteVolume(int instrument, std::int64_t startMs)
{
    return std::llround(flowAt(instrument, startMs + 30'000) / 60.0 * 10000.0);
}

}  // namespace

Batch syntheticMinute(const std::vector<int>& instruments, std::int64_t startMs, const DayOf& dayOf)
{
    Batch batch;
    for (const int n : instruments) {
        const std::int64_t total = 1'000'000'000LL * n + startMs / 60'000 * 100;
        batch.minutes.push_back(minuteRow(n, startMs, total));
        DayRow day;
        day.instrument = n;
        day.day = dayOf(startMs);
        day.firstForward = day.lastForward = batch.minutes.back().forwardTotal;
        day.firstReverse = day.lastReverse = "0.0000";
        day.firstAnswerMs = startMs + 1000;
        day.lastAnswerMs = startMs + 59'000;
        day.answeredSeconds = 60;
        batch.days.push_back(day);
    }
    return batch;
}

std::optional<FileFault> writeSynthetic(HistoryFile& file, const SyntheticPlan& plan, const DayOf& dayOf,
                                        const std::function<void(const std::string&)>& progress)
{
    std::map<int, std::int64_t> totals;
    for (const int n : plan.instruments)
        totals[n] = 12'345'6789LL * n;
    std::map<int, PeriodRow> hours;   // the hour under way, by instrument
    std::map<int, DayRow> days;       // the day under way
    std::map<int, std::int64_t> silentSince, alarmSince;
    Batch batch;
    std::string batchDay = dayOf(plan.fromMs);
    const auto flushHours = [&] {
        for (auto& [n, row] : hours)
            if (row.answers > 0 || row.blankSeconds > 0)
                batch.hours.push_back(row);
        hours.clear();
    };
    const auto flushBatch = [&]() -> std::optional<FileFault> {
        for (auto& [n, day] : days)
            if (day.firstAnswerMs != 0)
                batch.days.push_back(day);
        days.clear();
        if (auto fault = file.write(batch))
            return fault;
        if (progress)
            progress(batchDay);
        batch = Batch{};
        return std::nullopt;
    };
    for (std::int64_t t = plan.fromMs; t < plan.toMs; t += kMinuteMs) {
        const std::string today = dayOf(t);
        if (today != batchDay) {
            if (auto fault = flushBatch())
                return fault;
            batchDay = today;
        }
        if (t % kHourMs == 0)
            flushHours();
        for (const int n : plan.instruments) {
            std::string alarm;
            const bool silent = within(plan.silences, n, t);
            const bool alarmed = within(plan.alarms, n, t, &alarm);
            // Events: a silence or an alarm opens on its first minute and
            // closes on the first minute after it.
            if (silent && !silentSince.count(n))
                silentSince[n] = t;
            if (!silent && silentSince.count(n)) {
                batch.opened.push_back({EventKind::Silence, n, "", silentSince[n], t});
                silentSince.erase(n);
            }
            if (alarmed && !alarmSince.count(n)) {
                alarmSince[n] = t;
                for (const auto& w : plan.alarms)
                    if (w.instrument == n && t >= w.fromMs && t < w.toMs)
                        batch.opened.push_back({EventKind::Alarm, n, w.alarm, w.fromMs, w.toMs});
            }
            if (!alarmed)
                alarmSince.erase(n);
            PeriodRow& hour = hours[n];
            if (hour.answers == 0 && hour.blankSeconds == 0) {
                hour = PeriodRow{};
                hour.instrument = n;
                hour.startMs = t - t % kHourMs;
                hour.lengthMs = kHourMs;
            }
            if (silent) {
                hour.blankSeconds += 60;
                if (t >= plan.minutesFromMs) {
                    PeriodRow blank;
                    blank.instrument = n;
                    blank.startMs = t;
                    blank.blankSeconds = 60;
                    batch.minutes.push_back(blank);
                }
                continue;
            }
            for (const auto& reset : plan.resets)
                if (reset.instrument == n && reset.atMs >= t && reset.atMs < t + kMinuteMs)
                    totals[n] = 0;
            totals[n] += minuteVolume(n, t);
            PeriodRow row = minuteRow(n, t, totals[n]);
            if (alarmed)
                row.alarms = bitOf(alarm);
            PeriodRow asHour = row;
            asHour.startMs = hour.startMs;
            asHour.lengthMs = kHourMs;
            hour = mergedPeriod(hour, asHour);
            if (t >= plan.minutesFromMs)
                batch.minutes.push_back(row);
            DayRow& day = days[n];
            DayRow part;
            part.instrument = n;
            part.day = today;
            part.firstForward = part.lastForward = row.forwardTotal;
            part.firstReverse = part.lastReverse = row.reverseTotal;
            part.firstAnswerMs = t + 1000;
            part.lastAnswerMs = t + 59'000;
            part.answeredSeconds = 60;
            part.alarms = row.alarms;
            day = day.firstAnswerMs == 0 ? part : mergedDay(day, part);
        }
    }
    flushHours();
    for (const auto& [n, since] : silentSince)
        batch.opened.push_back({EventKind::Silence, n, "", since, plan.toMs});
    return flushBatch();
}

}  // namespace lumo::history
