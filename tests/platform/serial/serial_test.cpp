// The Qt serial line over real pseudo-terminals: receive threshold, buffer
// clearing, writes, open failures and the far end vanishing.

#include "serialport_posix.h"
#include "serial_pty.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace lumo {
namespace {

using testing::Pty;
using testing::ProgramDirectory;
using testing::runEventLoopFor;
using testing::waitUntil;

Bytes counting(std::size_t count, std::uint8_t from = 0)
{
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(from + i);
    return bytes;
}

// Line settings as start-up hands them over: a text taken apart first.
Status setLine(PosixSerialPort& port, const char* text)
{
    const auto settings = parseLineSettings(text);
    return settings.ok() ? port.setLineSettings(settings.value()) : Status::failure(settings.error());
}

speed_t lineSpeed(int fd)
{
    termios attributes{};
    tcgetattr(fd, &attributes);
    return cfgetospeed(&attributes);
}

class SerialOverPty : public ::testing::Test {
protected:
    // Configures the port the way start-up does, then counts receive events.
    void openConfigured(int threshold, const char* settings = "9600,n,8,1")
    {
        directory.link(1, pty->slavePath());
        port = std::make_unique<PosixSerialPort>(directory.path());
        ASSERT_TRUE(port->setPortNumber(1).ok());
        const Status opened = port->open();
        ASSERT_TRUE(opened.ok()) << opened.error();
        ASSERT_TRUE(port->setNoHandshaking().ok());
        ASSERT_TRUE(port->setSendThreshold(0).ok());
        ASSERT_TRUE(setLine(*port, "9600,n,8,1").ok());
        ASSERT_TRUE(port->setBinaryInput().ok());
        ASSERT_TRUE(port->clearOutput().ok());
        ASSERT_TRUE(port->clearInput().ok());
        ASSERT_TRUE(setLine(*port, settings).ok());
        ASSERT_TRUE(port->setReceiveThreshold(threshold).ok());
        port->setReceiveHandler([this](int code) {
            events.push_back(code);
            if (readInHandler) {
                auto got = port->readWaiting();
                ASSERT_TRUE(got.ok()) << got.error();
                reads.push_back(got.value());
            }
        });
    }

    std::unique_ptr<Pty> pty = std::make_unique<Pty>();
    ProgramDirectory directory;
    std::unique_ptr<PosixSerialPort> port;
    std::vector<int> events;
    std::vector<Bytes> reads;
    bool readInHandler = true;
};

TEST_F(SerialOverPty, NineBytesRaiseNothingTheTenthRaisesOneEvent)
{
    openConfigured(10);
    pty->send(counting(9));
    runEventLoopFor(200);
    EXPECT_TRUE(events.empty());
    pty->send({0x09});
    ASSERT_TRUE(waitUntil([&] { return !events.empty(); }));
    runEventLoopFor(100);
    ASSERT_EQ(events, std::vector<int>{kReceiveEventData});
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0], counting(10));
}

// The program is woken once per answer, not once per byte: the line holds
// the read back until the receive threshold is waiting.
TEST_F(SerialOverPty, LineWakesTheProgramOnlyAtTheThreshold)
{
    openConfigured(57);
    termios tio{};
    ASSERT_EQ(::tcgetattr(pty->slaveFd(), &tio), 0);
    EXPECT_EQ(tio.c_cc[VMIN], 57);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
    ASSERT_TRUE(setLine(*port, "19200,n,8,1").ok());
    ASSERT_EQ(::tcgetattr(pty->slaveFd(), &tio), 0);
    EXPECT_EQ(tio.c_cc[VMIN], 57) << "changing the line settings keeps the wake threshold";
}

TEST_F(SerialOverPty, ShortModbusExceptionAnswerRaisesNothingAt57)
{
    openConfigured(57);
    pty->send({0x01, 0x83, 0x02, 0xC0, 0xF1});
    runEventLoopFor(300);
    EXPECT_TRUE(events.empty());
}

