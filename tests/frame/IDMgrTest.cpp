#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "frame/IDMgr.h"

using ORV::PELLAX::CIDMgr;

namespace {

class IDMgr : public ::testing::Test {
protected:
    void Take(int count)
    {
        for (int i = 0; i < count; ++i) {
            ASSERT_EQ(m_ids->AllocateID(), i);
        }
    }

    std::unique_ptr<CIDMgr> m_ids = std::make_unique<CIDMgr>();
};

TEST_F(IDMgr, AReleasedIdentifierWaitsForTheCursorWhichWrapsToFindAFreeOneUntilAllAreTaken)
{
    Take(10);
    ASSERT_TRUE(m_ids->ReleaseID(3));
    EXPECT_EQ(m_ids->AllocateID(), 10);
    for (int id = 11; id < CIDMgr::kMaxIds; ++id) {
        ASSERT_EQ(m_ids->AllocateID(), id);
    }
    EXPECT_EQ(m_ids->AllocateID(), 3) << "past 1023 the search starts again at 0";
    EXPECT_EQ(m_ids->AllocateID(), -1);

    // Free 5 and 999, take them again: the cursor now stands at 1000 with 1000..1023 taken.
    ASSERT_TRUE(m_ids->ReleaseID(999));
    ASSERT_TRUE(m_ids->ReleaseID(5));
    ASSERT_EQ(m_ids->AllocateID(), 5);
    ASSERT_EQ(m_ids->AllocateID(), 999);
    ASSERT_TRUE(m_ids->ReleaseID(3));
    ASSERT_TRUE(m_ids->ReleaseID(700));
    EXPECT_EQ(m_ids->AllocateID(), 3);
    EXPECT_EQ(m_ids->AllocateID(), 700);
    EXPECT_EQ(m_ids->AllocateID(), -1);

    for (int outside : {-1, 1024, 0x7FFFFFFF}) {
        EXPECT_FALSE(m_ids->ReleaseID(outside)) << outside;
    }
    EXPECT_EQ(m_ids->AllocateID(), -1);
}

TEST_F(IDMgr, ConcurrentAllocationsNeverShareAnIdentifier)
{
    constexpr int kThreads = 4;
    std::vector<int32_t> all;
    std::mutex allMutex;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            std::vector<int32_t> mine;
            for (int i = 0; i < CIDMgr::kMaxIds / kThreads; ++i) {
                mine.push_back(m_ids->AllocateID());
            }
            std::lock_guard<std::mutex> lock(allMutex);
            all.insert(all.end(), mine.begin(), mine.end());
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), static_cast<size_t>(CIDMgr::kMaxIds));
    for (int i = 0; i < CIDMgr::kMaxIds; ++i) {
        EXPECT_EQ(all[i], i);
    }
}

}  // namespace
