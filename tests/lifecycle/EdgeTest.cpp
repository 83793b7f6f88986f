// Edges of the C interface: concurrent and cross-thread destroys, hostile option texts, empty
// synchronous answers, stalls, and keepalives after a leave.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "lifecycle/LibraryPair.h"
#include "support/Wait.h"

namespace pellax_test {
namespace {

using namespace std::chrono_literals;

class EdgeTest : public LibraryPairTest {
protected:
    void SetUp() override
    {
        LibraryPairTest::SetUp();
        ASSERT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", m_nPort, nullptr), 0);
    }

    int Register()
    {
        size_t before = m_client->Count(5);
        int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", m_nPort, nullptr);
        return handle >= 0 && m_client->WaitForCount(5, before + 1) ? handle : -1;
    }
};

TEST_F(EdgeTest, OfTwoConcurrentDestroysOfOneHandleExactlyOneSucceeds)
{
    for (int round = 0; round < 50; ++round) {
        int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", m_nPort, nullptr);
        ASSERT_GE(handle, 0);
        std::atomic<int> results[2] = {{1}, {1}};
        std::vector<std::thread> destroyers;
        for (auto& result : results) {
            destroyers.emplace_back([&result, handle] { result = PELLAX_CLIENT_DestroySession(handle); });
        }
        for (std::thread& destroyer : destroyers) {
            destroyer.join();
        }
        EXPECT_EQ(results[0] + results[1], -4) << "one 0 and one -4 in round " << round;
    }
}

TEST_F(EdgeTest, TwoCallbacksOnDifferentThreadsMayDestroyEachOthersSessions)
{
    int first = PELLAX_CLIENT_CreateSession("127.0.0.1", m_nPort, nullptr);
    int second = PELLAX_CLIENT_CreateSession("127.0.0.1", m_nPort, nullptr);
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    ASSERT_TRUE(m_client->WaitForCount(5, 2));
    // Consecutive sessions take different library threads; each callback waits for the other's
    // before destroying the other session, so both destroys run at once.
    std::atomic<int> inside{0};
    std::atomic<int> done{0};
    m_client->SetHook([&](const HostEvent& event) {
        if (event.type != 0) {
            return;
        }
        inside.fetch_add(1);
        WaitUntil([&] { return inside.load() >= 2; }, 2s);
        unsigned int other = event.id == static_cast<unsigned int>(first) ? second : first;
        PELLAX_CLIENT_DestroySession(other);
        done.fetch_add(1);
    });
    for (const HostEvent& joined : m_server->Events(1)) {
        PELLAX_Message message = MakeRecord(501, 1, "go");
        PELLAX_SERVER_Send(joined.id, &message);
    }
    EXPECT_TRUE(WaitUntil([&] { return done.load() == 2; }, 10s)) << "the destroys wait on each other";
    EXPECT_EQ(PELLAX_CLIENT_DestroySession(static_cast<unsigned int>(first)), -4);
    EXPECT_EQ(PELLAX_CLIENT_DestroySession(static_cast<unsigned int>(second)), -4);
}

TEST_F(EdgeTest, DeeplyNestedOptionsAreRefusedAndTakeNothing)
{
    const std::string deep(2000000, '[');
    int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", m_nPort, nullptr);
    ASSERT_GE(handle, 0);
    ASSERT_EQ(PELLAX_CLIENT_DestroySession(static_cast<unsigned int>(handle)), 0);
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", m_nPort, deep.c_str()), -4);
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", m_nPort, nullptr), handle) << "no slot was taken";
    ASSERT_EQ(PELLAX_SERVER_DestroySession(), 0);
    EXPECT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", m_nPort, deep.c_str()), -4);
    EXPECT_FALSE(IsListening(m_nPort));
}

std::atomic<int> g_allocations{0};
void* CountingAllocator(uint64_t)
{
    static unsigned char buffer[16];
    g_allocations.fetch_add(1);
    return buffer;
}

TEST_F(EdgeTest, AnEmptySynchronousAnswerGivesNoDataAndNoAllocationOnBothSides)
{
    m_server->AnswerRequests([](unsigned int, const std::string&) { return std::string(); });
    m_client->AnswerRequests([](unsigned int, const std::string&) { return std::string(); });
    int handle = Register();
    ASSERT_GE(handle, 0);
    unsigned int id = m_server->Events(1).back().id;
    for (bool withAllocator : {false, true}) {
        g_allocations = 0;
        PELLAX_Message request = MakeRecord(600, 0, "ask");
        PELLAX_Message response = MakeRecord(0, 0, nullptr);
        response.allocator = withAllocator ? CountingAllocator : nullptr;
        ASSERT_EQ(PELLAX_CLIENT_SynSend(static_cast<unsigned int>(handle), &request, &response, 5), 0);
        EXPECT_EQ(response.dataLength, 0);
        EXPECT_EQ(response.data, nullptr);
        response = MakeRecord(0, 0, nullptr);
        response.allocator = withAllocator ? CountingAllocator : nullptr;
        ASSERT_EQ(PELLAX_SERVER_SynSend(id, &request, &response, 5), 0);
        EXPECT_EQ(response.dataLength, 0);
        EXPECT_EQ(response.data, nullptr);
        EXPECT_EQ(g_allocations.load(), 0);
    }
}

TEST_F(EdgeTest, SynchronousCallsBothWaysAtBufferBoundarySizesAllAnswerFarWithinTheirTimeOut)
{
    m_server->AnswerRequests([](unsigned int, const std::string& body) { return body; });
    m_client->AnswerRequests([](unsigned int, const std::string& body) { return body; });
    int handle = Register();
    ASSERT_GE(handle, 0);
    unsigned int id = m_server->Events(1).back().id;
    // 64 B, a page, frames that end exactly on the 8 KiB and 64 KiB read buffers, and 64 KiB.
    for (size_t size : {64, 4096, 8192 - 160, 65536 - 160, 65536}) {
        const std::string body(size, 's');
        for (int call = 0; call < 200; ++call) {
            PELLAX_Message request = MakeRecord(700, 0, body);
            PELLAX_Message response = MakeRecord(0, 0, nullptr);
            auto sent = std::chrono::steady_clock::now();
            int result = call % 2 == 0 ? PELLAX_CLIENT_SynSend(static_cast<unsigned int>(handle), &request, &response, 5)
                                       : PELLAX_SERVER_SynSend(id, &request, &response, 5);
            auto took = std::chrono::steady_clock::now() - sent;
            ASSERT_EQ(result, 0) << size << " bytes, call " << call;
            ASSERT_LT(took, 2s) << size << " bytes, call " << call << " stalled";
            EXPECT_EQ(TakeBody(response).size(), size);
        }
    }
}

TEST_F(EdgeTest, AClientWhoseConnectionEndedSendsNoMoreKeepalives)
{
    ASSERT_EQ(PELLAX_SERVER_DestroySession(), 0);
    ASSERT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", m_nPort, "{\"keepalive-interval\":1}"), 0);
    int handle = Register();
    ASSERT_GE(handle, 0);
    ASSERT_EQ(PELLAX_SERVER_DestroyClientSession(m_server->Events(1).back().id), 0);
    ASSERT_TRUE(m_client->WaitFor(3, handle));
    std::this_thread::sleep_for(2500ms);  // two and a half keepalive periods
    EXPECT_EQ(CountLogLines("Send Heartbeat failed"), 0u);
}

}  // namespace
}  // namespace pellax_test
