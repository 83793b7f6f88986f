#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "platform/OrvThread.h"
#include "platform/OrvTimer.h"
#include "support/EventThreadHelper.h"
#include "support/Wait.h"

using pellax_test::CScopedEventThread;
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

// Cancels its partner at its first tick; whichever of the two fires first must silence the other.
class CCancellingSink : public IOrvTimerSink {
public:
    void OnTimer(COrvTimer*) override
    {
        ++m_nTicks;
        m_pPartner->Cancel();
    }
    COrvTimer* m_pPartner = nullptr;
    std::atomic<int>& m_nTicks;
    explicit CCancellingSink(std::atomic<int>& ticks) : m_nTicks(ticks) {}
};

TEST(Timer, TicksOnItsOwnThreadAndStopsAfterItsCount)
{
    CScopedEventThread thread;
    CCountingSink sink;
    sink.m_pExpected = thread.Get();
    COrvTimer timer;
    int scheduled = -1;
    ASSERT_TRUE(RunOn(thread.Get(), [&] { scheduled = timer.Schedule(&sink, kOneMs, kNoDelay, 3); }));
    ASSERT_EQ(scheduled, 0);

    ASSERT_TRUE(WaitUntil([&] { return sink.m_nTicks.load() >= 3; }));
    EXPECT_TRUE(StaysFalse([&] { return sink.m_nTicks.load() > 3; }));
    EXPECT_EQ(sink.m_nTicks.load(), 3);
    EXPECT_EQ(sink.m_nForeignTicks.load(), 0);
    ASSERT_TRUE(RunOn(thread.Get(), [&] { timer.Cancel(); }));
}

TEST(Timer, RepeatsUntilCancelledAndNeverTicksAfterCancel)
{
    CScopedEventThread thread;
    CCountingSink sink;
    sink.m_pExpected = thread.Get();
    COrvTimer timer;
    ASSERT_TRUE(RunOn(thread.Get(), [&] { EXPECT_EQ(timer.Schedule(&sink, kOneMs, kNoDelay, -1), 0); }));
    ASSERT_TRUE(WaitUntil([&] { return sink.m_nTicks.load() >= 5; }));

    int atCancel = -1;
    ASSERT_TRUE(RunOn(thread.Get(), [&] {
        timer.Cancel();
        atCancel = sink.m_nTicks.load();
    }));
    EXPECT_TRUE(StaysFalse([&] { return sink.m_nTicks.load() != atCancel; }));
    EXPECT_EQ(sink.m_nForeignTicks.load(), 0);
}

TEST(Timer, CancelInsideAnotherEventSilencesATickThatIsAlreadyDue)
{
    // Both timers fall due while the scheduling event still runs, so both ticks are queued together;
    // the first tick cancels the other, whose queued tick must then do nothing.
    CScopedEventThread thread;
    std::atomic<int> ticks{0};
    CCancellingSink firstSink(ticks);
    CCancellingSink secondSink(ticks);
    COrvTimer first;
    COrvTimer second;
    firstSink.m_pPartner = &second;
    secondSink.m_pPartner = &first;
    const COrvTimeValue period(10, 0);
    ASSERT_TRUE(RunOn(thread.Get(), [&] {
        EXPECT_EQ(first.Schedule(&firstSink, period, kOneMs, 1), 0);
        EXPECT_EQ(second.Schedule(&secondSink, period, kOneMs, 1), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }));
    ASSERT_TRUE(WaitUntil([&] { return ticks.load() >= 1; }));
    EXPECT_TRUE(StaysFalse([&] { return ticks.load() > 1; }));
    EXPECT_EQ(ticks.load(), 1);
    // The tick changed the timers on their thread: finish with them there too.
    ASSERT_TRUE(RunOn(thread.Get(), [&] {
        first.Cancel();
        second.Cancel();
    }));
}

TEST(Timer, ScheduleOffAnEventThreadFails)
{
    CCountingSink sink;
    COrvTimer timer;
    EXPECT_NE(timer.Schedule(&sink, kOneMs, kNoDelay, -1), 0);
    EXPECT_TRUE(StaysFalse([&] { return sink.m_nTicks.load() > 0; }));
}

TEST(Timer, ScheduleWithoutASinkFails)
{
    CScopedEventThread thread;
    COrvTimer timer;
    int result = 0;
    ASSERT_TRUE(RunOn(thread.Get(), [&] { result = timer.Schedule(nullptr, kOneMs, kNoDelay, -1); }));
    EXPECT_NE(result, 0);
}

TEST(Timer, DeletingItFromAForeignThreadNeverCallsTheSinkAfterwards)
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

TEST(Timer, DeletingATimerWhoseCountRanOutAfterItsThreadWasReleasedIsHarmless)
{
    CCountingSink sink;
    auto timer = std::make_unique<COrvTimer>();
    {
        CScopedEventThread thread;
        sink.m_pExpected = thread.Get();
        ASSERT_TRUE(RunOn(thread.Get(), [&] { EXPECT_EQ(timer->Schedule(&sink, kOneMs, kNoDelay, 1), 0); }));
        ASSERT_TRUE(WaitUntil([&] { return sink.m_nTicks.load() == 1; }));
        ASSERT_TRUE(RunOn(thread.Get(), [] {}));
    }
    timer.reset();
    EXPECT_EQ(sink.m_nTicks.load(), 1);
}

TEST(Timer, TimersStillScheduledWhenTheThreadStopsAreDisposedWithIt)
{
    CCountingSink sink;
    COrvTimer timer;
    {
        CScopedEventThread thread;
        sink.m_pExpected = thread.Get();
        ASSERT_TRUE(RunOn(thread.Get(), [&] { EXPECT_EQ(timer.Schedule(&sink, kOneMs, kNoDelay, -1), 0); }));
        ASSERT_TRUE(WaitUntil([&] { return sink.m_nTicks.load() >= 1; }));
    }
    int atStop = sink.m_nTicks.load();
    EXPECT_TRUE(StaysFalse([&] { return sink.m_nTicks.load() != atStop; }));
}

}  // namespace
