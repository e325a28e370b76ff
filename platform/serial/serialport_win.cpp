// The serial line on Windows (win32serialport.h).

#include "serialport_win.h"

#include "commapi_win.h"

#include <QMetaObject>
#include <QWinEventNotifier>

#include <algorithm>

namespace lumo {

namespace {

BYTE parityOf(Parity parity)
{
    switch (parity) {
    case Parity::Even: return EVENPARITY;
    case Parity::Odd: return ODDPARITY;
    case Parity::Mark: return MARKPARITY;
    case Parity::Space: return SPACEPARITY;
    case Parity::None: break;
    }
    return NOPARITY;
}

BYTE stopBitsOf(StopBits stopBits)
{
    switch (stopBits) {
    case StopBits::OneAndHalf: return ONE5STOPBITS;
    case StopBits::Two: return TWOSTOPBITS;
    case StopBits::One: break;
    }
    return ONESTOPBIT;
}

HANDLE manualResetEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

}  // namespace

Win32SerialPort::Win32SerialPort(const std::filesystem::path&, CommApi& api) : api_(api)
{
    readOverlapped_.hEvent = manualResetEvent();
    writeOverlapped_.hEvent = manualResetEvent();
    drainOverlapped_.hEvent = manualResetEvent();
    readNotifier_ = std::make_unique<QWinEventNotifier>(readOverlapped_.hEvent);
    readNotifier_->setEnabled(false);
    QObject::connect(readNotifier_.get(), &QWinEventNotifier::activated, readNotifier_.get(),
                     [this] { onReadDone(); });
}

Win32SerialPort::~Win32SerialPort()
{
    closeHandle();
    readNotifier_.reset();
    for (HANDLE event : {readOverlapped_.hEvent, writeOverlapped_.hEvent, drainOverlapped_.hEvent})
        CloseHandle(event);
}

std::string Win32SerialPort::portName() const { return "COM" + std::to_string(number_); }

Status Win32SerialPort::failure(const std::string& what, DWORD error)
{
    const std::string text = systemMessage(error);
    if (isOpen() && deviceGone(error))
        markLost(text);
    return Status::failure(what + " " + portName() + ": " + text);
}

// Opens \\.\COMN (the only name that reaches COM10 and above) with every
// setting remembered so far: the component's buffer sizes, reads without
// timeouts (a read ends when it has all the bytes it asked for), and the
// line settings.
Status Win32SerialPort::openDevice()
{
    const std::wstring device = L"\\\\.\\COM" + std::to_wstring(number_);
    const HANDLE handle = api_.open(device);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        openFailure_ = "cannot open " + portName() + ": " + systemMessage(error);
        return Status::failure(openFailure_, openFailureCause(error, portName()));
    }
    handle_ = handle;
    COMMTIMEOUTS timeouts{};
    api_.setupComm(handle_, 1024, 512);
    if (!api_.setTimeouts(handle_, &timeouts)) {
        const DWORD error = GetLastError();
        closeHandle();
        openFailure_ = "cannot set up " + portName() + ": " + systemMessage(error);
        return Status::failure(openFailure_);
    }
    noteOpened(portName());
    if (Status applied = applyLineSettings(lineSettings_); !applied.ok())
        return applied;
    armRead();
    return Status::success();
}

Status Win32SerialPort::applyLineSettings(const LineSettings& settings)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!api_.getState(handle_, &dcb))
        return failure("cannot read the line settings of", GetLastError());
    dcb.BaudRate = static_cast<DWORD>(settings.baud);
    dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
    dcb.Parity = parityOf(settings.parity);
    dcb.StopBits = stopBitsOf(settings.stopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = settings.parity != Parity::None;
    // No flow control of any kind; DTR and RTS stay as the driver has them.
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!api_.setState(handle_, &dcb))
        return failure("cannot set the line settings \"" + settings.text() + "\" of", GetLastError());
    return Status::success();
}

// Flow control is turned off with every line setting.
Status Win32SerialPort::setNoHandshaking() { return ensureUsable("turn off flow control"); }

