#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "frame/Singleton.h"
#include "platform/OrvCleanupBase.h"
#include "platform/OrvReferenceControl.h"
#include "platform/RefPtr.h"

namespace {

std::atomic<int> g_deleted{0};

class CNode : public COrvReferenceControlT<COrvLockMutex> {
public:
    ~CNode() override { ++g_deleted; }
    CRefPtr<CNode> m_pNext;
};

TEST(RefPtr, CopiesOnSeveralThreadsAndSelfOrChainedAssignmentDeleteTheObjectExactlyOnce)
{
    g_deleted = 0;
    for (int round = 0; round < 20; ++round) {
        CRefPtr<CNode> shared(new CNode);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([copy = shared] {
                for (int i = 0; i < 20000; ++i) {
                    CRefPtr<CNode> another(copy);
                }
            });
        }
        // The threads' copies outlive this one, so the last release races between them.
        shared.Reset();
        for (auto& thread : threads) {
            thread.join();
        }
        ASSERT_EQ(g_deleted.load(), round + 1);
    }
    CRefPtr<CNode> only(new CNode);
    only = only.Get();
    only = static_cast<const CRefPtr<CNode>&>(only);
    EXPECT_EQ(std::make_tuple(g_deleted.load(), only->GetReference()), std::make_tuple(20, 1u));
    // The old head holds the only reference to its successor: the new reference must come first.
    only->m_pNext = new CNode;
    only = only->m_pNext;
    EXPECT_EQ(std::make_tuple(g_deleted.load(), only->GetReference()), std::make_tuple(21, 1u));
    only.Reset();
    EXPECT_EQ(g_deleted.load(), 22);
}

std::vector<std::string> g_destroyed;
std::atomic<int> g_created{0};

struct CTracked : COrvCleanupBase {
    explicit CTracked(const char* name) : m_name(name) {}
    ~CTracked() override { g_destroyed.push_back(m_name); }
    const char* m_name;
};

struct CCountedService {
    CCountedService() { ++g_created; }
    int m_nValue = 0;
};

TEST(Cleanup, DestroysObjectsNewestFirstOnceAndSingletonsComeBackFreshAndOnlyOnce)
{
    UnInitialize();
    new CTracked("first");
    new CTracked("second");
    COrvSingletonT<CCountedService>::Instance()->m_nValue = 42;
    UnInitialize();
    UnInitialize();
    EXPECT_EQ(g_destroyed, (std::vector<std::string>{"second", "first"}));
    EXPECT_EQ(COrvSingletonT<CCountedService>::Peek(), nullptr);
    // Concurrent first use creates one instance, fresh after the clean-up.
    std::vector<CCountedService*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = COrvSingletonT<CCountedService>::Instance(); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(std::make_tuple(g_created.load(), seen[0]->m_nValue), std::make_tuple(2, 0));
    EXPECT_EQ(std::vector<CCountedService*>(seen.size(), seen[0]), seen);
    UnInitialize();
}

}  // namespace
