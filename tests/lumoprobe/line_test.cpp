// lumoprobe's exchange on the line: a stray byte in the silence before a
// request does not cut the silence short, and a request the port cannot
// send is told, not taken for silence.

#include "baudtable.h"
#include "fakeserialport.h"
#include "line.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using namespace lumo::probe;
using lumo::testing::FakeSerialPort;

TEST(ProbeLine, AStrayByteDoesNotEndTheSilenceBeforeARequest)
{
    FakeSerialPort port;
    port.threshold = 1;
    ProbeLine line(port);
    const lumo::LineSettings slow = lumo::lineSettingsForBaudText("600");
    // A byte of noise 5 ms into the silence (at 600 baud it lasts 67 ms).
    QTimer::singleShot(5, [&] { port.arrive({0x55}); });
    QElapsedTimer clock;
    clock.start();
    const lumo::Result<Heard> heard = line.exchange(Protocol::Modbus, 7, slow);
    ASSERT_TRUE(heard.ok());
    EXPECT_TRUE(heard.value().bytes.empty()) << "the noise is not an answer";
    const auto expected = silenceBefore(slow) + firstByteWait(Protocol::Modbus, slow);
    EXPECT_GE(clock.elapsed(), std::chrono::duration_cast<std::chrono::milliseconds>(expected).count() - 2);
    ASSERT_EQ(port.written.size(), 1u);
}

TEST(ProbeLine, ARequestThePortCannotSendIsTold)
{
    FakeSerialPort port;
    port.failing["write"] = "cannot write to COM1: COM1 was lost (Input/output error)";
    ProbeLine line(port);
    const lumo::Result<Heard> heard = line.exchange(Protocol::Block, 12, lumo::lineSettingsForBaudText("19200"));
    ASSERT_FALSE(heard.ok());
    EXPECT_EQ(heard.error(),
              "cannot ask address 12 in the block protocol: cannot write to COM1: COM1 was lost (Input/output error)");
}

}  // namespace