Status Win32SerialPort::setLineSettings(const LineSettings& settings)
{
    if (Status checked = checkLineSettings(settings); !checked.ok())
        return checked;
    if (isOpen()) {
        if (Status applied = applyLineSettings(settings); !applied.ok())
            return applied;
    }
    lineSettings_ = settings;
    return Status::success();
}

Status Win32SerialPort::setReceiveThreshold(int bytes)
{
    if (Status checked = checkReceiveThreshold(bytes); !checked.ok())
        return checked;
    receiveThreshold_ = bytes;
    if (isOpen()) {
        // The pending read asked for the old threshold's worth.
        if (Status taken = takeUpRead(true); !taken.ok())
            return taken;
        armRead();
    }
    return Status::success();
}

// Waits for the write in flight, if any, to end: quickly, since there is no
// flow control and clearing the output aborts it.
Status Win32SerialPort::takeUpWrite()
{
    if (!writePending_)
        return Status::success();
    writePending_ = false;
    DWORD written = 0;
    if (!waitResult(writeOverlapped_, written)) {
        const DWORD error = GetLastError();
        if (error != ERROR_OPERATION_ABORTED)  // cleared on purpose
            return failure("the last write did not reach", error);
    }
    return Status::success();
}

Status Win32SerialPort::clearOutput()
{
    if (Status usable = ensureUsable("clear output"); !usable.ok())
        return usable;
    if (!api_.purge(handle_, PURGE_TXABORT | PURGE_TXCLEAR))
        return failure("cannot clear output of", GetLastError());
    return takeUpWrite();
}

Status Win32SerialPort::clearInput()
{
    if (Status usable = ensureUsable("clear input"); !usable.ok())
        return usable;
    if (Status taken = takeUpRead(true); !taken.ok())
        return taken;
    received_.clear();
    if (!api_.purge(handle_, PURGE_RXCLEAR))
        return failure("cannot clear input of", GetLastError());
    armRead();
    return Status::success();
}

Status Win32SerialPort::writeBytes(std::span<const std::uint8_t> bytes)
{
    if (Status before = takeUpWrite(); !before.ok())
        return before;
    writing_.assign(bytes.begin(), bytes.end());
    ResetEvent(writeOverlapped_.hEvent);
    const auto size = static_cast<DWORD>(writing_.size());
    DWORD written = 0;
    if (api_.write(handle_, writing_.data(), size, &written, &writeOverlapped_)) {
        if (written != size)
            return Status::failure("cannot write " + std::to_string(size) + " bytes to " + portName() + ": " +
                                   std::to_string(written) + " taken");
        return Status::success();
    }
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING)
        return failure("cannot write " + std::to_string(size) + " bytes to", error);
    writePending_ = true;
    return Status::success();
}

Result<DWORD> Win32SerialPort::queuedBytes()
{
    DWORD errors = 0;
    COMSTAT state{};
    if (!api_.clearError(handle_, &errors, &state))
        return Result<DWORD>::failure(failure("cannot read the state of", GetLastError()).error());
    return Result<DWORD>::success(state.cbInQue);
}

// Adds what waits in the driver's queue beyond the pending read: exactly
// that many bytes are asked for, so the read ends at once.
Status Win32SerialPort::readQueued(Bytes& into)
{
    const Result<DWORD> queued = queuedBytes();
    if (!queued.ok())
        return Status::failure(queued.error());
    if (queued.value() == 0)
        return Status::success();
    const std::size_t before = into.size();
    into.resize(before + queued.value());
    ResetEvent(drainOverlapped_.hEvent);
    DWORD read = 0;
    if (!api_.read(handle_, into.data() + before, queued.value(), &drainOverlapped_) ||
        !api_.result(handle_, &drainOverlapped_, &read)) {
        if (GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_IO_INCOMPLETE) {
            into.resize(before);
            return failure("cannot read from", GetLastError());
        }
        if (!waitResult(drainOverlapped_, read)) {
            into.resize(before);
            return failure("cannot read from", GetLastError());
        }
    }
    into.resize(before + read);
    return Status::success();
}

