// What lumoprobe makes of what came back to one request.

#include "answerframes.h"
#include "baudtable.h"
#include "scan.h"

#include <gtest/gtest.h>

namespace {

using namespace lumo::probe;
using lumo::Bytes;

Bytes blockAnswer(std::uint8_t address, std::uint8_t block, std::uint8_t end = 0xAA)
{
    const std::uint8_t payload[] = {0x12, 0x34, 0x56, 0x02, 0x00, 0x00};
    std::uint8_t check = 0;
    for (std::uint8_t b : payload)
        check ^= b;
    return {address, block, payload[0], payload[1], payload[2], payload[3], payload[4], payload[5], check, end};
}

TEST(ProbeScan, JudgesWhatCameBack)
{
    Bytes badCrc = lumo::modbus::testing::answerOf(7);
    badCrc[10] ^= 0x01;
    Bytes extra = blockAnswer(7, 0);
    extra.push_back(0x55);
    const struct {
        const char* name;
        Protocol protocol;
        Bytes bytes;
        bool answered;
        const char* problem;
    } cases[] = {
        {"block answer", Protocol::Block, blockAnswer(7, 0), true, ""},
        {"block answer and a byte more", Protocol::Block, extra, true, "1 bytes more"},
        {"another address", Protocol::Block, blockAnswer(8, 0), false, "answered as address 8"},
        {"block echo", Protocol::Block, blockAnswer(7, 3), false, "block echo 3, not 0"},
        {"end byte", Protocol::Block, blockAnswer(7, 0, 0xAB), false, "end byte 0xAB, not 0xAA"},
        {"half a block answer", Protocol::Block, Bytes(5, 0x07), false, "5 bytes, not a whole answer"},
        {"Modbus answer", Protocol::Modbus, lumo::modbus::testing::answerOf(7), true, ""},
        {"Modbus CRC", Protocol::Modbus, badCrc, false, "CRC wrong"},
        {"Modbus exception", Protocol::Modbus, lumo::modbus::testing::withCrc({7, 0x83, 0x02}), false, "Modbus exception 2"},
        {"Modbus under another address", Protocol::Modbus, lumo::modbus::testing::answerOf(9), false,
         "answered as address 9"},
    };
    for (const auto& c : cases) {
        const auto finding = judge(c.protocol, 7, 9600, {c.bytes, std::chrono::milliseconds(5), std::chrono::milliseconds(70)});
        ASSERT_TRUE(finding) << c.name;
        EXPECT_EQ(finding->answered, c.answered) << c.name;
        EXPECT_EQ(finding->problem, c.problem) << c.name;
    }
    EXPECT_FALSE(judge(Protocol::Modbus, 7, 9600, {}));
}

// Waiting is the scan's whole cost: at 600 baud a Modbus answer alone is
// 0.95 s, but an address nobody answers costs only the request and an
// instrument's reaction.
TEST(ProbeScan, WaitsNoLongerThanTheWireAndAReactionNeed)
{
    using namespace std::chrono_literals;
    const auto slow = lumo::lineSettingsForBaudText("600"), fast = lumo::lineSettingsForBaudText("19200");
    // Eight bytes of request and two characters at 600 baud, and 50 ms.
    const double modbusAt600 = std::chrono::duration<double, std::milli>(firstByteWait(Protocol::Modbus, slow)).count();
    EXPECT_NEAR(modbusAt600, 216.7, 0.1);
    EXPECT_LT(firstByteWait(Protocol::Block, fast), 55ms);
    EXPECT_GT(restOfAnswerWait(Protocol::Modbus, slow), 950ms);
}

}  // namespace
