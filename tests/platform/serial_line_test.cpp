// Line settings texts, COMN names and port numbers: no device involved.

#include "qtserialport.h"
#include "serial_pty.h"

#include <gtest/gtest.h>

#include <fstream>

namespace lumo {
namespace {

using testing::ProgramDirectory;

struct GoodSettings {
    const char* text;
    qint32 baud;
    QSerialPort::Parity parity;
    QSerialPort::DataBits dataBits;
    QSerialPort::StopBits stopBits;
};

TEST(LineSettingsText, WellFormedTextsAreTakenApart)
{
    const GoodSettings rows[] = {
        {"9600,n,8,1", 9600, QSerialPort::NoParity, QSerialPort::Data8, QSerialPort::OneStop},
        {"600,n,8,1", 600, QSerialPort::NoParity, QSerialPort::Data8, QSerialPort::OneStop},
        {"14400,n,8,1", 14400, QSerialPort::NoParity, QSerialPort::Data8, QSerialPort::OneStop},
        {"19200,N,8,1", 19200, QSerialPort::NoParity, QSerialPort::Data8, QSerialPort::OneStop},
        {"4800,e,7,2", 4800, QSerialPort::EvenParity, QSerialPort::Data7, QSerialPort::TwoStop},
        {"2400,O,6,1.5", 2400, QSerialPort::OddParity, QSerialPort::Data6, QSerialPort::OneAndHalfStop},
        {"1200,m,5,1", 1200, QSerialPort::MarkParity, QSerialPort::Data5, QSerialPort::OneStop},
        {"115200,S,8,2", 115200, QSerialPort::SpaceParity, QSerialPort::Data8, QSerialPort::TwoStop},
        {" 9600 , n , 8 , 1 ", 9600, QSerialPort::NoParity, QSerialPort::Data8, QSerialPort::OneStop},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const auto parsed = parseLineSettings(row.text);
        ASSERT_TRUE(parsed.ok()) << parsed.error();
        EXPECT_EQ(parsed.value().baud, row.baud);
        EXPECT_EQ(parsed.value().parity, row.parity);
        EXPECT_EQ(parsed.value().dataBits, row.dataBits);
        EXPECT_EQ(parsed.value().stopBits, row.stopBits);
    }
}

TEST(LineSettingsText, MalformedTextsFailWithTheText)
{
    const char* rows[] = {
        "", "9600", "9600,n,8", "9600,n,8,1,", "9600,n,8,1,1", ",n,8,1", "abc,n,8,1",
        "96 00,n,8,1", "9600x,n,8,1", "0,n,8,1", "-9600,n,8,1", "99999999999,n,8,1",
        "9600,,8,1", "9600,x,8,1", "9600,nn,8,1", "9600,n,4,1", "9600,n,9,1", "9600,n,8.0,1",
        "9600,n,8,0", "9600,n,8,3", "9600,n,8,1.2", "9600;n;8;1",
    };
    for (const char* row : rows) {
        SCOPED_TRACE(row);
        const auto parsed = parseLineSettings(row);
        ASSERT_FALSE(parsed.ok());
        EXPECT_NE(parsed.error().find(std::string("\"") + row + "\""), std::string::npos) << parsed.error();
    }
}

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
    QtSerialPort port("/nonexistent");
    EXPECT_EQ(port.portNumber(), 1);
}

TEST(PortNumber, OutOfRangeFailsAndKeepsTheNumber)
{
    QtSerialPort port("/nonexistent");
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
    QtSerialPort port("/nonexistent");
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
    QtSerialPort port("/nonexistent");
    EXPECT_TRUE(port.setLineSettings("19200,n,8,1").ok());
    EXPECT_FALSE(port.setLineSettings("19200,n,8").ok());
}

TEST(ClosedPort, OperationsFailNamingThePort)
{
    ProgramDirectory directory;
    QtSerialPort port(directory.path());
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
    QtSerialPort port(directory.path());
    ASSERT_TRUE(port.setPortNumber(200).ok());
    const Status opened = port.open();
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(port.clearInput().error(), "COM200 (/dev/ttyS199) is not open (" + opened.error() + ")");
    EXPECT_NE(opened.error().find("No such file or directory"), std::string::npos) << opened.error();
}

}  // namespace
}  // namespace lumo
