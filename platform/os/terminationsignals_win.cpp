// Windows closes a program in two ways. A program with a console is told
// through a console control handler, on a thread of its own (Ctrl+C,
// Ctrl+Break, the console closing, log-off, shut-down); the call is handed
// to the event loop, queued, as on POSIX. For the last three Windows ends
// the process as soon as the handler returns, so the handler waits (at
// most 4 s of the 5 s Windows grants) until this object is destroyed, which
// the program does once the station, and with it the serial port, is gone.
// A windowed program is told of log-off and shut-down by WM_ENDSESSION,
// which Qt turns into aboutToQuit (connected by the program).

#include "terminationsignals.h"

#include <QMetaObject>

#include <windows.h>

#include <atomic>

namespace lumo {

namespace {

std::atomic<TerminationSignals*> receiver{nullptr};
HANDLE ended = nullptr;

BOOL WINAPI noteControl(DWORD control)
{
    TerminationSignals* target = receiver.load();
    if (!target)
        return FALSE;
    QMetaObject::invokeMethod(target, [target] { target->drain(); }, Qt::QueuedConnection);
    if (control == CTRL_CLOSE_EVENT || control == CTRL_LOGOFF_EVENT || control == CTRL_SHUTDOWN_EVENT)
        WaitForSingleObject(ended, 4000);
    return TRUE;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void()> onSignal) : onSignal_(std::move(onSignal))
{
    ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    receiver = this;
    SetConsoleCtrlHandler(noteControl, TRUE);
}

TerminationSignals::~TerminationSignals()
{
    receiver = nullptr;
    SetEvent(ended);
    SetConsoleCtrlHandler(noteControl, FALSE);
}

void TerminationSignals::drain()
{
    if (onSignal_)
        onSignal_();
}

}  // namespace lumo
