#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <tuple>

#include "frame/Singleton.h"
#include "platform/Zot.h"
#include "protocol/FrameCodec.h"
#include "protocol/MessageHeaderMgr.h"
#include "support/RecordingTracer.h"
#include "support/Wait.h"

namespace {

// One exchange, frame by frame: identifiers go out with host requests (the span identifier at 32, the
// trace identifier at 84) and come back with their odd responses, and the registry holds a traced
// request's span until its response finishes it.
TEST(FrameTracing, RequestsAreRememberedUntilTheirResponseFinishesTheSpanOnce)
{
    pellax_test::RecordingTracer tracer;
    CMessageHeaderMgr& registry = *COrvSingletonT<CMessageHeaderMgr>::Instance();
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
        tracer.SetActive(step.trace, "span-4567", 77);
        ORV::PELLAX::CPellaxMessageHeader header(step.command, 0, 9, 0, 0, 0);
        MessageBlockPtr frame;
        ORV::PELLAX::EncodeFrame(&header, nullptr, 0, step.skipTrace, &frame);
        const std::string encoded = tracer.Take();
        ASSERT_TRUE(frame);
        auto text = [&](size_t at) { return std::string(reinterpret_cast<const char*>(frame->GetReadPtr() + at)); };
        const std::string ids = text(32) + "/" + text(84);
        ORV::PELLAX::MessageHeaderPtr decoded;
        EXPECT_TRUE(step.decoded == nullptr || ORV::PELLAX::DecodeFrame(frame.Get(), &decoded) == 0);
        EXPECT_EQ(std::make_tuple(encoded, ids, tracer.Take(), registry.GetEntryCount()),
                  std::make_tuple(step.encoded, step.ids, std::string(step.decoded ? step.decoded : ""), step.entries))
            << step.command;
    }
    registry.Take("span-4567");
}

std::atomic<uint64_t> g_now{1000000};
const std::string kFinished = "SetIds(-null-,-null-) Finish(0,-1,time out)";

// While the sweep finishes "a", a response takes "b" and a new request stores "c" again: neither is
// finished by it, and an entry a moment younger than 45 seconds stays. Started, its thread sweeps at
// once, and again after a restart.
TEST(MessageHeaderMgr, TheSweepFinishesEntries45SecondsOldButNotOnesTakenOrReplacedMeanwhile)
{
    ZOT_SetTickSource([] { return g_now.load(); });
    pellax_test::RecordingTracer tracer;
    CMessageHeaderMgr manager;
    manager.Sweep();
    EXPECT_EQ(tracer.Take(), "") << "an empty registry sweeps silently";
    for (const char* spanId : {"a", "b", "c"}) {
        manager.Add(spanId, static_cast<uint64_t>(spanId[0] - 'a' + 1));
    }
    g_now += 1;
    manager.Add("young", 9);
    g_now += 44999;
    uint64_t takenByResponse = 0;
    tracer.OnResume([&](uint64_t span) {
        if (span == 1) {
            takenByResponse = manager.Take("b");
            manager.Add("c", 4);
        }
    });
    manager.Sweep();
    EXPECT_EQ(tracer.Take(), "ResumeSpan(1) ReleaseSpan(3) " + kFinished);
    EXPECT_EQ(std::make_tuple(takenByResponse, manager.Take("a"), manager.Take("young")), std::make_tuple(2u, 0u, 9u));
    EXPECT_EQ(manager.Take("c"), 4u);
    EXPECT_EQ(manager.Take("c"), 0u);
    for (uint64_t span : {5, 6}) {
        manager.Add("span", span);
        g_now += 45000;
        ASSERT_EQ(manager.Start(), 0);
        EXPECT_EQ(manager.Start(), 0) << "already running";
        EXPECT_TRUE(pellax_test::WaitUntil([&] { return manager.GetEntryCount() == 0; }));
        manager.Stop();
    }
    EXPECT_EQ(tracer.Take(), "ResumeSpan(5) " + kFinished + " ResumeSpan(6) " + kFinished);
    ZOT_SetTickSource(nullptr);
}

}  // namespace
