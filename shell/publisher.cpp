#include "publisher.h"

#include "jsontext.h"
#include "numbertext.h"
#include "statsjson.h"

#include <charconv>
#include <cmath>

namespace lumo {

namespace {

// The JSON keys of slots 0..6.
constexpr std::array<std::string_view, kNumericSlots> kQuantityKeys = {
    "flow", "velocity", "percent", "resistance", "forward_total", "reverse_total", "pipe_diameter"};

// Everything of the payload but the instrument and the time.
std::string valuesJson(const InstrumentReading& reading)
{
    std::string json;
    for (int slot = 0; slot < kNumericSlots; ++slot) {
        const auto& quantity = reading.quantities[static_cast<std::size_t>(slot)];
        json += jsonString(kQuantityKeys[static_cast<std::size_t>(slot)]) + ':' +
                (quantity ? jsonNumber(*quantity) : "null") + ',';
    }
    json += "\"alarm_text\":" + jsonString(reading.texts[kSlotAlarm]) + ",\"alarms\":";
    if (!reading.alarms)
        return json + "null";
    json += '[';
    bool first = true;
    for (std::size_t i = 0; i < kAlarmCount; ++i) {
        if (!(*reading.alarms)[i])
            continue;
        json += (first ? "" : ",") + jsonString(kAlarms[i].name);
        first = false;
    }
    return json + ']';
}

std::string payloadOf(int instrument, std::int64_t utcMs, const std::string& values)
{
    return "{\"instrument\":" + std::to_string(instrument) + ",\"time\":" + jsonString(utcText(utcMs)) +
           ",\"time_ms\":" + std::to_string(utcMs) + ',' + values + '}';
}

}  // namespace

std::string jsonNumber(const Quantity& quantity)
{
    if (quantity.kind == Quantity::Kind::TenThousandths)
        return decimalText(quantity.tenThousandths, 4);
    if (!std::isfinite(quantity.value))
        return "null";
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, quantity.value);
    return error == std::errc() ? std::string(text, end) : "null";
}

std::string instrumentPayload(int instrument, const InstrumentReading& reading, std::int64_t utcMs)
{
    return payloadOf(instrument, utcMs, valuesJson(reading));
}

Publisher::Publisher(std::string station, std::function<std::int64_t()> utcNowMs)
    : station_(std::move(station)), utcNowMs_(std::move(utcNowMs))
{
}

std::string Publisher::statusTopic() const { return "lumoscan/" + station_ + "/status"; }

std::string Publisher::instrumentTopic(int instrument) const
{
    return "lumoscan/" + station_ + "/instrument/" + std::to_string(instrument);
}

std::string Publisher::stateTopic(int instrument) const { return instrumentTopic(instrument) + "/state"; }

void Publisher::instrumentAnswered(int instrument, const InstrumentReading& reading, bool wholeSet)
{
    Instrument& known = instruments_[instrument];
    if (known.online != true) {
        known.online = true;
        publishState(instrument);
    }
    std::string values = valuesJson(reading);
    if (values != known.publishedValues) {
        known.pendingValues = std::move(values);
        known.pendingAt = utcNowMs_();
    }
    if (wholeSet)
        publishValues(instrument);
}

void Publisher::instrumentSilent(int instrument)
{
    Instrument& known = instruments_[instrument];
    publishValues(instrument);  // what it last said still counts
    if (known.online != false) {
        known.online = false;
        publishState(instrument);
    }
}

void Publisher::pollLeaves(int address)
{
    if (instruments_.count(address))
        publishValues(address);
}

void Publisher::publishStats(const LineStats& stats, std::chrono::steady_clock::time_point now)
{
    const std::int64_t utcMs = utcNowMs_();
    for (int n = 1; n <= kInstruments; ++n) {
        const InstrumentStats& instrument = stats.instrument(n);
        Published& published = stats_[static_cast<std::size_t>(n)];
        if (instrument.changes == published.changes)
            continue;
        published = {instrument.changes, instrumentStatsPayload(n, instrument, utcMs, now)};
        queue({statsTopic(n), published.payload, 0, true});
    }
    if (stats.lineChanges() != stats_[0].changes) {
        stats_[0] = {stats.lineChanges(), linePayload(stats, utcMs)};
        queue({lineTopic(), stats_[0].payload, 0, true});
    }
}

void Publisher::connected()
{
    queue({statusTopic(), "online", 1, true});
    for (std::size_t i = 0; i < stats_.size(); ++i)
        if (!stats_[i].payload.empty())
            queue({i == 0 ? lineTopic() : statsTopic(static_cast<int>(i)), stats_[i].payload, 0, true});
    for (auto& [instrument, known] : instruments_) {
        publishValues(instrument);
        if (!known.payload.empty())
            queue({instrumentTopic(instrument), known.payload, 0, true});
        if (known.online)
            publishState(instrument);
    }
}

MqttMessage Publisher::takeOutgoing()
{
    const std::string topic = order_.front();
    order_.pop_front();
    const auto it = waiting_.find(topic);
    MqttMessage message = std::move(it->second);
    waiting_.erase(it);
    return message;
}

void Publisher::publishValues(int instrument)
{
    Instrument& known = instruments_[instrument];
    if (known.pendingValues.empty())
        return;
    known.payload = payloadOf(instrument, known.pendingAt, known.pendingValues);
    known.publishedValues = std::move(known.pendingValues);
    known.pendingValues.clear();
    queue({instrumentTopic(instrument), known.payload, 0, true});
}

void Publisher::publishState(int instrument)
{
    const Instrument& known = instruments_[instrument];
    queue({stateTopic(instrument), *known.online ? "online" : "offline", 1, true});
}

// Newest per topic wins: a waiting message of the same topic is replaced.
// Past the limit the oldest waiting message goes. Either way it is counted.
void Publisher::queue(MqttMessage message)
{
    if (auto it = waiting_.find(message.topic); it != waiting_.end()) {
        it->second = std::move(message);
        ++dropped_;
    } else {
        if (order_.size() >= kQueueLimit) {
            waiting_.erase(order_.front());
            order_.pop_front();
            ++dropped_;
        }
        order_.push_back(message.topic);
        waiting_.emplace(message.topic, std::move(message));
    }
    if (onOutgoing_)
        onOutgoing_();
}

}  // namespace lumo
