// The hand-written frame codec that the server tests trust must itself be right.
#include <gtest/gtest.h>

#include "support/WireFrame.h"

namespace pellax_test {
namespace {

TEST(WireFrame, EncodesBigEndianFieldsAtTheirOffsets)
{
    WireFrame frame;
    frame.flag = 0x7F;
    frame.sequence = 1;
    frame.timestamp = 0x0102030405060708ull;
    frame.command = 0x0A0B0C0D;
    frame.exts = {{1, {0xAA, 0xBB, 0xCC}}, {2, {}}};
    frame.SetBody("xy");
    std::vector<uint8_t> bytes = EncodeFrame(frame);
    ASSERT_EQ(bytes.size(), 156u + 11u + 8u + 2u);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[3], 0x7F);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 4, bytes.begin() + 8), (std::vector<uint8_t>{0, 0, 0, 1}));
    EXPECT_EQ(bytes[8], 0x01);
    EXPECT_EQ(bytes[15], 0x08);
    EXPECT_EQ(bytes[16], 0x0A);
    EXPECT_EQ(GetU32(bytes.data() + 20), 2u);
    EXPECT_EQ(GetU16(bytes.data() + 24), 19u);
    EXPECT_EQ(GetU32(bytes.data() + 156), 1u);
    EXPECT_EQ(GetU32(bytes.data() + 160), 3u);
    EXPECT_EQ(bytes[164], 0xAA);
    EXPECT_EQ(bytes.back(), 'y');

    std::vector<uint8_t> message = EncodeMessage(frame);
    EXPECT_EQ(GetU32(message.data()), bytes.size());
}

TEST(WireFrame, DecodesWhatItEncodesAndRefusesShortOrPaddedBytes)
{
    WireFrame frame;
    frame.sequence = 0x80000005u;
    frame.command = 3;
    frame.exts = {{7, {1, 2}}};
    frame.SetBody("body");
    frame.traceId = "trace";
    std::vector<uint8_t> bytes = EncodeFrame(frame);

    WireFrame back;
    ASSERT_TRUE(DecodeFrame(bytes, &back));
    EXPECT_EQ(back.sequence, frame.sequence);
    EXPECT_EQ(back.command, 3u);
    ASSERT_EQ(back.exts.size(), 1u);
    EXPECT_EQ(back.exts[0].data, (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(back.BodyText(), "body");
    EXPECT_EQ(back.traceId, "trace");

    std::vector<uint8_t> shorter(bytes.begin(), bytes.end() - 1);
    EXPECT_FALSE(DecodeFrame(shorter, &back));
    bytes.push_back(0);
    EXPECT_FALSE(DecodeFrame(bytes, &back));
    EXPECT_FALSE(DecodeFrame(std::vector<uint8_t>(100, 0), &back));
}

}  // namespace
}  // namespace pellax_test
