#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/OrvThread.h"
#include "platform/OrvTimer.h"
#include "support/EventThreadHelper.h"
#include "support/Wait.h"

using pellax_test::CScopedEventThread;
using pellax_test::Post;
using pellax_test::RunOn;
using pellax_test::StaysFalse;
using pellax_test::WaitUntil;

namespace {

const COrvTimeValue kOneMs(0, 1000);
const COrvTimeValue kNoDelay(0, 0);

class CCountingSink : public IOrvTimerSink {
public:
    void OnTimer(COrvTimer*) override
    {
        m_bInside = true;
        if (IOrvThreadManager::Instance()->GetCurrentThread() != m_pExpected) {
            ++m_nForeignTicks;
        }
        if (m_bDeleted.load()) {
            ++m_nTicksAfterDelete;
        }
        std::this_thread::sleep_for(m_sleep);
        ++m_nTicks;
        m_bInside = false;
    }

    IOrvThread* m_pExpected = nullptr;
    std::chrono::milliseconds m_sleep{0};
    std::atomic<int> m_nTicks{0};
    std::atomic<int> m_nForeignTicks{0};
    std::atomic<int> m_nTicksAfterDelete{0};
    std::atomic<bool> m_bInside{false};
    std::atomic<bool> m_bDeleted{false};
};

class CFunctionSink : public IOrvTimerSink {
public:
    explicit CFunctionSink(std::function<void()> action) : m_action(std::move(action)) {}
    void OnTimer(COrvTimer*) override { m_action(); }

private:
    std::function<void()> m_action;
};

TEST(Timer, TicksOnItsOwnThreadUntilItsCountRunsOutOrItIsCancelled)
{
    CScopedEventThread thread;
    CCountingSink counted;
    CCountingSink repeating;
    counted.m_pExpected = repeating.m_pExpected = thread.Get();
    COrvTimer countedTimer;
    COrvTimer repeatingTimer;
    ASSERT_TRUE(RunOn(thread.Get(), [&] {
        EXPECT_EQ(countedTimer.Schedule(&counted, kOneMs, kNoDelay, 3), 0);
        EXPECT_EQ(repeatingTimer.Schedule(&repeating, kOneMs, kNoDelay, -1), 0);
    }));
    ASSERT_TRUE(WaitUntil([&] { return counted.m_nTicks.load() >= 3 && repeating.m_nTicks.load() >= 5; }));

    int atCancel = -1;
    ASSERT_TRUE(RunOn(thread.Get(), [&] {
        repeatingTimer.Cancel();
        atCancel = repeating.m_nTicks.load();
    }));
    EXPECT_TRUE(StaysFalse([&] { return counted.m_nTicks.load() > 3 || repeating.m_nTicks.load() != atCancel; }));
    EXPECT_EQ(counted.m_nForeignTicks.load() + repeating.m_nForeignTicks.load(), 0);
    ASSERT_TRUE(RunOn(thread.Get(), [&] { countedTimer.Cancel(); }));
}

TEST(Timer, ALateTickIsFollowedByAFullPeriodNotByTheOnTimeOneAtOnce)
{
    // The second tick is due at 2P but the thread is busy until about 2.7P; the third, due at 3P,
    // must not follow it a moment later (two keepalives back to back).
    constexpr std::chrono::milliseconds kPeriod{200};
    CScopedEventThread thread;
    std::mutex mutex;
    std::vector<std::chrono::steady_clock::time_point> ticks;
    CFunctionSink sink([&] {
        std::lock_guard<std::mutex> lock(mutex);
        ticks.push_back(std::chrono::steady_clock::now());
        if (ticks.size() == 1) {
            Post(thread.Get(), [&] { std::this_thread::sleep_for(kPeriod * 17 / 10); });
        }
    });
    COrvTimer timer;
    const COrvTimeValue period(0, kPeriod.count() * 1000);
    ASSERT_TRUE(RunOn(thread.Get(), [&] { EXPECT_EQ(timer.Schedule(&sink, period, period, -1), 0); }));
    ASSERT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return ticks.size() >= 3;
    }));
    ASSERT_TRUE(RunOn(thread.Get(), [&] { timer.Cancel(); }));
    auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(ticks[2] - ticks[1]);
    EXPECT_GE(gap.count(), kPeriod.count() / 2) << "ms between the late tick and the next";
}

TEST(Timer, CancelInsideAnotherEventSilencesATickThatIsAlreadyDue)
{
    // Both timers fall due while the scheduling event still runs, so both ticks are queued together;
    // the first tick cancels the other, whose queued tick must then do nothing.
    CScopedEventThread thread;
    std::atomic<int> ticks{0};
    COrvTimer first;
    COrvTimer second;
    CFunctionSink firstSink([&] {
        ++ticks;
        second.Cancel();
    });
    CFunctionSink secondSink([&] {
        ++ticks;
        first.Cancel();
    });
    const COrvTimeValue period(10, 0);
    ASSERT_TRUE(RunOn(thread.Get(), [&] {
        EXPECT_EQ(first.Schedule(&firstSink, period, kOneMs, 1), 0);
        EXPECT_EQ(second.Schedule(&secondSink, period, kOneMs, 1), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }));
    ASSERT_TRUE(WaitUntil([&] { return ticks.load() >= 1; }));
    EXPECT_TRUE(StaysFalse([&] { return ticks.load() > 1; }));
    // The tick changed the timers on their thread: finish with them there too.
    ASSERT_TRUE(RunOn(thread.Get(), [&] {
        first.Cancel();
        second.Cancel();
    }));
}

TEST(Timer, ScheduleNeedsAnEventThreadAndASink)
{
    CCountingSink sink;
    COrvTimer timer;
    EXPECT_NE(timer.Schedule(&sink, kOneMs, kNoDelay, -1), 0);
    CScopedEventThread thread;
    int result = 0;
    ASSERT_TRUE(RunOn(thread.Get(), [&] { result = timer.Schedule(nullptr, kOneMs, kNoDelay, -1); }));
    EXPECT_NE(result, 0);
    EXPECT_TRUE(StaysFalse([&] { return sink.m_nTicks.load() > 0; }));
}

TEST(Timer, DeletingItFromAForeignThreadWaitsForATickInProgressAndStopsLaterOnes)
{
    CScopedEventThread thread;
    for (int round = 0; round < 20; ++round) {
        CCountingSink sink;
        sink.m_pExpected = thread.Get();
        sink.m_sleep = std::chrono::milliseconds(2);
        auto timer = std::make_unique<COrvTimer>();
        ASSERT_TRUE(RunOn(thread.Get(), [&] { EXPECT_EQ(timer->Schedule(&sink, kOneMs, kNoDelay, -1), 0); }));
        ASSERT_TRUE(WaitUntil([&] { return sink.m_nTicks.load() >= 1 && sink.m_bInside.load(); }));

        timer.reset();
        // The sink may go the moment the timer is gone: nothing may still run in it, nor start later.
        EXPECT_FALSE(sink.m_bInside.load()) << "round " << round;
        sink.m_bDeleted = true;
        EXPECT_TRUE(StaysFalse([&] { return sink.m_nTicksAfterDelete.load() > 0; }, std::chrono::milliseconds(20)));
        ASSERT_TRUE(RunOn(thread.Get(), [] {}));
    }
}


}  // namespace
