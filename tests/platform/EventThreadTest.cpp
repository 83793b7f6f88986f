#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

#include "platform/OrvLockEvent.h"
#include "platform/OrvThread.h"
#include "platform/OrvTimer.h"
#include "platform/Zot.h"
#include "platform/ZotSema.h"
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

bool Defer(IOrvThread* thread, std::function<void()> action)
{
    auto* event = new CFunctionEvent(std::move(action));
    return thread->DeferEvent(event) == 0 || (delete event, false);
}

// Deferred events keep their place among posted ones from every poster, run without a posted one
// once enough gather, and the last few run at the stop; then the thread refuses new events.
TEST(EventThread, RunsEveryAcceptedEventOnceInOrderOnItsOwnThreadAndNoDeferredOneIsLeftWaiting)
{
    CRecordingSink sink;
    CScopedEventThread thread(&sink);
    constexpr int kPosters = 4;
    constexpr int kEach = 600;
    std::vector<std::vector<int>> seen(kPosters);
    auto alive = std::make_shared<int>(0);  // every event holds a copy until it is destroyed
    std::vector<std::thread> posters;
    for (int p = 0; p < kPosters; ++p) {
        posters.emplace_back([&, p] {
            for (int i = 0; i < kEach; ++i) {
                auto record = [&, p, i, alive] { seen[p].push_back(Current() == thread.Get() ? i : -1); };
                EXPECT_TRUE(i % 5 == 0 ? Post(thread.Get(), record) : Defer(thread.Get(), record));
            }
        });
    }
    for (auto& poster : posters) {
        poster.join();
    }
    std::atomic<int> ran{0};
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(Defer(thread.Get(), [&ran, alive] { ++ran; }));
    }
    EXPECT_TRUE(WaitUntil([&] { return ran.load() >= 200 - 32; })) << ran.load();
    // Holds the thread up so the last events are still queued when Stop is asked.
    ASSERT_TRUE(Post(thread.Get(), [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }));
    ASSERT_TRUE(Defer(thread.Get(), [&ran, alive] { ++ran; }));
    ASSERT_TRUE(Post(thread.Get(), [&ran, alive] { ++ran; }));
    thread.Stop();
    EXPECT_EQ(std::make_tuple(ran.load(), alive.use_count()), std::make_tuple(202, 1L));
    EXPECT_EQ(std::make_tuple(sink.m_start, sink.m_bStopped.load()), std::make_tuple(thread.Get(), true));
    std::vector<int> expected(kEach);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(seen, std::vector<std::vector<int>>(kPosters, expected));
    // A refused event stays the caller's (the helpers delete it): the thread neither runs nor frees it.
    EXPECT_FALSE(Post(thread.Get(), [&ran] { ++ran; }));
    EXPECT_FALSE(Defer(thread.Get(), [&ran] { ++ran; }));
    EXPECT_EQ(ran.load(), 202);
    EXPECT_EQ(Current(), nullptr) << "threads the manager did not create are nobody's event thread";

    CRecordingSink selfStopped;
    CScopedEventThread another(&selfStopped);
    ASSERT_TRUE(Post(another.Get(), [&] { IOrvThreadManager::Instance()->StopThread(another.Get()); }));
    EXPECT_TRUE(WaitUntil([&] { return selfStopped.m_bStopped.load(); })) << "a stop asked on the thread ends it";
}


const COrvTimeValue kOneMs(0, 1000);
const COrvTimeValue kNoWait(0, 0);

class CFunctionSink : public IOrvTimerSink {
public:
    explicit CFunctionSink(std::function<void()> action) : m_action(std::move(action)) {}
    void OnTimer(COrvTimer*) override { m_action(); }

private:
    std::function<void()> m_action;
};

