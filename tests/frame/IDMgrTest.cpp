#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
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
    for (int id = 0; id < CIDMgr::kMaxIds; ++id) {
        ASSERT_EQ(ids->AllocateID(), id);
        ASSERT_TRUE(id != 9 || ids->ReleaseID(3));
    }
    EXPECT_EQ(ids->AllocateID(), 3) << "past 1023 the search starts again at 0";
    EXPECT_EQ(ids->AllocateID(), -1);
    // Free 5 and 999, take them again: the cursor now stands at 1000 with 1000..1023 taken.
    const struct {
        bool release;
        int id;  // released, or expected from the allocation
    } steps[] = {{true, 999}, {true, 5}, {false, 5}, {false, 999}, {true, 3}, {true, 700}, {false, 3}, {false, 700}, {false, -1}};
    for (const auto& s : steps) {
        EXPECT_EQ(s.release ? int(ids->ReleaseID(s.id)) : ids->AllocateID(), s.release ? 1 : s.id) << s.id;
    }
    for (int outside : {-1, 1024, 0x7FFFFFFF}) {
        EXPECT_FALSE(ids->ReleaseID(outside)) << outside;
    }
    EXPECT_EQ(ids->AllocateID(), -1);
}

// Identifiers and sequence numbers drawn on four threads at once never repeat; synchronous and host
// numbers come from one counter, so without bit 31 they still never repeat.
TEST(IDMgr, ConcurrentDrawsOfIdentifiersAndSequenceNumbersNeverRepeat)
{
    auto ids = std::make_unique<CIDMgr>();
    CSEQMgr sequences;
    std::vector<std::vector<uint32_t>> drawn(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < (t < 4 ? CIDMgr::kMaxIds / 4 : 20000); ++i) {
                drawn[t].push_back(t < 4 ? uint32_t(ids->AllocateID()) : sequences.GenerateSequence(t % 2) & 0x7FFFFFFFu);
            }
        });
    }
    std::vector<uint32_t> all[2];
    for (int t = 0; t < 8; ++t) {
        threads[t].join();
        all[t / 4].insert(all[t / 4].end(), drawn[t].begin(), drawn[t].end());
    }
    for (auto& values : all) {
        std::sort(values.begin(), values.end());
        EXPECT_EQ(std::adjacent_find(values.begin(), values.end()), values.end());
    }
    EXPECT_EQ(all[0].back(), uint32_t(CIDMgr::kMaxIds - 1)) << "no draw was refused";
}

}  // namespace
