#include "answers.h"
#include "blockpoller.h"
#include "fakeserialport.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using lumo::BlockPoller;
using lumo::Bytes;
using lumo::GridModel;
using lumo::ValueField;
using lumo::ValueFields;
using lumo::block::Answer;
using lumo::block::testing::makeAnswer;
using lumo::block::testing::Payload;
using lumo::testing::FakeSerialPort;
using Poll = std::pair<int, int>;  // (address, block) of a request

const Payload kFlowPayload{0x12, 0x34, 0x56, 0x02, 0x00, 0x00};  // 563.412

Bytes bytesOf(const Answer& a) { return Bytes(a.begin(), a.end()); }

// Counts the decoder's runs: each accepted answer shows the indicator once.
class ActivityCounter : public lumo::GridObserver {
public:
    int shown = 0;
    int cellWrites = 0;
    void cellChanged(int, int, const std::string&) override { ++cellWrites; }
    void activityChanged(int page, bool on) override { shown += (page == 1 && on); }
    void pageVisibilityChanged(int, bool) override {}
};

// The poller wired as start-up wires it: threshold set, handler installed.
class Station : public ::testing::Test {
protected:
    FakeSerialPort port;
    GridModel grid;
    ValueFields fields;
    BlockPoller poller{port, grid, fields};
    ActivityCounter activity;

    Station()
    {
        setCount("3");
        port.setReceiveThreshold(poller.receiveThreshold());
        port.setReceiveHandler([this](int code) { poller.onReceiveEvent(code); });
        grid.addObserver(&activity);
    }
    ~Station() override { grid.removeObserver(&activity); }

    void setCount(std::string text) { fields.setText(ValueField::Count, std::move(text)); }

    Poll lastPoll() const
    {
        const Bytes& w = port.written.back();
        return {w[1], w[2]};
    }
    // The instrument just polled answers with this payload.
    void answer(const Payload& payload)
    {
        const Poll p = lastPoll();
        port.arrive(bytesOf(makeAnswer(p.first, p.second, payload)));
    }
    void tickAndAnswer(const Payload& payload = kFlowPayload)
    {
        poller.tick();
        answer(payload);
    }
    void fillLine(int instrument, const std::string& text)
    {
        for (int slot = 0; slot < lumo::kSlots; ++slot)
            grid.setCellText(instrument, slot, text);
    }
    std::vector<std::string> line(int instrument) const
    {
        std::vector<std::string> texts;
        for (int slot = 0; slot < lumo::kSlots; ++slot)
            texts.push_back(grid.cellText(instrument, slot));
        return texts;
    }
};

TEST_F(Station, FirstTickRequestsBlockZeroOfInstrumentOne)
{
    grid.showActivity();
    poller.tick();
    ASSERT_EQ(port.written.size(), 1u);
    EXPECT_EQ(port.written[0], (Bytes{0x2A, 0x01, 0x00, 0x2E}));
    EXPECT_EQ(poller.state().sentBlockIndex, 0);
    EXPECT_EQ(poller.state().blockIndex, 1);
    EXPECT_EQ(poller.state().answerPending, 1);
    EXPECT_EQ(poller.state().currentAddressByte, 1);
    EXPECT_FALSE(grid.activityShown(1));
    EXPECT_EQ(port.calls, (std::vector<std::string>{"setReceiveThreshold", "clearOutput", "clearInput", "write"}));
    EXPECT_EQ(poller.receiveThreshold(), 10);
}

TEST_F(Station, AcceptedAnswerFillsTheLineAndShowsActivity)
{
    tickAndAnswer();
    EXPECT_EQ(activity.shown, 1);
    EXPECT_TRUE(grid.activityShown(1) && grid.activityShown(2) && grid.activityShown(3));
    EXPECT_EQ(poller.state().answerPending, 0);
    EXPECT_EQ(line(1), (std::vector<std::string>{"563.412", "", "", "", "", "", "", ""}));
}

