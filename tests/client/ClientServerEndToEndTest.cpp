// Client and server of this library in one process, talking over 127.0.0.1.
#include "platform/OrvProcess.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "ClientHost.h"
#include "frame/Singleton.h"
#include "server/Server.h"

namespace pellax_test {
namespace {

using namespace std::chrono_literals;

class ClientServerEndToEndTest : public ClientTest {
protected:
    void SetUp() override
    {
        ClientTest::SetUp();
        m_server = std::make_unique<CHostRecorder>(CHostRecorder::kServer);
        ASSERT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", 0, "{\"keepalive-interval\":1,\"keepalive-timeout\":30}"), 0);
        m_nPort = COrvSingletonT<ORV::PELLAX::CServer>::Instance()->GetListenPort();
        ASSERT_NE(m_nPort, 0);
    }

    void TearDown() override
    {
        PELLAX_SERVER_DestroySession();
        m_server.reset();
        ClientTest::TearDown();
    }

    std::unique_ptr<CHostRecorder> m_server;
    uint16_t m_nPort = 0;
};

TEST_F(ClientServerEndToEndTest, ConcurrentSynSendsAreEachAnsweredWithTheirOwnResponse)
{
    m_server->AnswerRequests();
    ASSERT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", m_nPort, nullptr), 0);
    ASSERT_TRUE(m_host->WaitFor(1, 0));

    constexpr int kThreads = 8;
    constexpr int kCalls = 500;
    std::atomic<int> answered{0};
    std::atomic<int> crossed{0};
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCalls; ++i) {
                std::string body = "t=" + std::to_string(t) + ",i=" + std::to_string(i);
                PELLAX_Message request = MakeRecord(1000, 0, body);
                PELLAX_Message response{};
                if (PELLAX_CLIENT_SynSend(0, &request, &response, 20) != 0) {
                    ++failed;
                    continue;
                }
                ++(TakeBody(response) == "re:" + body ? answered : crossed);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(crossed.load(), 0);
    EXPECT_EQ(answered.load(), kThreads * kCalls);
}

}  // namespace
}  // namespace pellax_test
