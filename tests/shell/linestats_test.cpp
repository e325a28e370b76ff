// The line statistics: the answer times kept, and the statistics as the
// plant network gets them.

#include "linestats.h"
#include "statsjson.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using lumo::AnswerTimes;
using lumo::LineStats;
using lumo::Rejection;

TEST(AnswerTimes, MedianAndMaxOfTheLastHundred)
{
    AnswerTimes times;
    EXPECT_FALSE(times.median());
    for (int ms : {30, 10, 20})
        times.add(std::chrono::milliseconds(ms));
    EXPECT_EQ(times.median(), 20ms);
    times.add(40ms);
    EXPECT_EQ(times.median(), 20ms);  // the lower middle of an even count
    EXPECT_EQ(times.max(), 40ms);
    // The oldest go: after 100 answers of 5 ms, the 40 ms one is gone.
    for (int i = 0; i < 100; ++i)
        times.add(5ms);
    EXPECT_EQ(times.count(), 100u);
    EXPECT_EQ(times.max(), 5ms);
}

TEST(LineStats, AnswerTimesRunFromTheRequestAndCountOncePerRequest)
{
    LineStats stats;
    const auto t0 = std::chrono::steady_clock::time_point{};
    stats.requestWritten(7, t0);
    stats.answerAccepted(7, t0 + 70ms);
    stats.answerAccepted(7, t0 + 80ms);  // a duplicate: taken, but no time of its own
    stats.requestWritten(0, t0);         // no instrument there
    stats.requestWritten(40, t0);
    stats.rejected(7, Rejection::Check);
    stats.unanswered(7);
    const auto& seven = stats.instrument(7);
    EXPECT_EQ(seven.requests, 1u);
    EXPECT_EQ(seven.answers, 2u);
    EXPECT_EQ(seven.unanswered, 1u);
    EXPECT_EQ(seven.rejectedFor(Rejection::Check), 1u);
    EXPECT_EQ(seven.answerTimes.count(), 1u);
    EXPECT_EQ(seven.answerTimes.median(), 70ms);
    EXPECT_EQ(seven.lastAnswer, t0 + 80ms);
}

// A request the port could not write is a failed write, not a request, and
// the tick that finds it unanswered does not count it: unanswered never
// exceeds requests, whatever the adapter does.
TEST(LineStats, AFailedWriteIsCountedAsSuchAndNeverAsUnanswered)
{
    const auto t0 = std::chrono::steady_clock::time_point{};
    const struct {
        const char* name;
        std::vector<const char*> events;  // w: written, f: failed, a: answered, u: the tick found it unanswered
        std::uint64_t requests, failedWrites, answers, unanswered;
    } cases[] = {
        {"the adapter out", {"f", "u", "f", "u", "f", "u"}, 0, 3, 0, 0},
        {"out, then back", {"w", "a", "f", "u", "w", "u", "w", "a"}, 3, 1, 2, 1},
        {"a written request unanswered", {"w", "u", "w", "u"}, 2, 0, 0, 2},
        {"failed, then written and unanswered", {"f", "w", "u"}, 1, 1, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LineStats stats;
        for (const std::string event : c.events) {
            if (event == "w")
                stats.requestWritten(5, t0);
            else if (event == "f")
                stats.requestFailed(5);
            else if (event == "a")
                stats.answerAccepted(5, t0 + 10ms);
            else
                stats.unanswered(5);
            EXPECT_LE(stats.instrument(5).unanswered, stats.instrument(5).requests);
        }
        const auto& five = stats.instrument(5);
        EXPECT_EQ(five.requests, c.requests);
        EXPECT_EQ(five.failedWrites, c.failedWrites);
        EXPECT_EQ(five.answers, c.answers);
        EXPECT_EQ(five.unanswered, c.unanswered);
    }
}

TEST(StatsJson, InstrumentAndLinePayloads)
{
    LineStats stats;
    const auto t0 = std::chrono::steady_clock::time_point{} + 1h;
    stats.requestWritten(3, t0);
    stats.answerAccepted(3, t0 + 71400us);
    stats.rejected(3, Rejection::Foreign);
    stats.received(57);
    stats.thrownAway(5);
    const std::int64_t noon = 1796817600000;  // 2026-12-09T12:00:00.000Z
    EXPECT_EQ(lumo::instrumentStatsPayload(3, stats.instrument(3), noon, t0 + 1071400us),
              "{\"instrument\":3,\"time\":\"2026-12-09T12:00:00.000Z\",\"requests\":1,\"failed_writes\":0,\"answers\":1,"
              "\"unanswered\":0,"
              "\"rejected\":{\"length\":0,\"check\":0,\"echo\":0,\"foreign\":1},"
              "\"last_answer\":\"2026-12-09T11:59:59.000Z\",\"answer_ms\":{\"median\":71.4,\"max\":71.4,\"of\":1}}");
    EXPECT_EQ(lumo::instrumentStatsPayload(4, stats.instrument(4), noon, t0),
              "{\"instrument\":4,\"time\":\"2026-12-09T12:00:00.000Z\",\"requests\":0,\"failed_writes\":0,\"answers\":0,"
              "\"unanswered\":0,"
              "\"rejected\":{\"length\":0,\"check\":0,\"echo\":0,\"foreign\":0},\"last_answer\":null,\"answer_ms\":null}");
    EXPECT_EQ(lumo::linePayload(stats, noon),
              "{\"time\":\"2026-12-09T12:00:00.000Z\",\"bytes_received\":57,\"bytes_thrown_away\":5}");
}

}  // namespace
