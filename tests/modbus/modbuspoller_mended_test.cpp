// Where the poller deliberately departs from the plain Modbus cycle:
// ticks no longer race the chain, a foreign answer does not end the
// outstanding request, and a chained request waits for the line's silence.
#include "pollerfixture.h"

#include <algorithm>

namespace lumo::modbus::testing {
namespace {

bool called(const lumo::testing::FakeSerialPort& port, const std::string& name)
{
    return std::find(port.calls.begin(), port.calls.end(), name) != port.calls.end();
}

// Count 5: instrument 2 answered and the chain has asked 3.
class ChainRunning : public PollerTest {
protected:
    ChainRunning()
    {
        poller.tick();
        port.arrive(answerOf(2, 2.0f));
        chain.fire();
        fillCells(3, "old3");
        port.calls.clear();
    }
};

TEST_F(ChainRunning, TickLeavesAYoungChainedRequestAlone)
{
    ASSERT_EQ(lastAddressWritten(), 3);
    const std::size_t writes = port.written.size();
    poller.tick();
    EXPECT_EQ(port.written.size(), writes);
    EXPECT_FALSE(called(port, "clearInput"));
    EXPECT_FALSE(called(port, "clearOutput"));
    EXPECT_EQ(flowOf(3), "old3");
    EXPECT_EQ(flowOf(2), "2");
    EXPECT_TRUE(poller.answerPending());
    EXPECT_TRUE(indicatorHidden());
}

TEST_F(ChainRunning, AnswerArrivingAcrossTheTickIsKept)
{
    const Bytes answer = answerOf(3, 3.0f);
    port.arrive(Bytes(answer.begin(), answer.begin() + 30));
    poller.tick();
    port.arrive(Bytes(answer.begin() + 30, answer.end()));
    EXPECT_EQ(flowOf(3), "3");
    EXPECT_FALSE(poller.answerPending());
    ASSERT_TRUE(chain.fire());
    EXPECT_EQ(lastAddressWritten(), 4);
}

TEST_F(ChainRunning, ChainedRequestStillUnansweredAtTheSecondTickTimesOut)
{
    poller.tick();
    clock.advance(std::chrono::milliseconds(200));
    poller.tick();
    EXPECT_TRUE(blank(3));
    EXPECT_EQ(lastAddressWritten(), 4);
    EXPECT_TRUE(called(port, "clearInput"));
    // That request was the tick's own: the next tick times it out.
    fillCells(4);
    poller.tick();
    EXPECT_TRUE(blank(4));
    EXPECT_EQ(lastAddressWritten(), 5);
}

// A tick leaves the chained request alone exactly while its answer could
// still be coming: 8 + 57 bytes and 3.5 characters of silence on the wire,
// plus the turnaround allowance.
struct WindowRow {
    const char* baud;
    std::chrono::microseconds window;
};

class AnswerWindow : public ChainRunning, public ::testing::WithParamInterface<WindowRow> {};

TEST_P(AnswerWindow, TickTimesOutTheChainedRequestOnlyOnceItsAnswerIsOverdue)
{
    setBaud(GetParam().baud);
    ASSERT_EQ(poller.answerWindow(), GetParam().window);
    clock.advance(GetParam().window - std::chrono::microseconds(1));
    poller.tick();
    EXPECT_EQ(lastAddressWritten(), 3);
    EXPECT_EQ(flowOf(3), "old3");
    clock.advance(std::chrono::microseconds(1));
    poller.tick();
    EXPECT_EQ(lastAddressWritten(), 4);
    EXPECT_TRUE(blank(3));
}

INSTANTIATE_TEST_SUITE_P(Bauds, AnswerWindow,
                         ::testing::Values(WindowRow{"9600", std::chrono::microseconds(67709 + 3646 + 50000)},
                                           WindowRow{"19200", std::chrono::microseconds(33855 + 1823 + 50000)}));

TEST_F(PollerTest, ForeignAnswerDoesNotEndTheOutstandingRequest)
{
    poller.tick();  // asks 2, which stays silent
    poller.tick();  // blanks 2, asks 3
    const std::size_t writes = port.written.size();
    port.arrive(answerOf(2, 2.0f));  // 2 answers late
    EXPECT_EQ(flowOf(2), "2");
    EXPECT_TRUE(indicatorShown());
    EXPECT_TRUE(poller.answerPending());
    EXPECT_EQ(chain.starts, 0);
    EXPECT_EQ(port.written.size(), writes);
    fillCells(3);
    poller.tick();  // 3 never answered
    EXPECT_TRUE(blank(3));
}

TEST_F(PollerTest, ForeignAnswerWithTicksAloneLeavesThePolledInstrumentOwed)
{
    setCount("3");
    poller.tick();
    poller.tick();
    port.arrive(answerOf(2, 2.0f));
    EXPECT_EQ(flowOf(2), "2");
    EXPECT_TRUE(poller.answerPending());
    fillCells(3);
    poller.tick();
    EXPECT_TRUE(blank(3));
}

TEST_F(PollerTest, PolledInstrumentAnsweringAfterAForeignOneEndsTheRequest)
{
    poller.tick();
    poller.tick();  // asks 3
    port.arrive(answerOf(2));
    port.arrive(answerOf(3, 3.0f));
    EXPECT_FALSE(poller.answerPending());
    EXPECT_EQ(flowOf(3), "3");
    ASSERT_TRUE(chain.fire());
    EXPECT_EQ(lastAddressWritten(), 4);
}

TEST_F(PollerTest, AnswerOfAddressZeroDoesNotEndARequest)
{
    setCount("1");
    poller.tick();  // asks 1
    port.arrive(answerOf(0));
    EXPECT_TRUE(indicatorShown());
    EXPECT_TRUE(poller.answerPending());
    EXPECT_TRUE(cells.instruments.empty());
}

TEST_F(PollerTest, ChainedRequestWaitsForTheSilentInterval)
{
    setCount("4");
    poller.tick();
    port.arrive(answerOf(2));
    EXPECT_EQ(port.written.size(), 1u);  // not yet
    ASSERT_TRUE(chain.pending());
    EXPECT_EQ(chain.delay, std::chrono::microseconds(3646));
    EXPECT_FALSE(poller.answerPending());
    EXPECT_EQ(flowOf(2), "12.5");
    ASSERT_TRUE(chain.fire());
    EXPECT_EQ(port.written.size(), 2u);
    EXPECT_EQ(lastAddressWritten(), 3);
    EXPECT_TRUE(poller.answerPending());
}

struct IntervalRow {
    const char* baudText;
    long long microseconds;
};

class SilentInterval : public PollerTest, public ::testing::WithParamInterface<IntervalRow> {};

TEST_P(SilentInterval, ThirtyFiveBitTimesRoundedUp)
{
    setBaud(GetParam().baudText);
    EXPECT_EQ(poller.silentInterval(), std::chrono::microseconds(GetParam().microseconds));
}

INSTANTIATE_TEST_SUITE_P(Bauds, SilentInterval,
                         ::testing::Values(IntervalRow{"600", 58334}, IntervalRow{"1200", 29167},
                                           IntervalRow{"2400", 14584}, IntervalRow{"4800", 7292},
                                           IntervalRow{"9600", 3646}, IntervalRow{"14400", 2431},
                                           IntervalRow{"19200", 1823},
                                           // The line runs at 9600 for any other text.
                                           IntervalRow{"", 3646}, IntervalRow{"115200", 3646}));

// Count 4: instrument 2 answered, the chained request to 3 waits.
class ChainWaiting : public PollerTest {
protected:
    ChainWaiting()
    {
        setCount("4");
        poller.tick();
        port.arrive(answerOf(2, 2.0f));
        port.calls.clear();
    }
};

TEST_F(ChainWaiting, TickDuringTheWaitLeavesTheSendingToTheChain)
{
    ASSERT_TRUE(chain.pending());
    poller.tick();
    EXPECT_EQ(port.written.size(), 1u);
    EXPECT_TRUE(port.calls.empty());
    EXPECT_EQ(flowOf(2), "2");
    EXPECT_TRUE(indicatorHidden());
    ASSERT_TRUE(chain.fire());
    const std::vector<int> expected = {2, 3};
    EXPECT_EQ(addressesWritten(), expected);
    // The chained request is younger than that tick: the next leaves it.
    poller.tick();
    EXPECT_EQ(port.written.size(), 2u);
}

TEST_F(ChainWaiting, ChainThatNeverFiresIsTakenOverByTheSecondTick)
{
    poller.tick();
    poller.tick();
    EXPECT_FALSE(chain.pending());
    const std::vector<int> expected = {2, 3};
    EXPECT_EQ(addressesWritten(), expected);
    EXPECT_EQ(flowOf(2), "2");  // answered: not blanked
    EXPECT_FALSE(chain.fire());
}

TEST_F(ChainWaiting, BytesOnTheLineRestartTheWait)
{
    const int starts = chain.starts;
    port.arrive(Bytes(57, 0x55));  // noise, rejected
    EXPECT_EQ(chain.starts, starts + 1);
    EXPECT_TRUE(chain.pending());
    EXPECT_EQ(port.written.size(), 1u);
    ASSERT_TRUE(chain.fire());
    EXPECT_EQ(port.written.size(), 2u);
}

TEST_F(ChainWaiting, RepeatedAnswerStillGivesOneRequest)
{
    port.arrive(answerOf(2, 2.0f));
    ASSERT_TRUE(chain.fire());
    EXPECT_FALSE(chain.fire());
    EXPECT_EQ(port.written.size(), 2u);
}

TEST(ModbusPollerLifetime, DestroyedPollerLeavesNoChainedCall)
{
    lumo::testing::FakeSerialPort port;
    GridModel grid;
    ValueFields fields;
    lumo::testing::FakeOneShotTimer chain;
    StationSettings settings;
    fields.setText(ValueField::Count, "4");
    port.threshold = 57;
    {
        ModbusPoller poller(port, grid, fields, settings, chain);
        port.setReceiveHandler([&poller](int code) { poller.onReceiveEvent(code); });
        poller.tick();
        port.arrive(answerOf(2));
        ASSERT_TRUE(chain.pending());
    }
    port.setReceiveHandler(nullptr);
    EXPECT_FALSE(chain.pending());
}

}  // namespace
}  // namespace lumo::modbus::testing
