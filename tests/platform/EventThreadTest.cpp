#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>
#include <vector>

#include "platform/OrvThread.h"
#include "support/EventThreadHelper.h"
#include "support/Wait.h"

using namespace pellax_test;

namespace {

IOrvThread* Current()
{
    return IOrvThreadManager::Instance()->GetCurrentThread();
}

class CRecordingSink : public IOrvThreadSink {
public:
    void OnThreadStart() override { m_start = Current(); }
    void OnThreadStop() override { m_bStopped = true; }
    IOrvThread* m_start = nullptr;
    std::atomic<bool> m_bStopped{false};
};

// Counts its runs and destructions, so a test sees whether the thread ran it and gave it back.
class CCountingEvent : public CFunctionEvent {
public:
    explicit CCountingEvent(std::atomic<int>* counts) : CFunctionEvent([counts] { ++counts[0]; }), m_counts(counts) {}
    void OnDestroy() override
    {
        ++m_counts[1];
        delete this;
    }
    std::atomic<int>* m_counts;  // ran, destroyed
};

bool Defer(IOrvThread* thread, std::function<void()> action)
{
    auto* event = new CFunctionEvent(std::move(action));
    if (thread->DeferEvent(event) != 0) {
        delete event;
        return false;
    }
    return true;
}

TEST(EventThread, RunsEveryAcceptedEventOnceInOrderOnItsOwnThreadThenRefusesNewOnes)
{
    CRecordingSink sink;
    CScopedEventThread thread(&sink);
    std::vector<int> order;
    std::atomic<int> counts[2] = {{0}, {0}};
    // Holds the thread up so the events are still queued when Stop is asked.
    ASSERT_TRUE(Post(thread.Get(), [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }));
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(Post(thread.Get(), [&, i] { order.push_back(Current() == thread.Get() ? i : -1); }));
        ASSERT_EQ(thread.Get()->PostEvent(new CCountingEvent(counts)), 0);
    }
    thread.Stop();
    EXPECT_TRUE(sink.m_bStopped.load());
    EXPECT_EQ(sink.m_start, thread.Get());
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(order[i], i);
    }
    EXPECT_EQ(counts[0].load(), 100);
    EXPECT_EQ(counts[1].load(), 100);
    // A refused event stays the caller's: neither run nor destroyed by the thread.
    auto* refused = new CCountingEvent(counts);
    EXPECT_NE(thread.Get()->PostEvent(refused), 0);
    EXPECT_NE(thread.Get()->DeferEvent(refused), 0);
    EXPECT_EQ(counts[0].load() + counts[1].load(), 200);
    refused->OnDestroy();
    EXPECT_EQ(Current(), nullptr) << "threads the manager did not create are nobody's event thread";

    CRecordingSink selfStopped;
    CScopedEventThread another(&selfStopped);
    ASSERT_TRUE(Post(another.Get(), [&] { IOrvThreadManager::Instance()->StopThread(another.Get()); }));
    EXPECT_TRUE(WaitUntil([&] { return selfStopped.m_bStopped.load(); })) << "a stop asked on the thread ends it";
}

// Deferred events keep their place among posted ones from every poster, run without a posted one
// once enough gather, and the last few run at the stop.
TEST(EventThread, DeferredEventsKeepTheirOrderAndAreNeverLeftWaiting)
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
                i % 5 == 0 ? Post(thread.Get(), record) : Defer(thread.Get(), record);
            }
        });
    }
    for (auto& poster : posters) {
        poster.join();
    }
    ASSERT_TRUE(RunOn(thread.Get(), [] {}));
    std::atomic<int> ran{0};
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(Defer(thread.Get(), [&] { ++ran; }));
    }
    EXPECT_TRUE(WaitUntil([&] { return ran.load() >= 200 - 32; })) << ran.load();
    std::atomic<bool> last{false};
    ASSERT_TRUE(Defer(thread.Get(), [&] { last = true; }));
    thread.Stop();
    EXPECT_EQ(ran.load(), 200);
    EXPECT_TRUE(last.load());
    for (int p = 0; p < kPosters; ++p) {
        std::vector<int> expected(kEach);
        std::iota(expected.begin(), expected.end(), 0);
        EXPECT_EQ(seen[p], expected) << "poster " << p;
    }
}

}  // namespace
