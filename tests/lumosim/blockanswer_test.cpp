#include "alarmbits.h"
#include "blockanswer.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace lumo::sim;

namespace {

TEST(BlockAnswer, FlowOfTheKnownFrame)
{
    const EncodedBlock flow = encodeFlow(563.412, 2);
    EXPECT_EQ(blockAnswer(1, 0, flow.payload),
              (Bytes{0x01, 0x00, 0x12, 0x34, 0x56, 0x02, 0x00, 0x00, 0x72, 0xAA}));
    EXPECT_EQ(flow.valueText, "563.412");
}

TEST(BlockAnswer, CheckByteCoversThePayloadOnly)
{
    const BlockPayload payload{0x01, 0x02, 0x04, 0x08, 0x10, 0x20};
    const Bytes answer = blockAnswer(0x27, 0x07, payload);
    EXPECT_EQ(answer[8], 0x3F);
    EXPECT_EQ(answer[9], 0xAA);
}

struct EncodeCase {
    const char* what;
    std::function<EncodedBlock()> encode;
    BlockPayload payload;
    const char* valueText;
};

TEST(BlockAnswer, EncodesEngineeringValues)
{
    const EncodeCase cases[] = {
        {"flow, exponent picked", [] { return encodeFlow(563.412, {}); },
         {0x12, 0x34, 0x56, 0x02, 0x00, 0x00}, "563.412"},
        {"negative flow sets bit 0 of byte 7", [] { return encodeFlow(-563.412, {}); },
         {0x12, 0x34, 0x56, 0x02, 0x00, 0x01}, "-563.412"},
        {"smallest flow step", [] { return encodeFlow(0.00001, {}); },
         {0x01, 0x00, 0x00, 0x00, 0x00, 0x00}, "0.00001"},
        {"large flow multiplies", [] { return encodeFlow(1234567, {}); },
         {0x57, 0x34, 0x12, 0x06, 0x00, 0x00}, "1234570"},
        {"flow code 5 is unscaled", [] { return encodeFlow(5, 5); },
         {0x05, 0x00, 0x00, 0x05, 0x00, 0x00}, "5"},
        {"flow code 11 is unscaled", [] { return encodeFlow(12, 11); },
         {0x12, 0x00, 0x00, 0x0B, 0x00, 0x00}, "12"},
        {"velocity, decimals picked", [] { return encodeVelocity(1.25, {}); },
         {0x00, 0x25, 0x01, 0x00, 0x04, 0x00}, "1.25"},
        {"negative velocity, one decimal", [] { return encodeVelocity(-2.5, 1); },
         {0x25, 0x00, 0x00, 0x00, 0x01, 0x01}, "-2.5"},
        {"percent in tenths", [] { return encodePercent(123.4); },
         {0x34, 0x12, 0x00, 0x00, 0x00, 0x00}, "123.4"},
        {"negative percent", [] { return encodePercent(-50); },
         {0x00, 0x05, 0x00, 0x00, 0x00, 0x01}, "-50"},
        {"resistance in tenths", [] { return encodeResistance(3.3); },
         {0x33, 0x00, 0x00, 0x00, 0x00, 0x00}, "3.3"},
        {"total with three decimals", [] { return encodeTotal(1234567.89, {}); },
         {0x90, 0x78, 0x56, 0x34, 0x12, 0x00}, "1234567.89"},
        {"total 1200 with code 0", [] { return encodeTotal(1200, 0); },
         {0x00, 0x00, 0x20, 0x01, 0x00, 0x00}, "1200"},
        {"large total drops decimals", [] { return encodeTotal(99999999.5, {}); },
         {0x50, 0x99, 0x99, 0x99, 0x99, 0x01}, "99999999.5"},
        {"total code 7 counts as 3: unscaled", [] { return encodeTotal(42, 7); },
         {0x42, 0x00, 0x00, 0x00, 0x00, 0x07}, "42"},
        {"diameter code 12", [] { return encodeDiameterCode(12); },
         {0x0C, 0x00, 0x00, 0x00, 0x00, 0x00}, "100"},
        {"diameter code outside the table", [] { return encodeDiameterCode(39); },
         {0x27, 0x00, 0x00, 0x00, 0x00, 0x00}, ""},
        {"alarm bits", [] { return encodeAlarmByte(excitationAlarm | emptyPipeAlarm); },
         {0x0A, 0x00, 0x00, 0x00, 0x00, 0x00}, ""},
    };
    for (const auto& c : cases) {
        const EncodedBlock block = c.encode();
        EXPECT_EQ(block.payload, c.payload) << c.what;
        EXPECT_EQ(block.valueText, c.valueText) << c.what;
        EXPECT_FALSE(block.clamped) << c.what;
    }
}

TEST(BlockAnswer, ValuesBeyondTheDigitsAreClampedAndSaidSo)
{
    const EncodedBlock total = encodeTotal(12345678901.0, {});
    EXPECT_TRUE(total.clamped);
    EXPECT_EQ(total.payload, (BlockPayload{0x99, 0x99, 0x99, 0x99, 0x99, 0x03}));
    EXPECT_TRUE(encodePercent(1000).clamped);
    EXPECT_TRUE(encodeFlow(10, 0).clamped);
    EXPECT_TRUE(encodeResistance(-1).clamped);
}

TEST(BlockAnswer, DiameterTableEnds)
{
    EXPECT_EQ(diameterCodeOfMm(3), 0);
    EXPECT_EQ(diameterCodeOfMm(100), 12);
    EXPECT_EQ(diameterCodeOfMm(3000), 38);
    EXPECT_FALSE(diameterCodeOfMm(123));
    EXPECT_EQ(diameterMmOfCode(38), 3000);
    EXPECT_FALSE(diameterMmOfCode(39));
}

TEST(BlockAnswer, BcdByteHoldsTensInTheHighNibble)
{
    EXPECT_EQ(bcdByte(56), 0x56);
    EXPECT_EQ(bcdByte(0), 0x00);
    EXPECT_EQ(bcdByte(99), 0x99);
}

} // namespace
