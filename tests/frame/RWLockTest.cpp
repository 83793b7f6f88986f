#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "frame/RWLock.h"
#include "support/Wait.h"

using namespace ORV::PELLAX;
using namespace pellax_test;

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

TEST(RWLock, ReadersShareItAndAWriterWaitsForTheLastWhileHoldingOffNewOnesAndATryNeverWaits)
{
    CRWLock lock;
    std::atomic<bool> in[3] = {{false}, {false}, {false}};  // second reader, writer, late reader
    std::atomic<bool> writerMayLeave{false};
    // A lone reader leaves a post behind: it must not let a writer in past the next reader.
    lock.ReadLock();
    lock.ReadUnlock();
    lock.ReadLock();
    EXPECT_FALSE(lock.TryWriteLock());
    EXPECT_FALSE(CWriteGuard(lock, 1).IsOwned());
    EXPECT_FALSE(MutexHeld(lock)) << "a failed try leaves the mutex free";
    std::thread second([&] {
        lock.ReadLock();
        in[0] = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return in[0].load(); })) << "two readers hold it at once";
    second.join();
    lock.ReadUnlock();  // the writer comes while exactly one reader is inside
    std::thread writer([&] {
        CWriteGuard guard(lock, 0);
        in[1] = true;
        WaitUntil([&] { return writerMayLeave.load(); });
    });
    ASSERT_TRUE(WaitUntil([&] { return MutexHeld(lock); })) << "the writer should be waiting";
    std::thread lateReader([&] {
        CReadGuard guard(lock, 0);
        in[2] = true;
    });
    EXPECT_TRUE(StaysFalse([&] { return in[1].load() || in[2].load(); })) << "one reader is still inside";
    lock.ReadUnlock();
    EXPECT_TRUE(WaitUntil([&] { return in[1].load(); }));
    EXPECT_TRUE(StaysFalse([&] { return in[2].load(); })) << "the writer is inside";
    writerMayLeave = true;
    EXPECT_TRUE(WaitUntil([&] { return in[2].load(); }));
    writer.join();
    lateReader.join();
    EXPECT_EQ(lock.GetReaderCount(), 0);
    {
        CWriteGuard guard(lock, 1);
        EXPECT_TRUE(guard.IsOwned() && MutexHeld(lock));
    }
    EXPECT_FALSE(MutexHeld(lock));
}

TEST(RWLock, WritersAndReadersNeverOverlapUnderLoad)
{
    CRWLock lock;
    std::atomic<int> inside[2] = {{0}, {0}};  // readers, writers
    std::atomic<int> overlaps{0};
    std::vector<std::thread> threads;
    for (int write : {1, 0, 0, 1}) {
        threads.emplace_back([&, write] {
            for (int i = 0; i < 2000; ++i) {
                write ? lock.WriteLock() : lock.ReadLock();
                ++inside[write];
                overlaps += inside[1].load() > 1 || (inside[0].load() > 0 && inside[1].load() > 0);
                --inside[write];
                write ? lock.WriteUnlock() : lock.ReadUnlock();
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(overlaps.load(), 0);
}

}  // namespace
