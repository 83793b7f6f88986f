#include <gtest/gtest.h>

#include <thread>

#include "platform/Zot.h"
#include "platform/ZotSema.h"

namespace {

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

}  // namespace
