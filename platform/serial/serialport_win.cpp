// The serial line on Windows (serialport_win.h).

#include "serialport_win.h"

#include "linesetup_win.h"

#include <QMetaObject>
#include <QTimer>
#include <QWinEventNotifier>

#include <algorithm>
#include <utility>

namespace lumo {

using std::chrono::milliseconds;

namespace {

// What a driver may take to end an operation it was told to cancel, or to
// hand over bytes that are already in its queue.
constexpr milliseconds kDriverWait{300};

std::string inMilliseconds(milliseconds time) { return std::to_string(time.count()) + " ms"; }

}  // namespace

Win32SerialPort::Win32SerialPort(const std::filesystem::path&, CommApi& api)
    : api_(api),
      read_(std::make_unique<Io>()),
      write_(std::make_unique<Io>()),
      drain_(std::make_unique<Io>()),
      readNotifier_(std::make_unique<QWinEventNotifier>(read_->overlapped.hEvent)),
      writeNotifier_(std::make_unique<QWinEventNotifier>(write_->overlapped.hEvent)),
      writeDeadline_(std::make_unique<QTimer>())
{
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
    QObject::connect(readNotifier_.get(), &QWinEventNotifier::activated, readNotifier_.get(), [this] { onReadDone(); });
    QObject::connect(writeNotifier_.get(), &QWinEventNotifier::activated, writeNotifier_.get(),
                     [this] { takeUpWrite(milliseconds(0)); });
    // A write still in flight when its bound is up has not reached the line.
    writeDeadline_->setSingleShot(true);
    QObject::connect(writeDeadline_.get(), &QTimer::timeout, writeDeadline_.get(),
                     [this] { takeUpWrite(milliseconds(0)); });
}

Win32SerialPort::~Win32SerialPort() { closeHandle(); }

std::string Win32SerialPort::portName() const { return "COM" + std::to_string(number_); }

Status Win32SerialPort::failure(const std::string& what, DWORD error)
{
    const std::string text = systemMessage(error);
    if (isOpen() && deviceGone(error))
        markLost(text);
    return Status::failure(what + " " + portName() + ": " + text);
}

// What the driver did, or did not do, that says the device is gone.
Status Win32SerialPort::deviceGoneFailure(const std::string& why)
{
    markLost(why);
    return Status::failure(portName() + ": " + why);
}

// Opens \\.\COMN (the only name that reaches COM10 and above) with every
// setting remembered so far and the component's buffer sizes. The port is
// open only once it is configured: one whose settings the driver refuses
// is closed again and the open fails with the reason.
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
    api_.setupComm(handle_, 1024, 512);
    if (Status configured = applyLineSettings(lineSettings_); !configured.ok()) {
        closeHandle();
        openFailure_ = configured.error();
        return configured;
    }
    noteOpened(portName());
    armRead();
    if (isLost())
        return Status::failure(portName() + ": " + lossReason_);
    return Status::success();
}

void Win32SerialPort::closeLostDevice() { closeHandle(); }

// Every field of the line and the time-outs (linesetup_win.h).
Status Win32SerialPort::applyLineSettings(const LineSettings& settings)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!api_.getState(handle_, &dcb))
        return failure("cannot read the line settings of", GetLastError());
    describeLine(dcb, settings);
    if (!api_.setState(handle_, &dcb))
        return failure("cannot set the line settings \"" + settings.text() + "\" of", GetLastError());
    COMMTIMEOUTS timeouts = timeoutsOf(settings);
    if (!api_.setTimeouts(handle_, &timeouts))
        return failure("cannot set the time-outs of", GetLastError());
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

// Whether the operation ended within the time given (its event is set).
bool Win32SerialPort::ended(Io& io, milliseconds within)
{
    return WaitForSingleObject(io.overlapped.hEvent, static_cast<DWORD>(std::max<long long>(within.count(), 0))) ==
           WAIT_OBJECT_0;
}

