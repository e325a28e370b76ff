#include "answers.h"
#include "blockcodec.h"

#include <gtest/gtest.h>

namespace {

using namespace lumo::block;
using lumo::block::testing::makeAnswer;
using lumo::block::testing::Payload;

TEST(BlockCodec, RequestFrame)
{
    EXPECT_EQ(requestFrame(1, 0), (Request{0x2A, 0x01, 0x00, 0x2E}));
    EXPECT_EQ(requestFrame(12, 7), (Request{0x2A, 0x0C, 0x07, 0x2E}));
    EXPECT_EQ(requestFrame(39, 3), (Request{0x2A, 0x27, 0x03, 0x2E}));
}

TEST(BlockCodec, BcdByteValueKeepsNibblesAboveNine)
{
    const struct {
        std::uint8_t byte;
        int value;
    } cases[] = {{0x00, 0}, {0x09, 9}, {0x12, 12}, {0x99, 99}, {0x1A, 20}, {0xA0, 100}, {0xFF, 165}};
    for (const auto& c : cases)
        EXPECT_EQ(bcdByteValue(c.byte), c.value) << int(c.byte);
}

TEST(BlockCodec, KnownAnswerOfInstrumentOneToBlockZero)
{
    const Answer known{0x01, 0x00, 0x12, 0x34, 0x56, 0x02, 0x00, 0x00, 0x72, 0xAA};
    EXPECT_EQ(payloadCheck(known), 0x72);
    EXPECT_EQ(makeAnswer(1, 0, {0x12, 0x34, 0x56, 0x02, 0x00, 0x00}), known);
    EXPECT_TRUE(acceptAnswer(known, 1, 0));
}

TEST(BlockCodec, AcceptanceNeedsEveryCheck)
{
    const Answer good = makeAnswer(3, 5, {0x12, 0x34, 0x56, 0x02, 0x00, 0x00});
    const auto with = [&](int pos, std::uint8_t value) {
        Answer a = good;
        a[pos] = value;
        return a;
    };
    // The check byte taken over bytes 0..7: wrong unless the echoes XOR to 0.
    Answer overEchoes = good;
    overEchoes[8] = good[8] ^ 3 ^ 5;
    Answer echoesCancel = makeAnswer(5, 5, {0x12, 0x34, 0x56, 0x02, 0x00, 0x00});

    // And why an answer is turned away, as the line statistics count it.
    using lumo::Rejection;
    const std::optional<Rejection> taken;
    const struct {
        const char* name;
        Answer answer;
        std::uint8_t address, block;
        bool accepted;
        std::optional<Rejection> why;
    } cases[] = {
        {"good", good, 3, 5, true, taken},
        {"end byte", with(9, 0xAB), 3, 5, false, Rejection::Length},
        {"address echo", good, 2, 5, false, Rejection::Foreign},
        {"block echo", good, 3, 4, false, Rejection::Echo},
        {"check byte", with(8, good[8] ^ 0x01), 3, 5, false, Rejection::Check},
        {"payload changed", with(4, 0x57), 3, 5, false, Rejection::Check},
        {"check over bytes 0..7", overEchoes, 3, 5, false, Rejection::Check},
        {"echoes XOR to zero", echoesCancel, 5, 5, true, taken},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(acceptAnswer(c.answer, c.address, c.block), c.accepted) << c.name;
        EXPECT_EQ(rejectionOf(c.answer, c.address, c.block), c.why) << c.name;
    }
}

// One block's quantity as its cell shows it.
std::string decodedText(std::uint8_t block, const Payload& payload)
{
    DecodedValues values;
    decodeBlock(block, makeAnswer(1, block, payload), values);
    return cellTexts(values)[slotOfBlock(block)];
}

struct BlockCase {
    const char* name;
    std::uint8_t block;
    Payload payload;
    const char* text;
};

void expectTexts(std::initializer_list<BlockCase> cases)
{
    for (const BlockCase& c : cases)
        EXPECT_EQ(decodedText(c.block, c.payload), c.text) << c.name;
}

TEST(BlockCodec, InstantaneousFlow)
{
    expectTexts({
        {"e 2", 0, {0x12, 0x34, 0x56, 2, 0, 0x00}, "563.412"},
        {"bit 0 negative", 0, {0x12, 0x34, 0x56, 2, 0, 0x03}, "-563.412"},
        {"bit 1 alone positive", 0, {0x12, 0x34, 0x56, 2, 0, 0x02}, "563.412"},
        {"byte 6 unused", 0, {0x12, 0x34, 0x56, 2, 0x99, 0x00}, "563.412"},
        {"e 0", 0, {0x12, 0x34, 0x56, 0, 0, 0}, "5.63412"},
        {"e 0 smallest", 0, {0x01, 0x00, 0x00, 0, 0, 0}, "1E-05"},
        {"e 1", 0, {0x12, 0x34, 0x56, 1, 0, 0}, "56.3412"},
        {"e 4", 0, {0x12, 0x34, 0x56, 4, 0, 0}, "56341.2"},
        {"e 5 unscaled", 0, {0x12, 0x34, 0x56, 5, 0, 0}, "563412"},
        {"e 6", 0, {0x12, 0x00, 0x00, 6, 0, 0}, "120"},
        {"e 10", 0, {0x12, 0x34, 0x56, 10, 0, 0}, "5.63412E+10"},
        {"e 11 unscaled", 0, {0x12, 0x34, 0x56, 11, 0, 0}, "563412"},
        {"e 255 unscaled", 0, {0x12, 0x34, 0x56, 255, 0, 0}, "563412"},
        {"BCD 0x1A", 0, {0x1A, 0x00, 0x00, 5, 0, 0}, "20"},
        {"zero with sign", 0, {0x00, 0x00, 0x00, 5, 0, 0x01}, "0"},
    });
}

TEST(BlockCodec, FlowVelocity)
{
    expectTexts({
        {"c 0 unscaled", 1, {0x12, 0x34, 0x56, 0, 0, 0}, "563412"},
        {"c 1", 1, {0x12, 0x34, 0x56, 0, 1, 0}, "56341.2"},
        {"c 2", 1, {0x12, 0x34, 0x56, 0, 2, 0}, "5634.12"},
        {"c 3", 1, {0x12, 0x34, 0x56, 0, 3, 0}, "563.412"},
        {"c 4", 1, {0x12, 0x34, 0x56, 0, 4, 0}, "56.3412"},
        {"c 5 unscaled", 1, {0x12, 0x34, 0x56, 0, 5, 0}, "563412"},
        {"byte 5 unused", 1, {0x12, 0x34, 0x56, 9, 3, 0}, "563.412"},
        {"sign 0x02", 1, {0x12, 0x34, 0x56, 0, 3, 0x02}, "-563.412"},
        {"sign 0x01", 1, {0x50, 0x00, 0x00, 0, 2, 0x01}, "-0.5"},
    });
}

TEST(BlockCodec, Percentage)
{
    expectTexts({
        {"123.4", 2, {0x34, 0x12, 0, 0, 0, 0}, "123.4"},
        {"bytes 4..6 unused", 2, {0x34, 0x12, 0x99, 0x99, 0x99, 0}, "123.4"},
        {"negative", 2, {0x34, 0x12, 0, 0, 0, 0x80}, "-123.4"},
        {"whole", 2, {0x00, 0x10, 0, 0, 0, 0}, "100"},
    });
}

TEST(BlockCodec, ResistanceNeverNegative)
{
    expectTexts({
        {"plain", 3, {0x12, 0x34, 0x56, 0, 0, 0}, "56341.2"},
        {"byte 7 set", 3, {0x12, 0x34, 0x56, 0, 0, 0xFF}, "56341.2"},
        {"byte 7 bit 0", 3, {0x05, 0x00, 0x00, 0, 0, 0x01}, "0.5"},
    });
}

TEST(BlockCodec, Totals)
{
    for (std::uint8_t block : {4, 5}) {
        SCOPED_TRACE(int(block));
        expectTexts({
            {"ten digits c 0", block, {0x90, 0x78, 0x56, 0x34, 0x12, 0}, "1234568"},
            {"c 7 unscaled", block, {0x90, 0x78, 0x56, 0x34, 0x12, 7}, "1.234568E+09"},
            {"c 16 unscaled", block, {0x90, 0x78, 0x56, 0x34, 0x12, 16}, "1.234568E+09"},
            {"c 0", block, {0x00, 0x00, 0x20, 0x01, 0x00, 0}, "1200"},
            {"c 1", block, {0x00, 0x00, 0x20, 0x01, 0x00, 1}, "12000"},
            {"c 2", block, {0x00, 0x00, 0x20, 0x01, 0x00, 2}, "120000"},
            {"c 3", block, {0x00, 0x00, 0x20, 0x01, 0x00, 3}, "1200000"},
            {"c 13 as 1", block, {0x00, 0x00, 0x20, 0x01, 0x00, 13}, "12000"},
            {"c 14 as 2", block, {0x00, 0x00, 0x20, 0x01, 0x00, 14}, "120000"},
            {"fraction", block, {0x67, 0x45, 0x00, 0x00, 0x00, 0}, "4.567"},
        });
    }
}

TEST(BlockCodec, TenDigitTotalIsHeldAsFloat)
{
    EXPECT_EQ(totalValue(makeAnswer(1, 4, {0x90, 0x78, 0x56, 0x34, 0x12, 0})), 1234567.875f);
}

TEST(BlockCodec, AlarmText)
{
    const struct {
        std::uint8_t bits;
        const char* text;
    } cases[] = {
        {0x00, "通讯正常"},
        {0x01, "通讯正常"},
        {0xC0, "通讯正常"},
        {0x02, "通讯正常,励磁报警"},
        {0x04, "通讯正常,电极报警"},
        {0x08, "通讯正常,空管报警"},
        {0x10, "通讯正常,上限报警"},
        {0x20, "通讯正常,下限报警"},
        {0x0A, "通讯正常,励磁报警,空管报警"},
        {0x3E, "通讯正常,励磁报警,电极报警,空管报警,上限报警,下限报警"},
        {0xFF, "通讯正常,励磁报警,电极报警,空管报警,上限报警,下限报警"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(alarmText(c.bits), c.text) << int(c.bits);
        EXPECT_EQ(decodedText(6, {c.bits, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), c.text) << int(c.bits);
    }
}

TEST(BlockCodec, PipeDiameterTable)
{
    const struct {
        std::uint8_t code;
        const char* text;
    } cases[] = {{0, "3"},     {7, "32"},    {10, "65"},   {12, "100"},  {13, "125"},
                 {25, "900"},  {26, "1000"}, {30, "1400"}, {31, "1600"}, {38, "3000"}};
    for (const auto& c : cases)
        EXPECT_EQ(decodedText(7, {c.code, 0, 0, 0, 0, 0}), c.text) << int(c.code);
    EXPECT_FALSE(pipeDiameter(39).has_value());
    EXPECT_FALSE(pipeDiameter(255).has_value());
}

TEST(BlockCodec, DiameterCodeOutsideTableKeepsPreviousDiameter)
{
    DecodedValues values;
    decodeBlock(7, makeAnswer(1, 7, {39, 0, 0, 0, 0, 0}), values);
    EXPECT_EQ(cellTexts(values)[6], "") << "no diameter received yet";
    decodeBlock(7, makeAnswer(1, 7, {12, 0, 0, 0, 0, 0}), values);
    decodeBlock(7, makeAnswer(1, 7, {39, 0, 0, 0, 0, 0}), values);
    EXPECT_EQ(cellTexts(values)[6], "100");
    decodeBlock(7, makeAnswer(1, 7, {255, 0, 0, 0, 0, 0}), values);
    EXPECT_EQ(cellTexts(values)[6], "100");
}

TEST(BlockCodec, EachBlockUpdatesOnlyItsQuantity)
{
    DecodedValues values;
    const Payload payload{0x12, 0x34, 0x56, 0x02, 0x01, 0x00};
    for (std::uint8_t block = 0; block < kBlockCount; ++block) {
        const DecodedValues before = values;
        decodeBlock(block, makeAnswer(1, block, payload), values);
        const auto was = cellTexts(before);
        const auto now = cellTexts(values);
        for (int slot = 0; slot < kBlockCount; ++slot) {
            if (slot == slotOfBlock(block))
                EXPECT_NE(now[slot], "") << "block " << int(block);
            else
                EXPECT_EQ(now[slot], was[slot]) << "block " << int(block) << " slot " << slot;
        }
    }
    const DecodedValues full = values;
    decodeBlock(8, makeAnswer(1, 8, payload), values);
    EXPECT_EQ(values, full);
}

TEST(BlockCodec, SlotOrderSwapsAlarmAndDiameter)
{
    const int slots[] = {0, 1, 2, 3, 4, 5, 7, 6};
    for (int block = 0; block < kBlockCount; ++block)
        EXPECT_EQ(slotOfBlock(block), slots[block]) << block;
}

}  // namespace
