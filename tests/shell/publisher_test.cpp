// What a station publishes: topics, payloads, when, and the bounded queue.

#include "publisher.h"
#include "publishsettings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace lumo {
namespace {

// The worked example of the register answer, as the Modbus decoder reads it.
InstrumentReading workedExample()
{
    InstrumentReading reading;
    reading.texts = {"12.5", "1.25", "50", "3.3", "1234.5678", "0", "100", "通讯正常,空管报警"};
    const float floats[] = {12.5f, 1.25f, 50.0f, 3.3f};
    for (int slot = 0; slot < 4; ++slot)
        reading.quantities[slot] = Quantity::ofFloat(floats[slot]);
    reading.quantities[kSlotForwardTotal] = Quantity::ofTenThousandths(12345678);
    reading.quantities[kSlotReverseTotal] = Quantity::ofTenThousandths(0);
    reading.quantities[kSlotPipeDiameter] = Quantity::ofFloat(100.0f);
    reading.alarms = AlarmFlags{false, false, true, false, false};
    return reading;
}

TEST(Publishing, PayloadCarriesTheDecodedValuesAsNumbers)
{
    EXPECT_EQ(instrumentPayload(1, workedExample(), 1796794812345),
              "{\"instrument\":1,\"time\":\"2026-12-09T05:40:12.345Z\",\"time_ms\":1796794812345,"
              "\"flow\":12.5,\"velocity\":1.25,\"percent\":50,\"resistance\":3.3,\"forward_total\":1234.5678,"
              "\"reverse_total\":0,\"pipe_diameter\":100,\"alarm_text\":\"通讯正常,空管报警\",\"alarms\":[\"empty_pipe\"]}");
    // Before the first block of a quantity arrived it is null.
    InstrumentReading early;
    early.quantities[kSlotFlow] = Quantity::ofFloat(-0.5f);
    EXPECT_EQ(instrumentPayload(14, early, 0),
              "{\"instrument\":14,\"time\":\"1970-01-01T00:00:00.000Z\",\"time_ms\":0,\"flow\":-0.5,"
              "\"velocity\":null,\"percent\":null,\"resistance\":null,\"forward_total\":null,"
              "\"reverse_total\":null,\"pipe_diameter\":null,\"alarm_text\":\"\",\"alarms\":null}");
}

TEST(Publishing, NumbersTextsAndTimes)
{
    const std::pair<Quantity, const char*> numbers[] = {
        {Quantity::ofFloat(3.3f), "3.3"},          {Quantity::ofFloat(1e-5f), "1e-05"},
        {Quantity::ofFloat(12345678.0f), "12345678"}, {Quantity::ofFloat(std::nanf("")), "null"},
        {Quantity::ofFloat(-INFINITY), "null"},      {Quantity::ofTenThousandths(-2500), "-0.25"},
        {Quantity::ofTenThousandths(42949672955000), "4294967295.5"}};
    for (const auto& [quantity, text] : numbers)
        EXPECT_EQ(jsonNumber(quantity), text);
    EXPECT_EQ(jsonString("a\"b\\c\n"), "\"a\\\"b\\\\c\\u000a\"");
    EXPECT_EQ(utcText(951868799999), "2000-02-29T23:59:59.999Z");
}

struct Bench {
    std::int64_t now = 1000;
    Publisher publisher{"line2", [this] { return now; }};

    std::vector<MqttMessage> sent()
    {
        std::vector<MqttMessage> messages;
        while (publisher.hasOutgoing())
            messages.push_back(publisher.takeOutgoing());
        return messages;
    }
};

TEST(Publishing, AWholeAnswerGoesAtOnceAndOnlyWhenItChanged)
{
    Bench b;
    b.publisher.instrumentAnswered(3, workedExample(), true);
    const auto first = b.sent();
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].topic, "lumoscan/line2/instrument/3/state");
    EXPECT_EQ(first[0].payload, "online");
    EXPECT_EQ(first[0].qos, 1);
    EXPECT_EQ(first[1].topic, "lumoscan/line2/instrument/3");
    EXPECT_TRUE(first[1].retain);
    b.now += 200;
    b.publisher.instrumentAnswered(3, workedExample(), true);
    EXPECT_TRUE(b.sent().empty()) << "the same values again";
    InstrumentReading changed = workedExample();
    changed.quantities[kSlotFlow] = Quantity::ofFloat(13.0f);
    b.publisher.instrumentAnswered(3, changed, true);
    EXPECT_EQ(b.sent().size(), 1u);
}

// The block protocol answers one quantity per request: eight answers, one
// message, when the poll moves on.
TEST(Publishing, BlocksOfOneSweepGiveOneMessage)
{
    Bench b;
    InstrumentReading reading;
    for (int block = 0; block < 8; ++block) {
        if (block < kNumericSlots)
            reading.quantities[static_cast<std::size_t>(block)] = Quantity::ofFloat(static_cast<float>(block));
        b.publisher.instrumentAnswered(5, reading, false);
    }
    const auto beforeLeaving = b.sent();
    ASSERT_EQ(beforeLeaving.size(), 1u);
    EXPECT_EQ(beforeLeaving[0].payload, "online");
    b.publisher.pollLeaves(5);
    const auto afterLeaving = b.sent();
    ASSERT_EQ(afterLeaving.size(), 1u);
    EXPECT_NE(afterLeaving[0].payload.find("\"pipe_diameter\":6"), std::string::npos) << afterLeaving[0].payload;
    b.publisher.pollLeaves(5);
    EXPECT_TRUE(b.sent().empty());
}

