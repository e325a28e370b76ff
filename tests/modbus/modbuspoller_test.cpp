// The poll cycle, reception and decoder where they follow the plain Modbus
// cycle; the refinements are in modbuspoller_mended_test.cpp.
#include "pollerfixture.h"

namespace lumo::modbus::testing {
namespace {

TEST_F(PollerTest, AnswerIsFiftySevenBytes)
{
    EXPECT_EQ(poller.receiveThreshold(), 57);
}

struct SequenceRow {
    const char* count;
    std::vector<int> addresses;
};

class AddressSequence : public PollerTest, public ::testing::WithParamInterface<SequenceRow> {};

TEST_P(AddressSequence, FromStartUp)
{
    setCount(GetParam().count);
    poller.setCurrentAddress(1);
    for (std::size_t i = 0; i < GetParam().addresses.size(); ++i)
        poller.tick();
    EXPECT_EQ(addressesWritten(), GetParam().addresses);
}

INSTANTIATE_TEST_SUITE_P(Counts, AddressSequence,
                         ::testing::Values(SequenceRow{"1", {1, 1, 1}}, SequenceRow{"0", {1, 1, 1}},
                                           SequenceRow{"", {1, 1, 1}}, SequenceRow{"abc", {1, 1}},
                                           SequenceRow{"3", {2, 3, 1, 2, 3, 1}},
                                           SequenceRow{"5", {2, 3, 4, 5, 1, 2}},
                                           SequenceRow{"39", {2, 3}}));

TEST_F(PollerTest, CountThreeWrapsAfterAddressThree)
{
    setCount("3");
    poller.setCurrentAddress(3);
    poller.tick();
    EXPECT_EQ(lastAddressWritten(), 1);
    poller.setCurrentAddress(2);
    poller.tick();
    EXPECT_EQ(lastAddressWritten(), 3);
}

TEST_F(PollerTest, RequestIsTheKnownFrameInOneWrite)
{
    setCount("1");
    poller.tick();
    ASSERT_EQ(port.written.size(), 1u);
    EXPECT_EQ(port.written[0], bytesOf("01 03 00 00 00 1A C4 01"));
    EXPECT_EQ(poller.currentAddress(), 1);
    EXPECT_EQ(poller.currentAddressByte(), 1);
    EXPECT_TRUE(poller.answerPending());
}

TEST_F(PollerTest, FailedWriteStillMarksTheRequestUnanswered)
{
    port.failing["write"] = "Input/output error";
    poller.tick();
    EXPECT_TRUE(port.written.empty());
    EXPECT_TRUE(poller.answerPending());
    EXPECT_EQ(poller.currentAddressByte(), 2);
}

TEST_F(PollerTest, AddressBeyondTheSixteenBitRangeIsRefused)
{
    setCount("40000");
    poller.setCurrentAddress(32767);
    poller.tick();
    EXPECT_EQ(poller.currentAddress(), 32767);
}

TEST_F(PollerTest, AddressBeyondAByteLeavesTheByteAsItWas)
{
    setCount("300");
    poller.setCurrentAddress(254);
    poller.tick();
    EXPECT_EQ(poller.currentAddressByte(), 255);
    poller.tick();
    EXPECT_EQ(poller.currentAddress(), 256);
    EXPECT_EQ(poller.currentAddressByte(), 255);
    EXPECT_EQ(lastAddressWritten(), 255);
}

TEST_F(PollerTest, TickClearsBothBuffersBeforeItWrites)
{
    poller.tick();
    const std::vector<std::string> expected = {"clearOutput", "clearInput", "write"};
    EXPECT_EQ(port.calls, expected);
}

TEST_F(PollerTest, FirstTickBlanksNothing)
{
    fillCells(1);
    fillCells(2);
    poller.tick();
    EXPECT_FALSE(blank(1));
    EXPECT_FALSE(blank(2));
}

TEST_F(PollerTest, SilentInstrumentsAreBlankedByTheFollowingTick)
{
    for (int n = 1; n <= 5; ++n)
        fillCells(n);
    poller.tick();  // asks 2
    poller.tick();  // 2 silent: blanked, asks 3
    EXPECT_TRUE(blank(2));
    EXPECT_FALSE(blank(3));
    poller.tick();
    poller.tick();
    poller.tick();  // asks 1
    poller.tick();  // 1 silent
    EXPECT_TRUE(blank(1) && blank(3) && blank(4) && blank(5));
    const std::vector<int> expected = {2, 3, 4, 5, 1, 2};
    EXPECT_EQ(addressesWritten(), expected);
}

TEST_F(PollerTest, TicksKeepCyclingWithoutAWorkingPort)
{
    port.failing["write"] = "not open";
    port.failing["clearInput"] = "not open";
    fillCells(2);
    poller.tick();
    poller.tick();
    EXPECT_TRUE(blank(2));
    EXPECT_EQ(poller.currentAddress(), 3);
}

TEST_F(PollerTest, WorkedExampleFillsInstrumentOne)
{
    setCount("1");
    poller.tick();
    port.arrive(workedExample());
    const std::array<std::string, 8> expected = {
        "12.5", "1.25", "50", "3.3", "1234.5678", "0", "100", "通讯正常,空管报警",
    };
    for (int slot = 0; slot < kSlots; ++slot)
        EXPECT_EQ(grid.cellText(1, slot), expected[static_cast<std::size_t>(slot)]) << "slot " << slot;
    EXPECT_TRUE(indicatorShown());
    EXPECT_FALSE(poller.answerPending());
    EXPECT_EQ(poller.answerHex(), hexText(workedExample()));
}

TEST_F(PollerTest, AcceptedInstrumentIsNotBlankedByTheNextTick)
{
    setCount("1");
    poller.tick();
    port.arrive(workedExample());
    poller.tick();
    EXPECT_EQ(flowOf(1), "12.5");
    EXPECT_TRUE(indicatorHidden());
}

TEST_F(PollerTest, ReceivedBytesBecomeUpperCaseHex)
{
    Bytes bytes(57, 0x0A);
    bytes[1] = 0xFF;
    port.arrive(bytes);
    EXPECT_EQ(poller.answerHex().substr(0, 6), "0AFF0A");
    EXPECT_EQ(poller.answerHex().size(), 114u);
}

struct RejectRow {
    const char* name;
    Bytes (*garble)();
};

Bytes oneByteMore()
{
    Bytes b = workedExample();
    b.push_back(0x00);
    return b;
}
Bytes oneByteLess()
{
    Bytes b = workedExample();
    b.pop_back();
    return b;
}
Bytes swappedCrc()
{
    Bytes b = workedExample();
    std::swap(b[55], b[56]);
    return b;
}
Bytes flippedBit()
{
    Bytes b = workedExample();
    b[4] ^= 0x10;
    return b;
}

class Rejected : public PollerTest, public ::testing::WithParamInterface<RejectRow> {};

TEST_P(Rejected, ChangesNothing)
{
    setCount("4");
    poller.setCurrentAddress(4);
    poller.tick();  // asks 1, the instrument of the worked example
    fillCells(1, "old");
    const std::size_t writes = port.written.size();
    port.waiting = GetParam().garble();
    port.raise(kReceiveEventData);
    EXPECT_EQ(flowOf(1), "old");
    EXPECT_TRUE(indicatorHidden());
    EXPECT_TRUE(poller.answerPending());
    EXPECT_FALSE(chain.pending());
    EXPECT_EQ(port.written.size(), writes);
}

INSTANTIATE_TEST_SUITE_P(Answers, Rejected,
                         ::testing::Values(RejectRow{"OneByteMore", oneByteMore},
                                           RejectRow{"OneByteLess", oneByteLess},
                                           RejectRow{"SwappedCrc", swappedCrc},
                                           RejectRow{"FlippedBit", flippedBit},
                                           RejectRow{"Nothing", [] { return Bytes{}; }}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PollerTest, FailedReadIsRejected)
{
    setCount("1");
    poller.tick();
    port.waiting = workedExample();
    port.failing["readWaiting"] = "Input/output error";
    port.raise(kReceiveEventData);
    EXPECT_TRUE(poller.answerPending());
    EXPECT_TRUE(blank(1));
}

TEST_F(PollerTest, OtherEventCodesAreIgnored)
{
    setCount("1");
    poller.tick();
    port.waiting = workedExample();
    port.raise(1);
    port.raise(1008);
    EXPECT_EQ(port.waiting.size(), 57u);
    EXPECT_TRUE(poller.answerPending());
    EXPECT_TRUE(blank(1));
}

TEST_F(PollerTest, AnswerSplitByATickIsLost)
{
    setCount("1");
    poller.tick();
    const Bytes answer = workedExample();
    port.arrive(Bytes(answer.begin(), answer.begin() + 30));
    poller.tick();  // clears the first 30 bytes
    port.arrive(Bytes(answer.begin() + 30, answer.end()));
    EXPECT_TRUE(blank(1));
    port.arrive(workedExample());  // joins the rest: 84 bytes
    EXPECT_TRUE(blank(1));
    EXPECT_TRUE(poller.answerPending());
}

TEST_F(PollerTest, AnswersBeyondTheGridEndTheRequestButWriteNoCell)
{
    for (int address : {40, 41, 200, 255}) {
        SCOPED_TRACE(address);
        setCount("300");
        poller.setCurrentAddress(static_cast<std::int16_t>(address - 1));
        poller.tick();
        ASSERT_EQ(poller.currentAddressByte(), address);
        grid.hideActivity();
        cells.instruments.clear();
        port.arrive(answerOf(static_cast<std::uint8_t>(address)));
        EXPECT_FALSE(poller.answerPending());
        EXPECT_TRUE(indicatorShown());
        EXPECT_TRUE(chain.pending());
        EXPECT_TRUE(cells.instruments.empty());
        chain.cancel();
    }
}

TEST_F(PollerTest, AnswerOfAddressZeroWritesNoCell)
{
    setCount("1");
    port.arrive(answerOf(0));  // at start-up CurrentAddressByte is 0
    EXPECT_TRUE(indicatorShown());
    EXPECT_FALSE(poller.answerPending());
    EXPECT_TRUE(cells.instruments.empty());
}

TEST_F(PollerTest, CountThreeLeavesTheSendingToTheTicks)
{
    setCount("3");
    poller.tick();
    port.arrive(answerOf(2));
    EXPECT_EQ(port.written.size(), 1u);
    EXPECT_FALSE(chain.pending());
    EXPECT_EQ(chain.starts, 0);
    EXPECT_FALSE(poller.answerPending());
}

TEST_F(PollerTest, CountFourChainsTheNextRequest)
{
    setCount("4");
    poller.tick();
    port.arrive(answerOf(2));
    ASSERT_TRUE(chain.fire());
    const std::vector<int> expected = {2, 3};
    EXPECT_EQ(addressesWritten(), expected);
    EXPECT_TRUE(poller.answerPending());
    port.arrive(answerOf(3));
    ASSERT_TRUE(chain.fire());
    port.arrive(answerOf(4));
    ASSERT_TRUE(chain.fire());
    const std::vector<int> chained = {2, 3, 4, 1};
    EXPECT_EQ(addressesWritten(), chained);
    EXPECT_EQ(flowOf(2), "12.5");
    EXPECT_EQ(flowOf(4), "12.5");
}

TEST_F(PollerTest, NextRequestIsOnItsWayBeforeTheCellsAreWritten)
{
    struct ChainWatch : GridObserver {
        const lumo::testing::FakeOneShotTimer* chain = nullptr;
        bool pendingAtFirstCell = false;
        bool seen = false;
        void cellChanged(int, int, const std::string&) override
        {
            if (!seen)
                pendingAtFirstCell = chain->pending();
            seen = true;
        }
        void activityChanged(int, bool) override {}
        void pageVisibilityChanged(int, bool) override {}
    } watch;
    watch.chain = &chain;
    poller.tick();
    grid.addObserver(&watch);
    port.arrive(answerOf(2));
    grid.removeObserver(&watch);
    EXPECT_TRUE(watch.seen);
    EXPECT_TRUE(watch.pendingAtFirstCell);
}

TEST_F(PollerTest, DecodedValuesLastUntilTheNextAcceptedAnswer)
{
    setCount("1");
    poller.tick();
    port.arrive(workedExample());
    port.arrive(swappedCrc());
    EXPECT_EQ(poller.lastAnswerValues().forwardTotal, 12345678);
    EXPECT_EQ(poller.lastAnswerValues().flowValue, 12.5f);
}

}  // namespace
}  // namespace lumo::modbus::testing

namespace lumo::modbus::testing {

// The line statistics count what came back for each request, and why what
// was turned away was.
TEST_F(PollerTest, StatisticsCountWhatEachRequestBroughtBack)
{
    using namespace std::chrono_literals;
    setCount("3");  // no chained requests: one per tick
    poller.setCurrentAddress(3);
    poller.tick();  // asks 1
    clock.advance(70ms);
    port.arrive(answerOf(1));
    poller.tick();  // asks 2
    Bytes badCrc = answerOf(2);
    badCrc.back() ^= 0xFF;
    port.arrive(badCrc);
    poller.tick();  // 2 unanswered; asks 3
    port.arrive(answerOf(1));  // an answer under another address
    Bytes tooLong = answerOf(3);
    tooLong.insert(tooLong.end(), {0x00, 0x00, 0x00});
    port.arrive(tooLong);
    poller.tick();  // 3 unanswered; asks 1

    const LineStats& stats = poller.lineStats();
    const struct {
        int instrument;
        std::uint64_t requests, answers, unanswered, length, check, foreign;
    } expected[] = {{1, 2, 1, 0, 0, 0, 0}, {2, 1, 0, 1, 0, 1, 0}, {3, 1, 0, 1, 1, 0, 1}};
    for (const auto& e : expected) {
        const InstrumentStats& s = stats.instrument(e.instrument);
        EXPECT_EQ(s.requests, e.requests) << e.instrument;
        EXPECT_EQ(s.answers, e.answers) << e.instrument;
        EXPECT_EQ(s.unanswered, e.unanswered) << e.instrument;
        EXPECT_EQ(s.rejectedFor(Rejection::Length), e.length) << e.instrument;
        EXPECT_EQ(s.rejectedFor(Rejection::Check), e.check) << e.instrument;
        EXPECT_EQ(s.rejectedFor(Rejection::Foreign), e.foreign) << e.instrument;
    }
    EXPECT_EQ(stats.instrument(1).answerTimes.median(), 70ms);
    EXPECT_EQ(stats.bytesReceived(), 57u * 3 + 60u);
    EXPECT_EQ(stats.bytesThrownAway(), 57u + 60u);  // the answer under another address is shown as its own
}

}  // namespace lumo::modbus::testing
