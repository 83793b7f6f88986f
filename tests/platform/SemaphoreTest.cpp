#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/OrvInetAddress.h"
#include "platform/OrvLockEvent.h"
#include "platform/Zot.h"
#include "platform/ZotSema.h"
#include "support/Wait.h"

using pellax_test::StaysFalse;

namespace {

const COrvTimeValue kShort(0, 20000);
const COrvTimeValue kLong(10, 0);

TEST(LockEvent, AnAutoResetSignalWaitsForOneWaiterAndAManualOneUntilReset)
{
    COrvLockEvent automatic(0, 0);
    automatic.Signal();
    EXPECT_EQ(automatic.Wait(&kShort), 0) << "a signal before the wait is not lost";
    EXPECT_NE(automatic.Wait(&kShort), 0) << "the wait that saw it cleared it";

    COrvLockEvent manual(1, 1);
    EXPECT_EQ(manual.Wait(&kShort), 0);
    EXPECT_EQ(manual.Wait(&kShort), 0);
    manual.Reset();
    EXPECT_NE(manual.Wait(&kShort), 0);
}

TEST(LockEvent, ASignalFromAnotherThreadWakesTheWaiter)
{
    COrvLockEvent event(0, 0);
    std::atomic<int> result{-2};
    std::thread waiter([&] { result = event.Wait(&kLong); });
    EXPECT_TRUE(StaysFalse([&] { return result.load() != -2; }, std::chrono::milliseconds(20)));
    event.Signal();
    waiter.join();
    EXPECT_EQ(result.load(), 0);
}

TEST(ZotSemaphore, TimedWaitTakesAPostedCountAndTimesOutWithoutOne)
{
    ZOT_SEM sem = nullptr;
    ASSERT_EQ(ZOT_SemCreate(&sem, 1), 0);
    EXPECT_EQ(ZOT_SemTimedWait(sem, 0), 0);
    EXPECT_NE(ZOT_SemTimedWait(sem, 0), 0);
    EXPECT_NE(ZOT_SemTimedWait(sem, 20), 0);
    std::thread poster([sem] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ZOT_SemPost(sem);
        ZOT_SemPost(sem);
    });
    EXPECT_EQ(ZOT_SemTimedWait(sem, 10000), 0);
    poster.join();
    EXPECT_EQ(ZOT_SemWait(sem), 0);
    EXPECT_EQ(sem->GetCount(), 0u);
    EXPECT_EQ(ZOT_SemDestroy(&sem), 0);
    EXPECT_EQ(sem, nullptr);
    EXPECT_NE(ZOT_SemTimedWait(nullptr, 0), 0);
}

TEST(InetAddress, KeepsOnlyIpv4TextAndBecomesValidAgainWithGoodText)
{
    COrvInetAddress address("127.0.0.1", 7000);
    EXPECT_TRUE(address.IsValid());
    EXPECT_EQ(address.GetRawAddress(), 0x7F000001u);
    EXPECT_EQ(address.GetPort(), 7000);
    EXPECT_EQ(address.GetHostText(), "127.0.0.1");

    for (const char* text : {"localhost", "256.1.1.1", "1.2.3", "::1", "", "1.2.3.4 ", static_cast<const char*>(nullptr)}) {
        EXPECT_NE(address.Set(text, 80), 0) << (text ? text : "null");
        EXPECT_FALSE(address.IsValid()) << (text ? text : "null");
        EXPECT_EQ(address.GetRawAddress(), 0u) << (text ? text : "null");
    }
    EXPECT_EQ(address.Set("10.0.0.2", 2), 0);
    EXPECT_TRUE(address.IsValid());
    EXPECT_EQ(address.GetRawAddress(), 0x0A000002u);
}

}  // namespace
