#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/OrvThread.h"
#include "platform/OrvTimer.h"
#include "support/EventThreadHelper.h"
#include "support/RawSocket.h"
#include "support/Wait.h"

using pellax_test::CountOpenFds;
using pellax_test::CScopedEventThread;
using pellax_test::Post;
using pellax_test::RunOn;
using pellax_test::WaitUntil;

namespace {

class CRecordingSink : public IOrvThreadSink {
public:
    void OnThreadStart() override
    {
        m_startThread = std::this_thread::get_id();
        m_pStartHandle = IOrvThreadManager::Instance()->GetCurrentThread();
    }
    void OnThreadStop() override
    {
        m_stopThread = std::this_thread::get_id();
        m_bStopped = true;
    }

    std::thread::id m_startThread;
    std::thread::id m_stopThread;
    IOrvThread* m_pStartHandle = nullptr;
    std::atomic<bool> m_bStopped{false};
};

// Counts how it was treated, so a test sees whether the thread ran it and gave it back.
class CCountingEvent : public IOrvCustomizeEvent {
public:
    CCountingEvent(std::atomic<int>& ran, std::atomic<int>& destroyed) : m_ran(ran), m_destroyed(destroyed) {}
    int OnEvent() override
    {
        ++m_ran;
        return 0;
    }
    void OnDestroy() override
    {
        ++m_destroyed;
        delete this;
    }

private:
    std::atomic<int>& m_ran;
    std::atomic<int>& m_destroyed;
};

bool Defer(IOrvThread* thread, std::function<void()> action)
{
    auto* event = new pellax_test::CFunctionEvent(std::move(action));
    if (thread->DeferEvent(event) != 0) {
        delete event;
        return false;
    }
    return true;
}

TEST(EventThread, RunsPostedEventsInOrderOnItsOwnThreadBetweenItsSinksStartAndStop)
{
    CRecordingSink sink;
    CScopedEventThread thread(&sink);
    ASSERT_NE(thread.Get(), nullptr);
    constexpr int kEvents = 200;
    std::vector<int> order;
    std::vector<std::thread::id> runners;
    std::vector<IOrvThread*> handles;
    for (int i = 0; i < kEvents; ++i) {
        ASSERT_TRUE(Post(thread.Get(), [&, i] {
            order.push_back(i);
            runners.push_back(std::this_thread::get_id());
            handles.push_back(IOrvThreadManager::Instance()->GetCurrentThread());
        }));
    }
    thread.Stop();

    ASSERT_EQ(order.size(), static_cast<size_t>(kEvents));
    for (int i = 0; i < kEvents; ++i) {
        EXPECT_EQ(order[i], i);
        EXPECT_EQ(runners[i], runners[0]);
        EXPECT_EQ(handles[i], thread.Get());
    }
    EXPECT_NE(runners[0], std::this_thread::get_id());
    EXPECT_EQ(sink.m_startThread, runners[0]);
    EXPECT_EQ(sink.m_stopThread, runners[0]);
    EXPECT_EQ(sink.m_pStartHandle, thread.Get());

    // Threads the manager did not create are nobody's event thread.
    EXPECT_EQ(IOrvThreadManager::Instance()->GetCurrentThread(), nullptr);
}

TEST(EventThread, StopRunsAndDestroysEveryAcceptedEventOnceThenRefusesNewOnes)
{
    CRecordingSink sink;
    CScopedEventThread thread(&sink);
    std::atomic<int> ran{0};
    std::atomic<int> destroyed{0};
    // Holds the thread up so the counted events are still queued when Stop is asked.
    ASSERT_TRUE(Post(thread.Get(), [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }));
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(thread.Get()->PostEvent(new CCountingEvent(ran, destroyed)), 0);
    }
    thread.Stop();
    EXPECT_TRUE(sink.m_bStopped.load());
    EXPECT_EQ(ran.load(), 50);
    EXPECT_EQ(destroyed.load(), 50);

