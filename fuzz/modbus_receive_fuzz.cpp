// The Modbus receive-to-decoder path: arbitrary ticks, chunks, events and
// firings of the chain timer against the Modbus poller.
//
// Input: a count text selector, a baud text selector, then operations:
//   0..2  a chunk of 1..64 bytes arrives (raises the event at 57 waiting)
//   3     a chunk of exactly 57 bytes arrives
//   4     the input's next 57 bytes, with a correct CRC appended to 55 of them
//   5     ticks of the poll timer (0..3 more)
//   6     the chain timer fires
//   7     an event of an arbitrary code
//   8     the count text changes
//   9     the next write fails / stops failing

#include "answer.h"
#include "crc16.h"
#include "fakeserialport.h"
#include "faketimers.h"
#include "fuzzinput.h"
#include "baudtable.h"
#include "modbuspoller.h"

using lumo::Bytes;
using lumo::fuzz::check;
using lumo::modbus::kAnswerLength;

namespace {

struct Run {
    lumo::testing::FakeSerialPort port;
    lumo::testing::FakeOneShotTimer chainTimer;
    lumo::GridModel grid;
    lumo::ValueFields fields;
    lumo::StationSettings settings;
    lumo::modbus::ModbusPoller poller{port, grid, fields, settings, chainTimer};
    Bytes readable;
    bool inDataEvent = false;

    void checkCell(int instrument, const std::string& text)
    {
        if (text.empty())
            return;
        // A value is shown only from an intact answer read at this event,
        // and for the instrument that answered.
        check(inDataEvent, "a value appeared outside a data event");
        check(readable.size() == kAnswerLength, "a value appeared from a frame of another length");
        check(readable[0] == instrument, "a value appeared for another instrument than the answering one");
        check(lumo::modbus::acceptAnswerHex(lumo::modbus::hexText(readable)).has_value(),
              "a value appeared from a refused frame");
    }
};

const char* const kBaudTexts[] = {"9600", "19200", "38400", "115200", "1200", "0", "", "abc", "-1"};

Bytes withCrc(Bytes body)
{
    body.resize(kAnswerLength - 2);
    const lumo::modbus::Crc16 crc = lumo::modbus::crc16(body);
    body.push_back(crc.low);
    body.push_back(crc.high);
    return body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    lumo::fuzz::InputReader in(data, size);
    Run run;
    lumo::fuzz::CellWatch watch(
        [&run](int instrument, int, const std::string& text) { run.checkCell(instrument, text); });
    run.grid.addObserver(&watch);
    run.fields.setText(lumo::ValueField::Count, lumo::fuzz::countText(in));
    run.settings.line = lumo::lineSettingsForBaudText(kBaudTexts[in.byte() % std::size(kBaudTexts)]);
    run.port.threshold = run.poller.receiveThreshold();
    run.port.setReceiveHandler([&run](int code) {
        run.readable = run.port.waiting;
        run.inDataEvent = code == lumo::kReceiveEventData;
        run.poller.onReceiveEvent(code);
        run.inDataEvent = false;
    });

    int operations = 0;
    while (!in.empty() && ++operations < 4096) {
        const std::uint8_t op = in.byte() % 10;
        if (op <= 2) {
            run.port.arrive(in.bytes(1 + in.byte() % 64));
        } else if (op == 3) {
            run.port.arrive(in.bytes(kAnswerLength));
        } else if (op == 4) {
            run.port.arrive(withCrc(in.bytes(kAnswerLength - 2)));
        } else if (op == 5) {
            for (int t = in.byte() % 4; t >= 0; --t)
                run.poller.tick();
        } else if (op == 6) {
            run.chainTimer.fire();
        } else if (op == 7) {
            run.port.raise(static_cast<std::int8_t>(in.byte()));
        } else if (op == 8) {
            run.fields.setText(lumo::ValueField::Count, lumo::fuzz::countText(in));
        } else {
            if (run.port.failing.count("write"))
                run.port.failing.erase("write");
            else
                run.port.failing["write"] = "write failed";
        }
        check(run.poller.answerHex().size() % 2 == 0, "decoder text of odd length");
        check(run.poller.silentInterval().count() > 0, "no silence before a chained request");
    }
    run.grid.removeObserver(&watch);
    return 0;
}
