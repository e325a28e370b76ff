// The recorder fed whatever a line and a clock can do: answers with any
// values (NaN and infinities too) and any quantities fresh, silences, ticks,
// the clock stepping on, jumping years ahead or set back. Every row and
// event it hands over must make sense, and what it hands over is bounded by
// what happened, not by how far the clock jumped.
//
// Input: a sequence of operations, each an operation byte and its bytes.

#include "fuzzinput.h"
#include "recorder.h"

#include <cmath>
#include <cstring>

using lumo::fuzz::check;
using namespace lumo;
using namespace lumo::history;

namespace {

struct Sink : HistorySink {
    void write(Batch batch) override
    {
        for (const PeriodRow& row : batch.minutes)
            checkRow(row, kMinuteMs);
        for (const PeriodRow& row : batch.hours)
            checkRow(row, kHourMs);
        for (const Event& e : batch.closed)
            check(e.toMs && *e.toMs >= e.fromMs, "an event ends before it begins");
        for (const DayRow& day : batch.days)
            check(day.answeredSeconds >= 0 && day.answeredSeconds <= 60.001, "a minute adds more than a minute to its day");
        rows += batch.minutes.size() + batch.hours.size() + batch.days.size() + batch.opened.size() + batch.closed.size();
    }
    static void checkRow(const PeriodRow& row, std::int64_t length)
    {
        check(row.lengthMs == length && ((row.startMs % length) + length) % length == 0, "a row not on a whole period");
        check(row.blankSeconds >= 0 && row.blankSeconds <= length / 1000.0 + 0.001, "more blank seconds than the period has");
        check(row.answers >= 0, "negative answers");
        for (const auto& spread : row.measured) {
            if (!spread)
                continue;
            check(spread->count > 0, "a spread of nothing");
            check(std::isfinite(spread->min) && std::isfinite(spread->mean) && std::isfinite(spread->max),
                  "a spread that is no number");
            check(spread->min <= spread->mean && spread->mean <= spread->max, "a mean outside its least and greatest");
        }
    }
    std::size_t rows = 0;
};

float floatOf(fuzz::InputReader& in)
{
    std::uint8_t raw[4] = {in.byte(), in.byte(), in.byte(), in.byte()};
    float value;
    std::memcpy(&value, raw, sizeof value);
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::InputReader in(data, size);
    Sink sink;
    std::int64_t now = 1796860800000 + in.byte() * 1000;
    Recorder recorder(sink, [&] { return now; }, [](std::int64_t ms) { return std::to_string(ms / 86'400'000); },
                      "lumoscan13");
    recorder.stationStarted();
    std::size_t operations = 0;
    while (!in.empty() && operations < 2000) {
        ++operations;
        const int instrument = 1 + in.byte() % 40;  // 40: one no station polls
        switch (in.byte() % 6) {
        case 0: {
            InstrumentReading reading;
            const std::uint8_t fresh = in.byte();
            for (int slot = 0; slot < kSlots; ++slot)
                reading.fresh[static_cast<std::size_t>(slot)] = fresh & (1u << slot);
            for (int slot = 0; slot < kNumericSlots; ++slot)
                if (in.byte() & 1)
                    reading.quantities[static_cast<std::size_t>(slot)] = Quantity::ofFloat(floatOf(in));
            reading.texts[kSlotForwardTotal] = std::to_string(static_cast<int>(in.byte()) - 100) + ".5";
            if (in.byte() & 1) {
                const std::uint8_t bits = in.byte();
                AlarmFlags flags{};
                for (std::size_t i = 0; i < kAlarmCount; ++i)
                    flags[i] = bits & (1u << i);
                reading.alarms = flags;
            }
            recorder.instrumentAnswered(instrument, reading, true);
            break;
        }
        case 1: recorder.instrumentSilent(instrument); break;
        case 2: now += in.byte() * 250; break;
        case 3: {
            // A jump of the clock: up to about ±68 years.
            std::int32_t seconds = 0;
            for (int i = 0; i < 4; ++i)
                seconds = static_cast<std::int32_t>(static_cast<std::uint32_t>(seconds) << 8 | in.byte());
            now += static_cast<std::int64_t>(seconds) * 1000;
            break;
        }
        case 4: recorder.settingsChanged("发送间隔 200→300"); break;
        default: recorder.tick(); break;
        }
    }
    recorder.stationEnds();
    // Each operation makes at most a minute's and an hour's close of every
    // instrument, however far the clock went.
    check(sink.rows <= (operations + 2) * 40 * 8, "more rows than the operations can make");
    return 0;
}