TEST_F(SerialOverPty, AnswerInPiecesRaisesOneEventAndTheReadGetsItAll)
{
    openConfigured(57);
    const Bytes answer = counting(57, 0x40);
    pty->send(Bytes(answer.begin(), answer.begin() + 7));
    runEventLoopFor(30);
    pty->send(Bytes(answer.begin() + 7, answer.begin() + 27));
    runEventLoopFor(30);
    EXPECT_TRUE(events.empty());
    pty->send(Bytes(answer.begin() + 27, answer.end()));
    ASSERT_TRUE(waitUntil([&] { return !events.empty(); }));
    runEventLoopFor(150);
    ASSERT_EQ(events.size(), 1u);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0], answer);
}

TEST_F(SerialOverPty, ThresholdZeroRaisesNoEvents)
{
    openConfigured(0);
    pty->send(counting(20));
    runEventLoopFor(200);
    EXPECT_TRUE(events.empty());
    const auto got = port->readWaiting();
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(got.value(), counting(20));
}

TEST_F(SerialOverPty, ClearInputDropsWaitingBytes)
{
    openConfigured(0);
    pty->send(counting(12));
    runEventLoopFor(200);
    ASSERT_TRUE(port->clearInput().ok());
    pty->send({0xAA});
    Bytes got;
    ASSERT_TRUE(waitUntil([&] {
        auto piece = port->readWaiting();
        got.insert(got.end(), piece.value().begin(), piece.value().end());
        return !got.empty();
    }));
    EXPECT_EQ(got, Bytes{0xAA});
}

TEST_F(SerialOverPty, HandlerThatClearsAndWritesIsSafe)
{
    openConfigured(10);
    readInHandler = false;
    port->setReceiveHandler([this](int code) {
        events.push_back(code);
        EXPECT_TRUE(port->clearOutput().ok());
        EXPECT_TRUE(port->clearInput().ok());
        EXPECT_TRUE(port->write(Bytes{0x2A, 0x02, 0x00, 0x2E}).ok());
    });
    pty->send(counting(10));
    ASSERT_TRUE(waitUntil([&] { return !events.empty(); }));
    EXPECT_EQ(pty->receive(4), (Bytes{0x2A, 0x02, 0x00, 0x2E}));
    runEventLoopFor(100);
    EXPECT_EQ(events.size(), 1u);
}

TEST_F(SerialOverPty, WrittenBytesArriveInOrder)
{
    openConfigured(10, "19200,n,8,1");
    EXPECT_EQ(lineSpeed(pty->slaveFd()), speed_t(B19200));
    Bytes all;
    for (std::uint8_t address = 1; address <= 5; ++address) {
        const Bytes request{0x2A, address, 0x03, 0x2E};
        ASSERT_TRUE(port->write(request).ok());
        all.insert(all.end(), request.begin(), request.end());
    }
    const Bytes binary = counting(256);
    ASSERT_TRUE(port->write(binary).ok());
    all.insert(all.end(), binary.begin(), binary.end());
    EXPECT_EQ(pty->receive(all.size()), all);
}

TEST_F(SerialOverPty, LineSettingsChangeOnTheOpenPortMalformedLeaveItAlone)
{
    openConfigured(10, "19200,n,8,1");
    ASSERT_TRUE(setLine(*port, "4800,n,8,1").ok());
    EXPECT_EQ(lineSpeed(pty->slaveFd()), speed_t(B4800));
    EXPECT_FALSE(setLine(*port, "9600,n,8").ok());
    EXPECT_FALSE(setLine(*port, "9600,q,8,1").ok());
    EXPECT_EQ(lineSpeed(pty->slaveFd()), speed_t(B4800));
    // A pty may refuse parity or 7 bits; either answer is fine, no crash.
    setLine(*port, "9600,e,7,1");
    EXPECT_TRUE(setLine(*port, "14400,n,8,1").ok());
}

