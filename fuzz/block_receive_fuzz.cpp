// Block reception and decoding: arbitrary ticks, receive events and byte
// chunks against the block poll cycle.
//
// Input: a count text selector, then operations until the input ends:
//   0..3  a chunk of 1..16 bytes arrives (raises the event at 10 waiting)
//   4     a chunk of exactly 10 bytes arrives
//   5     a tick of the poll timer (count: the next byte, 0..3 ticks)
//   6     an event of an arbitrary code
//   7     the count text changes
//   8     the next readWaiting fails / stops failing
//   9     the next write fails / stops failing

#include "blockcodec.h"
#include "blockpoller.h"
#include "fakeserialport.h"
#include "fuzzinput.h"

#include <algorithm>

using lumo::Bytes;
using lumo::fuzz::check;

namespace {

struct Run {
    lumo::testing::FakeSerialPort port;
    lumo::GridModel grid;
    lumo::ValueFields fields;
    lumo::BlockPoller poller{port, grid, fields};
    // The bytes the poller can read at the event being handled.
    Bytes readable;
    bool inDataEvent = false;
    bool readFails = false;
    bool lastWriteFailed = false;

    void checkCell(int instrument, const std::string& text)
    {
        if (text.empty())
            return;  // blanking, or a slot not decoded yet
        // A value is shown only from an accepted answer to the request last
        // written: same address, same block, intact check and end bytes.
        check(inDataEvent, "a value appeared outside a data event");
        check(!readFails, "a value appeared from a failed read");
        check(readable.size() >= static_cast<std::size_t>(lumo::block::kAnswerLength), "a value appeared from a short answer");
        check(readable[0] == instrument, "a value appeared for another address than the echo");
        const auto& st = poller.state();
        // A request whose write failed is still outstanding and its answer
        // is taken; otherwise it is the last one on the line.
        if (!lastWriteFailed) {
            check(!port.written.empty(), "a value appeared with no request written");
            const auto expected = lumo::block::requestFrame(st.currentAddressByte, st.sentBlockIndex);
            check(std::equal(expected.begin(), expected.end(), port.written.back().begin(),
                             port.written.back().end()),
                  "a value appeared for a request that was not the last one written");
        }
        lumo::block::Answer answer{};
        std::copy_n(readable.begin(), answer.size(), answer.begin());
        check(lumo::block::acceptAnswer(answer, st.currentAddressByte, st.sentBlockIndex),
              "a value appeared from an answer the checks refuse");
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    lumo::fuzz::InputReader in(data, size);
    Run run;
    lumo::fuzz::CellWatch watch(
        [&run](int instrument, int, const std::string& text) { run.checkCell(instrument, text); });
    run.grid.addObserver(&watch);
    run.fields.setText(lumo::ValueField::Count, lumo::fuzz::countText(in));
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
        if (op <= 3) {
            run.port.arrive(in.bytes(1 + in.byte() % 16));
        } else if (op == 4) {
            run.port.arrive(in.bytes(lumo::block::kAnswerLength));
        } else if (op == 5) {
            for (int t = in.byte() % 4; t >= 0; --t)
                run.poller.tick();
            run.lastWriteFailed = run.port.failing.count("write") != 0;
        } else if (op == 6) {
            run.port.raise(static_cast<std::int8_t>(in.byte()));
        } else if (op == 7) {
            run.fields.setText(lumo::ValueField::Count, lumo::fuzz::countText(in));
        } else if (op == 8) {
            run.readFails = !run.readFails;
            if (run.readFails)
                run.port.failing["readWaiting"] = "read failed";
            else
                run.port.failing.erase("readWaiting");
        } else {
            if (run.port.failing.count("write"))
                run.port.failing.erase("write");
            else
                run.port.failing["write"] = "write failed";
        }
        const auto& st = run.poller.state();
        check(st.blockIndex <= lumo::block::kBlockCount, "block index beyond the last block");
        check(st.sentBlockIndex < lumo::block::kBlockCount, "a request for a block that does not exist");
        check(st.answerPending == 0 || st.answerPending == 1, "answer flag neither 0 nor 1");
    }
    run.grid.removeObserver(&watch);
    return 0;
}
