#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

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

TEST(RWLock, ReadersShareItAndAWaitingWriterHoldsOffNewReadersUntilItHasUnlocked)
{
    CRWLock lock;
    std::atomic<int> inside{0};
    std::atomic<int> sawTheOther{0};
    auto reader = [&] {
        CReadGuard guard(lock, 0);
        ++inside;
        sawTheOther += WaitUntil([&] { return inside.load() == 2; });
    };
    std::thread first(reader);
    std::thread second(reader);
    first.join();
    second.join();
    EXPECT_EQ(sawTheOther.load(), 2) << "two readers hold it at once";
    EXPECT_EQ(lock.GetReaderCount(), 0);

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
    EXPECT_FALSE(CWriteGuard(lock, 1).IsOwned());
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
    std::vector<std::thread> threads;
    for (bool write : {true, false, false, true}) {
        threads.emplace_back([&, write] {
            for (int i = 0; i < 2000; ++i) {
                if (write) {
                    CWriteGuard guard(lock, 0);
                    overlaps += ++writers != 1 || readers.load() != 0;
                    --writers;
                } else {
                    CReadGuard guard(lock, 0);
                    ++readers;
                    overlaps += writers.load() != 0;
                    --readers;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(overlaps.load(), 0);
}

}  // namespace
