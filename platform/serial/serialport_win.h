#pragma once
// The station's serial line on Windows: the Win32 communications API behind
// the SerialPort interface, on the GUI thread. Port N is \\.\COMN.
//
// Every field of the line is set on open: the line settings, and for the
// rest a plain line without handshaking, whatever another program left.
// Received bytes are taken by a read of the receive threshold's worth of
// bytes that is always pending: it completes once that many have arrived,
// however many pieces they came in, and signals an event that
// QWinEventNotifier brings into the event loop, where the receive event is
// raised. Nothing polls. Writes are overlapped and not waited for (at 600
// baud a Modbus request is 133 ms on the wire); their end is watched the
// same way.
//
// Nothing waits without a limit: a write that has not ended within its time
// on the wire and a margin, a read or write that does not end when
// cancelled, or a read the driver ends on its own, is the device gone (a USB
// adapter unplugged, a wedged driver). The port is then closed and marked
// lost, nothing is watched any more, and the next write tries one reopen
// with the same settings, so polling resumes by itself when the device is
// back.

#include "commapi_win.h"
#include "serialportbase.h"

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

class QTimer;
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
    // One overlapped operation: its OVERLAPPED with an event of its own, the
    // bytes the driver reads or fills while it is pending.
    struct Io {
        OVERLAPPED overlapped{};
        Bytes bytes;
        bool pending = false;

        Io() { overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
        ~Io() { CloseHandle(overlapped.hEvent); }
        Io(const Io&) = delete;
        Io& operator=(const Io&) = delete;
        // Ready for the next operation: the same event, cleared.
        void restart()
        {
            const HANDLE event = overlapped.hEvent;
            overlapped = {};
            overlapped.hEvent = event;
            ResetEvent(event);
        }
    };

    std::string portName() const override;  // "COM3"
    Status openDevice() override;
    void closeLostDevice() override;
    Status writeBytes(std::span<const std::uint8_t> bytes) override;
    Status applyLineSettings(const LineSettings& settings);
    Status failure(const std::string& what, DWORD error);
    Status deviceGoneFailure(const std::string& why);
    bool ended(Io& io, std::chrono::milliseconds within);
    Status takeUpWrite(std::chrono::milliseconds within);
    void armRead();
    Status takeUpRead(bool cancel);
    void onReadDone();
    Status readQueued(Bytes& into);
    void markLost(const std::string& reason);
    void closeHandle();
    void abandon(std::unique_ptr<Io>& io);

    CommApi& api_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::unique_ptr<Io> read_;   // always pending while the port is open
    std::unique_ptr<Io> write_;  // the write in flight
    std::unique_ptr<Io> drain_;  // what waits beyond the read, taken by readWaiting
    std::unique_ptr<QWinEventNotifier> readNotifier_;
    std::unique_ptr<QWinEventNotifier> writeNotifier_;
    std::unique_ptr<QTimer> writeDeadline_;
    bool outputCleared_ = false;  // the write in flight was aborted on purpose
    // Bytes received and not yet taken by readWaiting().
    Bytes received_;
    LineSettings lineSettings_;
};

}  // namespace lumo
