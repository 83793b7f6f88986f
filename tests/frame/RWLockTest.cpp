#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "frame/RWLock.h"
#include "support/Wait.h"

using ORV::PELLAX::CReadGuard;
using ORV::PELLAX::CRWLock;
using ORV::PELLAX::CWriteGuard;
using pellax_test::StaysFalse;
using pellax_test::WaitUntil;

namespace {

// True while someone holds the lock's mutex (a writer inside or waiting), seen through TryReadLock.
bool MutexHeld(CRWLock& lock)
{
    if (lock.TryReadLock()) {
        lock.ReadUnlock();
        return false;
    }
    return true;
}

TEST(RWLock, TwoReadersHoldItAtOnce)
{
    CRWLock lock;
    std::atomic<int> inside{0};
    std::atomic<int> sawTheOther{0};
    auto reader = [&] {
        CReadGuard guard(lock, 0);
        ++inside;
        if (WaitUntil([&] { return inside.load() == 2; })) {
            ++sawTheOther;
        }
    };
    std::thread first(reader);
    std::thread second(reader);
    first.join();
    second.join();
    EXPECT_EQ(sawTheOther.load(), 2);
    EXPECT_EQ(lock.GetReaderCount(), 0);
}

TEST(RWLock, AWaitingWriterHoldsOffNewReadersUntilItHasUnlocked)
{
    CRWLock lock;
    lock.ReadLock();
    lock.ReadLock();

    std::atomic<bool> writerIn{false};
    std::atomic<bool> writerMayLeave{false};
    std::thread writer([&] {
        lock.WriteLock();
        writerIn = true;
        WaitUntil([&] { return writerMayLeave.load(); });
        lock.WriteUnlock();
    });
    ASSERT_TRUE(WaitUntil([&] { return MutexHeld(lock); })) << "the writer should be waiting";

    std::atomic<bool> lateReaderIn{false};
    std::thread lateReader([&] {
        lock.ReadLock();
        lateReaderIn = true;
        lock.ReadUnlock();
    });

    EXPECT_TRUE(StaysFalse([&] { return writerIn.load() || lateReaderIn.load(); }));
    lock.ReadUnlock();
    EXPECT_TRUE(StaysFalse([&] { return writerIn.load(); })) << "one reader is still inside";
    lock.ReadUnlock();
    ASSERT_TRUE(WaitUntil([&] { return writerIn.load(); }));
    EXPECT_TRUE(StaysFalse([&] { return lateReaderIn.load(); })) << "the writer is inside";

    writerMayLeave = true;
    EXPECT_TRUE(WaitUntil([&] { return lateReaderIn.load(); }));
    writer.join();
    lateReader.join();
    EXPECT_EQ(lock.GetReaderCount(), 0);
}

TEST(RWLock, TryWriteLockWithAReaderInsideFailsAndLeavesTheMutexFree)
{
    CRWLock lock;
    // A lone reader leaves a post behind: it must not let a writer in past the next reader.
    lock.ReadLock();
    lock.ReadUnlock();
    lock.ReadLock();
    EXPECT_FALSE(lock.TryWriteLock());
    EXPECT_FALSE(MutexHeld(lock));
    {
        CWriteGuard guard(lock, 1);
        EXPECT_FALSE(guard.IsOwned());
    }
    EXPECT_FALSE(MutexHeld(lock));
    lock.ReadUnlock();

    {
        CWriteGuard guard(lock, 1);
        EXPECT_TRUE(guard.IsOwned());
        EXPECT_TRUE(MutexHeld(lock));
    }
    EXPECT_FALSE(MutexHeld(lock));
}

TEST(RWLock, WritersAndReadersNeverOverlapUnderLoad)
{
    CRWLock lock;
    std::atomic<int> readers{0};
    std::atomic<int> writers{0};
    std::atomic<int> overlaps{0};
    auto work = [&](bool write) {
        for (int i = 0; i < 2000; ++i) {
            if (write) {
                CWriteGuard guard(lock, 0);
                if (++writers != 1 || readers.load() != 0) {
                    ++overlaps;
                }
                --writers;
            } else {
                CReadGuard guard(lock, 0);
                ++readers;
                if (writers.load() != 0) {
                    ++overlaps;
                }
                --readers;
            }
        }
    };
    std::thread a(work, true);
    std::thread b(work, false);
    std::thread c(work, false);
    std::thread d(work, true);
    a.join();
    b.join();
    c.join();
    d.join();
    EXPECT_EQ(overlaps.load(), 0);
}

}  // namespace
