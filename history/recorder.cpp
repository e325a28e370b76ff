#include "recorder.h"

#include "decimal.h"

#include <algorithm>
#include <cmath>

namespace lumo::history {

namespace {

// An event's end: never before its start, even when the clock was set back
// in between.
std::int64_t endOf(std::int64_t fromMs, std::int64_t nowMs) { return std::max(fromMs, nowMs); }

}  // namespace

// A value that is no number (NaN, an infinity: what a garbled float
// register may carry) is no measurement: it makes no spread.
void Recorder::Samples::add(float value)
{
    if (!std::isfinite(value))
        return;
    min = count == 0 ? value : std::min(min, value);
    max = count == 0 ? value : std::max(max, value);
    sum += value;
    ++count;
}

std::optional<Spread> Recorder::Samples::spread() const
{
    if (count == 0)
        return std::nullopt;
    return Spread{min, static_cast<float>(sum / count), max, static_cast<std::uint32_t>(count)};
}

PeriodRow Recorder::Gathering::row(int instrument, std::int64_t startMs, std::int64_t lengthMs) const
{
    PeriodRow row;
    row.instrument = instrument;
    row.startMs = startMs;
    row.lengthMs = lengthMs;
    for (int i = 0; i < kMeasured; ++i)
        row.measured[static_cast<std::size_t>(i)] = measured[static_cast<std::size_t>(i)].spread();
    row.forwardTotal = forward;
    row.reverseTotal = reverse;
    row.pipeDiameter = diameter;
    row.alarms = alarms;
    row.answers = answers;
    // Never more than the period: a clock set back may count a stretch twice.
    row.blankSeconds = static_cast<double>(std::min(blankMs, lengthMs)) / 1000.0;
    return row;
}

Recorder::Recorder(HistorySink& sink, std::function<std::int64_t()> utcNowMs, DayOf dayOf, std::string program)
    : sink_(sink), utcNowMs_(std::move(utcNowMs)), dayOf_(std::move(dayOf)), program_(std::move(program))
{
}

void Recorder::stationStarted()
{
    const std::int64_t now = utcNowMs_();
    running_ = true;
    startedMs_ = now;
    minuteStart_ = now - now % kMinuteMs;
    hourStart_ = now - now % kHourMs;
    minuteDay_ = dayOf_(minuteStart_);
    pending_.opened.push_back({EventKind::StationRun, 0, program_, now, std::nullopt});
    flush();
}

void Recorder::stationEnds()
{
    if (!running_)
        return;
    const std::int64_t now = utcNowMs_();
    advanceTo(now);
    for (auto& [number, instrument] : instruments_) {
        countBlankUntil(number, instrument, now);
        if (instrument.blankSince)
            pending_.closed.push_back({EventKind::Silence, number, "", *instrument.blankSince, endOf(*instrument.blankSince, now)});
        for (std::size_t i = 0; i < kAlarmCount; ++i)
            if (const auto since = instrument.alarmSince[i])
                pending_.closed.push_back({EventKind::Alarm, number, std::string(kAlarms[i].name), *since, endOf(*since, now)});
        if (instrument.minute.seen) {
            pending_.minutes.push_back(instrument.minute.row(number, minuteStart_, kMinuteMs));
            dayOfMinute(number, instrument, now);
        }
        if (instrument.hour.seen)
            pending_.hours.push_back(instrument.hour.row(number, hourStart_, kHourMs));
    }
    instruments_.clear();
    pending_.closed.push_back({EventKind::StationRun, 0, program_, startedMs_, endOf(startedMs_, now)});
    running_ = false;
    flush();
}

void Recorder::settingsChanged(const std::string& detail)
{
    const std::int64_t now = utcNowMs_();
    pending_.opened.push_back({EventKind::SettingsChange, 0, detail, now, now});
    flush();
}

void Recorder::tick()
{
    if (running_)
        advanceTo(utcNowMs_());
}

void Recorder::advanceTo(std::int64_t nowMs)
{
    const bool setBack = nowMs < minuteStart_ - kMinuteMs;
    if (nowMs >= minuteStart_ + kMinuteMs || setBack)
        closeMinute(minuteStart_ + kMinuteMs);
    // Still not the minute under way: the clock jumped (set right after a
    // machine started with a wrong one, or set back), or the station stood
    // still for minutes. Nothing is made up for the time between: the
    // history goes on from now, as after a stop and a start.
    if (nowMs >= minuteStart_ + kMinuteMs || setBack)
        restartAt(nowMs);
}

void Recorder::restartAt(std::int64_t nowMs)
{
    const std::int64_t minute = nowMs - nowMs % kMinuteMs, hour = nowMs - nowMs % kHourMs;
    for (auto& [number, instrument] : instruments_) {
        if (hour != hourStart_) {
            if (instrument.hour.seen)
                pending_.hours.push_back(instrument.hour.row(number, hourStart_, kHourMs));
            instrument.hour = Gathering{};
            instrument.hour.seen = instrument.blankSince.has_value();
        }
        instrument.minute = Gathering{};
        instrument.minute.seen = instrument.blankSince.has_value();
        instrument.day = DayRow{};
    }
    minuteStart_ = minute;
    hourStart_ = hour;
    minuteDay_ = dayOf_(minuteStart_);
    flush();
}

void Recorder::closeMinute(std::int64_t endMs)
{
    for (auto& [number, instrument] : instruments_) {
        countBlankUntil(number, instrument, endMs);
        if (instrument.minute.seen) {
            pending_.minutes.push_back(instrument.minute.row(number, minuteStart_, kMinuteMs));
            dayOfMinute(number, instrument, endMs);
        }
        instrument.minute = Gathering{};
        instrument.minute.seen = instrument.blankSince.has_value();
    }
    minuteStart_ = endMs;
    minuteDay_ = dayOf_(minuteStart_);
    if (endMs % kHourMs == 0) {
        for (auto& [number, instrument] : instruments_) {
            if (instrument.hour.seen)
                pending_.hours.push_back(instrument.hour.row(number, hourStart_, kHourMs));
            instrument.hour = Gathering{};
            instrument.hour.seen = instrument.blankSince.has_value();
        }
        hourStart_ = endMs;
    }
    flush();
}

// The blank time of the minute and hour under way, up to `untilMs`: a
// minute's close counts it to its end, and the next minute counts from its
// own start.
void Recorder::countBlankUntil(int, Instrument& instrument, std::int64_t untilMs)
{
    if (!instrument.blankSince)
        return;
    const std::int64_t from = std::max(*instrument.blankSince, minuteStart_);
    if (untilMs <= from)
        return;
    instrument.minute.blankMs += untilMs - from;
    instrument.hour.blankMs += untilMs - from;
}

// What the minute under way, up to `endMs`, adds to its local day: the
// store adds it to what the day has so far.
void Recorder::dayOfMinute(int number, Instrument& instrument, std::int64_t endMs)
{
    DayRow& day = instrument.day;
    day.instrument = number;
    day.day = minuteDay_;
    const std::int64_t covered = endMs - std::max(minuteStart_, startedMs_);
    day.answeredSeconds =
        static_cast<double>(std::max<std::int64_t>(0, covered - instrument.minute.blankMs)) / 1000.0;
    pending_.days.push_back(day);
    day = DayRow{};
}

Recorder::Instrument& Recorder::instrument(int number, std::int64_t) { return instruments_[number]; }

void Recorder::instrumentAnswered(int number, const InstrumentReading& reading, bool)
{
    if (!running_)
        return;
    const std::int64_t now = utcNowMs_();
    advanceTo(now);
    recordAnswer(number, instrument(number, now), reading, now);
}

void Recorder::instrumentSilent(int number)
{
    if (!running_)
        return;
    const std::int64_t now = utcNowMs_();
    advanceTo(now);
    Instrument& silent = instrument(number, now);
    silent.minute.seen = silent.hour.seen = true;
    if (silent.blankSince)
        return;
    silent.blankSince = now;
    pending_.opened.push_back({EventKind::Silence, number, "", now, std::nullopt});
}

void Recorder::recordAnswer(int number, Instrument& instrument, const InstrumentReading& reading, std::int64_t nowMs)
{
    countBlankUntil(number, instrument, nowMs);
    if (instrument.blankSince) {
        pending_.closed.push_back({EventKind::Silence, number, "", *instrument.blankSince, endOf(*instrument.blankSince, nowMs)});
        instrument.blankSince.reset();
    }
    for (Gathering* period : {&instrument.minute, &instrument.hour}) {
        period->seen = true;
        ++period->answers;
        for (int slot = 0; slot < kMeasured; ++slot) {
            const auto& quantity = reading.quantities[static_cast<std::size_t>(slot)];
            if (reading.fresh[static_cast<std::size_t>(slot)] && quantity && quantity->kind == Quantity::Kind::Float)
                period->measured[static_cast<std::size_t>(slot)].add(quantity->value);
        }
        if (reading.fresh[kSlotForwardTotal] && !reading.texts[kSlotForwardTotal].empty())
            period->forward = reading.texts[kSlotForwardTotal];
        if (reading.fresh[kSlotReverseTotal] && !reading.texts[kSlotReverseTotal].empty())
            period->reverse = reading.texts[kSlotReverseTotal];
        const auto& diameter = reading.quantities[kSlotPipeDiameter];
        if (reading.fresh[kSlotPipeDiameter] && diameter && diameter->kind == Quantity::Kind::Float)
            period->diameter = diameter->value;
        if (reading.fresh[kSlotAlarm] && reading.alarms)
            period->alarms |= bitsOf(*reading.alarms);
    }
    // A total is compared with the one before it on the same day only: a
    // drop overnight leaves both days' volumes as they are.
    if (instrument.totalsDay != minuteDay_) {
        instrument.totalsDay = minuteDay_;
        instrument.lastForward.reset();
        instrument.lastReverse.reset();
    }
    DayRow& day = instrument.day;
    if (day.firstAnswerMs == 0)
        day.firstAnswerMs = nowMs;
    day.lastAnswerMs = nowMs;
    if (reading.fresh[kSlotForwardTotal] && !reading.texts[kSlotForwardTotal].empty()) {
        const std::string& shown = reading.texts[kSlotForwardTotal];
        if (!day.firstForward)
            day.firstForward = shown;
        day.lastForward = shown;
        noteTotal(instrument.lastForward, day.forwardDrop, shown, nowMs);
    }
    if (reading.fresh[kSlotReverseTotal] && !reading.texts[kSlotReverseTotal].empty()) {
        const std::string& shown = reading.texts[kSlotReverseTotal];
        if (!day.firstReverse)
            day.firstReverse = shown;
        day.lastReverse = shown;
        noteTotal(instrument.lastReverse, day.reverseDrop, shown, nowMs);
    }
    if (reading.fresh[kSlotAlarm] && reading.alarms) {
        day.alarms |= bitsOf(*reading.alarms);
        noteAlarms(number, instrument, *reading.alarms, nowMs);
    }
}

// A total lower than the one before it: the first such drop of the day is
// kept, so the day's volume is not taken as a difference.
void Recorder::noteTotal(std::optional<std::string>& last, std::optional<TotalDrop>& drop, const std::string& shown,
                         std::int64_t nowMs)
{
    if (last && !drop) {
        const auto before = Decimal::of(*last), now = Decimal::of(shown);
        if (before && now && *now < *before)
            drop = TotalDrop{*last, shown, nowMs};
    }
    last = shown;
}

void Recorder::noteAlarms(int number, Instrument& instrument, const AlarmFlags& flags, std::int64_t nowMs)
{
    for (std::size_t i = 0; i < kAlarmCount; ++i) {
        std::optional<std::int64_t>& since = instrument.alarmSince[i];
        const std::string name(kAlarms[i].name);
        if (flags[i] && !since) {
            since = nowMs;
            pending_.opened.push_back({EventKind::Alarm, number, name, nowMs, std::nullopt});
        } else if (!flags[i] && since) {
            pending_.closed.push_back({EventKind::Alarm, number, name, *since, endOf(*since, nowMs)});
            since.reset();
        }
    }
}

void Recorder::flush()
{
    if (pending_.empty())
        return;
    sink_.write(std::move(pending_));
    pending_ = Batch{};
}

}  // namespace lumo::history
