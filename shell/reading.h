#pragma once
// What an answering instrument showed, for those who watch the poll beyond
// the screen (the plant network): the eight texts as shown, and the decoded
// quantities behind them, as numbers.

#include "alarmtext.h"
#include "gridmodel.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace lumo {

// A decoded quantity: a 32-bit float, or a fixed-point total counting
// ten-thousandths (four decimals exactly).
struct Quantity {
    enum class Kind { Float, TenThousandths } kind = Kind::Float;
    float value = 0;
    std::int64_t tenThousandths = 0;

    static Quantity ofFloat(float value) { return {Kind::Float, value, 0}; }
    static Quantity ofTenThousandths(std::int64_t count) { return {Kind::TenThousandths, 0, count}; }
};

// Slots 0..6, the numeric ones.
inline constexpr int kNumericSlots = 7;

struct InstrumentReading {
    InstrumentTexts texts;
    // By slot; nothing for a quantity not received since start-up.
    std::array<std::optional<Quantity>, kNumericSlots> quantities;
    // Nothing before an alarm status was received.
    std::optional<AlarmFlags> alarms;
    // By slot, those this very answer carried (a block answer carries one,
    // a Modbus answer all); the others are as an earlier answer left them.
    std::array<bool, kSlots> fresh{};
};

class InstrumentListener {
public:
    virtual ~InstrumentListener() = default;
    // An accepted answer rewrote instrument N's cells. wholeSet: the answer
    // carried all eight quantities (Modbus); else one block of them.
    virtual void instrumentAnswered(int instrument, const InstrumentReading& reading, bool wholeSet) = 0;
    // Instrument N was blanked: its request went unanswered.
    virtual void instrumentSilent(int instrument) = 0;
    // The poll leaves address N for the next instrument.
    virtual void pollLeaves(int address) = 0;
};

// Hands what the poll tells on to several listeners, in the order added.
class InstrumentListeners : public InstrumentListener {
public:
    void add(InstrumentListener* listener) { listeners_.push_back(listener); }
    void instrumentAnswered(int instrument, const InstrumentReading& reading, bool wholeSet) override
    {
        for (InstrumentListener* listener : listeners_)
            listener->instrumentAnswered(instrument, reading, wholeSet);
    }
    void instrumentSilent(int instrument) override
    {
        for (InstrumentListener* listener : listeners_)
            listener->instrumentSilent(instrument);
    }
    void pollLeaves(int address) override
    {
        for (InstrumentListener* listener : listeners_)
            listener->pollLeaves(address);
    }

private:
    std::vector<InstrumentListener*> listeners_;
};

}  // namespace lumo
