#pragma once
// The poll cycle of the block protocol: one request for one block of one
// instrument per timer tick, the reception of the 10-byte answer, and its
// decoding into the instrument's line of the grid (Data_Dowith).

#include "blockcodec.h"
#include "gridmodel.h"
#include "pollcycle.h"
#include "serialport.h"
#include "valuefields.h"

#include <array>
#include <cstdint>

namespace lumo {

struct BlockPollState {
    std::int16_t currentAddress = 1;
    // The address put into the request, compared with the answer's echo and
    // read by the blanking.
    std::uint8_t currentAddressByte = 0;
    // The block to request next: 0..7, and 8 once block 7 was sent.
    std::uint8_t blockIndex = 0;
    std::uint8_t sentBlockIndex = 0;
    // 1 from the writing of a request until an accepted answer is decoded.
    std::int16_t answerPending = 0;
    block::Answer receiveBuffer{};
};

// Addresses 0..255 fit the request's address byte; each has its own values.
inline constexpr int kAddressCount = 256;

class BlockPoller : public PollCycle {
public:
    BlockPoller(SerialPort& port, GridModel& grid, const ValueFields& fields);

    int receiveThreshold() const override { return block::kAnswerLength; }
    void setCurrentAddress(std::int16_t address) override { state_.currentAddress = address; }
    void resetBlockIndex() override { state_.blockIndex = 0; }

    void tick() override;
    void onReceiveEvent(int eventCode) override;

    const BlockPollState& state() const { return state_; }
    const block::DecodedValues& decodedValues(std::uint8_t address) const { return values_[address]; }

private:
    void advanceAddress();
    void copyAddressToByte();
    void dataDowith();  // Data_Dowith: decode an accepted answer

    SerialPort& port_;
    GridModel& grid_;
    const ValueFields& fields_;
    BlockPollState state_;
    std::array<block::DecodedValues, kAddressCount> values_;
};

}  // namespace lumo