// Takes up the write in flight, if any: it ended within `within`, was
// aborted because the output was cleared, or the device is gone.
Status Win32SerialPort::takeUpWrite(milliseconds within)
{
    if (!write_->pending)
        return Status::success();
    const std::size_t size = write_->bytes.size();
    if (!ended(*write_, within)) {
        api_.cancel(handle_, &write_->overlapped);
        return deviceGoneFailure("a write of " + std::to_string(size) + " bytes did not end within " +
                                 inMilliseconds(writeBound(size, lineSettings_)));
    }
    writeNotifier_->setEnabled(false);
    writeDeadline_->stop();
    write_->pending = false;
    const bool cleared = std::exchange(outputCleared_, false);
    DWORD written = 0;
    if (!api_.result(handle_, &write_->overlapped, &written)) {
        const DWORD error = GetLastError();
        if (cleared && error == ERROR_OPERATION_ABORTED)
            return Status::success();
        return deviceGoneFailure("a write of " + std::to_string(size) + " bytes failed: " + systemMessage(error));
    }
    if (written < size && !cleared)
        return deviceGoneFailure("the device took " + std::to_string(written) + " of " + std::to_string(size) +
                                 " bytes in " + inMilliseconds(writeBound(size, lineSettings_)));
    return Status::success();
}

Status Win32SerialPort::clearOutput()
{
    if (Status usable = ensureUsable("clear output"); !usable.ok())
        return usable;
    outputCleared_ = write_->pending;
    if (!api_.purge(handle_, PURGE_TXABORT | PURGE_TXCLEAR))
        return failure("cannot clear output of", GetLastError());
    return takeUpWrite(kDriverWait);
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

// The write is handed over and not waited for; its end, or its bound,
// comes into the event loop. A write still in flight from before is given
// what is left of its bound first.
Status Win32SerialPort::writeBytes(std::span<const std::uint8_t> bytes)
{
    const milliseconds leftOfBound(std::max(writeDeadline_->remainingTime(), 0));
    if (Status before = takeUpWrite(leftOfBound); !before.ok())
        return before;
    write_->restart();
    write_->bytes.assign(bytes.begin(), bytes.end());
    const auto size = static_cast<DWORD>(write_->bytes.size());
    DWORD written = 0;
    if (api_.write(handle_, write_->bytes.data(), size, &written, &write_->overlapped)) {
        if (written != size)
            return deviceGoneFailure("the device took " + std::to_string(written) + " of " + std::to_string(size) +
                                     " bytes");
        return Status::success();
    }
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING)
        return failure("cannot write " + std::to_string(size) + " bytes to", error);
    write_->pending = true;
    writeNotifier_->setEnabled(true);
    writeDeadline_->start(writeBound(size, lineSettings_));
    return Status::success();
}

// Adds what waits in the driver's queue beyond the pending read: exactly
// that many bytes are asked for, so the read ends at once.
Status Win32SerialPort::readQueued(Bytes& into)
{
    DWORD errors = 0;
    COMSTAT state{};
    if (!api_.clearError(handle_, &errors, &state))
        return failure("cannot read the state of", GetLastError());
    if (state.cbInQue == 0)
        return Status::success();
    drain_->restart();
    drain_->bytes.resize(state.cbInQue);
    if (!api_.read(handle_, drain_->bytes.data(), state.cbInQue, &drain_->overlapped) &&
        GetLastError() != ERROR_IO_PENDING)
        return failure("cannot read from", GetLastError());
    drain_->pending = true;
    if (!ended(*drain_, kDriverWait)) {
        api_.cancel(handle_, &drain_->overlapped);
        return deviceGoneFailure(std::to_string(state.cbInQue) + " bytes in the driver's queue were not handed over within " +
                                 inMilliseconds(kDriverWait));
    }
    drain_->pending = false;
    DWORD read = 0;
    if (!api_.result(handle_, &drain_->overlapped, &read))
        return failure("cannot read from", GetLastError());
    into.insert(into.end(), drain_->bytes.begin(), drain_->bytes.begin() + std::min<std::size_t>(read, state.cbInQue));
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
// and onReadDone takes it up on the event loop. Without a read pending
// nothing would ever be received: a read the driver refuses is the device
// gone.
void Win32SerialPort::armRead()
{
    if (read_->pending || !isOpen() || receiveThreshold_ <= 0)
        return;
    const std::size_t missing =
        received_.size() < static_cast<std::size_t>(receiveThreshold_) ? receiveThreshold_ - received_.size() : 1;
    read_->restart();
    read_->bytes.resize(missing);
    if (!api_.read(handle_, read_->bytes.data(), static_cast<DWORD>(missing), &read_->overlapped)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            markLost("cannot read from " + portName() + ": " + systemMessage(error));
            return;
        }
    }
    read_->pending = true;
    readNotifier_->setEnabled(true);
}

