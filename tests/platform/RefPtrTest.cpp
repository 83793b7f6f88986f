#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/OrvReferenceControl.h"
#include "platform/RefPtr.h"

namespace {

std::atomic<int> g_deleted{0};

class CNode : public COrvReferenceControlT<COrvLockMutex> {
public:
    ~CNode() override { ++g_deleted; }
    CRefPtr<CNode> m_pNext;
};

class RefPtr : public ::testing::Test {
protected:
    void SetUp() override { g_deleted = 0; }
};

TEST_F(RefPtr, ConcurrentCopiesOnSeveralThreadsDeleteTheObjectExactlyOnce)
{
    constexpr int kRounds = 20;
    constexpr int kThreads = 4;
    constexpr int kCopies = 20000;
    for (int round = 0; round < kRounds; ++round) {
        CRefPtr<CNode> shared(new CNode);
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&go, copy = shared] {
                while (!go.load()) {
                }
                CRefPtr<CNode> local;
                for (int i = 0; i < kCopies; ++i) {
                    CRefPtr<CNode> another(copy);
                    local = another;
                }
            });
        }
        // The threads' copies outlive this one, so the last release races between them.
        shared.Reset();
        go = true;
        for (auto& thread : threads) {
            thread.join();
        }
        ASSERT_EQ(g_deleted.load(), round + 1);
    }
}

TEST_F(RefPtr, AssignmentKeepsTheSameObjectAndOneKeptAliveOnlyByTheOldOne)
{
    CRefPtr<CNode> only(new CNode);
    only = only.Get();
    const CRefPtr<CNode>& alias = only;
    only = alias;
    EXPECT_EQ(g_deleted.load(), 0);
    EXPECT_EQ(only->GetReference(), 1u);

    // The old head holds the only reference to its successor: the new reference must come first.
    only->m_pNext = new CNode;
    only = only->m_pNext;
    EXPECT_EQ(g_deleted.load(), 1);
    EXPECT_EQ(only->GetReference(), 1u);
    only.Reset();
    EXPECT_EQ(g_deleted.load(), 2);
}

}  // namespace
