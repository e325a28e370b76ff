#pragma once
// The station's serial line on POSIX, on Qt's QSerialPort, living on the GUI
// thread: the operations of the SerialPort interface, the receive threshold,
// and a lost device. Where port N leads, who holds a device and how the
// program is woken for an answer are in serialline_posix.cpp.
//
// Port N is COMN; where it leads is resolved each time the port is opened,
// so re-pointing a comN link takes effect at the next open.
//
// When the far end vanishes (USB adapter unplugged, pty master closed) Qt
// reports a read error on every turn of the event loop while isOpen() stays
// true. The port is then closed at once and marked lost; the next write
// tries one reopen with the same settings, so polling resumes by itself when
// the device is back.

#include "serialline_posix.h"
#include "serialportbase.h"

#include <QSerialPort>

#include <filesystem>
#include <memory>
#include <string>

namespace lumo {

class PosixSerialPort : public SerialPortBase {
public:
    explicit PosixSerialPort(std::filesystem::path programDirectory);
    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    Status setNoHandshaking() override;
    Status setLineSettings(const LineSettings& settings) override;
    Status setReceiveThreshold(int bytes) override;
    Status clearOutput() override;
    Status clearInput() override;
    Result<Bytes> readWaiting() override;

    // True while the port is not watching the line after a request.
    bool isWaitingOutAnAnswer() const { return waker_.quiet(); }

private:
    std::string portName() const override;  // "COM3 (/opt/lumo/com3 -> /dev/pts/7)"
    // Resolves COMN afresh and opens it.
    Status openDevice() override;
    void closeLostDevice() override;
    Status writeBytes(std::span<const std::uint8_t> bytes) override;
    Status applyLineSettings(const LineSettings& settings);
    Status clear(QSerialPort::Direction direction, const char* what);
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);

    std::filesystem::path programDirectory_;
    std::unique_ptr<QSerialPort> port_;
    LineWaker waker_;
    LineSettings lineSettings_;
    bool closeQueued_ = false;
};

}  // namespace lumo
