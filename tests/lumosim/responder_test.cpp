#include "crc16.h"
#include "responder.h"

#include <gtest/gtest.h>

#include <bitset>
#include <sstream>

using namespace lumo::sim;

namespace {

Scenario scenarioOf(const std::string& text)
{
    std::istringstream in(text);
    auto outcome = parseScenario(in, "test.scn");
    EXPECT_TRUE(outcome.scenario) << outcome.error;
    return outcome.scenario.value_or(Scenario{});
}

Bytes wire(const Reply& reply)
{
    Bytes bytes;
    if (reply.answer) {
        for (const Piece& piece : reply.answer->pieces)
            bytes.insert(bytes.end(), piece.bytes.begin(), piece.bytes.end());
    }
    return bytes;
}

Bytes readRequest(std::uint8_t address, int start, int count, std::uint8_t function = 0x03)
{
    Bytes frame{address, function, static_cast<std::uint8_t>(start >> 8),
                static_cast<std::uint8_t>(start), static_cast<std::uint8_t>(count >> 8),
                static_cast<std::uint8_t>(count)};
    appendModbusCrc(frame);
    return frame;
}

const std::string blockMeter = "protocol block\ninstrument 1 flow=563.412 diameter=100\n";
const Bytes flowRequest{0x2A, 0x01, 0x00, 0x2E};
const Bytes flowAnswer{0x01, 0x00, 0x12, 0x34, 0x56, 0x02, 0x00, 0x00, 0x72, 0xAA};

TEST(BlockResponder, AnswersAWellFormedRequest)
{
    Responder responder(scenarioOf(blockMeter), 1);
    const auto replies = responder.receive(flowRequest, 0);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(wire(replies[0]), flowAnswer);
    EXPECT_EQ(replies[0].valueText, "563.412");
    EXPECT_EQ(replies[0].answer->faults, 0u);
}

TEST(BlockResponder, FindsARequestAfterGarbageAndAcrossReads)
{
    Responder responder(scenarioOf(blockMeter), 1);
    EXPECT_TRUE(responder.receive({0xFF, 0x2E, 0x2A, 0x01}, 0).empty());
    const auto replies = responder.receive({0x07, 0x2E}, 0);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].block, 7);
    EXPECT_EQ(wire(replies[0]), (Bytes{0x01, 0x07, 0x0C, 0, 0, 0, 0, 0, 0x0C, 0xAA}));
    EXPECT_EQ(responder.takeJunk(), (Bytes{0xFF, 0x2E}));
}

TEST(BlockResponder, LeavesUnknownAddressesAndBlocksUnanswered)
{
    Responder responder(scenarioOf(blockMeter), 1);
    const auto replies = responder.receive({0x2A, 0x02, 0x00, 0x2E, 0x2A, 0x01, 0x08, 0x2E}, 0);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_FALSE(replies[0].answer);
    EXPECT_EQ(replies[0].skipReason, "no instrument");
    EXPECT_FALSE(replies[1].answer);
    EXPECT_EQ(replies[1].skipReason, "no such block");
}

TEST(BlockResponder, SilenceAndAlarmsWithinTheirWindowsOnly)
{
    Responder responder(scenarioOf("protocol block\ninstrument 1 flow=1 alarms=empty alarms_s=30-90 silent_s=60-120\n"), 1);
    const Bytes alarmRequest{0x2A, 0x01, 0x06, 0x2E};
    // Seconds after the start: what block 6 answers, or nothing.
    const struct {
        double at;
        std::optional<std::uint8_t> alarmByte;
    } rows[] = {{0, 0x00}, {29.9, 0x00}, {30, 0x08}, {59.9, 0x08}, {60, std::nullopt}, {119.9, std::nullopt}, {120, 0x00}};
    for (const auto& row : rows) {
        const auto replies = responder.receive(alarmRequest, row.at);
        ASSERT_EQ(replies.size(), 1u);
        if (!row.alarmByte) {
            EXPECT_FALSE(replies[0].answer) << row.at;
            EXPECT_EQ(replies[0].skipReason, "silent");
            continue;
        }
        ASSERT_TRUE(replies[0].answer) << row.at;
        EXPECT_EQ(wire(replies[0]).at(2), *row.alarmByte) << row.at;
    }
    for (const char* wrong : {"silent_s=5", "silent_s=9-3", "alarms_s=-1-4", "alarms_s=a-b"}) {
        std::istringstream in(std::string("protocol block\ninstrument 1 ") + wrong + "\n");
        EXPECT_FALSE(parseScenario(in, "test.scn").scenario) << wrong;
    }
}

