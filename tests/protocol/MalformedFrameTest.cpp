#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "protocol/FrameCodec.h"
#include "protocol/PellaxMessageHeader.h"

using ORV::PELLAX::CPellaxMessageHeader;

namespace {

// Truncated and lying frames are fed through the wire by the hostile tests, and extension areas at
// and over 65535 bytes by the send tests; what a host record may not hold is checked here.
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
