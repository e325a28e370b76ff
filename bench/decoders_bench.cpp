// Time per frame of the decoders on known frames: the block answer check and
// decode, the Modbus answer acceptance (hex text, CRC) and register decode,
// and the cell text of a float.

#include "answer.h"
#include "blockcodec.h"
#include "crc16.h"
#include "numbertext.h"
#include "registers.h"

#include <benchmark/benchmark.h>

#include <array>
#include <bit>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// Block 0 of instrument 1: flow 563.412.
const lumo::block::Answer kBlockAnswer = {0x01, 0x00, 0x12, 0x34, 0x56, 0x02, 0x00, 0x00, 0x72, 0xAA};

void putFloat(std::vector<std::uint8_t>& frame, int reg, float value)
{
    const auto bits = std::bit_cast<std::uint32_t>(value);
    const std::size_t at = 3 + 2 * static_cast<std::size_t>(reg);
    frame[at] = static_cast<std::uint8_t>(bits >> 24);
    frame[at + 1] = static_cast<std::uint8_t>(bits >> 16);
    frame[at + 2] = static_cast<std::uint8_t>(bits >> 8);
    frame[at + 3] = static_cast<std::uint8_t>(bits);
}

// Address 1, function 3, 52 data bytes: flow 12.5, forward 1234 + 0.5678,
// empty pipe alarm, velocity 1.25, percent 50, resistance 3.3, diameter 100.
std::vector<std::uint8_t> modbusAnswer()
{
    std::vector<std::uint8_t> frame(lumo::modbus::kAnswerLength, 0);
    frame[0] = 1;
    frame[1] = 3;
    frame[2] = 52;
    putFloat(frame, 0, 12.5F);
    frame[3 + 2 * 4] = 0x04;
    frame[3 + 2 * 4 + 1] = 0xD2;  // 1234 in registers 3-4
    putFloat(frame, 5, 0.5678F);
    frame[3 + 2 * 15 + 1] = 1;  // empty pipe
    putFloat(frame, 18, 1.25F);
    putFloat(frame, 20, 50.0F);
    putFloat(frame, 22, 3.3F);
    putFloat(frame, 24, 100.0F);
    const auto crc = lumo::modbus::crc16(std::span(frame.data(), frame.size() - 2));
    frame[frame.size() - 2] = crc.low;
    frame[frame.size() - 1] = crc.high;
    return frame;
}

void blockCheckAndDecode(benchmark::State& state)
{
    lumo::block::DecodedValues values;
    for (auto _ : state) {
        const bool accepted = lumo::block::acceptAnswer(kBlockAnswer, 1, 0);
        benchmark::DoNotOptimize(accepted);
        lumo::block::decodeBlock(0, kBlockAnswer, values);
        benchmark::DoNotOptimize(values);
    }
}
BENCHMARK(blockCheckAndDecode);

void blockCellTexts(benchmark::State& state)
{
    lumo::block::DecodedValues values;
    for (std::uint8_t block = 0; block < lumo::block::kBlockCount; ++block)
        lumo::block::decodeBlock(block, kBlockAnswer, values);
    for (auto _ : state)
        benchmark::DoNotOptimize(lumo::block::cellTexts(values));
}
BENCHMARK(blockCellTexts);

void modbusAccept(benchmark::State& state)
{
    const std::string hex = lumo::modbus::hexText(modbusAnswer());
    if (!lumo::modbus::acceptAnswerHex(hex))
        state.SkipWithError("the known answer is refused");
    for (auto _ : state)
        benchmark::DoNotOptimize(lumo::modbus::acceptAnswerHex(hex));
}
BENCHMARK(modbusAccept);

void modbusHexAcceptDecodeTexts(benchmark::State& state)
{
    const std::vector<std::uint8_t> frame = modbusAnswer();
    for (auto _ : state) {
        const auto body = lumo::modbus::acceptAnswerHex(lumo::modbus::hexText(frame));
        benchmark::DoNotOptimize(lumo::modbus::cellTexts(lumo::modbus::decodeRegisters(*body)));
    }
}
BENCHMARK(modbusHexAcceptDecodeTexts);

void numberTextOfFloat(benchmark::State& state)
{
    const std::array<float, 4> values = {563.412F, 1.25F, 1234567.9F, 0.0001F};
    std::size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(lumo::numberText(values[i++ & 3]));
}
BENCHMARK(numberTextOfFloat);

}  // namespace

BENCHMARK_MAIN();
