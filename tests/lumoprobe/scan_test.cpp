// What lumoprobe makes of what came back to one request.

#include "answerframes.h"
#include "baudtable.h"
#include "fakeserialport.h"
#include "gridmodel.h"
#include "scan.h"

#include <gtest/gtest.h>

namespace {

using namespace lumo::probe;
using lumo::Bytes;
using lumo::probe::Exchange;

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

// A port that refuses one baud, as an adapter may.
class RefusingBaud : public lumo::testing::FakeSerialPort {
public:
    explicit RefusingBaud(int refused) : refused_(refused) {}
    lumo::Status setLineSettings(const lumo::LineSettings& settings) override
    {
        if (settings.baud == refused_)
            return lumo::Status::failure("cannot set the baud rate of COM1: Invalid argument");
        return FakeSerialPort::setLineSettings(settings);
    }

private:
    int refused_;
};

// The scan asks every address in one protocol before the other, at each
// baud; what it finds is reported by address. A baud the port refuses, or a
// request it cannot send, ends the scan with the reason, and nothing is
// reported under a baud the line was not at.
TEST(ProbeScan, EachProtocolHasAPassOfItsOwnAndAFailureEndsTheScan)
{
    const struct {
        const char* name;
        int refusedBaud;
        int unsendableAddress;  // at 9600, Modbus
        std::size_t exchanges;
        std::vector<int> bauds;  // scanned whole
        const char* failure;
    } cases[] = {
        {"all well", 0, 0, 4u * lumo::kInstruments, {9600, 19200}, ""},
        {"a baud refused", 19200, 0, 2u * lumo::kInstruments, {9600},
         "the port does not take 19200 baud: cannot set the baud rate of COM1: Invalid argument"},
        {"a request not sent", 0, 5, lumo::kInstruments + 5u, {},
         "9600 baud: cannot ask address 5 in the Modbus protocol: COM1 was lost"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RefusingBaud port(c.refusedBaud);
        std::vector<std::pair<int, int>> asked;  // baud, address; block first
        std::vector<Protocol> protocols;
        const Exchange exchange = [&](Protocol protocol, int address, const lumo::LineSettings& line) {
            asked.emplace_back(line.baud, address);
            protocols.push_back(protocol);
            if (protocol == Protocol::Modbus && address == c.unsendableAddress)
                return lumo::Result<Heard>::failure("cannot ask address 5 in the Modbus protocol: COM1 was lost");
            // Address 3 answers in both protocols.
            Heard heard;
            if (address == 3)
                heard.bytes = protocol == Protocol::Block ? blockAnswer(3, 0) : lumo::modbus::testing::answerOf(3);
            return lumo::Result<Heard>::success(heard);
        };
        const ScanOutcome outcome = scanLine(port, {9600, 19200}, exchange);
        EXPECT_EQ(asked.size(), c.exchanges);
        for (std::size_t i = 0; i < protocols.size(); ++i)
            EXPECT_EQ(protocols[i], (i % (2 * lumo::kInstruments)) < std::size_t(lumo::kInstruments) ? Protocol::Block
                                                                                                       : Protocol::Modbus)
                << i;
        std::vector<int> scanned;
        for (const BaudScan& b : outcome.bauds)
            scanned.push_back(b.baud);
        EXPECT_EQ(scanned, c.bauds);
        EXPECT_EQ(outcome.failure, c.failure);
        for (const Finding& f : outcome.findings) {
            EXPECT_EQ(f.address, 3);
            EXPECT_NE(f.baud, c.refusedBaud);
        }
        const std::string json = lumo::probe::json("/dev/serial/by-id/usb-adapter", outcome);
        EXPECT_EQ(json.rfind("{\"port\":\"/dev/serial/by-id/usb-adapter\",", 0), 0u) << json;
        EXPECT_NE(json.find(*c.failure ? "\"failure\":\"" : "\"failure\":null"), std::string::npos) << json;
    }
}

}  // namespace
