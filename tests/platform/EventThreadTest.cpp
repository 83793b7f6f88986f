#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/OrvThread.h"
#include "support/EventThreadHelper.h"
#include "support/Wait.h"

using pellax_test::CScopedEventThread;
using pellax_test::Post;
using pellax_test::WaitUntil;

namespace {

class CRecordingSink : public IOrvThreadSink {
public:
    void OnThreadStart() override { m_start = IOrvThreadManager::Instance()->GetCurrentThread(); }
    void OnThreadStop() override { m_bStopped = true; }
    IOrvThread* m_start = nullptr;
    std::atomic<bool> m_bStopped{false};
};

// Counts how it was treated, so a test sees whether the thread ran it and gave it back.
class CCountingEvent : public IOrvCustomizeEvent {
public:
    explicit CCountingEvent(std::atomic<int>* counts) : m_counts(counts) {}
    int OnEvent() override
    {
        ++m_counts[0];
        return 0;
    }
    void OnDestroy() override
    {
        ++m_counts[1];
        delete this;
    }

private:
    std::atomic<int>* m_counts;  // ran, destroyed
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

TEST(EventThread, RunsEveryAcceptedEventOnceInOrderOnItsOwnThreadThenRefusesNewOnes)
{
    CRecordingSink sink;
    CScopedEventThread thread(&sink);
    std::vector<int> order;
    std::atomic<int> counts[2] = {{0}, {0}};
    // Holds the thread up so the events are still queued when Stop is asked.
    ASSERT_TRUE(Post(thread.Get(), [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }));
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(Post(thread.Get(), [&, i] {
            EXPECT_EQ(IOrvThreadManager::Instance()->GetCurrentThread(), thread.Get());
            order.push_back(i);
        }));
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
    // Threads the manager did not create are nobody's event thread.
    EXPECT_EQ(IOrvThreadManager::Instance()->GetCurrentThread(), nullptr);
}

TEST(EventThread, StopAskedFromTheThreadItselfEndsItsLoop)
{
    CRecordingSink sink;
    CScopedEventThread thread(&sink);
    ASSERT_TRUE(Post(thread.Get(), [&] { IOrvThreadManager::Instance()->StopThread(thread.Get()); }));
    EXPECT_TRUE(WaitUntil([&] { return sink.m_bStopped.load(); }));
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
    ASSERT_TRUE(pellax_test::RunOn(thread.Get(), [] {}));
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
        ASSERT_EQ(seen[p].size(), static_cast<size_t>(kEach));
        for (int i = 0; i < kEach; ++i) {
            ASSERT_EQ(seen[p][i], i);
        }
    }
}

}  // namespace
