#pragma once

#include <cstdint>

namespace lumo::sim {

// Alarm flags as the block protocol carries them in byte 2 of block 6. The
// Modbus image carries the same five alarms as one word each (registers 13..17,
// in this order), 1 meaning set.
enum AlarmBit : std::uint8_t {
    excitationAlarm = 0x02,
    electrodeAlarm = 0x04,
    emptyPipeAlarm = 0x08,
    upperLimitAlarm = 0x10,
    lowerLimitAlarm = 0x20,
};

inline constexpr std::uint8_t alarmBitsInRegisterOrder[5] = {
    excitationAlarm, electrodeAlarm, emptyPipeAlarm, upperLimitAlarm, lowerLimitAlarm};

} // namespace lumo::sim