// Two timers fall due after their short delay (not their ten-second period) while the scheduling
// event still runs, so both ticks are queued together; the first cancels the other, whose queued
// tick must then do nothing. A third ticks three times on the same thread and stops.
TEST(Timer, TicksOnItsThreadForItsCountAndACancelInsideAnotherEventSilencesATickAlreadyDue)
{
    CScopedEventThread thread;
    std::atomic<int> ticks[2] = {{0}, {0}};  // cancelling pair, counted
    std::atomic<int> foreign{0};
    COrvTimer timers[3];
    CFunctionSink firstSink([&] { ++ticks[0]; timers[1].Cancel(); });
    CFunctionSink secondSink([&] { ++ticks[0]; timers[0].Cancel(); });
    CFunctionSink countedSink([&] {
        ++ticks[1];
        foreign += IOrvThreadManager::Instance()->GetCurrentThread() != thread.Get();
    });
    EXPECT_NE(timers[2].Schedule(&countedSink, kOneMs, kNoWait, -1), 0) << "not on an event thread";
    ASSERT_TRUE(RunOn(thread.Get(), [&] {
        EXPECT_NE(timers[2].Schedule(nullptr, kOneMs, kNoWait, -1), 0);
        EXPECT_EQ(timers[0].Schedule(&firstSink, COrvTimeValue(10, 0), kOneMs, 1), 0);
        EXPECT_EQ(timers[1].Schedule(&secondSink, COrvTimeValue(10, 0), kOneMs, 1), 0);
        EXPECT_EQ(timers[2].Schedule(&countedSink, kOneMs, kNoWait, 3), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }));
    ASSERT_TRUE(WaitUntil([&] { return ticks[0].load() >= 1 && ticks[1].load() >= 3; }, std::chrono::seconds(5)));
    EXPECT_TRUE(StaysFalse([&] { return ticks[0].load() > 1 || ticks[1].load() > 3; }));
    EXPECT_EQ(foreign.load(), 0);
}

// The sink may go the moment the timer is gone: nothing may still run in it, nor start later.
TEST(Timer, DeletingItFromAForeignThreadWaitsForATickInProgressAndStopsLaterOnes)
{
    CScopedEventThread thread;
    for (int round = 0; round < 20; ++round) {
        std::atomic<bool> inside{false};
        std::atomic<bool> deleted{false};
        std::atomic<int> ticksAfterDelete{0};
        CFunctionSink sink([&] {
            inside = true;
            ticksAfterDelete += deleted.load();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            inside = false;
        });
        auto timer = std::make_unique<COrvTimer>();
        ASSERT_TRUE(RunOn(thread.Get(), [&] { EXPECT_EQ(timer->Schedule(&sink, kOneMs, kNoWait, -1), 0); }));
        ASSERT_TRUE(WaitUntil([&] { return inside.load(); }));
        timer.reset();
        EXPECT_FALSE(inside.load()) << "round " << round;
        deleted = true;
        EXPECT_TRUE(StaysFalse([&] { return ticksAfterDelete.load() > 0; }, std::chrono::milliseconds(20)));
    }
}


TEST(LockEvent, EventsAndSemaphoresKeepTheirSignalsTimeOutWithoutAndLoseNoWakeUpBetweenTwoThreads)
{
    COrvLockEvent automatic(0, 0);
    COrvLockEvent startsSet(0, 1);
    COrvLockEvent manual(1, 0);
    automatic.Signal();
    automatic.Signal();  // a second signal before the wait is the same signal
    startsSet.Reset();
    manual.Signal();
    EXPECT_EQ(automatic.Wait(&kNoWait), 0);
    EXPECT_NE(automatic.Wait(&kNoWait), 0);
    EXPECT_NE(startsSet.Wait(&kNoWait), 0);
    EXPECT_EQ(manual.Wait(&kNoWait), 0);
    EXPECT_EQ(manual.Wait(), 0);
    manual.Reset();
    EXPECT_NE(manual.Wait(&kNoWait), 0);
    COrvTimeValue brief(0, 30000);
    auto start = std::chrono::steady_clock::now();
    EXPECT_NE(automatic.Wait(&brief), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));

    // Two threads hand a turn back and forth, by events both ways and then by a semaphore; a lost
    // wake-up leaves one side waiting out its time.
    const COrvTimeValue generous(10, 0);
    COrvLockEvent ping(0, 0);
    COrvLockEvent pong(0, 0);
    ZOT_SEM again = nullptr;
    ASSERT_EQ(ZOT_SemCreate(&again, 0), 0);
    std::atomic<int> missed{0};
    std::thread partner([&] {
        for (int round = 0; round < 20000 && missed.load() == 0; ++round) {
            missed += ping.Wait(&generous) != 0;
            pong.Signal();
            missed += ZOT_SemTimedWait(again, 10000) != 0;
        }
    });
    for (int round = 0; round < 20000 && missed.load() == 0; ++round) {
        ping.Signal();
        missed += pong.Wait(&generous) != 0;
        ZOT_SemPost(again);
    }
    ping.Signal();  // frees the partner if this side gave up early
    ZOT_SemPost(again);
    partner.join();
    EXPECT_EQ(missed.load(), 0);
    ZOT_SemDestroy(&again);
}

}  // namespace