// Ends the pending read, cancelled (within a bounded time) or as it stands,
// and keeps its bytes. Only this port's own cancel may abort it: a read the
// driver ends with an error, an abort included (a driver after its device
// was removed), is the device gone, and is not asked again.
Status Win32SerialPort::takeUpRead(bool cancel)
{
    if (!read_->pending)
        return Status::success();
    if (cancel) {
        api_.cancel(handle_, &read_->overlapped);
        if (!ended(*read_, kDriverWait))
            return deviceGoneFailure("a cancelled read did not end within " + inMilliseconds(kDriverWait));
    }
    DWORD read = 0;
    const bool done = api_.result(handle_, &read_->overlapped, &read);
    const DWORD error = done ? ERROR_SUCCESS : GetLastError();
    if (!done && error == ERROR_IO_INCOMPLETE)
        return Status::success();
    read_->pending = false;
    readNotifier_->setEnabled(false);
    received_.insert(received_.end(), read_->bytes.begin(),
                     read_->bytes.begin() + std::min<std::size_t>(read, read_->bytes.size()));
    if (done || (cancel && error == ERROR_OPERATION_ABORTED))
        return Status::success();
    return deviceGoneFailure("a read ended: " + systemMessage(error));
}

void Win32SerialPort::onReadDone()
{
    if (!read_->pending || handle_ == INVALID_HANDLE_VALUE)
        return;
    if (!takeUpRead(false).ok() || read_->pending)
        return;  // the device is gone, or the read is not done yet
    if (received_.size() >= static_cast<std::size_t>(receiveThreshold_))
        raiseReceiveEvent();
    armRead();
}

// The device is gone: close it soon, so nothing is watched or retried until
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

// Cancelling the I/O in flight lets the driver give up this object's
// buffers before the handle goes (Wine's PurgeComm does not end a pending
// read). What a driver does not let go of within a bounded time is left to
// it for good.
void Win32SerialPort::closeHandle()
{
    if (handle_ == INVALID_HANDLE_VALUE)
        return;
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
    writeDeadline_->stop();
    api_.cancel(handle_, nullptr);
    const auto deadline = std::chrono::steady_clock::now() + kDriverWait;
    for (std::unique_ptr<Io>* io : {&read_, &write_, &drain_}) {
        if (!(*io)->pending)
            continue;
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
        if (!ended(**io, left)) {
            abandon(*io);
            continue;
        }
        DWORD unused = 0;
        api_.result(handle_, &(*io)->overlapped, &unused);
        (*io)->pending = false;
    }
    received_.clear();
    api_.close(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

// The driver may still write into the OVERLAPPED and the bytes: freeing
// them would be worse than keeping them, so they are never freed, and a new
// pair takes their place.
void Win32SerialPort::abandon(std::unique_ptr<Io>& io)
{
    static_cast<void>(io.release());
    io = std::make_unique<Io>();
    readNotifier_->setHandle(read_->overlapped.hEvent);
    writeNotifier_->setHandle(write_->overlapped.hEvent);
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
}

}  // namespace lumo
