#pragma once
// The serial line on QSerialPort, on the GUI thread.
//
// Port number N names COMN: the device a link named comN in the program's
// directory points to when there is one (so COM3 can be /dev/ttyUSB0, a
// /dev/serial/by-id path, or a pseudo-terminal in tests), otherwise
// /dev/ttyS<N-1>.
//
// When the device vanishes while open (an unplugged adapter, a closed
// pseudo-terminal) the port is closed at once: Qt would otherwise report the
// read error in a tight loop. The next write then tries to open the same port
// again with the same settings, so polling resumes without a restart.

#include "serialport.h"

#include <QSerialPort>
#include <QString>

namespace lumo {

struct LineSettings {
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// "9600,n,8,1" -> settings; nothing for a malformed text.
std::optional<LineSettings> parseLineSettings(std::string_view text);

class QtSerialPort : public SerialPort {
public:
    explicit QtSerialPort(const QString& programDir);
    ~QtSerialPort() override;

    Status setPortNumber(int number) override;
    int portNumber() const override { return number_; }
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
    void setReceiveHandler(ReceiveHandler handler) override { handler_ = std::move(handler); }

    // The device that port number N names now.
    QString devicePath(int number) const;
    bool isOpen() const { return port_.isOpen(); }
    bool deviceLost() const { return lost_; }

private:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    Status openDevice();
    Status applyLineSettings(const LineSettings& line);
    Status notOpen() const;
    Status failure(const QString& what) const;
    std::string describe() const;

    QSerialPort port_;
    QString dir_;
    int number_ = 1;
    LineSettings line_;
    int receiveThreshold_ = 0;
    int sendThreshold_ = 0;
    bool lost_ = false;
    bool inHandler_ = false;
    QString openedPath_;
    ReceiveHandler handler_;
};

}  // namespace lumo
