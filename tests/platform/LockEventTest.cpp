#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/OrvLockEvent.h"

namespace {

const COrvTimeValue kNoWait(0, 0);
const COrvTimeValue kGenerous(10, 0);

TEST(LockEvent, AutoResetKeepsOneSignalForOneWaitAndManualResetUntilReset)
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
}

TEST(LockEvent, AWaitTimesOutAfterItsTimeAndASleeperWakesOnASignal)
{
    COrvLockEvent event(0, 0);
    COrvTimeValue brief(0, 30000);
    auto start = std::chrono::steady_clock::now();
    EXPECT_NE(event.Wait(&brief), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));

    std::thread signaller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        event.Signal();
    });
    EXPECT_EQ(event.Wait(&kGenerous), 0);
    signaller.join();
}

// Two threads hand a turn back and forth; a lost wake-up leaves one waiting out its time.
TEST(LockEvent, PingPongBetweenTwoThreadsLosesNoWakeUp)
{
    constexpr int kRounds = 20000;
    COrvLockEvent ping(0, 0);
    COrvLockEvent pong(0, 0);
    std::atomic<int> missed{0};
    std::thread partner([&] {
        for (int round = 0; round < kRounds; ++round) {
            if (ping.Wait(&kGenerous) != 0) {
                ++missed;
                return;
            }
            pong.Signal();
        }
    });
    for (int round = 0; round < kRounds && missed.load() == 0; ++round) {
        ping.Signal();
        if (pong.Wait(&kGenerous) != 0) {
            ++missed;
        }
    }
    ping.Signal();  // frees the partner if this side gave up early
    partner.join();
    EXPECT_EQ(missed.load(), 0);
}

}  // namespace
