#include "scan.h"

#include "answer.h"
#include "baudtable.h"
#include "blockcodec.h"
#include "gridmodel.h"
#include "jsontext.h"
#include "modbuspoller.h"
#include "request.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

namespace lumo::probe {

namespace {

using std::chrono::microseconds;

microseconds characters(const LineSettings& line, std::size_t count)
{
    return line.timeOfBits(static_cast<long long>(count) * line.bitsPerCharacter());
}

std::string hexByte(std::uint8_t byte)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

std::string blockProblem(int address, const Bytes& bytes)
{
    if (bytes.size() < block::kAnswerLength)
        return std::to_string(bytes.size()) + " bytes, not a whole answer";
    block::Answer answer{};
    std::copy_n(bytes.begin(), answer.size(), answer.begin());
    const auto why = block::rejectionOf(answer, static_cast<std::uint8_t>(address), 0);
    if (!why)
        return {};
    switch (*why) {
    case Rejection::Length: return "end byte " + hexByte(answer[9]) + ", not 0xAA";
    case Rejection::Check: return "check byte wrong";
    case Rejection::Foreign: return "answered as address " + std::to_string(answer[0]);
    case Rejection::Echo: return "block echo " + std::to_string(answer[1]) + ", not 0";
    }
    return {};
}

std::string modbusProblem(int address, const Bytes& bytes)
{
    // An exception answer: address, function | 0x80, code, CRC.
    if (bytes.size() == 5 && bytes[1] == (modbus::kReadHoldingRegisters | 0x80))
        return "Modbus exception " + std::to_string(bytes[2]);
    if (bytes.size() != modbus::kAnswerLength)
        return std::to_string(bytes.size()) + " bytes, not " + std::to_string(modbus::kAnswerLength);
    const auto body = modbus::acceptAnswerHex(modbus::hexText(bytes));
    if (!body)
        return "CRC wrong";
    if ((*body)[0] != address)
        return "answered as address " + std::to_string((*body)[0]);
    return {};
}

}  // namespace

Bytes requestOf(Protocol protocol, int address)
{
    const auto byte = static_cast<std::uint8_t>(address);
    if (protocol == Protocol::Block) {
        const block::Request request = block::requestFrame(byte, 0);
        return Bytes(request.begin(), request.end());
    }
    const modbus::RequestFrame request = modbus::readRequest(byte);
    return Bytes(request.begin(), request.end());
}

std::size_t answerLengthOf(Protocol protocol)
{
    return protocol == Protocol::Block ? block::kAnswerLength : modbus::kAnswerLength;
}

microseconds firstByteWait(Protocol protocol, const LineSettings& line)
{
    return characters(line, requestOf(protocol, 1).size() + 2) + modbus::kTurnaroundAllowance;
}

microseconds restOfAnswerWait(Protocol protocol, const LineSettings& line)
{
    return characters(line, answerLengthOf(protocol)) * 3 / 2 + std::chrono::milliseconds(20);
}

microseconds silenceBefore(const LineSettings& line)
{
    return std::max<microseconds>(characters(line, 4), std::chrono::milliseconds(2));
}

std::optional<Finding> judge(Protocol protocol, int address, int baud, const Heard& heard)
{
    if (heard.bytes.empty())
        return std::nullopt;
    Finding finding;
    finding.baud = baud;
    finding.address = address;
    finding.protocol = protocol;
    finding.problem = protocol == Protocol::Block ? blockProblem(address, heard.bytes)
                                                  : modbusProblem(address, heard.bytes);
    finding.answered = finding.problem.empty();
    // The block protocol takes the first ten bytes; more is worth knowing.
    if (finding.answered && heard.bytes.size() > answerLengthOf(protocol))
        finding.problem = std::to_string(heard.bytes.size() - answerLengthOf(protocol)) + " bytes more";
    finding.answerTime = heard.lastAfter;
    return finding;
}

ScanOutcome scanLine(SerialPort& port, const std::vector<int>& bauds, const Exchange& exchange,
                     const std::function<void(int baud, Protocol, int address)>& progress)
{
    ScanOutcome outcome;
    for (const int baud : bauds) {
        const LineSettings settings = lineSettingsForBaudText(std::to_string(baud));
        if (Status set = port.setLineSettings(settings); !set.ok()) {
            outcome.failure = "the port does not take " + std::to_string(baud) + " baud: " + set.error();
            break;
        }
        const auto started = std::chrono::steady_clock::now();
        for (Protocol protocol : {Protocol::Block, Protocol::Modbus}) {
            for (int address = 1; address <= kInstruments && outcome.failure.empty(); ++address) {
                if (progress)
                    progress(baud, protocol, address);
                const Result<Heard> heard = exchange(protocol, address, settings);
                if (!heard.ok())
                    outcome.failure = std::to_string(baud) + " baud: " + heard.error();
                else if (auto found = judge(protocol, address, baud, heard.value()))
                    outcome.findings.push_back(*found);
            }
        }
        if (!outcome.failure.empty())
            break;
        outcome.bauds.push_back({baud, std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - started)});
    }
    std::stable_sort(outcome.findings.begin(), outcome.findings.end(), [](const Finding& a, const Finding& b) {
        return std::tie(a.baud, a.address, a.protocol) < std::tie(b.baud, b.address, b.protocol);
    });
    return outcome;
}

