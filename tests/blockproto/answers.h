#pragma once
// Building well-formed block answers for the tests.

#include "blockcodec.h"

#include <array>
#include <cstdint>

namespace lumo::block::testing {

using Payload = std::array<std::uint8_t, 6>;

// address echo, block echo, payload bytes 2..7, check byte, 0xAA
inline Answer makeAnswer(std::uint8_t address, std::uint8_t block, const Payload& payload)
{
    Answer a{};
    a[0] = address;
    a[1] = block;
    std::uint8_t check = 0;
    for (int i = 0; i < 6; ++i) {
        a[2 + i] = payload[i];
        check ^= payload[i];
    }
    a[8] = check;
    a[9] = kAnswerEnd;
    return a;
}

}  // namespace lumo::block::testing
