#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "platform/OrvThread.h"
#include "platform/OrvTimer.h"
#include "support/EventThreadHelper.h"
#include "support/Wait.h"

using namespace pellax_test;

namespace {

const COrvTimeValue kOneMs(0, 1000);
const COrvTimeValue kNoDelay(0, 0);

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
    std::atomic<int> ticks[2] = {{0}, {0}};  // counted, repeating
    std::atomic<int> foreign{0};
    auto tick = [&](int which) {
        ++ticks[which];
        foreign += IOrvThreadManager::Instance()->GetCurrentThread() != thread.Get();
    };
    CFunctionSink countedSink([&] { tick(0); });
    CFunctionSink repeatingSink([&] { tick(1); });
    COrvTimer counted;
    COrvTimer repeating;
    EXPECT_NE(counted.Schedule(&countedSink, kOneMs, kNoDelay, -1), 0) << "not on an event thread";
    ASSERT_TRUE(RunOn(thread.Get(), [&] {
        EXPECT_NE(counted.Schedule(nullptr, kOneMs, kNoDelay, -1), 0);
        EXPECT_EQ(counted.Schedule(&countedSink, kOneMs, kNoDelay, 3), 0);
        EXPECT_EQ(repeating.Schedule(&repeatingSink, kOneMs, kNoDelay, -1), 0);
    }));
    ASSERT_TRUE(WaitUntil([&] { return ticks[0].load() >= 3 && ticks[1].load() >= 5; }));
    int atCancel = -1;
    ASSERT_TRUE(RunOn(thread.Get(), [&] {
        repeating.Cancel();
        atCancel = ticks[1].load();
    }));
    EXPECT_TRUE(StaysFalse([&] { return ticks[0].load() > 3 || ticks[1].load() != atCancel; }));
    EXPECT_EQ(foreign.load(), 0);
    ASSERT_TRUE(RunOn(thread.Get(), [&] { counted.Cancel(); }));
}

// The second tick is due at 2P but the thread is busy until about 2.7P; the third, due at 3P, must
// not follow it a moment later (two keepalives back to back).
TEST(Timer, ALateTickIsFollowedByAFullPeriodNotByTheOnTimeOneAtOnce)
{
    constexpr std::chrono::milliseconds kPeriod{200};
    CScopedEventThread thread;
    std::vector<std::chrono::steady_clock::time_point> ticks;  // only the timer's thread touches it
    std::atomic<size_t> count{0};
    CFunctionSink sink([&] {
        ticks.push_back(std::chrono::steady_clock::now());
        if (++count == 1) {
            Post(thread.Get(), [&] { std::this_thread::sleep_for(kPeriod * 17 / 10); });
        }
    });
    COrvTimer timer;
    const COrvTimeValue period(0, kPeriod.count() * 1000);
    ASSERT_TRUE(RunOn(thread.Get(), [&] { EXPECT_EQ(timer.Schedule(&sink, period, period, -1), 0); }));
    ASSERT_TRUE(WaitUntil([&] { return count.load() >= 3; }));
    ASSERT_TRUE(RunOn(thread.Get(), [&] { timer.Cancel(); }));
    EXPECT_GE(ticks[2] - ticks[1], kPeriod / 2) << "between the late tick and the next";
}

// Both timers fall due while the scheduling event still runs, so both ticks are queued together;
// the first tick cancels the other, whose queued tick must then do nothing.
TEST(Timer, CancelInsideAnotherEventSilencesATickThatIsAlreadyDue)
{
    CScopedEventThread thread;
    std::atomic<int> ticks{0};
    COrvTimer timers[2];
    CFunctionSink firstSink([&] { ++ticks; timers[1].Cancel(); });
    CFunctionSink secondSink([&] { ++ticks; timers[0].Cancel(); });
    ASSERT_TRUE(RunOn(thread.Get(), [&] {
        EXPECT_EQ(timers[0].Schedule(&firstSink, COrvTimeValue(10, 0), kOneMs, 1), 0);
        EXPECT_EQ(timers[1].Schedule(&secondSink, COrvTimeValue(10, 0), kOneMs, 1), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }));
    ASSERT_TRUE(WaitUntil([&] { return ticks.load() >= 1; }));
    EXPECT_TRUE(StaysFalse([&] { return ticks.load() > 1; }));
    ASSERT_TRUE(RunOn(thread.Get(), [&] { timers[0].Cancel(); timers[1].Cancel(); }));
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
        ASSERT_TRUE(RunOn(thread.Get(), [&] { EXPECT_EQ(timer->Schedule(&sink, kOneMs, kNoDelay, -1), 0); }));
        ASSERT_TRUE(WaitUntil([&] { return inside.load(); }));
        timer.reset();
        EXPECT_FALSE(inside.load()) << "round " << round;
        deleted = true;
        EXPECT_TRUE(StaysFalse([&] { return ticksAfterDelete.load() > 0; }, std::chrono::milliseconds(20)));
        ASSERT_TRUE(RunOn(thread.Get(), [] {}));
    }
}

}  // namespace
