#pragma once
// The serial line as the system uses it: exactly the operations of the
// station's serial communications component, each reporting success or a
// failure description. The Qt implementation lives in platform/; tests use
// an in-memory fake.

#include "linesettings.h"
#include "status.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace lumo {

using Bytes = std::vector<std::uint8_t>;

// Event code of a receive event: the receive threshold has been reached.
// Every other code (line states, errors) is ignored by the receive handlers.
inline constexpr int kReceiveEventData = 2;

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Port N is the system's serial port COMN.
    virtual Status setPortNumber(int number) = 0;
    virtual int portNumber() const = 0;
    virtual Status open() = 0;
    virtual Status setNoHandshaking() = 0;
    virtual Status setSendThreshold(int bytes) = 0;
    // Baud, parity, data bits, stop bits ("9600,n,8,1").
    virtual Status setLineSettings(const LineSettings& settings) = 0;
    virtual Status setBinaryInput() = 0;
    // A receive event with code kReceiveEventData is raised once at least this
    // many bytes are waiting; pieces that arrive separately are joined.
    virtual Status setReceiveThreshold(int bytes) = 0;
    virtual Status clearOutput() = 0;
    virtual Status clearInput() = 0;
    virtual Status write(std::span<const std::uint8_t> bytes) = 0;
    // Takes every waiting byte.
    virtual Result<Bytes> readWaiting() = 0;

    using ReceiveHandler = std::function<void(int eventCode)>;
    virtual void setReceiveHandler(ReceiveHandler handler) = 0;
};

}  // namespace lumo
