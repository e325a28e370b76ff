#include "statsjson.h"

#include "jsontext.h"

namespace lumo {

namespace {

std::string count(const char* key, std::uint64_t value) { return std::string("\"") + key + "\":" + std::to_string(value); }

}  // namespace

std::string instrumentStatsPayload(int instrument, const InstrumentStats& stats, std::int64_t utcMs,
                                   std::chrono::steady_clock::time_point steadyNow)
{
    std::string json = "{\"instrument\":" + std::to_string(instrument) + ",\"time\":" + jsonString(utcText(utcMs)) +
                       ',' + count("requests", stats.requests) + ',' + count("failed_writes", stats.failedWrites) + ',' +
                       count("answers", stats.answers) + ',' +
                       count("unanswered", stats.unanswered) + ",\"rejected\":{" +
                       count("length", stats.rejectedFor(Rejection::Length)) + ',' +
                       count("check", stats.rejectedFor(Rejection::Check)) + ',' +
                       count("echo", stats.rejectedFor(Rejection::Echo)) + ',' +
                       count("foreign", stats.rejectedFor(Rejection::Foreign)) + "},\"last_answer\":";
    if (stats.lastAnswer) {
        const auto ago = std::chrono::duration_cast<std::chrono::milliseconds>(steadyNow - *stats.lastAnswer);
        json += jsonString(utcText(utcMs - ago.count()));
    } else {
        json += "null";
    }
    json += ",\"answer_ms\":";
    const auto median = stats.answerTimes.median(), max = stats.answerTimes.max();
    if (!median || !max)
        return json + "null}";
    return json + "{\"median\":" + millisecondsText(*median) + ",\"max\":" + millisecondsText(*max) +
           ",\"of\":" + std::to_string(stats.answerTimes.count()) + "}}";
}

std::string linePayload(const LineStats& stats, std::int64_t utcMs)
{
    return "{\"time\":" + jsonString(utcText(utcMs)) + ',' + count("bytes_received", stats.bytesReceived()) + ',' +
           count("bytes_thrown_away", stats.bytesThrownAway()) + '}';
}

}  // namespace lumo
