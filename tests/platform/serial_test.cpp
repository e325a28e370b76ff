// The Qt serial layer against real pseudo-terminals.

#include "qtserialport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace {

using lumo::Bytes;
using lumo::QtSerialPort;

// A pseudo-terminal pair; the harness keeps the slave side open too, or the
// line reads as hung up.
struct Pty {
    Pty()
    {
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            path = QString::fromLocal8Bit(name);
            termios t{};
            ::tcgetattr(slave, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(slave, TCSANOW, &t);
            ::fcntl(master, F_SETFL, O_NONBLOCK);
        }
    }
    ~Pty() { closeMaster(); if (slave >= 0) ::close(slave); }
    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    void send(const Bytes& bytes) const { (void)!::write(master, bytes.data(), bytes.size()); }
    Bytes received() const
    {
        Bytes all;
        std::uint8_t buffer[256];
        ssize_t n;
        while ((n = ::read(master, buffer, sizeof buffer)) > 0)
            all.insert(all.end(), buffer, buffer + n);
        return all;
    }

    int master = -1, slave = -1;
    QString path;
};

void spin(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(500);
    }
}

template <class Condition>
bool waitFor(Condition condition, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(500);
    }
    return true;
}

Bytes counting(int n)
{
    Bytes bytes;
    for (int i = 0; i < n; ++i)
        bytes.push_back(static_cast<std::uint8_t>(i + 1));
    return bytes;
}

struct Line {
    explicit Line(int threshold)
    {
        QFile::link(pty.path, dir.filePath("com1"));
        EXPECT_TRUE(port.open().ok());
        EXPECT_TRUE(port.setLineSettings("9600,n,8,1").ok());
        port.setReceiveThreshold(threshold);
        port.setReceiveHandler([this](int code) {
            codes.push_back(code);
            auto read = port.readWaiting();
            if (read.ok())
                reads.push_back(read.value());
        });
    }

    Pty pty;
    QTemporaryDir dir;
    QtSerialPort port{dir.path()};
    std::vector<int> codes;
    std::vector<Bytes> reads;
};

TEST(SerialLayer, ReceiveEventWaitsForTheThreshold)
{
    Line line(10);
    line.pty.send(counting(9));
    spin(150);
    EXPECT_TRUE(line.codes.empty());
    line.pty.send({10});
    ASSERT_TRUE(waitFor([&] { return !line.codes.empty(); }, 2000));
    spin(50);
    EXPECT_EQ(line.codes, std::vector<int>{lumo::kReceiveEventData});
    ASSERT_EQ(line.reads.size(), 1u);
    EXPECT_EQ(line.reads[0], counting(10));
}

TEST(SerialLayer, AnswerInPiecesRaisesOneEvent)
{
    Line line(57);
    line.pty.send(counting(5));  // a short exception answer raises nothing
    spin(100);
    EXPECT_TRUE(line.codes.empty());
    const Bytes all = counting(57);
    line.pty.send(Bytes(all.begin() + 5, all.begin() + 20));
    spin(30);
    line.pty.send(Bytes(all.begin() + 20, all.end()));
    ASSERT_TRUE(waitFor([&] { return !line.codes.empty(); }, 2000));
    spin(50);
    EXPECT_EQ(line.codes.size(), 1u);
    EXPECT_EQ(line.reads.at(0), all);
}

TEST(SerialLayer, ClearInputDropsWaitingBytes)
{
    Line line(10);
    line.pty.send(counting(6));
    spin(100);
    ASSERT_TRUE(line.port.clearInput().ok());
    line.pty.send(counting(6));
    spin(100);
    EXPECT_TRUE(line.codes.empty());  // 6 waiting, not 12
    auto read = line.port.readWaiting();
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read.value(), counting(6));
}

TEST(SerialLayer, WrittenBytesReachTheLineInOrder)
{
    Line line(10);
    const Bytes request = {0x2A, 0x01, 0x00, 0x2E};
    ASSERT_TRUE(line.port.write(request).ok());
    Bytes got;
    waitFor([&] {
        const Bytes more = line.pty.received();
        got.insert(got.end(), more.begin(), more.end());
        return got.size() >= request.size();
    }, 2000);
    EXPECT_EQ(got, request);
}

