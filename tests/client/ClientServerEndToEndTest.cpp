// Client and server of this library in one process, talking over 127.0.0.1.
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ClientHost.h"
#include "frame/Singleton.h"
#include "server/Server.h"

namespace pellax_test {
namespace {

using namespace std::chrono_literals;

struct ServerEvent {
    unsigned int id = 0;
    unsigned int type = 0;
    uint32_t command = 0;
    uint32_t sequence = 0;
    std::string data;
};

// Records server notifications; the hook answers data frames from inside the callback.
class CServerHost {
public:
    static int OnNotify(unsigned int id, unsigned int type, PELLAX_Message* message, void* user)
    {
        auto* host = static_cast<CServerHost*>(user);
        ServerEvent event{id, type, 0, 0, {}};
        if (message != nullptr) {
            event.command = message->command;
            event.sequence = message->sequence;
            event.data.assign(reinterpret_cast<const char*>(message->data), static_cast<size_t>(message->dataLength));
        }
        std::function<void(const ServerEvent&)> hook;
        {
            std::lock_guard<std::mutex> guard(host->m_mutex);
            if (type != 0) {
                host->m_events.push_back(event);
            }
            hook = host->m_hook;
        }
        if (hook) {
            hook(event);
        }
        return 0;
    }

    void SetHook(std::function<void(const ServerEvent&)> hook)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_hook = std::move(hook);
    }

    bool WaitFor(unsigned int type, ServerEvent* found)
    {
        return WaitUntil([&] {
            std::lock_guard<std::mutex> guard(m_mutex);
            for (const ServerEvent& event : m_events) {
                if (event.type == type) {
                    *found = event;
                    return true;
                }
            }
            return false;
        });
    }

private:
    std::mutex m_mutex;
    std::vector<ServerEvent> m_events;
    std::function<void(const ServerEvent&)> m_hook;
};

PELLAX_Message Record(uint32_t command, uint32_t sequence, const std::string& body)
{
    PELLAX_Message message;
    std::memset(&message, 0, sizeof(message));
    message.command = command;
    message.sequence = sequence;
    message.data = reinterpret_cast<unsigned char*>(const_cast<char*>(body.data()));
    message.dataLength = static_cast<int32_t>(body.size());
    return message;
}

std::string Answered(const PELLAX_Message& response)
{
    std::string text(reinterpret_cast<const char*>(response.data), static_cast<size_t>(response.dataLength));
    PELLAX_FreeBuffer(response.data);
    return text;
}

class ClientServerEndToEndTest : public ClientTest {
protected:
    void SetUp() override
    {
        ClientTest::SetUp();
        PELLAX_SERVER_SetNotifyCallBack(&CServerHost::OnNotify, &m_server);
        ASSERT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", 0, "{\"keepalive-interval\":1,\"keepalive-timeout\":30}"), 0);
        m_nPort = COrvSingletonT<ORV::PELLAX::CServer>::Instance()->GetListenPort();
        ASSERT_NE(m_nPort, 0);
    }

    void TearDown() override
    {
        PELLAX_SERVER_DestroySession();
        ClientTest::TearDown();
    }

    // The server answers every data request from its callback: odd command, same sequence, "re:" + body.
    void AnswerEveryRequest()
    {
        m_server.SetHook([](const ServerEvent& event) {
            if (event.type != 0 || (event.command & 1u) != 0) {
                return;
            }
            std::string body = "re:" + event.data;
            PELLAX_Message answer = Record(event.command + 1, event.sequence, body);
            PELLAX_SERVER_Send(event.id, &answer);
        });
    }

    CServerHost m_server;
    uint16_t m_nPort = 0;
};

