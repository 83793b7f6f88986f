#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>

#include "platform/Zot.h"
#include "protocol/MessageHeaderMgr.h"
#include "support/RecordingTracer.h"
#include "support/Wait.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

std::atomic<uint64_t> g_now{1000000};

uint64_t ControlledTick()
{
    return g_now.load();
}

class MessageHeaderMgr : public ::testing::Test {
protected:
    void SetUp() override { ZOT_SetTickSource(&ControlledTick); }
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
    m_manager.Sweep();
    EXPECT_THAT(m_tracer.Calls(), IsEmpty()) << "an empty registry sweeps silently";
    m_manager.Add("old", 1);
    g_now += 1;
    m_manager.Add("young", 2);
    g_now += 44999;

    m_manager.Sweep();

    EXPECT_THAT(m_tracer.Calls(), ElementsAre("ResumeSpan(1)", "SetIds(-null-,-null-)", "Finish(0,-1,time out)"));
    EXPECT_EQ(m_manager.Take("old"), 0u);
    EXPECT_EQ(m_manager.Take("young"), 2u);
}

TEST_F(MessageHeaderMgr, StoringAnIdentifierAgainReleasesTheFirstSpanWithoutFinishingIt)
{
    m_manager.Add("span", 1);
    m_manager.Add("span", 2);

    EXPECT_THAT(m_tracer.Calls(), ElementsAre("ReleaseSpan(1)"));
    EXPECT_EQ(m_manager.Take("span"), 2u);
    EXPECT_EQ(m_manager.Take("span"), 0u);
}

TEST_F(MessageHeaderMgr, AnEntryTakenDuringTheSweepIsNotFinishedTwice)
{
    m_manager.Add("a", 1);
    m_manager.Add("b", 2);
    g_now += 50000;
    uint64_t takenByResponse = 0;
    // While the sweep finishes "a", a response arrives for "b" and takes it.
    m_tracer.OnResume([&](uint64_t span) {
        if (span == 1) {
            takenByResponse = m_manager.Take("b");
        }
    });

    m_manager.Sweep();

    EXPECT_EQ(takenByResponse, 2u);
    EXPECT_THAT(m_tracer.Calls(), ElementsAre("ResumeSpan(1)", "SetIds(-null-,-null-)", "Finish(0,-1,time out)"));
}

TEST_F(MessageHeaderMgr, AnEntryReplacedDuringTheSweepIsLeftForLater)
{
    m_manager.Add("a", 1);
    m_manager.Add("b", 2);
    g_now += 50000;
    m_tracer.OnResume([&](uint64_t span) {
        if (span == 1) {
            m_manager.Add("b", 3);
        }
    });

    m_manager.Sweep();

    EXPECT_EQ(m_manager.Take("b"), 3u);
}

TEST_F(MessageHeaderMgr, ItsThreadSweepsAtOnceAndAgainAfterARestart)
{
    m_manager.Add("first", 1);
    g_now += 45000;
    ASSERT_EQ(m_manager.Start(), 0);
    EXPECT_EQ(m_manager.Start(), 0) << "already running";
    EXPECT_TRUE(pellax_test::WaitUntil([&] { return m_manager.GetEntryCount() == 0; }));

    m_manager.Stop();
    m_manager.Add("second", 2);
    g_now += 45000;
    ASSERT_EQ(m_manager.Start(), 0);
    EXPECT_TRUE(pellax_test::WaitUntil([&] { return m_manager.GetEntryCount() == 0; }));
    m_manager.Stop();

    EXPECT_THAT(m_tracer.Calls(),
                ElementsAre("ResumeSpan(1)", "SetIds(-null-,-null-)", "Finish(0,-1,time out)", "ResumeSpan(2)",
                            "SetIds(-null-,-null-)", "Finish(0,-1,time out)"));
}

}  // namespace
