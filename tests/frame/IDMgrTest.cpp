#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "frame/IDMgr.h"
#include "frame/SEQMgr.h"

using ORV::PELLAX::CIDMgr;
using ORV::PELLAX::CSEQMgr;

namespace {

TEST(IDMgr, AReleasedIdentifierWaitsForTheCursorWhichWrapsToFindAFreeOneUntilAllAreTaken)
{
    auto ids = std::make_unique<CIDMgr>();
    for (int id = 0; id < 10; ++id) {
        ASSERT_EQ(ids->AllocateID(), id);
    }
    ASSERT_TRUE(ids->ReleaseID(3));
    for (int id = 10; id < CIDMgr::kMaxIds; ++id) {
        ASSERT_EQ(ids->AllocateID(), id);
    }
    EXPECT_EQ(ids->AllocateID(), 3) << "past 1023 the search starts again at 0";
    EXPECT_EQ(ids->AllocateID(), -1);

    // Free 5 and 999, take them again: the cursor now stands at 1000 with 1000..1023 taken.
    ASSERT_TRUE(ids->ReleaseID(999));
    ASSERT_TRUE(ids->ReleaseID(5));
    ASSERT_EQ(ids->AllocateID(), 5);
    ASSERT_EQ(ids->AllocateID(), 999);
    ASSERT_TRUE(ids->ReleaseID(3));
    ASSERT_TRUE(ids->ReleaseID(700));
    EXPECT_EQ(ids->AllocateID(), 3);
    EXPECT_EQ(ids->AllocateID(), 700);
    EXPECT_EQ(ids->AllocateID(), -1);
    for (int outside : {-1, 1024, 0x7FFFFFFF}) {
        EXPECT_FALSE(ids->ReleaseID(outside)) << outside;
    }
    EXPECT_EQ(ids->AllocateID(), -1);
}

// Draws `each` numbers on each of four threads at once; returns all of them, sorted.
std::vector<uint32_t> DrawOnFourThreads(int each, const std::function<uint32_t(int thread)>& draw)
{
    std::vector<uint32_t> all;
    std::mutex allMutex;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::vector<uint32_t> mine;
            for (int i = 0; i < each; ++i) {
                mine.push_back(draw(t));
            }
            std::lock_guard<std::mutex> lock(allMutex);
            all.insert(all.end(), mine.begin(), mine.end());
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::sort(all.begin(), all.end());
    return all;
}

TEST(IDMgr, ConcurrentDrawsOfIdentifiersAndSequenceNumbersNeverRepeat)
{
    auto ids = std::make_unique<CIDMgr>();
    std::vector<uint32_t> expected(CIDMgr::kMaxIds);
    std::iota(expected.begin(), expected.end(), 0u);
    EXPECT_EQ(DrawOnFourThreads(CIDMgr::kMaxIds / 4, [&](int) { return static_cast<uint32_t>(ids->AllocateID()); }),
              expected);
    // Synchronous and host numbers come from one counter: without bit 31 they still never repeat.
    CSEQMgr sequences;
    std::vector<uint32_t> all =
        DrawOnFourThreads(20000, [&](int t) { return sequences.GenerateSequence(t % 2) & 0x7FFFFFFFu; });
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
}

}  // namespace
