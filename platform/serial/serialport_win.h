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

#include "commapi_win.h"
#include "serialportbase.h"

#include <windows.h>

#include <filesystem>
#include <memory>
#include <string>

class QWinEventNotifier;

namespace lumo {

class Win32SerialPort : public SerialPortBase {
public:
    // Port N is COMN wherever the program is: the directory plays no part.
    // api: the Win32 calls, or a test's stand-in.
    explicit Win32SerialPort(const std::filesystem::path& programDirectory = {}, CommApi& api = systemCommApi());
    ~Win32SerialPort() override;
    Win32SerialPort(const Win32SerialPort&) = delete;
    Win32SerialPort& operator=(const Win32SerialPort&) = delete;

    Status setNoHandshaking() override;
    Status setLineSettings(const LineSettings& settings) override;
    Status setReceiveThreshold(int bytes) override;
    Status clearOutput() override;
    Status clearInput() override;
    Result<Bytes> readWaiting() override;

private:
    std::string portName() const override;  // "COM3"
    Status openDevice() override;
    void closeLostDevice() override;
    Status writeBytes(std::span<const std::uint8_t> bytes) override;
    bool waitResult(OVERLAPPED& overlapped, DWORD& transferred);
    Status applyLineSettings(const LineSettings& settings);
    Status failure(const std::string& what, DWORD error);
    Status takeUpWrite();
    void armRead();
    Status takeUpRead(bool cancel);
    void onReadDone();
    Result<DWORD> queuedBytes();
    Status readQueued(Bytes& into);
    void markLost(const std::string& reason);
    void closeHandle();

    CommApi& api_;
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

    LineSettings lineSettings_;
};

}  // namespace lumo