struct FaultCase {
    const char* setting;
    Bytes expected;
};

TEST(BlockResponder, FaultsGarbleTheAnswerAsAsked)
{
    const FaultCase cases[] = {
        {"fault=badcheck", {0x01, 0x00, 0x12, 0x34, 0x56, 0x02, 0x00, 0x00, 0x8D, 0xAA}},
        {"fault=badaddr", {0x02, 0x00, 0x12, 0x34, 0x56, 0x02, 0x00, 0x00, 0x72, 0xAA}},
        {"fault=badblock", {0x01, 0x01, 0x12, 0x34, 0x56, 0x02, 0x00, 0x00, 0x72, 0xAA}},
        {"fault=stray", {0x55, 0x01, 0x00, 0x12, 0x34, 0x56, 0x02, 0x00, 0x00, 0x72, 0xAA}},
        {"fault=duplicate", {0x01, 0x00, 0x12, 0x34, 0x56, 0x02, 0x00, 0x00, 0x72, 0xAA,
                             0x01, 0x00, 0x12, 0x34, 0x56, 0x02, 0x00, 0x00, 0x72, 0xAA}},
        {"silent", {}},
    };
    for (const auto& c : cases) {
        Responder responder(scenarioOf("protocol block\ninstrument 1 flow=563.412 "
                                       + std::string(c.setting) + "\n"),
                            1);
        const auto replies = responder.receive(flowRequest, 0);
        ASSERT_EQ(replies.size(), 1u) << c.setting;
        EXPECT_EQ(wire(replies[0]), c.expected) << c.setting;
    }
}

TEST(BlockResponder, FlipBitChangesExactlyOneBit)
{
    Responder responder(scenarioOf(blockMeter + "instrument 2 flow=563.412 fault=flipbit\n"), 7);
    const auto replies = responder.receive({0x2A, 0x02, 0x00, 0x2E}, 0);
    ASSERT_EQ(replies.size(), 1u);
    Bytes clean = flowAnswer;
    clean[0] = 0x02;
    const Bytes sent = wire(replies[0]);
    ASSERT_EQ(sent.size(), clean.size());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < sent.size(); ++i)
        differing += std::bitset<8>(sent[i] ^ clean[i]).count();
    EXPECT_EQ(differing, 1u);
}

TEST(BlockResponder, SplitAndLateShapeTheTiming)
{
    Responder responder(
        scenarioOf("protocol block\ninstrument 1 fault=split split_gap_ms=30 delay_ms=200\n"), 1);
    const auto replies = responder.receive(flowRequest, 0);
    ASSERT_TRUE(replies.at(0).answer);
    const OutgoingAnswer& answer = *replies[0].answer;
    ASSERT_EQ(answer.pieces.size(), 2u);
    EXPECT_EQ(answer.pieces[0].bytes.size(), 5u);
    EXPECT_EQ(answer.pieces[1].gapBeforeMs, 30);
    EXPECT_EQ(answer.delayMs, 200);
}

TEST(BlockResponder, EveryNthAnswerIsFaulty)
{
    Responder responder(scenarioOf("protocol block\ninstrument 1 fault=silent every=3\n"), 1);
    std::string pattern;
    for (int i = 0; i < 7; ++i)
        pattern += responder.receive(flowRequest, 0).at(0).answer ? 'a' : '-';
    EXPECT_EQ(pattern, "aa-aa-a");
}

TEST(BlockResponder, RandomFaultsRepeatWithTheSameSeed)
{
    const std::string text = "protocol block\ninstrument 1 fault=silent p=0.5\n";
    auto run = [&](std::uint32_t seed) {
        Responder responder(scenarioOf(text), seed);
        std::string pattern;
        for (int i = 0; i < 40; ++i)
            pattern += responder.receive(flowRequest, 0).at(0).answer ? 'a' : '-';
        return pattern;
    };
    EXPECT_EQ(run(5), run(5));
    EXPECT_NE(run(5).find('a'), std::string::npos);
    EXPECT_NE(run(5).find('-'), std::string::npos);
}

