#pragma once
// An in-memory serial line for the poll-cycle and start-up tests. It records
// every operation in order, holds "waiting" bytes that the test delivers, and
// raises the receive event the way the real layer does: once at least the
// receive threshold is waiting.

#include "serialport.h"

#include <map>
#include <string>

namespace lumo::testing {

class FakeSerialPort : public SerialPort {
public:
    // Operations that fail, by name ("open", "write", ...) -> description.
    std::map<std::string, std::string> failing;
    // Every operation called, by name, in order.
    std::vector<std::string> calls;
    // Every write, in order.
    std::vector<Bytes> written;
    Bytes waiting;
    bool isOpen = false;
    int number = 1;  // the component's preset port
    int threshold = 1;
    std::string lineSettings;  // as its settings string, "9600,n,8,1"

    Status setPortNumber(int n) override
    {
        if (auto s = step("setPortNumber"); !s.ok())
            return s;
        number = n;
        return Status::success();
    }
    int portNumber() const override { return number; }
    Status open() override
    {
        if (auto s = step("open"); !s.ok())
            return s;
        isOpen = true;
        return Status::success();
    }
    Status setNoHandshaking() override { return step("setNoHandshaking"); }
    Status setSendThreshold(int) override { return step("setSendThreshold"); }
    Status setLineSettings(const LineSettings& settings) override
    {
        if (auto s = step("setLineSettings"); !s.ok())
            return s;
        lineSettings = settings.text();
        return Status::success();
    }
    Status setBinaryInput() override { return step("setBinaryInput"); }
    Status setReceiveThreshold(int bytes) override
    {
        if (auto s = step("setReceiveThreshold"); !s.ok())
            return s;
        threshold = bytes;
        return Status::success();
    }
    Status clearOutput() override { return step("clearOutput"); }
    Status clearInput() override
    {
        if (auto s = step("clearInput"); !s.ok())
            return s;
        waiting.clear();
        return Status::success();
    }
    Status write(std::span<const std::uint8_t> bytes) override
    {
        if (auto s = step("write"); !s.ok())
            return s;
        written.emplace_back(bytes.begin(), bytes.end());
        return Status::success();
    }
    Result<Bytes> readWaiting() override
    {
        if (auto s = step("readWaiting"); !s.ok())
            return Result<Bytes>::failure(s.error());
        Bytes taken;
        taken.swap(waiting);
        return Result<Bytes>::success(std::move(taken));
    }
    void setReceiveHandler(ReceiveHandler h) override { handler = std::move(h); }

    // Bytes arrive from the line; raises the receive event when the threshold
    // is reached, as the real layer does.
    void arrive(const Bytes& bytes)
    {
        waiting.insert(waiting.end(), bytes.begin(), bytes.end());
        if (static_cast<int>(waiting.size()) >= threshold && handler)
            handler(kReceiveEventData);
    }
    // Raises an event of any code, whatever is waiting.
    void raise(int code)
    {
        if (handler)
            handler(code);
    }

    ReceiveHandler handler;

private:
    Status step(const std::string& name)
    {
        calls.push_back(name);
        if (auto it = failing.find(name); it != failing.end())
            return Status::failure(it->second);
        return Status::success();
    }
};

}  // namespace lumo::testing
