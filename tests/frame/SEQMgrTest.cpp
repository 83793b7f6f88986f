#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

#include "frame/SEQMgr.h"

using ORV::PELLAX::CSEQMgr;

namespace {

TEST(SEQMgr, ConcurrentDrawsNeverRepeatANumber)
{
    CSEQMgr sequences;
    constexpr int kThreads = 4;
    constexpr int kEach = 20000;
    std::vector<uint32_t> all;
    std::mutex allMutex;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::vector<uint32_t> mine;
            for (int i = 0; i < kEach; ++i) {
                // Mask bit 31 away: numbers differ in their low bits whatever the flag.
                mine.push_back(sequences.GenerateSequence(t % 2) & 0x7FFFFFFFu);
            }
            std::lock_guard<std::mutex> lock(allMutex);
            all.insert(all.end(), mine.begin(), mine.end());
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
}

}  // namespace
