// Leaves a serial port as a careless program might: 0x00 bytes dropped, an
// error character put in place of a byte with a parity error, RTS and DTR
// handshaking. For the end-to-end run that shows the station sets every
// field of the line itself.
//   setdcb.exe COMN

#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: setdcb COMN\n");
        return 2;
    }
    const std::string device = std::string("\\\\.\\") + argv[1];
    const HANDLE port = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "setdcb: cannot open %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    BOOL set = GetCommState(port, &dcb);
    if (set) {
        dcb.fNull = TRUE;
        dcb.fErrorChar = TRUE;
        dcb.ErrorChar = '?';
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
        dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
        set = SetCommState(port, &dcb);
    }
    const DWORD error = GetLastError();
    CloseHandle(port);
    if (!set) {
        std::fprintf(stderr, "setdcb: cannot set the line of %s: error %lu\n", argv[1], error);
        return 1;
    }
    std::printf("setdcb: %s left with 0x00 bytes dropped, an error character and RTS/DTR handshaking\n", argv[1]);
    return 0;
}
