#pragma once
// The station's serial line on Windows: the Win32 communications API behind
// the SerialPort interface, on the GUI thread. Port N is \\.\COMN.
//
// Received bytes are taken by a read of the receive threshold's worth of
// bytes that is always pending: it completes once that many have arrived,
// however many pieces they came in, and signals an event that
// QWinEventNotifier brings into the event loop, where the receive event is
// raised. Nothing polls. Writes are overlapped and not waited for (at 600
// baud a Modbus request is 133 ms on the wire): the next write or a
// clearing of the output takes up the last one.
//
// When the adapter vanishes the pending read or an operation fails with a
// device error: the port is closed at once and marked lost, nothing is
// watched any more, and the next write tries one reopen with the same
// settings, so polling resumes by itself when the device is back.

#include "serialport.h"

#include <windows.h>

#include <filesystem>
#include <memory>
#include <string>

class QWinEventNotifier;

namespace lumo {

class Win32SerialPort : public SerialPort {
public:
    // Port N is COMN wherever the program is: the directory plays no part.
    explicit Win32SerialPort(const std::filesystem::path& programDirectory = {});
    ~Win32SerialPort() override;
    Win32SerialPort(const Win32SerialPort&) = delete;
    Win32SerialPort& operator=(const Win32SerialPort&) = delete;

    Status setPortNumber(int number) override;
    int portNumber() const override;
    Status open() override;
    Status setNoHandshaking() override;
    Status setSendThreshold(int bytes) override;
    Status setLineSettings(const LineSettings& settings) override;
    Status setBinaryInput() override;
    Status setReceiveThreshold(int bytes) override;
    Status clearOutput() override;
    Status clearInput() override;
    Status write(std::span<const std::uint8_t> bytes) override;
    Result<Bytes> readWaiting() override;
    void setReceiveHandler(ReceiveHandler handler) override;

    // True between the loss of the device and a successful reopen.
    bool isLost() const { return lost_; }

private:
    std::string portName() const;  // "COM3"
    Status openHandle();
    Status applyLineSettings(const LineSettings& settings);
    Status ensureUsable(const char* operation) const;
    Status failure(const std::string& what, DWORD error);
    Status takeUpWrite();
    void armRead();
    Status takeUpRead(bool cancel);
    void onReadDone();
    Result<DWORD> queuedBytes();
    Status readQueued(Bytes& into);
    void markLost(const std::string& reason);
    void closeHandle();

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    // The pending read: the driver fills `reading_` until it completes.
    OVERLAPPED readOverlapped_{};
    Bytes reading_;
    bool readPending_ = false;
    std::unique_ptr<QWinEventNotifier> readNotifier_;
    // Bytes received and not yet taken by readWaiting().
    Bytes received_;
    OVERLAPPED writeOverlapped_{};
    Bytes writing_;  // the bytes of a write in flight: the driver reads them until it ends
    bool writePending_ = false;
    OVERLAPPED drainOverlapped_{};

    int number_ = 1;
    LineSettings lineSettings_;
    int receiveThreshold_ = 0;
    ReceiveHandler receiveHandler_;
    bool inReceiveHandler_ = false;
    bool opened_ = false;  // stays true while the device is lost
    bool lost_ = false;
    std::string lossReason_;
    std::string openFailure_;  // why the last open failed, until one succeeds
};

}  // namespace lumo
