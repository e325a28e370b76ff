#pragma once
// The poll cycle of the block protocol: one request for one block of one
// instrument per timer tick, the reception of the 10-byte answer, and its
// decoding into the instrument's line of the grid (Data_Dowith). Which
// instrument is asked, the blanking and the cell writes are the PollCursor's.

#include "blockcodec.h"
#include "pollcursor.h"
#include "pollcycle.h"
#include "serialport.h"

#include <array>
#include <cstdint>

namespace lumo {

// The poll state as the tests look at it.
struct BlockPollState {
    std::int16_t currentAddress = 1;
    std::uint8_t currentAddressByte = 0;
    // The block to request next: 0..7, and 8 once block 7 was sent.
    std::uint8_t blockIndex = 0;
    std::uint8_t sentBlockIndex = 0;
    bool answerPending = false;
};

// Addresses 0..255 fit the request's address byte; each has its own values.
inline constexpr int kAddressCount = 256;

class BlockPoller : public PollCycle {
public:
    BlockPoller(SerialPort& port, GridModel& grid, const ValueFields& fields, const Clock& clock = steadyClock());

    int receiveThreshold() const override { return block::kAnswerLength; }
    void setCurrentAddress(std::int16_t address) override { cursor_.setCurrentAddress(address); }
    void setInstrumentListener(InstrumentListener* listener) override { cursor_.setListener(listener); }
    const LineStats& lineStats() const override { return cursor_.lineStats(); }

    void tick() override;
    void onReceiveEvent(int eventCode) override;

    BlockPollState state() const;
    // The quantities last decoded from the instrument at this address.
    const block::DecodedValues& valuesOf(std::uint8_t address) const { return values_[address]; }

private:
    void dataDowith();  // Data_Dowith: decode an accepted answer

    SerialPort& port_;
    GridModel& grid_;
    PollCursor cursor_;
    std::uint8_t blockIndex_ = 0;
    std::uint8_t sentBlockIndex_ = 0;
    block::Answer receiveBuffer_{};
    std::array<block::DecodedValues, kAddressCount> values_;
};

}  // namespace lumo
