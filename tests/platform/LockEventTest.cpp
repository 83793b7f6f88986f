#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/OrvLockEvent.h"
#include "platform/Zot.h"
#include "platform/ZotSema.h"

namespace {

const COrvTimeValue kNoWait(0, 0);

TEST(LockEvent, AutoResetKeepsOneSignalForOneWaitManualResetUntilResetAndAWaitTimesOut)
{
    COrvLockEvent automatic(0, 0);
    EXPECT_NE(automatic.Wait(&kNoWait), 0);
    automatic.Signal();
    automatic.Signal();  // a second signal before the wait is the same signal
    EXPECT_EQ(automatic.Wait(&kNoWait), 0);
    EXPECT_NE(automatic.Wait(&kNoWait), 0);

    COrvLockEvent startsSet(0, 1);
    startsSet.Reset();
    EXPECT_NE(startsSet.Wait(&kNoWait), 0);

    COrvLockEvent manual(1, 0);
    manual.Signal();
    EXPECT_EQ(manual.Wait(&kNoWait), 0);
    EXPECT_EQ(manual.Wait(), 0);
    manual.Reset();
    EXPECT_NE(manual.Wait(&kNoWait), 0);

    COrvTimeValue brief(0, 30000);
    auto start = std::chrono::steady_clock::now();
    EXPECT_NE(automatic.Wait(&brief), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST(ZotSemaphore, EachWaitTakesOnePostedCountAndATimedWaitTimesOutWithoutOne)
{
    ZOT_SEM sem = nullptr;
    ASSERT_EQ(ZOT_SemCreate(&sem, 1), 0);
    EXPECT_EQ(ZOT_SemTimedWait(sem, 0), 0);
    EXPECT_NE(ZOT_SemTimedWait(sem, 0), 0);
    EXPECT_NE(ZOT_SemTimedWait(sem, 20), 0);
    ZOT_SemPost(sem);
    ZOT_SemPost(sem);
    EXPECT_EQ(ZOT_SemTimedWait(sem, 0), 0);
    EXPECT_EQ(ZOT_SemWait(sem), 0);
    EXPECT_EQ(sem->GetCount(), 0u);
    EXPECT_EQ(ZOT_SemDestroy(&sem), 0);
    EXPECT_EQ(sem, nullptr);
    EXPECT_NE(ZOT_SemTimedWait(nullptr, 0), 0);
}

// Two threads hand a turn back and forth, by events both ways and then by a semaphore; a lost
// wake-up leaves one side waiting out its time.
TEST(LockEvent, PingPongBetweenTwoThreadsLosesNoWakeUp)
{
    constexpr int kRounds = 20000;
    const COrvTimeValue generous(10, 0);
    COrvLockEvent ping(0, 0);
    COrvLockEvent pong(0, 0);
    ZOT_SEM again = nullptr;
    ASSERT_EQ(ZOT_SemCreate(&again, 0), 0);
    std::atomic<int> missed{0};
    std::thread partner([&] {
        for (int round = 0; round < kRounds && missed.load() == 0; ++round) {
            missed += ping.Wait(&generous) != 0;
            pong.Signal();
            missed += ZOT_SemTimedWait(again, 10000) != 0;
        }
    });
    for (int round = 0; round < kRounds && missed.load() == 0; ++round) {
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
