#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "frame/Singleton.h"
#include "platform/OrvCleanupBase.h"

namespace {

std::vector<std::string> g_destroyed;
std::atomic<int> g_created{0};

class CTracked : public COrvCleanupBase {
public:
    explicit CTracked(std::string name) : m_strName(std::move(name)) {}
    ~CTracked() override { g_destroyed.push_back(m_strName); }

private:
    std::string m_strName;
};

struct CCountedService {
    CCountedService() { ++g_created; }
    int m_nValue = 0;
};

TEST(Cleanup, DestroysObjectsNewestFirstOnceAndSingletonsComeBackFreshAndOnlyOnce)
{
    UnInitialize();
    g_destroyed.clear();
    g_created = 0;
    new CTracked("first");
    new CTracked("second");
    COrvSingletonT<CCountedService>::Instance()->m_nValue = 42;
    UnInitialize();
    UnInitialize();
    EXPECT_EQ(g_destroyed, (std::vector<std::string>{"second", "first"}));
    EXPECT_EQ(COrvSingletonT<CCountedService>::Peek(), nullptr);

    // Concurrent first use creates one instance, fresh after the clean-up.
    std::vector<std::thread> threads;
    std::vector<CCountedService*> seen(8, nullptr);
    for (size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = COrvSingletonT<CCountedService>::Instance(); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(g_created.load(), 2);
    EXPECT_EQ(seen[0]->m_nValue, 0);
    EXPECT_EQ(std::vector<CCountedService*>(seen.size(), seen[0]), seen);
    UnInitialize();
}

}  // namespace
