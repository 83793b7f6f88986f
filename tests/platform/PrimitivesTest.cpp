#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/OrvInetAddress.h"
#include "platform/OrvLockEvent.h"
#include "platform/Zot.h"
#include "platform/ZotSema.h"
#include "support/Wait.h"

using pellax_test::StaysFalse;
using pellax_test::WaitUntil;

namespace {

const COrvTimeValue kShort(0, 20000);
const COrvTimeValue kLong(10, 0);

TEST(LockEvent, ASignalBeforeTheWaitIsNotLost)
{
    COrvLockEvent event(0, 0);
    event.Signal();
    EXPECT_EQ(event.Wait(&kShort), 0);
}

TEST(LockEvent, AutoResetEventIsClearedByTheWaitThatSawIt)
{
    COrvLockEvent event(0, 0);
    event.Signal();
    ASSERT_EQ(event.Wait(&kShort), 0);
    EXPECT_NE(event.Wait(&kShort), 0);
}

TEST(LockEvent, ManualResetEventStaysSignalledUntilReset)
{
    COrvLockEvent event(1, 1);
    EXPECT_EQ(event.Wait(&kShort), 0);
    EXPECT_EQ(event.Wait(&kShort), 0);
    event.Reset();
    EXPECT_NE(event.Wait(&kShort), 0);
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
    ASSERT_EQ(ZOT_SemPost(sem), 0);
    ASSERT_EQ(ZOT_SemPost(sem), 0);
    EXPECT_EQ(sem->GetCount(), 2u);
    EXPECT_EQ(ZOT_SemTimedWait(sem, 20), 0);
    EXPECT_EQ(ZOT_SemWait(sem), 0);
    EXPECT_EQ(sem->GetCount(), 0u);
    EXPECT_EQ(ZOT_SemDestroy(&sem), 0);
    EXPECT_EQ(sem, nullptr);
    EXPECT_NE(ZOT_SemTimedWait(nullptr, 0), 0);
}

TEST(ZotSemaphore, APostFromAnotherThreadReleasesATimedWait)
{
    ZOT_SEM sem = nullptr;
    ASSERT_EQ(ZOT_SemCreate(&sem, 0), 0);
    std::thread poster([sem] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ZOT_SemPost(sem);
    });
    EXPECT_EQ(ZOT_SemTimedWait(sem, 10000), 0);
    poster.join();
    ZOT_SemDestroy(&sem);
}

TEST(ZotMutex, TryLockFailsWhileAnotherThreadHoldsIt)
{
    ZOT_MUTEX mutex = nullptr;
    ASSERT_EQ(ZOT_MutexCreate(&mutex, 0), 0);
    ASSERT_EQ(ZOT_MutexLock(mutex), 0);
    int tried = 0;
    std::thread other([&] { tried = ZOT_MutexTryLock(mutex); });
    other.join();
    EXPECT_NE(tried, 0);
    ASSERT_EQ(ZOT_MutexUnlock(mutex), 0);
    std::thread again([&] {
        tried = ZOT_MutexTryLock(mutex);
        if (tried == 0) {
            ZOT_MutexUnlock(mutex);
        }
    });
    again.join();
    EXPECT_EQ(tried, 0);
    ZOT_MutexDestroy(&mutex);
    EXPECT_EQ(mutex, nullptr);
}

TEST(ZotAtomics, AddReturnsThePreviousValueAndCasWithZeroOnlyReads)
{
    std::atomic<int32_t> value{5};
    EXPECT_EQ(ZOT_AtomicAdd(&value, 3), 5);
    EXPECT_EQ(ZOT_AtomicCas(&value, 0, 0), 8);
    EXPECT_EQ(value.load(), 8);
    std::atomic<uint32_t> counter{0xFFFFFFFFu};
    EXPECT_EQ(ZOT_AtomicAdd(&counter, 1u), 0xFFFFFFFFu);
    EXPECT_EQ(counter.load(), 0u);
}

uint64_t FixedTick()
{
    return 0x100000005ull;
}

TEST(ZotTicks, FollowAnInjectedSourceAndReturnToTheClock)
{
    uint64_t before = ZOT_GetTimeTick64();
    ZOT_SetTickSource(&FixedTick);
    EXPECT_EQ(ZOT_GetTimeTick64(), 0x100000005ull);
    EXPECT_EQ(ZOT_GetTimeTick(), 5u);
    ZOT_SetTickSource(nullptr);
    EXPECT_GE(ZOT_GetTimeTick64(), before);
}

TEST(InetAddress, KeepsAnIpv4AddressAndPort)
{
    COrvInetAddress address("127.0.0.1", 7000);
    EXPECT_TRUE(address.IsValid());
    EXPECT_EQ(address.GetRawAddress(), 0x7F000001u);
    EXPECT_EQ(address.GetPort(), 7000);
    EXPECT_EQ(address.GetHostText(), "127.0.0.1");
}

TEST(InetAddress, RejectsTextThatIsNotAnIpv4Address)
{
    for (const char* text : {"localhost", "256.1.1.1", "1.2.3", "::1", "", "1.2.3.4 "}) {
        COrvInetAddress address;
        EXPECT_NE(address.Set(text, 80), 0) << text;
        EXPECT_FALSE(address.IsValid()) << text;
        EXPECT_EQ(address.GetRawAddress(), 0u) << text;
    }
    COrvInetAddress none;
    EXPECT_NE(none.Set(nullptr, 80), 0);
    EXPECT_FALSE(COrvInetAddress("not an address", 1).IsValid());
}

TEST(InetAddress, AValidTextAfterAnInvalidOneMakesItValidAgain)
{
    COrvInetAddress address("bogus", 1);
    ASSERT_FALSE(address.IsValid());
    EXPECT_EQ(address.Set("10.0.0.2", 2), 0);
    EXPECT_TRUE(address.IsValid());
    EXPECT_EQ(address.GetRawAddress(), 0x0A000002u);
}

}  // namespace
