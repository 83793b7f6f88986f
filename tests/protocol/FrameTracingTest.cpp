#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "frame/Singleton.h"
#include "platform/Zot.h"
#include "protocol/FrameCodec.h"
#include "protocol/MessageHeaderMgr.h"
#include "support/RecordingTracer.h"
#include "support/Wait.h"

namespace {

// The calls the action makes, one text.
std::string CallsOf(pellax_test::RecordingTracer& tracer, const std::function<void()>& action)
{
    tracer.Clear();
    action();
    std::string joined;
    for (const std::string& call : tracer.Calls()) {
        joined += (joined.empty() ? "" : " ") + call;
    }
    return joined;
}

// The span identifier at 32 and the trace identifier at 84.
std::string Ids(const MessageBlockPtr& frame)
{
    auto text = [&](size_t at) { return std::string(reinterpret_cast<const char*>(frame->GetReadPtr() + at)); };
    return text(32) + "/" + text(84);
}

class FrameTracing : public ::testing::Test {
protected:
    void TearDown() override { Registry().Take("span-4567"); }
    static CMessageHeaderMgr& Registry() { return *COrvSingletonT<CMessageHeaderMgr>::Instance(); }

    pellax_test::RecordingTracer m_tracer;
};

// One exchange, frame by frame: identifiers go out with host requests and come back with their
// odd responses, and the registry holds a traced request's span until its response finishes it.
TEST_F(FrameTracing, RequestsAreRememberedUntilTheirResponseFinishesTheSpanOnce)
{
    const std::string kEvent = "Event(1,-null-,recv sucessed) InjectResponse()";
    const std::string kIds = "span-4567/trace-0123";
    const struct {
        uint32_t command;
        bool skipTrace;
        const char* trace;  // the active trace identifier
        std::string encoded;
        std::string ids;
        const char* decoded;  // null: not decoded here
        size_t entries;
    } steps[] = {
        {0, false, "trace-0123", "", "/", "", 0},
        {1, false, "trace-0123", "", "/", "", 0},
        {10, false, "trace-0123", "", "/", "", 0},
        {11, false, "trace-0123", "", "/", "", 0},
        {220, true, "trace-0123", "RequestLabel(modify device request)", "/", nullptr, 0},
        {210, false, "", "RequestLabel(delete device request) InjectRequest()", "span-4567/", nullptr, 0},
        {200, false, "trace-0123", "RequestLabel(add device request) InjectRequest() CurrentSpan()", kIds, nullptr, 1},
        {201, false, "trace-0123", kEvent, kIds,
         "ResumeSpan(77) SetIds(trace-0123,span-4567) Finish(1,-null-,-null-)", 0},
        {201, false, "trace-0123", kEvent, kIds, "", 0},  // a second response finds nothing to finish
        {1000, false, "trace-0123", "RequestLabel(message request) InjectRequest() CurrentSpan()", kIds,
         "Extract(trace-0123,span-4567) ReceiveLabel(receive message request)", 1},
        {3, false, "", kEvent, "span-4567/", "", 1},  // no trace identifier: not looked up
    };
    for (const auto& step : steps) {
        m_tracer.SetActive(step.trace, "span-4567", 77);
        ORV::PELLAX::CPellaxMessageHeader header(step.command, 0, 9, 0, 0, 0);
        MessageBlockPtr frame;
        EXPECT_EQ(CallsOf(m_tracer, [&] { ORV::PELLAX::EncodeFrame(&header, nullptr, 0, step.skipTrace, &frame); }),
                  step.encoded) << step.command;
        ASSERT_TRUE(frame);
        EXPECT_EQ(Ids(frame), step.ids) << step.command;
        ORV::PELLAX::MessageHeaderPtr decoded;
        if (step.decoded != nullptr) {
            EXPECT_EQ(CallsOf(m_tracer, [&] { EXPECT_EQ(ORV::PELLAX::DecodeFrame(frame.Get(), &decoded), 0); }),
                      step.decoded) << step.command;
        }
        EXPECT_EQ(Registry().GetEntryCount(), step.entries) << step.command;
    }
}

std::atomic<uint64_t> g_now{1000000};
const std::string kTimedOut1 = "ResumeSpan(1) SetIds(-null-,-null-) Finish(0,-1,time out)";

class MessageHeaderMgr : public ::testing::Test {
protected:
    void SetUp() override { ZOT_SetTickSource([] { return g_now.load(); }); }
    void TearDown() override
    {
        m_manager.Stop();
        ZOT_SetTickSource(nullptr);
    }

    pellax_test::RecordingTracer m_tracer;
    CMessageHeaderMgr m_manager;
};

TEST_F(MessageHeaderMgr, TheSweepFinishesEntries45SecondsOldAndKeepsYoungerOnes)
{
    EXPECT_EQ(CallsOf(m_tracer, [&] { m_manager.Sweep(); }), "") << "an empty registry sweeps silently";
    m_manager.Add("old", 1);
    g_now += 1;
    m_manager.Add("young", 2);
    g_now += 44999;
    EXPECT_EQ(CallsOf(m_tracer, [&] { m_manager.Sweep(); }), kTimedOut1);
    EXPECT_EQ(m_manager.Take("old"), 0u);
    EXPECT_EQ(m_manager.Take("young"), 2u);
    // Storing an identifier again releases the first span without finishing it.
    m_manager.Add("span", 1);
    EXPECT_EQ(CallsOf(m_tracer, [&] { m_manager.Add("span", 2); }), "ReleaseSpan(1)");
    EXPECT_EQ(m_manager.Take("span"), 2u);
    EXPECT_EQ(m_manager.Take("span"), 0u);
}

TEST_F(MessageHeaderMgr, AnEntryTakenOrReplacedDuringTheSweepIsNotFinishedByIt)
{
    for (const char* spanId : {"a", "b", "c"}) {
        m_manager.Add(spanId, static_cast<uint64_t>(spanId[0] - 'a' + 1));
    }
    g_now += 50000;
    uint64_t takenByResponse = 0;
    // While the sweep finishes "a", a response takes "b" and a new request stores "c" again.
    m_tracer.OnResume([&](uint64_t span) {
        if (span == 1) {
            takenByResponse = m_manager.Take("b");
            m_manager.Add("c", 4);
        }
    });
    EXPECT_EQ(CallsOf(m_tracer, [&] { m_manager.Sweep(); }),
              "ResumeSpan(1) ReleaseSpan(3) SetIds(-null-,-null-) Finish(0,-1,time out)");
    EXPECT_EQ(takenByResponse, 2u);
    EXPECT_EQ(m_manager.Take("c"), 4u);
}

TEST_F(MessageHeaderMgr, ItsThreadSweepsAtOnceAndAgainAfterARestart)
{
    std::string calls = CallsOf(m_tracer, [&] {
        for (uint64_t span : {1, 2}) {
            m_manager.Add("span", span);
            g_now += 45000;
            ASSERT_EQ(m_manager.Start(), 0);
            EXPECT_EQ(m_manager.Start(), 0) << "already running";
            EXPECT_TRUE(pellax_test::WaitUntil([&] { return m_manager.GetEntryCount() == 0; }));
            m_manager.Stop();
        }
    });
    EXPECT_EQ(calls, kTimedOut1 + " ResumeSpan(2) SetIds(-null-,-null-) Finish(0,-1,time out)");
}

}  // namespace