// Every reception edge case, from the same poll of (3, 5).
TEST_F(Station, ReceptionAcceptsOnlyAWellFormedAnswerToTheLastRequest)
{
    const Answer good = makeAnswer(3, 5, kFlowPayload);
    Bytes twelve = bytesOf(good);
    twelve.insert(twelve.end(), {0x55, 0x66});
    Bytes stray{0x00};
    stray.insert(stray.end(), good.begin(), good.end());
    Answer badCheck = good;
    badCheck[8] ^= 0x40;
    Answer overEchoes = good;
    overEchoes[8] ^= 3 ^ 5;

    const struct {
        const char* name;
        Bytes bytes;
        int eventCode;
        int accepted;
    } cases[] = {
        {"exact ten bytes", bytesOf(good), 2, 1},
        {"twelve bytes", twelve, 2, 1},
        {"stray leading byte", stray, 2, 0},
        {"answer of address 2", bytesOf(makeAnswer(2, 5, kFlowPayload)), 2, 0},
        {"answer to block 4", bytesOf(makeAnswer(3, 4, kFlowPayload)), 2, 0},
        {"bad check byte", bytesOf(badCheck), 2, 0},
        {"check over bytes 0..7", bytesOf(overEchoes), 2, 0},
        {"another event code", bytesOf(good), 3, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSerialPort port;
        GridModel grid;
        ValueFields fields;
        fields.setText(ValueField::Count, "3");
        BlockPoller poller(port, grid, fields);
        ActivityCounter counter;
        poller.setCurrentAddress(3);
        for (int block = 0; block < 5; ++block) {
            poller.tick();
            port.waiting = bytesOf(makeAnswer(3, block, {}));
            poller.onReceiveEvent(2);
        }
        poller.tick();
        ASSERT_EQ(port.written.back(), (Bytes{0x2A, 3, 5, 0x2E}));
        grid.addObserver(&counter);
        port.waiting = c.bytes;
        poller.onReceiveEvent(c.eventCode);
        EXPECT_EQ(counter.shown, c.accepted);
        EXPECT_EQ(poller.state().answerPending, c.accepted ? 0 : 1);
        EXPECT_EQ(grid.cellText(3, 5), c.accepted ? "2563.412" : "");
        grid.removeObserver(&counter);
    }
}

std::vector<Poll> pollsOf(const FakeSerialPort& port)
{
    std::vector<Poll> polls;
    for (const Bytes& w : port.written)
        polls.emplace_back(w[1], w[2]);
    return polls;
}

std::vector<Poll> sweep(std::initializer_list<int> addresses)
{
    std::vector<Poll> polls;
    for (int address : addresses)
        for (int block = 0; block < 8; ++block)
            polls.emplace_back(address, block);
    return polls;
}

TEST_F(Station, ThreeAnsweringInstrumentsAreSweptBlockByBlock)
{
    for (int i = 0; i < 25; ++i)
        tickAndAnswer();
    std::vector<Poll> expected = sweep({1, 2, 3});
    expected.emplace_back(1, 0);
    EXPECT_EQ(pollsOf(port), expected);
    EXPECT_EQ(activity.shown, 25);
}

TEST_F(Station, OneInstrumentCyclesItsBlocksAndRestartsAfterASilence)
{
    setCount("1");
    for (int i = 0; i < 11; ++i)
        tickAndAnswer();
    fillLine(1, "x");
    poller.tick();  // (1, 3) goes unanswered
    poller.tick();
    std::vector<Poll> expected = sweep({1});
    expected.insert(expected.end(), {{1, 0}, {1, 1}, {1, 2}, {1, 3}, {1, 0}});
    EXPECT_EQ(pollsOf(port), expected);
    EXPECT_EQ(line(1), std::vector<std::string>(8, ""));
}

TEST_F(Station, CountThatIsNotANumberKeepsPollingAddressOne)
{
    for (const char* text : {"", "abc"}) {
        SCOPED_TRACE(text);
        FakeSerialPort port;
        GridModel grid;
        ValueFields fields;
        fields.setText(ValueField::Count, text);
        BlockPoller poller(port, grid, fields);
        for (int i = 0; i < 9; ++i) {
            poller.tick();
            port.waiting = bytesOf(makeAnswer(1, poller.state().sentBlockIndex, kFlowPayload));
            poller.onReceiveEvent(2);
        }
        poller.tick();  // (1, 1) goes unanswered
        poller.tick();
        std::vector<Poll> expected = sweep({1});
        expected.insert(expected.end(), {{1, 0}, {1, 1}, {1, 0}});
        EXPECT_EQ(pollsOf(port), expected);
    }
}

TEST_F(Station, InstrumentSilentOnBlockZeroIsBlankedAndTheNextAddressPolled)
{
    for (int i = 0; i < 8; ++i)
        tickAndAnswer();
    poller.tick();  // (2, 0), no answer
    fillLine(2, "old");
    poller.tick();
    EXPECT_EQ(port.written.back(), (Bytes{0x2A, 0x03, 0x00, 0x2E}));
    EXPECT_EQ(line(2), std::vector<std::string>(8, ""));
    EXPECT_EQ(line(1)[0], "563.412");
}

TEST_F(Station, LastInstrumentSilentOnBlockFiveWrapsToAddressOne)
{
    for (int i = 0; i < 21; ++i)
        tickAndAnswer();
    ASSERT_EQ(lastPoll(), Poll(3, 4));
    poller.tick();  // (3, 5), no answer
    poller.tick();
    EXPECT_EQ(port.written.back(), (Bytes{0x2A, 0x01, 0x00, 0x2E}));
    EXPECT_EQ(line(3), std::vector<std::string>(8, ""));
    EXPECT_EQ(line(1)[0], "563.412");
}

TEST_F(Station, FailedWriteStillMarksTheRequestAndAddressesKeepCycling)
{
    port.failing["write"] = "COM1: port not open";
    std::vector<int> addresses;
    for (int i = 0; i < 5; ++i) {
        fillLine(1, "x");
        poller.tick();
        EXPECT_EQ(poller.state().answerPending, 1);
        addresses.push_back(poller.state().currentAddressByte);
    }
    EXPECT_EQ(addresses, (std::vector<int>{1, 2, 3, 1, 2}));
    EXPECT_EQ(line(1), std::vector<std::string>(8, ""));
    EXPECT_TRUE(port.written.empty());
}

TEST_F(Station, FailingClearsDoNotStopTheTick)
{
    port.failing["clearOutput"] = "x";
    port.failing["clearInput"] = "x";
    poller.tick();
    EXPECT_EQ(port.written.back(), (Bytes{0x2A, 0x01, 0x00, 0x2E}));
}

// The decoded values belong to the instrument that sent them: a line never
// shows another instrument's quantities.
TEST_F(Station, LineShowsOnlyItsOwnInstrumentsValues)
{
    const Payload alarm{0x08, 0, 0, 0, 0, 0};
    for (int block = 0; block < 8; ++block)
        tickAndAnswer(block == 6 ? alarm : Payload{0x12, 0x34, 0x56, 0x02, 0x01, 0x00});
    EXPECT_EQ(line(1), (std::vector<std::string>{"563.412", "56341.2", "341.2", "56341.2", "102563.4",
                                                 "102563.4", "350", "通讯正常,空管报警"}));
    tickAndAnswer({0x00, 0x00, 0x01, 0x05, 0x00, 0x00});  // instrument 2, block 0: 10000
    EXPECT_EQ(line(2), (std::vector<std::string>{"10000", "", "", "", "", "", "", ""}));
    EXPECT_EQ(line(1)[0], "563.412");
}

TEST_F(Station, DiameterAndAlarmStayEmptyUntilTheirInstrumentSendsThem)
{
    setCount("1");
    for (int block = 0; block < 8; ++block)
        tickAndAnswer(block == 6 ? Payload{} : Payload{39, 0, 0, 0x05, 0, 0});  // code 39: no diameter
    EXPECT_EQ(line(1)[6], "");
    EXPECT_EQ(line(1)[7], "通讯正常");
    EXPECT_EQ(poller.valuesOf(1).pipeDiameter, std::nullopt);
}

TEST_F(Station, BlankingKeepsStoredValuesForTheNextAnswer)
{
    setCount("1");
    for (int block = 0; block < 8; ++block)
        tickAndAnswer();
    const std::vector<std::string> full = line(1);
    poller.tick();  // (1, 0) unanswered
    poller.tick();
    EXPECT_EQ(line(1), std::vector<std::string>(8, ""));
    answer({0x00, 0x00, 0x01, 0x05, 0x00, 0x00});
    std::vector<std::string> expected = full;
    expected[0] = "10000";
    EXPECT_EQ(line(1), expected);
}

// Only bytes read in this event make an answer: a short read must not pass
// off the rest of an earlier answer still in the receive buffer.
TEST_F(Station, ShortReadNeverReacceptsAnEarlierAnswer)
{
    setCount("1");
    tickAndAnswer();  // (1, 0) accepted; its bytes stay in the buffer
    poller.tick();    // (1, 1) unanswered
    poller.tick();    // blanks and asks (1, 0) again
    ASSERT_EQ(lastPoll(), Poll(1, 0));
    for (const Bytes& piece : {Bytes{0x01}, Bytes{0x01, 0x00, 0x12}, Bytes{}}) {
        port.waiting = piece;
        poller.onReceiveEvent(2);
        EXPECT_EQ(poller.state().answerPending, 1) << piece.size() << " bytes";
    }
    port.failing["readWaiting"] = "read failed";
    poller.onReceiveEvent(2);
    EXPECT_EQ(poller.state().answerPending, 1);
    EXPECT_EQ(line(1), std::vector<std::string>(8, ""));
    EXPECT_EQ(activity.shown, 1);
}

TEST_F(Station, AnswerLeftInTheInputBufferIsDroppedByTheNextTick)
{
    poller.tick();
    port.waiting = bytesOf(makeAnswer(1, 0, kFlowPayload));  // arrived, event not yet handled
    poller.tick();  // clears the input, blanks 1, asks (2, 0)
    poller.onReceiveEvent(2);
    EXPECT_EQ(activity.shown, 0);
    EXPECT_EQ(poller.state().answerPending, 1);
    EXPECT_EQ(lastPoll(), Poll(2, 0));
}

TEST_F(Station, AddressAboveThirtyNineUpdatesValuesButNoCell)
{
    setCount("40");
    for (int i = 0; i < 40; ++i)
        poller.tick();  // every instrument silent: one address per tick
    ASSERT_EQ(lastPoll(), Poll(40, 0));
    activity.cellWrites = 0;
    answer(kFlowPayload);
    EXPECT_EQ(activity.shown, 1);
    EXPECT_EQ(poller.state().answerPending, 0);
    EXPECT_EQ(poller.valuesOf(40).flowValue, 563.412f);
    EXPECT_EQ(activity.cellWrites, 0);
    poller.tick();
    EXPECT_EQ(lastPoll(), Poll(40, 1));
}

TEST_F(Station, AddressCounterRefusesOverflowAndByteKeepsItsLastFit)
{
    setCount("40000");
    poller.setCurrentAddress(255);
    poller.tick();
    poller.tick();  // silent: 256 does not fit the byte
    EXPECT_EQ(poller.state().currentAddress, 256);
    EXPECT_EQ(poller.state().currentAddressByte, 255);

    poller.setCurrentAddress(32767);
    poller.tick();  // silent again: the increase is refused
    EXPECT_EQ(poller.state().currentAddress, 32767);
    EXPECT_EQ(poller.state().currentAddressByte, 255);
}

}  // namespace