TEST(SerialLayer, PortNumbersNameDevices)
{
    QTemporaryDir dir;
    QFile::link("/dev/null-lumo-missing", dir.filePath("com3"));
    QtSerialPort port(dir.path());
    EXPECT_EQ(port.devicePath(3), "/dev/null-lumo-missing");
    EXPECT_EQ(port.devicePath(4), "/dev/ttyS3");
    EXPECT_EQ(port.devicePath(1), "/dev/ttyS0");
    EXPECT_FALSE(port.setPortNumber(0).ok());
    EXPECT_FALSE(port.setPortNumber(256).ok());
    EXPECT_EQ(port.portNumber(), 1);
    ASSERT_TRUE(port.setPortNumber(3).ok());
    const lumo::Status opened = port.open();
    ASSERT_FALSE(opened.ok());
    EXPECT_NE(opened.error().find("COM3"), std::string::npos) << opened.error();
    EXPECT_NE(opened.error().find("/dev/null-lumo-missing"), std::string::npos) << opened.error();
    EXPECT_NE(opened.error().find("No such file or directory"), std::string::npos) << opened.error();
    EXPECT_FALSE(port.write(Bytes{1}).ok());
    EXPECT_FALSE(port.clearInput().ok());
    EXPECT_FALSE(port.readWaiting().ok());
}

TEST(SerialLayer, DeviceHeldByAnotherProcessIsRefused)
{
    Pty pty;
    QTemporaryDir dir;
    QFile::link(pty.path, dir.filePath("com2"));
    QProcess holder;
    holder.start(QStringLiteral(SERIAL_HOLDER), {pty.path});
    ASSERT_TRUE(holder.waitForReadyRead(5000)) << holder.readAllStandardError().toStdString();

    QtSerialPort port(dir.path());
    ASSERT_TRUE(port.setPortNumber(2).ok());
    const lumo::Status opened = port.open();
    EXPECT_FALSE(opened.ok());
    EXPECT_NE(opened.error().find(pty.path.toStdString()), std::string::npos) << opened.error();
    EXPECT_NE(opened.error().find("COM2"), std::string::npos) << opened.error();

    holder.closeWriteChannel();
    holder.waitForFinished(5000);
    EXPECT_TRUE(port.open().ok()) << "the lock goes with the process";
}

TEST(SerialLayer, LineSettingsTexts)
{
    const struct {
        const char* text;
        bool ok;
        int baud;
    } cases[] = {{"9600,n,8,1", true, 9600},  {"19200,N,8,1", true, 19200}, {"14400,n,8,1", true, 14400},
                 {"600,e,7,2", true, 600},    {"9600,n,8,1.5", true, 9600}, {"9600,n,8", false, 0},
                 {"9600,x,8,1", false, 0},    {"abc,n,8,1", false, 0},      {"", false, 0},
                 {"9600,n,9,1", false, 0},    {"-9600,n,8,1", false, 0},    {"9600,n,8,1,", false, 0}};
    for (const auto& c : cases) {
        const auto line = lumo::parseLineSettings(c.text);
        EXPECT_EQ(line.has_value(), c.ok) << c.text;
        if (line) {
            EXPECT_EQ(line->baud, c.baud) << c.text;
        }
    }
}

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// An unplugged adapter: no busy loop, writes fail; a device back at the same
// path is opened again at the next write with the same settings.
TEST(SerialLayer, VanishingDeviceIsClosedAndReopenedAtTheNextWrite)
{
    QTemporaryDir dir;
    auto first = std::make_unique<Pty>();
    QFile::link(first->path, dir.filePath("com1"));
    QtSerialPort port(dir.path());
    ASSERT_TRUE(port.open().ok());
    ASSERT_TRUE(port.setLineSettings("19200,n,8,1").ok());
    port.setReceiveThreshold(10);

    first.reset();  // both ends gone
    const double before = cpuSeconds();
    spin(1000);
    const double used = cpuSeconds() - before;
    EXPECT_LT(used, 0.3) << "the event loop spun on the vanished device";
    EXPECT_FALSE(port.isOpen());
    EXPECT_TRUE(port.deviceLost());
    EXPECT_FALSE(port.write(Bytes{1, 2}).ok());

    Pty second;
    QFile::remove(dir.filePath("com1"));
    QFile::link(second.path, dir.filePath("com1"));
    ASSERT_TRUE(port.write(Bytes{0x2A, 0x05, 0x00, 0x2E}).ok());
    EXPECT_TRUE(port.isOpen());
    Bytes got;
    waitFor([&] {
        const Bytes more = second.received();
        got.insert(got.end(), more.begin(), more.end());
        return got.size() >= 4;
    }, 2000);
    EXPECT_EQ(got, (Bytes{0x2A, 0x05, 0x00, 0x2E}));
    termios t{};
    ::tcgetattr(second.slave, &t);
    EXPECT_EQ(::cfgetospeed(&t), B19200);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
