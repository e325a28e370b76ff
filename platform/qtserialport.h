#pragma once
// The station's serial line on Qt's QSerialPort, living on the GUI thread.
//
// Port N is COMN. On this platform COMN is whatever a link (or file) named
// "comN" in the program directory points at, otherwise /dev/ttyS<N-1>; the
// name is resolved each time the port is opened, so re-pointing the link
// takes effect at the next open.
//
// When the far end vanishes (USB adapter unplugged, pty master closed) Qt
// reports a read error on every turn of the event loop while isOpen() stays
// true. The port is then closed at once and marked lost; the next write
// tries one reopen with the same settings, so polling resumes by itself when
// the device is back.
//
// Bytes that trickle in one at a time (a paced line, a USB adapter with a
// short latency timer) would wake the program once per byte even with the
// wake threshold set: the kernel wakes every reader of the line for each
// byte and only then finds too few waiting. After a request the port
// therefore stops watching the line for as long as the answer has taken to
// come complete lately, never longer than the answer takes on the wire at
// the configured speed, and looks again a little before it is due. If the
// answer turns out to have been complete already, the learned time is
// forgotten and the next answer is watched for from the start.

#include "serialport.h"

#include <QSerialPort>
#include <QTimer>

#include <array>
#include <chrono>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace lumo {

// A line settings text such as "9600,n,8,1" taken apart.
struct LineSettings {
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// Baud (a positive whole number), parity letter n/e/o/m/s in either case,
// data bits 5..8, stop bits 1, 1.5 or 2, separated by commas; blanks around
// the fields are allowed. Anything else fails with a description.
Result<LineSettings> parseLineSettings(std::string_view text);

// Where port N leads. `device` is what gets opened; `shown` is the same for
// a person reading a failure ("/opt/lumo/com3 -> /dev/ttyUSB0").
struct PortPath {
    std::string device;
    std::string shown;
};
PortPath resolvePortPath(const std::filesystem::path& programDirectory, int number);

class QtSerialPort : public SerialPort {
public:
    explicit QtSerialPort(std::filesystem::path programDirectory);
    ~QtSerialPort() override;
    QtSerialPort(const QtSerialPort&) = delete;
    QtSerialPort& operator=(const QtSerialPort&) = delete;

    Status setPortNumber(int number) override;
    int portNumber() const override;
    Status open() override;
    Status setNoHandshaking() override;
    Status setSendThreshold(int bytes) override;
    Status setLineSettings(std::string_view settings) override;
    Status setBinaryInput() override;
    Status setReceiveThreshold(int bytes) override;
    Status clearOutput() override;
    Status clearInput() override;
    Status write(std::span<const std::uint8_t> bytes) override;
    Result<Bytes> readWaiting() override;
    void setReceiveHandler(ReceiveHandler handler) override;

    // True between the loss of the far end and a successful reopen.
    bool isLost() const { return lost_; }
    // True while the port is not watching the line after a request.
    bool isWaitingOutAnAnswer() const { return listenTimer_.isActive(); }

private:
    void applyWakeThreshold();
    std::string portName() const;  // "COM3 (/opt/lumo/com3 -> /dev/pts/7)"
    Status openResolved();
    Status applyLineSettings(const LineSettings& settings);
    Status ensureUsable(const char* operation);
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void closeLostPort();
    std::chrono::microseconds characterTime() const;
    void watchLineAfter(std::size_t bytesWritten);
    void watchLineNow();
    void noteAnswerComplete();

    std::filesystem::path programDirectory_;
    std::unique_ptr<QSerialPort> port_;
    int number_ = 1;
    LineSettings lineSettings_;
    int receiveThreshold_ = 0;
    int sendThreshold_ = 0;
    bool binaryInput_ = false;
    ReceiveHandler receiveHandler_;
    bool inReceiveHandler_ = false;
    // The program opened the port; stays true while the far end is lost.
    bool opened_ = false;
    std::string openedName_;
    bool lost_ = false;
    bool closeQueued_ = false;
    std::string lossReason_;
    std::string openFailure_;  // why the last open failed, until one succeeds

    // How long the last answers took from the end of the write to the
    // receive threshold, the newest at answerTimesKnown_ - 1 (mod size).
    static constexpr std::size_t kRememberedAnswers = 8;
    std::array<std::chrono::microseconds, kRememberedAnswers> answerTimes_{};
    std::size_t answerTimesKnown_ = 0;
    std::chrono::steady_clock::time_point writtenAt_{};
    bool answerAwaited_ = false;
    QTimer listenTimer_;
};

}  // namespace lumo
