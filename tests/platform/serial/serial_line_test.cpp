// COMN names and port numbers: no device involved.

#include "serialport_posix.h"
#include "serial_pty.h"

#include <gtest/gtest.h>

#include <fstream>

namespace lumo {
namespace {

using testing::ProgramDirectory;

TEST(PortPathResolution, WithoutLinkPortNIsTtySOfNMinusOne)
{
    ProgramDirectory directory;
    const int numbers[] = {1, 3, 10, 255};
    for (int n : numbers) {
        const PortPath path = resolvePortPath(directory.path(), n);
        const std::string expected = "/dev/ttyS" + std::to_string(n - 1);
        EXPECT_EQ(path.device, expected);
        EXPECT_EQ(path.shown, expected);
    }
}

TEST(PortPathResolution, AbsoluteLinkTargetIsUsed)
{
    ProgramDirectory directory;
    directory.link(3, "/dev/null");
    const PortPath path = resolvePortPath(directory.path(), 3);
    EXPECT_EQ(path.device, "/dev/null");
    EXPECT_EQ(path.shown, (directory.path() / "com3").string() + " -> /dev/null");
}

TEST(PortPathResolution, RelativeLinkTargetIsTakenFromTheProgramDirectory)
{
    ProgramDirectory directory;
    std::filesystem::create_directory(directory.path() / "dev");
    std::ofstream(directory.path() / "dev" / "line").put('x');
    directory.link(2, "dev/line");
    const PortPath path = resolvePortPath(directory.path(), 2);
    EXPECT_EQ(path.device, (directory.path() / "dev" / "line").string());
}

TEST(PortPathResolution, LinkToALinkOpensTheRealDeviceAndShowsTheChain)
{
    // The shape of /dev/serial/by-id/usb-... -> ../../ttyUSB0.
    ProgramDirectory directory;
    std::filesystem::create_directories(directory.path() / "by-id");
    std::ofstream(directory.path() / "ttyUSB0").put('x');
    std::filesystem::create_symlink("../ttyUSB0", directory.path() / "by-id" / "usb-adapter");
    const auto byId = (directory.path() / "by-id" / "usb-adapter").string();
    directory.link(4, byId);
    const PortPath path = resolvePortPath(directory.path(), 4);
    const auto real = (directory.path() / "ttyUSB0").string();
    EXPECT_EQ(path.device, real);
    EXPECT_EQ(path.shown, (directory.path() / "com4").string() + " -> " + byId + " -> " + real);
}

TEST(PortPathResolution, DanglingLinkKeepsItsTarget)
{
    ProgramDirectory directory;
    directory.link(5, "/dev/pts/nothing-here");
    const PortPath path = resolvePortPath(directory.path(), 5);
    EXPECT_EQ(path.device, "/dev/pts/nothing-here");
}

TEST(PortPathResolution, PlainFileNamedComNIsTheDevice)
{
    ProgramDirectory directory;
    std::ofstream(directory.path() / "com6").put('x');
    const PortPath path = resolvePortPath(directory.path(), 6);
    EXPECT_EQ(path.device, (directory.path() / "com6").string());
}

TEST(PortNumber, PresetIsOne)
{
    PosixSerialPort port("/nonexistent");
    EXPECT_EQ(port.portNumber(), 1);
}

TEST(PortNumber, OutOfRangeFailsAndKeepsTheNumber)
{
    PosixSerialPort port("/nonexistent");
    ASSERT_TRUE(port.setPortNumber(7).ok());
    const int rows[] = {0, -1, 256, 32767, -32768};
    for (int n : rows) {
        SCOPED_TRACE(n);
        const Status s = port.setPortNumber(n);
        EXPECT_FALSE(s.ok());
        EXPECT_NE(s.error().find(std::to_string(n)), std::string::npos) << s.error();
        EXPECT_EQ(port.portNumber(), 7);
    }
    EXPECT_TRUE(port.setPortNumber(1).ok());
    EXPECT_TRUE(port.setPortNumber(255).ok());
    EXPECT_EQ(port.portNumber(), 255);
}

TEST(Thresholds, NegativeThresholdsFailOthersAreKept)
{
    PosixSerialPort port("/nonexistent");
    EXPECT_FALSE(port.setReceiveThreshold(-1).ok());
    EXPECT_FALSE(port.setSendThreshold(-1).ok());
    EXPECT_TRUE(port.setReceiveThreshold(0).ok());
    EXPECT_TRUE(port.setReceiveThreshold(57).ok());
    EXPECT_TRUE(port.setSendThreshold(0).ok());
    EXPECT_TRUE(port.setBinaryInput().ok());
    EXPECT_TRUE(port.setNoHandshaking().ok());
}

TEST(ClosedPort, LineSettingsAreKeptWhileClosedMalformedAreRefused)
{
    PosixSerialPort port("/nonexistent");
    EXPECT_TRUE(port.setLineSettings(LineSettings{19200}).ok());
    EXPECT_FALSE(port.setLineSettings(LineSettings{19200, Parity::None, 9}).ok());
}

TEST(ClosedPort, OperationsFailNamingThePort)
{
    ProgramDirectory directory;
    PosixSerialPort port(directory.path());
    ASSERT_TRUE(port.setPortNumber(4).ok());
    const std::string notOpen = "COM4 (/dev/ttyS3) is not open";
    const Bytes request{0x2A, 0x01, 0x00, 0x2E};
    EXPECT_EQ(port.write(request).error(), notOpen);
    EXPECT_EQ(port.clearInput().error(), notOpen);
    EXPECT_EQ(port.clearOutput().error(), notOpen);
    EXPECT_EQ(port.readWaiting().error(), notOpen);
}

// Start-up reports only the last failure of its sequence, which is one of
// these: it must still say why the port could not be opened.
TEST(ClosedPort, AfterAFailedOpenOperationsTellWhy)
{
    ProgramDirectory directory;
    // COM200 of this directory only: /dev/ttyS199, which other tests try,
    // may be locked for a moment by one of them.
    const std::string missing = (directory.path() / "no-such-device").string();
    directory.link(200, missing);
    PosixSerialPort port(directory.path());
    ASSERT_TRUE(port.setPortNumber(200).ok());
    const Status opened = port.open();
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(port.clearInput().error(), "COM200 (" + (directory.path() / "com200").string() + " -> " + missing +
                                             ") is not open (" + opened.error() + ")");
    EXPECT_NE(opened.error().find("No such file or directory"), std::string::npos) << opened.error();
}

}  // namespace
}  // namespace lumo
