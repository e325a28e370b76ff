#pragma once
// The Win32 communications calls the serial port makes, behind an interface
// so that a test can stand in for a driver that misbehaves (a write that
// never ends, a read aborted again and again, line settings refused); and
// the system's words for what went wrong. The port waits on the events of
// its OVERLAPPED structures itself; a stand-in signals them as a driver would.

#include <windows.h>

#include <string>

namespace lumo {

class CommApi {
public:
    virtual ~CommApi() = default;

    // CreateFileW for read and write, not shared, overlapped.
    virtual HANDLE open(const std::wstring& device) = 0;
    virtual BOOL setupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) = 0;
    virtual BOOL setTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) = 0;
    virtual BOOL getState(HANDLE handle, DCB* dcb) = 0;
    virtual BOOL setState(HANDLE handle, DCB* dcb) = 0;
    virtual BOOL read(HANDLE handle, void* into, DWORD size, OVERLAPPED* overlapped) = 0;
    virtual BOOL write(HANDLE handle, const void* bytes, DWORD size, DWORD* written, OVERLAPPED* overlapped) = 0;
    // GetOverlappedResult without waiting: the port waits on the event.
    virtual BOOL result(HANDLE handle, OVERLAPPED* overlapped, DWORD* transferred) = 0;
    virtual BOOL cancel(HANDLE handle, OVERLAPPED* overlapped) = 0;
    virtual BOOL purge(HANDLE handle, DWORD flags) = 0;
    virtual BOOL clearError(HANDLE handle, DWORD* errors, COMSTAT* state) = 0;
    virtual BOOL close(HANDLE handle) = 0;
};

// The real calls.
CommApi& systemCommApi();

// The system's own text of an error code, as the operator's Windows words
// it, with the code.
std::string systemMessage(DWORD error);

// Errors with which a driver says the device itself is gone (a USB adapter
// unplugged) rather than that one operation was refused.
bool deviceGone(DWORD error);

// A failed open in the operator's words, where Windows' error says
// something they can act on; empty otherwise.
std::string openFailureCause(DWORD error, const std::string& name);

}  // namespace lumo
