#pragma once
// lumoprobe's scan, as plain logic over one exchange at a time: what to ask
// each address in each protocol, how long to wait for it at a baud, what
// came back, and the report. The serial port and the waiting are main.cpp's.

#include "linesettings.h"
#include "serialport.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lumo::probe {

enum class Protocol { Block, Modbus };

// What one request brought back: the bytes, and when the first came and
// the last, counted from the moment the request was handed to the port
// (its own time on the wire included).
struct Heard {
    Bytes bytes;
    std::optional<std::chrono::microseconds> firstAfter;
    std::optional<std::chrono::microseconds> lastAfter;
};

// Asks as the stations do: block 0 of the instrument, or the 26 registers.
Bytes requestOf(Protocol protocol, int address);
std::size_t answerLengthOf(Protocol protocol);

// How long to wait for the first byte of an answer: the request on the
// wire, an instrument's reaction (as long as a station allows it) and two
// characters; and once it has begun, for the rest of it (half as long
// again as the wire needs, for the gaps of a slow instrument).
std::chrono::microseconds firstByteWait(Protocol protocol, const LineSettings& line);
std::chrono::microseconds restOfAnswerWait(Protocol protocol, const LineSettings& line);
// The silence before each request, so that an instrument that heard the
// other protocol's request as noise is ready again (Modbus' 3.5 characters,
// at least 2 ms).
std::chrono::microseconds silenceBefore(const LineSettings& line);

struct Finding {
    int baud = 0;
    int address = 0;
    Protocol protocol = Protocol::Block;
    bool answered = false;                    // a whole, correct answer of that address
    std::optional<std::chrono::microseconds> answerTime;  // the request handed to the port to the answer's last byte
    std::string problem;                      // what was wrong with what came, if anything came
};

// Nothing when nothing came back; else what an answer to this request was.
std::optional<Finding> judge(Protocol protocol, int address, int baud, const Heard& heard);

struct BaudScan {
    int baud = 0;
    std::chrono::milliseconds took{};
};

// One request on the line and what came back, or why it could not be sent.
using Exchange = std::function<Result<Heard>(Protocol, int address, const LineSettings&)>;

struct ScanOutcome {
    std::vector<Finding> findings;  // by baud, address, protocol
    std::vector<BaudScan> bauds;    // those scanned whole
    std::string failure;            // why the scan ended early; empty when it did not
};

// Every address 1..39 at each baud, each protocol in a pass of its own: a
// slave that hunts for frames byte by byte (pymodbus does) keeps what it did
// not understand, and a block request just before a Modbus request to the
// same address makes it throw the Modbus one away with it. A baud the port
// refuses, or a request it cannot send, ends the scan: nothing is reported
// under a baud the line was not at.
ScanOutcome scanLine(SerialPort& port, const std::vector<int>& bauds, const Exchange& exchange,
                     const std::function<void(int baud, Protocol, int address)>& progress = {});

std::string protocolName(Protocol protocol);
// The report: a table for a person, JSON for a machine. `port` is the port
// as it was given (a number, COMN or a device path).
std::string table(const ScanOutcome& outcome);
std::string json(const std::string& port, const ScanOutcome& outcome);

}  // namespace lumo::probe
