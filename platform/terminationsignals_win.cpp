// Windows tells a program it is being closed (Ctrl+C, Ctrl+Break, the
// console closing, logoff, shutdown) through a console control handler on
// a thread of its own; the call is handed to the event loop, queued, as on
// POSIX. Builds with the official Qt for Windows; there is none to build it
// with on the Linux machines this project is tested on.

#include "terminationsignals.h"

#include <QMetaObject>

#include <windows.h>

namespace lumo {

namespace {

TerminationSignals* receiver = nullptr;

BOOL WINAPI noteControl(DWORD)
{
    if (!receiver)
        return FALSE;
    QMetaObject::invokeMethod(receiver, [] { receiver->drain(); }, Qt::QueuedConnection);
    return TRUE;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void()> onSignal) : onSignal_(std::move(onSignal))
{
    receiver = this;
    SetConsoleCtrlHandler(noteControl, TRUE);
}

TerminationSignals::~TerminationSignals()
{
    SetConsoleCtrlHandler(noteControl, FALSE);
    receiver = nullptr;
}

void TerminationSignals::drain()
{
    if (onSignal_)
        onSignal_();
}

}  // namespace lumo
