// The Win32 serial port against a driver in memory that misbehaves as real
// ones do (fakecommapi_win.h): what it leaves of another program's line
// settings, how long anything on the window's thread may wait, whether a
// port is ever open without its settings, and what it does when reads end
// on their own. Runs under Wine with the rest of the Windows tests.

#include "fakecommapi_win.h"
#include "linesetup_win.h"
#include "serialport_win.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <string>

namespace {

using lumo::LineSettings;
using lumo::PortState;
using lumo::Win32SerialPort;
using lumo::testing::FakeCommApi;

// Runs the event loop until the condition holds or the time is up.
template <class Condition>
bool waitFor(Condition condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return condition();
}

LineSettings line9600() { return lumo::LineSettings{9600, lumo::Parity::None, 8, lumo::StopBits::One}; }

// Opened as start-up opens it: port, open, no handshaking, line settings,
// the receive threshold of a Modbus answer.
lumo::Status startUp(Win32SerialPort& port)
{
    lumo::Status status = port.setPortNumber(1);
    if (status.ok())
        status = port.open();
    if (status.ok())
        status = port.setNoHandshaking();
    if (status.ok())
        status = port.setLineSettings(line9600());
    if (status.ok())
        status = port.setReceiveThreshold(57);
    return status;
}

// Another program left the port with handshaking, XON/XOFF, 0x00 bytes
// dropped and an error character: a plain 8N1 line without handshaking has
// none of it, DTR and RTS simply raised, as on Linux, where opening a
// terminal raises them.
TEST(Win32SerialPort, SetsEveryFieldOfTheLineItDoesNotName)
{
    FakeCommApi driver;
    DCB& left = driver.state;
    left.fNull = TRUE;
    left.fErrorChar = TRUE;
    left.ErrorChar = '?';
    left.fDtrControl = DTR_CONTROL_HANDSHAKE;
    left.fRtsControl = RTS_CONTROL_HANDSHAKE;
    left.fOutxCtsFlow = left.fOutxDsrFlow = left.fDsrSensitivity = TRUE;
    left.fOutX = left.fInX = TRUE;
    left.fAbortOnError = TRUE;
    left.fTXContinueOnXoff = FALSE;
    Win32SerialPort port({}, driver);
    ASSERT_TRUE(startUp(port).ok());

    const DCB& set = driver.state;
    EXPECT_EQ(set.BaudRate, 9600u);
    EXPECT_EQ(set.ByteSize, 8);
    EXPECT_EQ(set.Parity, NOPARITY);
    EXPECT_EQ(set.StopBits, ONESTOPBIT);
    EXPECT_TRUE(set.fBinary);
    EXPECT_FALSE(set.fParity);
    EXPECT_FALSE(set.fNull) << "0x00 bytes would be dropped";
    EXPECT_FALSE(set.fErrorChar);
    EXPECT_EQ(set.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(set.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_FALSE(set.fOutxCtsFlow || set.fOutxDsrFlow || set.fDsrSensitivity);
    EXPECT_FALSE(set.fOutX || set.fInX);
    EXPECT_FALSE(set.fAbortOnError);
    EXPECT_TRUE(set.fTXContinueOnXoff);

    // An answer with 0x00 bytes in it arrives whole.
    std::vector<std::uint8_t> answer(57, 0x00);
    answer[0] = 1;
    bool received = false;
    port.setReceiveHandler([&](int) { received = true; });
    driver.arrive(answer);
    ASSERT_TRUE(waitFor([&] { return received; }, 1000));
    const auto read = port.readWaiting();
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read.value(), answer);
}

// A driver that takes a write and never ends it is the device gone, within
// the write's time on the wire and a margin; the window is not held up
// meanwhile: a click posted while the write hangs is served at once.
TEST(Win32SerialPort, AWriteThatNeverEndsIsTheDeviceGoneWithinItsBound)
{
    FakeCommApi driver;
    Win32SerialPort port({}, driver);
    ASSERT_TRUE(startUp(port).ok());
    EXPECT_GT(driver.timeouts.WriteTotalTimeoutMultiplier + driver.timeouts.WriteTotalTimeoutConstant, 0u)
        << "the driver is given a time-out for writes";
    driver.writesNeverEnd = true;

    QElapsedTimer clock;
    clock.start();
    const std::vector<std::uint8_t> request(8, 0x01);
    EXPECT_TRUE(port.write(request).ok());
    qint64 clicked = -1;
    QTimer::singleShot(0, [&] { clicked = clock.elapsed(); });
    ASSERT_TRUE(waitFor([&] { return port.isLost(); }, 2000)) << "a write that never ends is never given up";
    const qint64 gaveUp = clock.elapsed();
    EXPECT_LT(gaveUp, lumo::writeBound(8, line9600()).count() + 100);
    EXPECT_GE(clicked, 0);
    EXPECT_LT(clicked, 50) << "the click waited for the write";

    // As after an unplugged adapter: the next write asks for the port again.
    driver.writesNeverEnd = false;
    EXPECT_TRUE(port.write(request).ok());
    EXPECT_EQ(port.state(), PortState::Open);
    EXPECT_EQ(driver.opens, 2);
    std::printf("[ bounded  ] a write that never ended was given up after %lld ms\n", static_cast<long long>(gaveUp));
}

// A port whose line settings the driver refuses is not open: the open fails
// with the reason, and neither an open nor a write later says "already
// open" of a port that never was.
TEST(Win32SerialPort, APortIsOpenOnlyWithItsSettings)
{
    FakeCommApi driver;
    Win32SerialPort port({}, driver);
    ASSERT_TRUE(port.setLineSettings(line9600()).ok());
    driver.refuseState = true;
    const lumo::Status refused = port.open();
    EXPECT_FALSE(refused.ok());
    EXPECT_NE(refused.error().find("cannot set the line settings"), std::string::npos) << refused.error();
    EXPECT_EQ(port.state(), PortState::Closed);
    EXPECT_EQ(driver.closes, 1) << "the handle of a port that could not be set up is closed";
    EXPECT_EQ(port.open().error().find("already open"), std::string::npos);

    // The reopen inside a write after the device was lost: the same.
    driver.refuseState = false;
    ASSERT_TRUE(port.open().ok());
    ASSERT_TRUE(port.setReceiveThreshold(57).ok());
    driver.abortReads = true;
    ASSERT_TRUE(port.clearInput().ok() || port.isLost());
    ASSERT_TRUE(waitFor([&] { return port.isLost(); }, 1000));
    driver.abortReads = false;
    driver.refuseState = true;
    const lumo::Status write = port.write(std::vector<std::uint8_t>(8, 1));
    EXPECT_FALSE(write.ok());
    EXPECT_NE(port.state(), PortState::Open);
    EXPECT_EQ(port.open().error().find("already open"), std::string::npos) << port.open().error();
    driver.refuseState = false;
    EXPECT_TRUE(port.write(std::vector<std::uint8_t>(8, 1)).ok());
    EXPECT_EQ(port.state(), PortState::Open);
}

// Reads that end aborted without the port having cancelled them (a driver
// after the device was removed) are the device gone: the port does not ask
// again and again. A read the driver refuses outright is the same.
TEST(Win32SerialPort, AReadEndedByTheDriverIsTheDeviceGone)
{
    const struct {
        const char* name;
        bool abortReads;
        DWORD readFailure;
    } cases[] = {
        {"aborted by the driver", true, 0},
        {"refused by the driver", false, ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeCommApi driver;
        Win32SerialPort port({}, driver);
        ASSERT_TRUE(startUp(port).ok());
        driver.abortReads = c.abortReads;
        driver.readFailure = c.readFailure;
        const int before = driver.reads;
        port.clearInput();  // the tick's clearing asks for a new read
        waitFor([] { return false; }, 300);
        EXPECT_TRUE(port.isLost());
        EXPECT_LE(driver.reads - before, 2) << "reads asked again";
        // The station's own cancel is not the device gone.
        driver.abortReads = false;
        driver.readFailure = 0;
        ASSERT_TRUE(port.write(std::vector<std::uint8_t>(8, 1)).ok());
        ASSERT_TRUE(port.clearInput().ok());
        ASSERT_TRUE(port.clearInput().ok());
        EXPECT_EQ(port.state(), PortState::Open);
    }
}

// A driver that ignores a cancel does not keep the program from closing the
// port: the port waits a bounded time for what is in flight and lets go.
TEST(Win32SerialPort, ClosingWaitsABoundedTimeForAWedgedDriver)
{
    FakeCommApi driver;
    QElapsedTimer clock;
    {
        Win32SerialPort port({}, driver);
        ASSERT_TRUE(startUp(port).ok());
        driver.writesNeverEnd = true;
        ASSERT_TRUE(port.write(std::vector<std::uint8_t>(8, 1)).ok());
        driver.ignoreCancel = true;
        clock.start();
    }
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(driver.closes, 1);
}

}  // namespace