std::string protocolName(Protocol protocol) { return protocol == Protocol::Block ? "block" : "Modbus"; }

std::string table(const ScanOutcome& outcome)
{
    const std::vector<Finding>& findings = outcome.findings;
    std::string text = "baud    address  protocol  answer  time ms  problem\n";
    for (const Finding& f : findings) {
        char line[160];
        std::snprintf(line, sizeof line, "%-7d %7d  %-8s  %-6s  %7s  %s\n", f.baud, f.address,
                      protocolName(f.protocol).c_str(), f.answered ? "yes" : "no",
                      f.answerTime ? millisecondsText(*f.answerTime).c_str() : "-", f.problem.empty() ? "-" : f.problem.c_str());
        text += line;
    }
    if (findings.empty())
        text += "(nothing answered)\n";
    for (const BaudScan& b : outcome.bauds)
        text += std::to_string(b.baud) + " baud: " + std::to_string(kInstruments) + " addresses in both protocols in " +
                millisecondsText(std::chrono::duration_cast<microseconds>(b.took)) + " ms\n";
    if (!outcome.failure.empty())
        text += "scan ended early: " + outcome.failure + "\n";
    return text;
}

std::string json(const std::string& port, const ScanOutcome& outcome)
{
    const std::vector<Finding>& findings = outcome.findings;
    const std::vector<BaudScan>& bauds = outcome.bauds;
    std::string text = "{\"port\":" + jsonString(port) + ",\"found\":[";
    for (std::size_t i = 0; i < findings.size(); ++i) {
        const Finding& f = findings[i];
        text += std::string(i ? "," : "") + "{\"baud\":" + std::to_string(f.baud) + ",\"address\":" +
                std::to_string(f.address) + ",\"protocol\":" + jsonString(f.protocol == Protocol::Block ? "block" : "modbus") +
                ",\"answered\":" + (f.answered ? "true" : "false") +
                ",\"answer_ms\":" + (f.answerTime ? millisecondsText(*f.answerTime) : "null") +
                ",\"problem\":" + (f.problem.empty() ? "null" : jsonString(f.problem)) + "}";
    }
    text += "],\"bauds\":[";
    for (std::size_t i = 0; i < bauds.size(); ++i)
        text += std::string(i ? "," : "") + "{\"baud\":" + std::to_string(bauds[i].baud) +
                ",\"ms\":" + std::to_string(bauds[i].took.count()) + "}";
    return text + "],\"failure\":" + (outcome.failure.empty() ? "null" : jsonString(outcome.failure)) + "}\n";
}

}  // namespace lumo::probe