TEST_F(SerialOverPty, SettingsGivenBeforeOpenAreApplied)
{
    directory.link(1, pty->slavePath());
    PosixSerialPort early(directory.path());
    ASSERT_TRUE(setLine(early, "2400,n,8,1").ok());
    ASSERT_TRUE(early.open().ok());
    EXPECT_EQ(lineSpeed(pty->slaveFd()), speed_t(B2400));
    const Status changeNumber = early.setPortNumber(2);
    EXPECT_FALSE(changeNumber.ok());
    EXPECT_EQ(early.portNumber(), 1);
    EXPECT_FALSE(early.open().ok());
}

TEST_F(SerialOverPty, MissingDeviceFailsNamingTheLinkAndTarget)
{
    const std::string target = pty->slavePath() + "-gone";
    directory.link(3, target);
    PosixSerialPort port3(directory.path());
    ASSERT_TRUE(port3.setPortNumber(3).ok());
    const Status s = port3.open();
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error(), "cannot open COM3 (" + (directory.path() / "com3").string() + " -> " + target +
                             "): No such file or directory");
}

TEST_F(SerialOverPty, NoLinkFailsNamingTtyS)
{
    PosixSerialPort port200(directory.path());
    ASSERT_TRUE(port200.setPortNumber(200).ok());
    const Status s = port200.open();
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().rfind("cannot open COM200 (/dev/ttyS199): ", 0), 0u) << s.error();
}

TEST_F(SerialOverPty, DeviceHeldByAnotherProgramFailsNamingThePath)
{
    QProcess holder;
    holder.start(LUMO_SERIAL_HOLDER, {QString::fromStdString(pty->slavePath())});
    ASSERT_TRUE(holder.waitForStarted(5000));
    ASSERT_TRUE(waitUntil([&] { return holder.readAllStandardOutput().contains("open"); }, 5000))
        << holder.readAllStandardError().toStdString();

    directory.link(1, pty->slavePath());
    PosixSerialPort held(directory.path());
    const Status s = held.open();
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.error().find("cannot open COM1 ("), std::string::npos) << s.error();
    EXPECT_NE(s.error().find(pty->slavePath()), std::string::npos) << s.error();

    holder.closeWriteChannel();
    ASSERT_TRUE(holder.waitForFinished(5000));
    const Status afterwards = held.open();
    EXPECT_TRUE(afterwards.ok()) << afterwards.error();
}

TEST_F(SerialOverPty, VanishedFarEndDoesNotSpinAndTheLineComesBack)
{
    openConfigured(10, "19200,n,8,1");
    pty->closeMaster();

    const double before = testing::processCpuSeconds();
    runEventLoopFor(1000);
    const double spent = testing::processCpuSeconds() - before;
    EXPECT_LT(spent, 0.2) << "event loop spun on the read error";
    EXPECT_TRUE(port->isLost());

    EXPECT_FALSE(port->write(Bytes{0x2A, 0x01, 0x00, 0x2E}).ok());
    EXPECT_FALSE(port->clearInput().ok());
    EXPECT_FALSE(port->readWaiting().ok());
    const double beforeSecond = testing::processCpuSeconds();
    runEventLoopFor(500);
    EXPECT_LT(testing::processCpuSeconds() - beforeSecond, 0.1) << "spun after a failed write";

    // The adapter is back under a new device node.
    auto replacement = std::make_unique<Pty>();
    directory.link(1, replacement->slavePath());
    const Bytes request{0x2A, 0x02, 0x00, 0x2E};
    const Status resumed = port->write(request);
    ASSERT_TRUE(resumed.ok()) << resumed.error();
    EXPECT_FALSE(port->isLost());
    EXPECT_EQ(replacement->receive(request.size()), request);
    EXPECT_EQ(lineSpeed(replacement->slaveFd()), speed_t(B19200));

    replacement->send(counting(10));
    ASSERT_TRUE(waitUntil([&] { return !events.empty(); }));
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0], counting(10));
}