TEST(Publishing, SilenceGoesOfflineOnceAndAReconnectRepeatsThePicture)
{
    Bench b;
    b.publisher.instrumentAnswered(7, workedExample(), true);
    b.sent();
    b.publisher.instrumentSilent(7);
    b.publisher.instrumentSilent(7);
    const auto offline = b.sent();
    ASSERT_EQ(offline.size(), 1u);
    EXPECT_EQ(offline[0].topic, "lumoscan/line2/instrument/7/state");
    EXPECT_EQ(offline[0].payload, "offline");
    b.publisher.connected();
    const auto picture = b.sent();
    ASSERT_EQ(picture.size(), 3u);
    EXPECT_EQ(picture[0].topic, "lumoscan/line2/status");
    EXPECT_EQ(picture[0].payload, "online");
    EXPECT_EQ(picture[1].topic, "lumoscan/line2/instrument/7");
    EXPECT_EQ(picture[2].payload, "offline");
}

// Statistics go out for what changed since they last went, and again after
// a reconnection.
TEST(Publishing, StatisticsOnlyWhenChangedAndAgainAfterAReconnection)
{
    Bench b;
    LineStats stats;
    const auto now = std::chrono::steady_clock::time_point{};
    stats.requestWritten(4, now);
    stats.received(10);
    b.publisher.publishStats(stats, now);
    auto first = b.sent();
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].topic, "lumoscan/line2/instrument/4/stats");
    EXPECT_TRUE(first[0].retain);
    EXPECT_EQ(first[1].topic, "lumoscan/line2/line");
    b.publisher.publishStats(stats, now);
    EXPECT_TRUE(b.sent().empty());
    stats.unanswered(4);
    b.publisher.publishStats(stats, now);
    const auto changed = b.sent();
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_NE(changed[0].payload.find("\"unanswered\":1"), std::string::npos);
    b.publisher.connected();
    const auto picture = b.sent();
    ASSERT_EQ(picture.size(), 3u);
    EXPECT_EQ(picture[1].topic, "lumoscan/line2/line");
    EXPECT_EQ(picture[2].payload, changed[0].payload);
}

// While the broker is away the newest value of each topic waits; what it
// replaces, or what the limit pushes out, is counted.
TEST(Publishing, TheQueueKeepsTheNewestPerTopicAndIsBounded)
{
    Bench b;
    InstrumentReading reading = workedExample();
    for (int i = 0; i < 10; ++i) {
        reading.quantities[kSlotFlow] = Quantity::ofFloat(static_cast<float>(i));
        b.publisher.instrumentAnswered(1, reading, true);
    }
    EXPECT_EQ(b.publisher.dropped(), 9u);
    const auto waiting = b.sent();
    ASSERT_EQ(waiting.size(), 2u);
    EXPECT_NE(waiting[1].payload.find("\"flow\":9,"), std::string::npos);
    for (std::size_t i = 0; i < Publisher::kQueueLimit + 5; ++i)
        b.publisher.instrumentSilent(static_cast<int>(i + 100));
    EXPECT_EQ(b.sent().size(), Publisher::kQueueLimit);
    EXPECT_EQ(b.publisher.dropped(), 9u + 5u);
}

TEST(PublishSettings, RowsOfTheTable)
{
    const auto row = [](const char* enabled, const char* host, const char* port, const char* station,
                        const char* user = nullptr, const char* password = nullptr, const char* ca = nullptr) {
        const auto field = [](const char* text) { return text ? std::optional<std::string>(text) : std::nullopt; };
        return PublishRow{field(enabled), field(host), field(port), field(station), field(user), field(password),
                          field(ca)};
    };
    const struct {
        PublishRow row;
        const char* failure;  // nullptr: taken
        bool on;
        int port;
    } cases[] = {
        {row("1", "broker.plant", nullptr, "line2"), nullptr, true, 1883},
        {row(nullptr, " 10.0.0.5 ", "1884", "line-2.a"), nullptr, true, 1884},
        {row("1", "broker", nullptr, "l2", nullptr, nullptr, "/etc/ca.pem"), nullptr, true, 8883},
        {row("0", nullptr, nullptr, nullptr), nullptr, false, 0},
        {row("yes", "b", nullptr, "l2"), "enabled is \"yes\"", false, 0},
        {row("1", "", nullptr, "l2"), "host \"\"", false, 0},
        {row("1", "a b", nullptr, "l2"), "host \"a b\"", false, 0},
        {row("1", "b", "0", "l2"), "port \"0\"", false, 0},
        {row("1", "b", "65536", "l2"), "port \"65536\"", false, 0},
        {row("1", "b", "18x3", "l2"), "port \"18x3\"", false, 0},
        {row("1", "b", nullptr, "line/2"), "station \"line/2\"", false, 0},
        {row("1", "b", nullptr, "#"), "station \"#\"", false, 0},
        {row("1", "b", nullptr, "l2", nullptr, "s3cret"), "password is given without a user", false, 0},
    };
    for (const auto& c : cases) {
        const auto settings = publishSettingsOf(c.row);
        if (c.failure) {
            ASSERT_FALSE(settings.ok()) << c.failure;
            EXPECT_NE(settings.error().find(c.failure), std::string::npos) << settings.error();
            EXPECT_EQ(settings.error().find("s3cret"), std::string::npos) << "the password is never shown";
            continue;
        }
        ASSERT_TRUE(settings.ok()) << settings.error();
        ASSERT_EQ(settings.value().has_value(), c.on);
        if (c.on) {
            EXPECT_EQ(settings.value()->port, c.port);
        }
    }
}

}  // namespace
}  // namespace lumo
