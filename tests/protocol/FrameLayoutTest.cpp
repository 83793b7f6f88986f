#include <gtest/gtest.h>

#include <vector>

#include "platform/Zot.h"
#include "protocol/FrameCodec.h"
#include "protocol/PellaxMessageHeader.h"

using ORV::PELLAX::CPellaxExtMessageHeader;
using ORV::PELLAX::CPellaxMessageHeader;
using ORV::PELLAX::MessageHeaderPtr;

namespace {

uint64_t FixedTick()
{
    return 0x1122334455667788ull;
}

class FrameLayout : public ::testing::Test {
protected:
    void SetUp() override { ZOT_SetTickSource(&FixedTick); }
    void TearDown() override { ZOT_SetTickSource(nullptr); }
};

std::vector<uint8_t> Bytes(const COrvMessageBlock& block)
{
    return std::vector<uint8_t>(block.GetReadPtr(), block.GetReadPtr() + block.GetLength());
}

std::vector<uint8_t> Encode(CPellaxMessageHeader& header)
{
    MessageBlockPtr block = COrvMessageBlock::Create(header.GetHeaderSize());
    EXPECT_EQ(header.Encode(block.Get(), false), 0);
    return Bytes(*block);
}

TEST_F(FrameLayout, APlainHeaderIs156BigEndianBytesStampedAtEncoding)
{
    CPellaxMessageHeader header(0x01020304, 0xA0B0C0D0, 1, 999, 0xAB, 0);
    std::vector<uint8_t> expected(156, 0);
    const uint8_t fixedPart[] = {
        0x01, 0x00, 0x00, 0xAB,                          // version, reserved, reserved, flag
        0x00, 0x00, 0x00, 0x01,                          // sequence
        0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,  // tick at encoding, not 999
        0x01, 0x02, 0x03, 0x04,                          // command
        0xA0, 0xB0, 0xC0, 0xD0,                          // body length
        0x00, 0x00,                                      // extension length
    };
    std::copy(std::begin(fixedPart), std::end(fixedPart), expected.begin());

    EXPECT_EQ(header.GetHeaderSize(), 156u);
    EXPECT_EQ(Encode(header), expected);
    EXPECT_EQ(header.GetTimestamp(), 0u) << "the constructor's timestamp is not kept";
}

TEST_F(FrameLayout, ExtensionEntriesFollowTheFixedPartInListOrderAndDecodeBackInOrder)
{
    CPellaxMessageHeader header(0x12345679, 7, 0x80000005, 0, 0x7F, 0);
    const uint8_t data[] = {0xDE, 0xAD, 0xBF};
    header.AddExtHeader(CPellaxExtMessageHeader(0x0A0B0C0D, 3, data));
    header.AddExtHeader(CPellaxExtMessageHeader(5, 0, nullptr));

    std::vector<uint8_t> bytes = Encode(header);

    ASSERT_EQ(bytes.size(), 175u);
    EXPECT_EQ(header.GetExtLength(), 19u);
    EXPECT_EQ(bytes[24], 0x00);
    EXPECT_EQ(bytes[25], 19);
    const std::vector<uint8_t> entries = {0x0A, 0x0B, 0x0C, 0x0D, 0, 0, 0, 3, 0xDE, 0xAD, 0xBF,
                                          0x00, 0x00, 0x00, 0x05, 0, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 156, bytes.end()), entries);

    const std::string body = "payload";
    bytes.insert(bytes.end(), body.begin(), body.end());
    MessageBlockPtr block = COrvMessageBlock::Create(bytes.data(), bytes.size());
    MessageHeaderPtr decoded;
    ASSERT_EQ(ORV::PELLAX::DecodeFrame(block.Get(), &decoded), 0);
    EXPECT_EQ(decoded->GetFlag(), 0x7F);
    EXPECT_EQ(decoded->GetSequence(), 0x80000005u);
    EXPECT_EQ(decoded->GetTimestamp(), FixedTick());
    EXPECT_EQ(decoded->GetCommand(), 0x12345679u);
    EXPECT_EQ(decoded->GetBodyLength(), 7u);
    const auto& decodedEntries = decoded->ExtHeaders();
    ASSERT_EQ(decodedEntries.size(), 2u);
    EXPECT_EQ(decodedEntries[0].GetType(), 0x0A0B0C0Du);
    EXPECT_EQ(decodedEntries[1].GetType(), 5u);
    EXPECT_EQ(decodedEntries[1].GetLength(), 0u);
    uint8_t* copy = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(decodedEntries[0].GetData(&copy, &length));
    EXPECT_EQ(std::vector<uint8_t>(copy, copy + length), std::vector<uint8_t>(std::begin(data), std::end(data)));
    delete[] copy;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block->GetReadPtr()), block->GetLength()), body);
}

TEST_F(FrameLayout, EncodeFrameRefusesABodyThatDisagreesWithTheHeader)
{
    CPellaxMessageHeader header(2, 5, 1, 0, 0, 0);
    MessageBlockPtr frame;
    EXPECT_EQ(ORV::PELLAX::EncodeFrame(&header, "abc", 3, false, &frame), -4);
    EXPECT_EQ(ORV::PELLAX::EncodeFrame(nullptr, "abc", 3, false, &frame), -4);
    EXPECT_FALSE(frame);
}

}  // namespace
