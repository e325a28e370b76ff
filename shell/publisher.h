#pragma once
// What a station tells the plant network, as MQTT topics and payloads, and
// the bounded queue of messages waiting for the broker. Plain C++: the
// client in platform/ takes messages from here and hands them on.
//
//   lumoscan/<station>/status                 "online" / "offline" (will), retained, QoS 1
//   lumoscan/<station>/instrument/<N>         JSON of the eight quantities, retained
//   lumoscan/<station>/instrument/<N>/state   "online" / "offline", retained, QoS 1
//   lumoscan/<station>/instrument/<N>/stats   JSON of the line statistics, retained (statsjson.h)
//   lumoscan/<station>/line                   JSON of the line's bytes, retained
//
// An instrument's values are published when they change: at once when an
// answer carried all of them (Modbus), else when the poll leaves the
// instrument (the block protocol answers one quantity per request), so a
// sweep gives at most one message per instrument.

#include "jsontext.h"
#include "linestats.h"
#include "reading.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace lumo {

struct MqttMessage {
    std::string topic;
    std::string payload;
    int qos = 0;
    bool retain = true;
};

// The JSON of an instrument's values: instrument, time (UTC, ms), the seven
// quantities as numbers (null before first received), the alarm text as
// shown and the raised alarms by name.
std::string instrumentPayload(int instrument, const InstrumentReading& reading, std::int64_t utcMs);

// A JSON number of a quantity: the shortest text that reads back as the
// float, the exact decimals of a total; null for infinities and NaN.
std::string jsonNumber(const Quantity& quantity);

class Publisher : public InstrumentListener {
public:
    // Messages superseded or pushed out of the queue are counted, not kept.
    static constexpr std::size_t kQueueLimit = 256;

    Publisher(std::string station, std::function<std::int64_t()> utcNowMs);

    const std::string& station() const { return station_; }
    std::string statusTopic() const;
    std::string instrumentTopic(int instrument) const;
    std::string stateTopic(int instrument) const;

    std::string statsTopic(int instrument) const { return instrumentTopic(instrument) + "/stats"; }
    std::string lineTopic() const { return "lumoscan/" + station_ + "/line"; }

    void instrumentAnswered(int instrument, const InstrumentReading& reading, bool wholeSet) override;
    void instrumentSilent(int instrument) override;
    void pollLeaves(int address) override;

    // The statistics of every instrument polled, and of the line, that
    // changed since they were last published. The caller calls it at most
    // once every 10 s.
    void publishStats(const LineStats& stats, std::chrono::steady_clock::time_point now);

    // The client got through to the broker: "online", and the whole
    // current picture again, since a broker that restarted may have lost it.
    void connected();

    bool hasOutgoing() const { return !order_.empty(); }
    MqttMessage takeOutgoing();
    std::size_t dropped() const { return dropped_; }
    // Called when a message is queued (the client then sends when it can).
    void setOnOutgoing(std::function<void()> call) { onOutgoing_ = std::move(call); }

private:
    struct Instrument {
        std::string publishedValues;  // of the last payload queued, without its time
        std::string payload;          // the last payload queued, whole
        std::string pendingValues;    // newer values waiting for the poll to move on
        std::int64_t pendingAt = 0;   // when they were shown
        std::optional<bool> online;   // nothing until first answered or blanked
    };

    void queue(MqttMessage message);
    void publishValues(int instrument);
    void publishState(int instrument);

    std::string station_;
    std::function<std::int64_t()> utcNowMs_;
    std::map<int, Instrument> instruments_;
    // Statistics last published: the change count each stood at, and the
    // payload, sent again after a reconnection. Index 0 is the line.
    struct Published {
        std::uint64_t changes = 0;
        std::string payload;
    };
    std::array<Published, kInstruments + 1> stats_{};
    // Waiting messages by topic, in the order they were first queued.
    std::map<std::string, MqttMessage> waiting_;
    std::deque<std::string> order_;
    std::size_t dropped_ = 0;
    std::function<void()> onOutgoing_;
};

}  // namespace lumo