    // A refused event stays the caller's: neither run nor destroyed by the thread.
    auto* refused = new CCountingEvent(ran, destroyed);
    EXPECT_NE(thread.Get()->PostEvent(refused), 0);
    EXPECT_NE(thread.Get()->DeferEvent(refused), 0);
    EXPECT_EQ(ran.load(), 50);
    EXPECT_EQ(destroyed.load(), 50);
    refused->OnDestroy();
}

TEST(EventThread, StopAskedFromTheThreadItselfEndsItsLoop)
{
    CRecordingSink sink;
    CScopedEventThread thread(&sink);
    ASSERT_TRUE(Post(thread.Get(), [&] { IOrvThreadManager::Instance()->StopThread(thread.Get()); }));
    EXPECT_TRUE(WaitUntil([&] { return sink.m_bStopped.load(); }));
}

class CTickSink : public IOrvTimerSink {
public:
    void OnTimer(COrvTimer*) override { ++m_nTicks; }
    std::atomic<int> m_nTicks{0};
};

// Leak checks count descriptors before and after a load: a thread opening its own later would look
// like a leak of whatever the load did.
TEST(EventThread, OpensNoDescriptorAfterCreationAndClosesItsOwnWhenReleased)
{
    size_t before = CountOpenFds();
    {
        CScopedEventThread thread;
        size_t created = CountOpenFds();
        CTickSink sink;
        COrvTimer timer;
        ASSERT_TRUE(RunOn(thread.Get(), [&] {
            EXPECT_EQ(timer.Schedule(&sink, COrvTimeValue(0, 1000), COrvTimeValue(0, 0), -1), 0);
        }));
        EXPECT_TRUE(WaitUntil([&] { return sink.m_nTicks.load() >= 3; }));
        EXPECT_EQ(CountOpenFds(), created);
        EXPECT_TRUE(RunOn(thread.Get(), [&] { timer.Cancel(); }));
    }
    EXPECT_TRUE(WaitUntil([&] { return CountOpenFds() <= before; })) << CountOpenFds() << " against " << before;
}

TEST(EventThread, DeferredEventsKeepTheirPlaceAmongPostedOnesFromEveryPoster)
{
    CScopedEventThread thread;
    constexpr int kPosters = 4;
    constexpr int kEach = 600;
    std::vector<std::vector<int>> seen(kPosters);
    std::vector<std::thread> posters;
    for (int p = 0; p < kPosters; ++p) {
        posters.emplace_back([&, p] {
            for (int i = 0; i < kEach; ++i) {
                auto record = [&, p, i] { seen[p].push_back(i); };
                // Mostly deferred, as bookkeeping is, with a posted one now and then.
                i % 5 == 0 ? Post(thread.Get(), record) : Defer(thread.Get(), record);
            }
        });
    }
    for (auto& poster : posters) {
        poster.join();
    }
    thread.Stop();
    for (int p = 0; p < kPosters; ++p) {
        ASSERT_EQ(seen[p].size(), static_cast<size_t>(kEach));
        for (int i = 0; i < kEach; ++i) {
            ASSERT_EQ(seen[p][i], i);
        }
    }
}

TEST(EventThread, DeferredEventsRunWithoutAPostedOneOnceEnoughGatherAndAtStop)
{
    CScopedEventThread thread;
    std::atomic<int> ran{0};
    constexpr int kGathered = 200;
    for (int i = 0; i < kGathered; ++i) {
        ASSERT_TRUE(Defer(thread.Get(), [&] { ++ran; }));
    }
    // All but the last few went out in full batches without any posted event.
    EXPECT_TRUE(WaitUntil([&] { return ran.load() >= kGathered - 32; })) << ran.load();

    std::atomic<bool> last{false};
    ASSERT_TRUE(Defer(thread.Get(), [&] { last = true; }));
    thread.Stop();
    EXPECT_EQ(ran.load(), kGathered);
    EXPECT_TRUE(last.load());
}

}  // namespace
