// The serial layer's Windows side: port N is COMN, and the port is watched
// all the time (Windows' serial driver already hands over bytes in pieces,
// and QSerialPort's read notification there is not a socket notifier).
// Builds with the official Qt for Windows; there is none to build it with
// on the Linux machines this project is tested on.

#include "serialline.h"

namespace lumo {

PortPath resolvePortPath(const std::filesystem::path&, int number)
{
    // COM10 and above are reached only through the device namespace.
    const std::string name = "COM" + std::to_string(number);
    return {number >= 10 ? "\\\\.\\" + name : name, name};
}

// Windows opens a serial device exclusively and does not say who holds it.
std::optional<long long> lockingProcess(const std::string&) { return std::nullopt; }

LineWaker::LineWaker(QSerialPort& port) : port_(port) {}

void LineWaker::apply(int) {}

void LineWaker::afterWrite(std::size_t, int, const LineSettings&) {}

void LineWaker::answerComplete() {}

void LineWaker::stop() {}

void LineWaker::watchLineNow() {}

}  // namespace lumo