// An instrument on its own thread: answers every request of `requestSize`
// bytes with `answer` after a turnaround, one byte per 10 bit times at 9600
// baud, or at once while `paced` is false. A turnaround of more than a few
// milliseconds keeps the answer's end well after the port looks again (the
// quiet spell is bounded by the wire time of request and answer alone), also
// when a busy machine wakes the port late.
class PacedInstrument {
public:
    PacedInstrument(int fd, std::size_t requestSize, Bytes answer, std::chrono::milliseconds turnaround)
        : fd_(fd), requestSize_(requestSize), answer_(std::move(answer)),
          turnaroundNs_(std::chrono::nanoseconds(turnaround).count()), thread_([this] { run(); })
    {
    }
    ~PacedInstrument()
    {
        stop_ = true;
        thread_.join();
    }
    std::atomic<bool> paced{true};

private:
    void run()
    {
        std::size_t pending = 0;
        while (!stop_) {
            pollfd ready{fd_, POLLIN, 0};
            if (::poll(&ready, 1, 20) != 1)
                continue;
            std::uint8_t chunk[64];
            const ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n <= 0)
                return;
            pending += static_cast<std::size_t>(n);
            if (pending < requestSize_)
                continue;
            pending = 0;
            if (!paced) {
                if (::write(fd_, answer_.data(), answer_.size()) < 0)
                    return;
                continue;
            }
            timespec due{};
            clock_gettime(CLOCK_MONOTONIC, &due);
            due.tv_nsec += turnaroundNs_ - kByteTimeNs;
            for (std::uint8_t byte : answer_) {
                due.tv_nsec += kByteTimeNs;
                if (due.tv_nsec >= 1'000'000'000) {
                    due.tv_nsec -= 1'000'000'000;
                    ++due.tv_sec;
                }
                clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
                if (::write(fd_, &byte, 1) < 0)
                    return;
            }
        }
    }

    static constexpr long kByteTimeNs = 1'041'667;  // 10 bits at 9600 baud
    int fd_;
    std::size_t requestSize_;
    Bytes answer_;
    long turnaroundNs_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

long sleepsOfThisThread()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

