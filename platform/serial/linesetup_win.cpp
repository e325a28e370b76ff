#include "linesetup_win.h"

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

}  // namespace

// Every byte kept (0x00 too: fNull would drop them), none replaced on an
// error, no XON/XOFF, no CTS/DSR flow control, DTR and RTS raised as Linux
// raises them when a terminal is opened.
void describeLine(DCB& dcb, const LineSettings& settings)
{
    dcb.BaudRate = static_cast<DWORD>(settings.baud);
    dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
    dcb.Parity = parityOf(settings.parity);
    dcb.StopBits = stopBitsOf(settings.stopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = settings.parity != Parity::None;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    dcb.ErrorChar = dcb.EofChar = dcb.EvtChar = 0;
}

COMMTIMEOUTS timeoutsOf(const LineSettings& settings)
{
    COMMTIMEOUTS timeouts{};
    const auto perByte = settings.timeOfBits(settings.bitsPerCharacter());
    timeouts.WriteTotalTimeoutMultiplier =
        static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(perByte).count());
    timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(kWriteMargin.count());
    return timeouts;
}

std::chrono::milliseconds writeBound(std::size_t bytes, const LineSettings& line)
{
    const auto wire = line.timeOfBits(static_cast<long long>(bytes) * line.bitsPerCharacter());
    return std::chrono::ceil<std::chrono::milliseconds>(wire) + kWriteMargin;
}

}  // namespace lumo