Result<Bytes> Win32SerialPort::readWaiting()
{
    if (Status usable = ensureUsable("read"); !usable.ok())
        return Result<Bytes>::failure(usable.error());
    // Outside a receive event a read is pending: end it and keep what it got.
    if (Status taken = takeUpRead(true); !taken.ok())
        return Result<Bytes>::failure(taken.error());
    Bytes bytes = std::move(received_);
    received_.clear();
    const Status drained = readQueued(bytes);
    if (isOpen())
        armRead();
    if (!drained.ok())
        return Result<Bytes>::failure(drained.error());
    return Result<Bytes>::success(std::move(bytes));
}

// Asks the driver for the bytes still missing to the receive threshold.
// Completed at once or pending, the read's event is signalled when it ends
// and onReadDone takes it up on the event loop.
void Win32SerialPort::armRead()
{
    if (readPending_ || !isOpen() || handle_ == INVALID_HANDLE_VALUE || receiveThreshold_ <= 0)
        return;
    const std::size_t missing =
        received_.size() < static_cast<std::size_t>(receiveThreshold_) ? receiveThreshold_ - received_.size() : 1;
    reading_.resize(missing);
    ResetEvent(readOverlapped_.hEvent);
    if (!api_.read(handle_, reading_.data(), static_cast<DWORD>(missing), &readOverlapped_) &&
        GetLastError() != ERROR_IO_PENDING) {
        failure("cannot read from", GetLastError());
        return;
    }
    readPending_ = true;
    readNotifier_->setEnabled(true);
}

// Ends the pending read, cancelled or as it stands, and keeps its bytes.
Status Win32SerialPort::takeUpRead(bool cancel)
{
    if (!readPending_)
        return Status::success();
    if (cancel)
        api_.cancel(handle_, &readOverlapped_);
    DWORD read = 0;
    const bool done = cancel ? waitResult(readOverlapped_, read) : api_.result(handle_, &readOverlapped_, &read);
    const DWORD error = done ? ERROR_SUCCESS : GetLastError();
    if (!done && error == ERROR_IO_INCOMPLETE)
        return Status::success();
    readPending_ = false;
    readNotifier_->setEnabled(false);
    received_.insert(received_.end(), reading_.begin(), reading_.begin() + std::min<std::size_t>(read, reading_.size()));
    if (!done && error != ERROR_OPERATION_ABORTED)
        return failure("cannot read from", error);
    return Status::success();
}

void Win32SerialPort::onReadDone()
{
    if (!readPending_ || handle_ == INVALID_HANDLE_VALUE)
        return;
    if (Status taken = takeUpRead(false); !taken.ok()) {
        // Whatever the driver says, a read that failed is not asked again
        // (that could spin): the port counts as lost until the next write.
        markLost(taken.error());
        return;
    }
    if (readPending_)
        return;  // not done yet
    if (received_.size() >= static_cast<std::size_t>(receiveThreshold_))
        raiseReceiveEvent();
    armRead();
}

// The device is gone: close it now, so nothing is watched or retried until
// the next write asks for it again.
void Win32SerialPort::markLost(const std::string& reason)
{
    if (!noteLost(reason))
        return;
    // Closing from inside a notification of this port is left to the next
    // turn of the event loop.
    QMetaObject::invokeMethod(
        readNotifier_.get(),
        [this] {
            if (isLost())
                closeHandle();
        },
        Qt::QueuedConnection);
}

void Win32SerialPort::closeLostDevice() { closeHandle(); }

bool Win32SerialPort::waitResult(OVERLAPPED& overlapped, DWORD& transferred)
{
    WaitForSingleObject(overlapped.hEvent, INFINITE);
    return api_.result(handle_, &overlapped, &transferred);
}

void Win32SerialPort::closeHandle()
{
    if (handle_ == INVALID_HANDLE_VALUE)
        return;
    readNotifier_->setEnabled(false);
    // Cancelling the I/O in flight lets the driver give up this object's
    // buffers before the handle goes (Wine's PurgeComm does not end a
    // pending read).
    api_.cancel(handle_, nullptr);
    DWORD unused = 0;
    if (readPending_)
        waitResult(readOverlapped_, unused);
    if (writePending_)
        waitResult(writeOverlapped_, unused);
    readPending_ = writePending_ = false;
    received_.clear();
    api_.close(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

}  // namespace lumo