// Bytes trickling in one at a time wake every reader of the line once per
// byte; after a request the port leaves the line alone while the answer is
// on its way and still gets the whole answer.
TEST_F(SerialOverPty, PacedAnswerWakesTheProgramFarLessThanOncePerByte)
{
    openConfigured(57);
    const Bytes request = counting(8, 0xA0);
    const Bytes answer = counting(57, 0x10);
    PacedInstrument instrument(pty->masterFd(), request.size(), answer, std::chrono::milliseconds(12));

    // Sleeps only until something happens, so that every sleep counted is
    // the line's doing (waitUntil would add its own every 10 ms).
    const auto exchange = [&] {
        events.clear();
        reads.clear();
        EXPECT_TRUE(port->write(request).ok());
        QElapsedTimer clock;
        clock.start();
        QTimer guard;
        guard.start(100);
        while (events.empty() && clock.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        ASSERT_EQ(reads.size(), 1u);
        EXPECT_EQ(reads[0], answer);
    };
    for (int i = 0; i < 3; ++i)
        exchange();  // the port learns how long answers take
    constexpr int kExchanges = 6;
    const long before = sleepsOfThisThread();
    for (int i = 0; i < kExchanges; ++i)
        exchange();
    const long sleeps = sleepsOfThisThread() - before;
    EXPECT_LT(sleeps, kExchanges * 57 / 3) << "woken for most of the " << kExchanges * 57 << " bytes";
}

// The instrument answers faster than the last answers came: the answer is
// still received whole, and the next request is watched for at once.
TEST_F(SerialOverPty, FasterAnswerThanLearnedIsReceivedAndLearnedAfresh)
{
    openConfigured(57);
    const Bytes request = counting(8, 0xA0);
    const Bytes answer = counting(57, 0x10);
    PacedInstrument instrument(pty->masterFd(), request.size(), answer, std::chrono::milliseconds(20));
    const auto exchange = [&] {
        events.clear();
        reads.clear();
        const bool written = port->write(request).ok();
        const bool quiet = port->isWaitingOutAnAnswer();
        EXPECT_TRUE(written);
        EXPECT_TRUE(waitUntil([&] { return !events.empty(); }, 2000));
        EXPECT_EQ(reads.size(), 1u);
        if (!reads.empty()) {
            EXPECT_EQ(reads[0], answer);
        }
        return quiet;
    };
    EXPECT_FALSE(exchange()) << "nothing learned yet";
    EXPECT_TRUE(exchange()) << "a paced answer was seen";
    instrument.paced = false;
    EXPECT_TRUE(exchange());   // waited out as learned, then found complete
    EXPECT_FALSE(exchange()) << "the slower answer times were not forgotten";
    exchange();  // and the fast one is received as usual
}

// Requests that come sooner than the answers took lately (ticks shorter
// than the learned answer time) must not keep the port from ever looking
// at the line: once a request cuts a spell short, answers come through.
TEST_F(SerialOverPty, RequestsSoonerThanTheLearnedAnswerTimeStillGetAnswers)
{
    openConfigured(57);
    const Bytes request = counting(8, 0xA0);
    const Bytes answer = counting(57, 0x10);
    PacedInstrument instrument(pty->masterFd(), request.size(), answer, std::chrono::milliseconds(40));
    for (int i = 0; i < 3; ++i) {  // about 100 ms each: spells of the wire time, 66 ms
        events.clear();
        ASSERT_TRUE(port->write(request).ok());
        ASSERT_TRUE(waitUntil([&] { return !events.empty(); }, 2000));
    }
    instrument.paced = false;
    int answered = 0;
    for (int i = 0; i < 6; ++i) {
        events.clear();
        ASSERT_TRUE(port->write(request).ok());
        waitUntil([&] { return !events.empty(); }, 30);  // the next tick
        answered += events.empty() ? 0 : 1;
        port->clearInput();
    }
    EXPECT_GE(answered, 4);
}

// A new request during the quiet spell (the next tick) ends it; its answer
// arrives as usual, and a lost port leaves no quiet spell behind.
TEST_F(SerialOverPty, RequestDuringTheQuietSpellAndLossEndIt)
{
    openConfigured(57);
    const Bytes request = counting(8, 0xA0);
    const Bytes answer = counting(57, 0x10);
    {
        PacedInstrument instrument(pty->masterFd(), request.size(), answer, std::chrono::milliseconds(20));
        ASSERT_TRUE(port->write(request).ok());
        ASSERT_TRUE(waitUntil([&] { return !events.empty(); }, 2000));
        ASSERT_TRUE(port->write(Bytes(request.begin(), request.begin() + 4)).ok());  // half a request
        ASSERT_TRUE(port->isWaitingOutAnAnswer());
        events.clear();
        reads.clear();
        ASSERT_TRUE(port->write(Bytes(request.begin() + 4, request.end())).ok());
        ASSERT_TRUE(waitUntil([&] { return !events.empty(); }, 2000));
        ASSERT_EQ(reads.size(), 1u);
        EXPECT_EQ(reads[0], answer);
        ASSERT_TRUE(port->write(request).ok());
        ASSERT_TRUE(port->isWaitingOutAnAnswer());
    }
    pty->closeMaster();
    EXPECT_TRUE(waitUntil([&] { return port->isLost(); }, 2000));
    EXPECT_FALSE(port->isWaitingOutAnAnswer());
}

}  // namespace
}  // namespace lumo
