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

TEST(RefPtr, ConcurrentCopiesOnSeveralThreadsDeleteTheObjectExactlyOnce)
{
    g_deleted = 0;
    for (int round = 0; round < 20; ++round) {
        CRefPtr<CNode> shared(new CNode);
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&go, copy = shared] {
                while (!go.load()) {
                }
                CRefPtr<CNode> local;
                for (int i = 0; i < 20000; ++i) {
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

TEST(RefPtr, AssignmentKeepsTheSameObjectAndOneKeptAliveOnlyByTheOldOne)
{
    g_deleted = 0;
    CRefPtr<CNode> only(new CNode);
    only = only.Get();
    only = static_cast<const CRefPtr<CNode>&>(only);
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