const std::string modbusMeter =
    "protocol modbus\n"
    "instrument 1 flow=12.5 velocity=1.25 percent=50 resistance=3.3 forward=1234.5678 "
    "diameter=100 alarms=empty\n";

TEST(ModbusResponder, AnswersTheFullImage)
{
    Responder responder(scenarioOf(modbusMeter), 1);
    const auto replies = responder.receive(readRequest(1, 0, 26), 0);
    ASSERT_EQ(replies.size(), 1u);
    const Bytes answer = wire(replies[0]);
    ASSERT_EQ(answer.size(), 57u);
    EXPECT_EQ(hexText(answer).substr(110), "9CC3");
}

struct ExceptionCase {
    const char* what;
    Bytes request;
    const char* answerHex;
};

TEST(ModbusResponder, AnswersOtherReadsAndRefusesWhatItCannotDo)
{
    const ExceptionCase cases[] = {
        {"two registers from 24", readRequest(1, 24, 2), "01030442C80000"},
        {"past register 25", readRequest(1, 20, 10), "018302"},
        {"no registers", readRequest(1, 0, 0), "018303"},
        {"write function", readRequest(1, 0, 1, 0x06), "018601"},
        {"input registers", readRequest(1, 0, 26, 0x04), "018401"},
    };
    for (const auto& c : cases) {
        Responder responder(scenarioOf(modbusMeter), 1);
        const auto replies = responder.receive(c.request, 0);
        ASSERT_EQ(replies.size(), 1u) << c.what;
        const Bytes answer = wire(replies[0]);
        EXPECT_EQ(hexText(answer).substr(0, std::string(c.answerHex).size()), c.answerHex) << c.what;
        EXPECT_TRUE(hasValidModbusCrc(answer.data(), answer.size())) << c.what;
    }
}

TEST(ModbusResponder, ResynchronisesAfterGarbage)
{
    Responder responder(scenarioOf(modbusMeter), 1);
    Bytes stream{0x01, 0x03, 0x00, 0xFF, 0x13};
    const Bytes request = readRequest(1, 0, 26);
    stream.insert(stream.end(), request.begin(), request.end());
    const auto replies = responder.receive(stream, 0);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].request, request);
    EXPECT_EQ(responder.takeJunk().size(), 5u);
}

TEST(ModbusResponder, NeverAnswersBroadcastsOrStrangers)
{
    Responder responder(scenarioOf(modbusMeter), 1);
    const auto replies = responder.receive(readRequest(0, 0, 26), 0);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_FALSE(replies[0].answer);
    EXPECT_FALSE(responder.receive(readRequest(2, 0, 26), 0).at(0).answer);
}

TEST(ModbusResponder, FaultsGarbleTheAnswerAsAsked)
{
    auto answerWith = [](const std::string& setting) {
        Responder responder(scenarioOf("protocol modbus\ninstrument 1 flow=12.5 " + setting + "\n"), 3);
        return wire(responder.receive(readRequest(1, 0, 26), 0).at(0));
    };
    const Bytes badCrc = answerWith("fault=badcrc");
    ASSERT_EQ(badCrc.size(), 57u);
    EXPECT_FALSE(hasValidModbusCrc(badCrc.data(), badCrc.size()));

    const Bytes exception = answerWith("fault=exception");
    EXPECT_EQ(hexText(exception).substr(0, 6), "018304");
    EXPECT_TRUE(hasValidModbusCrc(exception.data(), exception.size()));

    const Bytes foreign = answerWith("foreign=7");
    ASSERT_EQ(foreign.size(), 57u);
    EXPECT_EQ(foreign[0], 7);
    EXPECT_TRUE(hasValidModbusCrc(foreign.data(), foreign.size()));

    const Bytes clean = answerWith("");
    const Bytes noisy = answerWith("fault=noise");
    ASSERT_GT(noisy.size(), clean.size());
    EXPECT_TRUE(std::equal(clean.begin(), clean.end(), noisy.end() - 57));

    EXPECT_EQ(answerWith("fault=duplicate").size(), 114u);
}

} // namespace
