#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "frame/Singleton.h"
#include "protocol/FrameCodec.h"
#include "protocol/MessageHeaderMgr.h"
#include "protocol/PellaxMessageHeader.h"
#include "support/RecordingTracer.h"

using ORV::PELLAX::CPellaxMessageHeader;
using ORV::PELLAX::MessageHeaderPtr;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

CMessageHeaderMgr& Registry()
{
    return *COrvSingletonT<CMessageHeaderMgr>::Instance();
}

MessageBlockPtr Encode(uint32_t command, bool skipTrace = false)
{
    CPellaxMessageHeader header(command, 0, 9, 0, 0, 0);
    MessageBlockPtr frame;
    EXPECT_EQ(ORV::PELLAX::EncodeFrame(&header, nullptr, 0, skipTrace, &frame), 0);
    return frame;
}

int Decode(const MessageBlockPtr& frame)
{
    MessageHeaderPtr header;
    return ORV::PELLAX::DecodeFrame(frame.Get(), &header);
}

std::string TextAt(const MessageBlockPtr& frame, size_t offset)
{
    return std::string(reinterpret_cast<const char*>(frame->GetReadPtr() + offset));
}

class FrameTracing : public ::testing::Test {
protected:
    void SetUp() override { m_tracer.SetActive("trace-0123", "span-4567", 77); }
    void TearDown() override { Registry().Take("span-4567"); }

    pellax_test::RecordingTracer m_tracer;
};

TEST_F(FrameTracing, ControlFramesMakeNoTraceCalls)
{
    for (uint32_t command : {0u, 1u, 10u, 11u}) {
        MessageBlockPtr frame = Encode(command);
        EXPECT_EQ(TextAt(frame, 32), "");
        EXPECT_EQ(TextAt(frame, 84), "");
        EXPECT_EQ(Decode(frame), 0);
    }
    EXPECT_THAT(m_tracer.Calls(), IsEmpty());
    EXPECT_EQ(Registry().Take("span-4567"), 0u);
}

TEST_F(FrameTracing, ARequestIsRememberedUntilItsResponseFinishesTheSpanOnce)
{
    MessageBlockPtr request = Encode(200);
    EXPECT_THAT(m_tracer.Calls(), ElementsAre("RequestLabel(add device request)", "InjectRequest()", "CurrentSpan()"));
    EXPECT_EQ(TextAt(request, 32), "span-4567");
    EXPECT_EQ(TextAt(request, 84), "trace-0123");
    EXPECT_EQ(Registry().GetEntryCount(), 1u);
    m_tracer.Clear();

    // The response leaves with success reported and the identifiers on it.
    MessageBlockPtr response = Encode(201);
    EXPECT_THAT(m_tracer.Calls(), ElementsAre("Event(1,-null-,recv sucessed)", "InjectResponse()"));
    EXPECT_EQ(TextAt(response, 84), "trace-0123");
    m_tracer.Clear();

    EXPECT_EQ(Decode(response), 0);
    EXPECT_THAT(m_tracer.Calls(),
                ElementsAre("ResumeSpan(77)", "SetIds(trace-0123,span-4567)", "Finish(1,-null-,-null-)"));
    EXPECT_EQ(Registry().GetEntryCount(), 0u);
    m_tracer.Clear();
    response->SetReadPos(0);
    EXPECT_EQ(Decode(response), 0);
    EXPECT_THAT(m_tracer.Calls(), IsEmpty()) << "a second response finds nothing to finish";
}

TEST_F(FrameTracing, AReceivedRequestIsExtractedAndLabelled)
{
    MessageBlockPtr frame = Encode(1000);
    m_tracer.Clear();

    EXPECT_EQ(Decode(frame), 0);
    EXPECT_THAT(m_tracer.Calls(),
                ElementsAre("Extract(trace-0123,span-4567)", "ReceiveLabel(receive message request)"));
}

TEST_F(FrameTracing, AResponseWithoutTraceIdentifierIsNotLookedUp)
{
    Encode(2);
    m_tracer.SetActive("", "span-4567", 77);
    MessageBlockPtr response = Encode(3);
    m_tracer.Clear();

    EXPECT_EQ(Decode(response), 0);
    EXPECT_THAT(m_tracer.Calls(), IsEmpty());
    EXPECT_EQ(Registry().GetEntryCount(), 1u);
}

TEST_F(FrameTracing, NothingIsRememberedWhenTheTraceIsSkippedOrNoneIsActive)
{
    MessageBlockPtr frame = Encode(220, true);
    EXPECT_THAT(m_tracer.Calls(), ElementsAre("RequestLabel(modify device request)"));
    EXPECT_EQ(TextAt(frame, 84), "");
    m_tracer.Clear();

    m_tracer.SetActive("", "", 0);
    Encode(210);
    EXPECT_THAT(m_tracer.Calls(), ElementsAre("RequestLabel(delete device request)", "InjectRequest()"));
    EXPECT_EQ(Registry().GetEntryCount(), 0u);
}

}  // namespace