TEST_F(ClientServerEndToEndTest, ClientRegistersAndKeepsAliveWithNotificationsOnBothSides)
{
    int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", m_nPort, nullptr);
    ASSERT_EQ(handle, 0);
    ASSERT_EQ(PELLAX_CLIENT_SetUserData(0, 0, "{\"who\":\"c\"}"), 0);
    ASSERT_TRUE(m_host->WaitFor(0, 1));
    ServerEvent joined;
    ASSERT_TRUE(m_server.WaitFor(1, &joined));
    ASSERT_EQ(PELLAX_SERVER_SetUserData(joined.id, 0, "{\"to\":\"c\"}"), 0);

    ServerEvent registered;
    ASSERT_TRUE(m_server.WaitFor(5, &registered));
    EXPECT_EQ(registered.data, "{\"pid\":" + std::to_string(getpid()) + ",\"userdata\":{\"who\":\"c\"}}");
    ClientEvent answer;
    ASSERT_TRUE(m_host->WaitFor(0, 5, &answer));
    EXPECT_EQ(answer.data, "{\"ppid\":" + std::to_string(getpid()) +
                               ",\"keepalive-interval\":1,\"keepalive-timeout\":30,\"userdata\":{\"to\":\"c\"}}");

    ServerEvent keepalive;
    ASSERT_TRUE(m_server.WaitFor(6, &keepalive));
    ClientEvent heartbeat;
    ASSERT_TRUE(m_host->WaitFor(0, 6, &heartbeat));
    EXPECT_EQ(heartbeat.data, "{\"ppid\":" + std::to_string(getpid()) + "}");

    ASSERT_EQ(PELLAX_CLIENT_DestroySession(0), 0);
    ServerEvent left;
    EXPECT_TRUE(m_server.WaitFor(4, &left));
    EXPECT_EQ(left.id, joined.id);
}

TEST_F(ClientServerEndToEndTest, SynchronousSendsWorkInBothDirections)
{
    AnswerEveryRequest();
    ASSERT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", m_nPort, nullptr), 0);
    ServerEvent joined;
    ASSERT_TRUE(m_server.WaitFor(1, &joined));
    ASSERT_TRUE(m_host->WaitFor(0, 1));

    std::string body = "from client";
    PELLAX_Message request = Record(1000, 0, body);
    PELLAX_Message response = Record(0, 0, "");
    ASSERT_EQ(PELLAX_CLIENT_SynSend(0, &request, &response, 10), 0);
    EXPECT_EQ(response.command, 1001u);
    EXPECT_EQ(Answered(response), "re:from client");

    // The client host answers the server's request from its own callback.
    m_host->SetHook([](unsigned int handle, unsigned int type, PELLAX_Message* message) {
        if (type != 0 || message == nullptr || (message->command & 1u) != 0) {
            return;
        }
        std::string text = "ok:" + std::string(reinterpret_cast<char*>(message->data), message->dataLength);
        PELLAX_Message answer = Record(message->command + 1, message->sequence, text);
        PELLAX_CLIENT_Send(handle, &answer);
    });
    std::string question = "from server";
    PELLAX_Message serverRequest = Record(2000, 0, question);
    PELLAX_Message serverResponse = Record(0, 0, "");
    ASSERT_EQ(PELLAX_SERVER_SynSend(joined.id, &serverRequest, &serverResponse, 10), 0);
    EXPECT_EQ(serverResponse.command, 2001u);
    EXPECT_EQ(Answered(serverResponse), "ok:from server");
    m_host->SetHook(nullptr);
}

TEST_F(ClientServerEndToEndTest, ConcurrentSynSendsAreEachAnsweredWithTheirOwnResponse)
{
    AnswerEveryRequest();
    ASSERT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", m_nPort, nullptr), 0);
    ASSERT_TRUE(m_host->WaitFor(0, 1));

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
                PELLAX_Message request = Record(1000, 0, body);
                PELLAX_Message response = Record(0, 0, "");
                if (PELLAX_CLIENT_SynSend(0, &request, &response, 20) != 0) {
                    ++failed;
                    continue;
                }
                ++(Answered(response) == "re:" + body ? answered : crossed);
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
