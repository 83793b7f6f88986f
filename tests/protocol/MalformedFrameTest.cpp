#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "protocol/FrameCodec.h"
#include "protocol/PellaxMessageHeader.h"
#include "support/RecordingTracer.h"
#include "support/WireFrame.h"

using ORV::PELLAX::CPellaxExtMessageHeader;
using ORV::PELLAX::CPellaxMessageHeader;
using ORV::PELLAX::MessageHeaderPtr;

namespace {

// Each decode gets a block of exactly the first bytes (all by default), so ASan sees any read past them.
int DecodeBytes(const std::vector<uint8_t>& bytes, size_t length = SIZE_MAX)
{
    length = std::min(length, bytes.size());
    MessageBlockPtr block = COrvMessageBlock::Create(bytes.data(), length);
    MessageHeaderPtr header;
    return ORV::PELLAX::DecodeFrame(block.Get(), &header);
}

pellax_test::WireFrame FrameWithEntries()
{
    pellax_test::WireFrame wire;
    wire.command = 200;
    wire.sequence = 3;
    wire.traceId = "trace";
    wire.spanId = "span";
    wire.exts = {{1, {1, 2, 3}}, {2, {}}, {3, {4}}};
    wire.SetBody("body");
    return wire;
}

TEST(MalformedFrame, EveryTruncationIsReportedShortAndOnlyTheWholeFrameDecodes)
{
    std::vector<uint8_t> bytes = pellax_test::EncodeFrame(FrameWithEntries());
    pellax_test::RecordingTracer tracer;
    for (size_t length = 0; length < bytes.size(); ++length) {
        EXPECT_EQ(DecodeBytes(bytes, length), CPellaxMessageHeader::kShortFrame) << "length " << length;
    }
    EXPECT_TRUE(tracer.Calls().empty()) << "a dropped frame makes no trace calls";
    EXPECT_EQ(DecodeBytes(bytes), 0);
}

TEST(MalformedFrame, LengthsRunningPastTheBytesAreShortWithoutAllocatingButExtraBytesAreNot)
{
    pellax_test::WireFrame wire;
    wire.command = 2;
    wire.exts = {{1, {1, 2, 3, 4, 5}}};
    wire.extLengthField = 10;  // the entry needs 13
    wire.SetBody("xyz");
    EXPECT_EQ(DecodeBytes(pellax_test::EncodeFrame(wire)), CPellaxMessageHeader::kShortFrame);
    wire.exts.clear();
    wire.extLengthField = 3;  // too small for even an entry's type and length
    EXPECT_EQ(DecodeBytes(pellax_test::EncodeFrame(wire)), CPellaxMessageHeader::kShortFrame);
    wire.extLengthField.reset();
    wire.bodyLengthField = 0xFFFFFFFF;
    EXPECT_EQ(DecodeBytes(pellax_test::EncodeFrame(wire)), CPellaxMessageHeader::kShortFrame);
    wire.bodyLengthField.reset();
    std::vector<uint8_t> longer = pellax_test::EncodeFrame(wire);
    longer.push_back('!');
    EXPECT_EQ(DecodeBytes(longer), 0);

    // An entry claiming 4 GiB inside an area that claims all 64 KiB.
    std::vector<uint8_t> lying(156, 0);
    lying[24] = 0xFF;
    lying[25] = 0xFF;
    pellax_test::PutU32(lying, 1);
    pellax_test::PutU32(lying, 0xFFFFFFF0);
    lying.resize(lying.size() + 0xFFFF, 0);
    EXPECT_EQ(DecodeBytes(lying), CPellaxMessageHeader::kShortFrame);
}

TEST(MalformedFrame, ExtensionsBeyond65535BytesAreRefusedBeforeEncoding)
{
    std::vector<uint8_t> data(65535 - 8, 0x5A);
    CPellaxMessageHeader fits(2, 0, 1, 0, 0, 0);
    fits.AddExtHeader(CPellaxExtMessageHeader(1, static_cast<uint32_t>(data.size()), data.data()));
    EXPECT_TRUE(fits.HasValidExtLength());
    MessageBlockPtr frame;
    ASSERT_EQ(ORV::PELLAX::EncodeFrame(&fits, nullptr, 0, false, &frame), 0);
    EXPECT_EQ(frame->GetLength(), 156u + 65535u);
    EXPECT_EQ(DecodeBytes(std::vector<uint8_t>(frame->GetReadPtr(), frame->GetReadPtr() + frame->GetLength())), 0);

    CPellaxMessageHeader tooLong(2, 0, 1, 0, 0, 0);
    tooLong.AddExtHeader(CPellaxExtMessageHeader(1, static_cast<uint32_t>(data.size()), data.data()));
    tooLong.AddExtHeader(CPellaxExtMessageHeader(2, 0, nullptr));
    EXPECT_FALSE(tooLong.HasValidExtLength());
    MessageBlockPtr block = COrvMessageBlock::Create(16);
    EXPECT_EQ(tooLong.Encode(block.Get(), false), CPellaxMessageHeader::kExtTooLong);
    EXPECT_EQ(block->GetLength(), 0u) << "nothing is written";
    MessageBlockPtr refused;
    EXPECT_EQ(ORV::PELLAX::EncodeFrame(&tooLong, nullptr, 0, false, &refused), -4);
    EXPECT_FALSE(refused);
}

TEST(MalformedFrame, AHostRecordThatCannotBeFramedIsInvalid)
{
    std::vector<uint8_t> data(40000, 1);
    PELLAX_MessageExt second{2, 40000, data.data(), nullptr};
    PELLAX_MessageExt first{1, 40000, data.data(), &second};
    PELLAX_Message message{};
    message.command = 2;
    message.ext = &first;
    CPellaxMessageHeader header;
    EXPECT_EQ(ORV::PELLAX::FillMessageHeader(message, &header), -4) << "80016 extension bytes";

    second.next = &second;  // a list that never ends is refused, not walked forever
    second.length = 0;
    EXPECT_EQ(ORV::PELLAX::FillMessageHeader(message, &header), -4);

    PELLAX_MessageExt noData{1, 5, nullptr, nullptr};
    message.ext = &noData;
    EXPECT_EQ(ORV::PELLAX::FillMessageHeader(message, &header), -4);

    message.ext = nullptr;
    message.dataLength = -1;
    EXPECT_EQ(ORV::PELLAX::FillMessageHeader(message, &header), -4);
}

}  // namespace
