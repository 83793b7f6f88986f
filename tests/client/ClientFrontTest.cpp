// The client front: its table of 1024 handles, argument checks, which notifications reach the host, and
// synchronous calls against this library's own server.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "ClientHost.h"
#include "frame/Singleton.h"
#include "server/Server.h"

namespace pellax_test {
namespace {

TEST_F(ClientTest, TheTableHolds1024SessionsAndReusesTheLowestFreeHandle)
{
    // One descriptor per session plus the test's own; the default soft limit is often 1024.
    ASSERT_GE(RaiseFdLimit(4096), 4096u);
    CRawServerPeer listener(2048);  // never accepts: the kernel completes the connections by itself
    for (int expected = 0; expected < 1024; ++expected) {
        ASSERT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", listener.GetPort(), nullptr), expected);
    }
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", listener.GetPort(), nullptr), -3);
    std::vector<LogLine> full;
    for (const LogLine& line : LogLines()) {
        if (line.text.find("exceeds") != std::string::npos) {
            full.push_back(line);
        }
    }
    ASSERT_EQ(full.size(), 1u);
    EXPECT_EQ(full[0].level, 4);
    EXPECT_EQ(full[0].text.rfind("[ORV::PELLAX::CClient::CreateSessionClient(", 0), 0u);
    EXPECT_NE(full[0].text.find(")] [0x01900042] - ClientSession exceeds max num."), std::string::npos);

    ASSERT_EQ(PELLAX_CLIENT_DestroySession(7), 0);
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", listener.GetPort(), nullptr), 7);
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", listener.GetPort(), nullptr), -3);
    for (unsigned handle = 0; handle < 1024; ++handle) {
        ASSERT_EQ(PELLAX_CLIENT_DestroySession(handle), 0);
    }
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", listener.GetPort(), nullptr), 0);
}

// Handles outside the table and bad message arguments (checked before the handle) are refused without a log
// line; empty slots are refused with their own lines; unparsable options leave the slot free.
TEST_F(ClientTest, BadArgumentsHandlesOutsideTheTableEmptySlotsAndUnparsableOptionsAreRefused)
{
    PELLAX_Message message = MakeRecord(2, 0, "x");
    PELLAX_Message response = MakeRecord(2, 0, nullptr);
    PELLAX_Message noData = MakeRecord(2, 0, nullptr);
    PELLAX_Message negative = MakeRecord(2, 0, "x");
    negative.dataLength = -1;
    for (unsigned handle : {static_cast<unsigned>(-1), 1024u}) {
        EXPECT_EQ(PELLAX_CLIENT_SetUserData(handle, 0, "{}"), -4);
        EXPECT_EQ(PELLAX_CLIENT_DestroySession(handle), -4);
        EXPECT_EQ(PELLAX_CLIENT_Send(handle, &message), -4);
        EXPECT_EQ(PELLAX_CLIENT_SynSend(handle, &message, &response, 1), -4);
    }
    EXPECT_EQ(PELLAX_CLIENT_Send(0, nullptr), -4);
    EXPECT_EQ(PELLAX_CLIENT_Send(0, &noData), -4);
    EXPECT_EQ(PELLAX_CLIENT_Send(0, &negative), -4);
    EXPECT_EQ(PELLAX_CLIENT_SynSend(0, nullptr, &response, 1), -4);
    EXPECT_EQ(PELLAX_CLIENT_SynSend(0, &noData, nullptr, 1), -4);
    noData.dataLength = 3;
    EXPECT_EQ(PELLAX_CLIENT_SynSend(0, &noData, &response, 1), -4);
    EXPECT_EQ(PELLAX_CLIENT_CreateSession(nullptr, 1, nullptr), -4);
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", -1, nullptr), -4);
    EXPECT_TRUE(LogLines().empty());

    EXPECT_EQ(PELLAX_CLIENT_SetUserData(3, 0, "{}"), -4);
    EXPECT_EQ(PELLAX_CLIENT_DestroySession(3), -4);
    EXPECT_EQ(PELLAX_CLIENT_Send(3, &message), -4);
    EXPECT_EQ(PELLAX_CLIENT_SynSend(3, &message, &response, 1), -4);
    const char* const expected[][2] = {
        {"CClient::SetUserData(", "[0x01900017] - [session=3]Session handle is invalid"},
        {"CClient::DestroySessionClient(", "[0x01900063] - [session=3]Session handle is invalid"},
        {"", "[0x01900017] - [session=3]Session handle is invalid"},
        {"", "[0x01900063] - [session=3]ServerSession has not been created!"},
    };
    std::vector<LogLine> lines = LogLines();
    ASSERT_EQ(lines.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_NE(lines[i].text.find(expected[i][0]), std::string::npos) << lines[i].text;
        EXPECT_NE(lines[i].text.find(expected[i][1]), std::string::npos) << lines[i].text;
    }

    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", m_peer.GetPort(), "{connect-timeout:2"), -4);
    EXPECT_EQ(CountLogLines("[0x01900014] - [rsp={connect-timeout:2]parse json failed"), 1u);
    // JSON that is not an object, and an empty object, are options without a time-out.
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", m_peer.GetPort(), "5"), 0);
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", m_peer.GetPort(), "{}"), 1);
    // User data comes in two kinds only: Register and Keepalive.
    EXPECT_EQ(PELLAX_CLIENT_SetUserData(0, 0, "{}"), 0);
    EXPECT_EQ(PELLAX_CLIENT_SetUserData(0, 1, nullptr), 0);
    EXPECT_EQ(PELLAX_CLIENT_SetUserData(0, 2, "{}"), -4);
}

// A destroyed session's late events must never reach the host under its reused handle.
TEST_F(ClientTest, ADestroyedSessionNeverNotifiesUnderItsReusedHandle)
{
    CRawServerPeer newPeer;
    for (int round = 0; round < 10; ++round) {
        ASSERT_EQ(Join(), 0);
        std::atomic<bool> flooding{true};
        std::thread flood([&] {
            WireFrame frame = MakeFrame(2, 0, "old");
            for (int i = 0; i < 100000 && flooding.load() && m_peer.SendFrame(frame); ++i) {
            }
        });
        ASSERT_TRUE(m_host->WaitFor(0, 0));

        ASSERT_EQ(PELLAX_CLIENT_DestroySession(0), 0);
        size_t before = m_host->Events().size();
        ASSERT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", newPeer.GetPort(), nullptr), 0);
        ASSERT_TRUE(newPeer.Accept());
        ASSERT_TRUE(newPeer.SendFrame(MakeFrame(2, 0, "new")));
        ASSERT_TRUE(WaitUntil([&] {
            std::vector<HostEvent> events = m_host->Events();
            return !events.empty() && events.back().data == "new";
        }));
        flooding = false;
        flood.join();
        m_peer.CloseConnection();

        std::vector<HostEvent> events = m_host->Events();
        for (size_t i = before; i < events.size(); ++i) {
            EXPECT_NE(events[i].data, "old") << "round " << round;
            EXPECT_NE(events[i].type, 3u) << "round " << round;
        }
        ASSERT_EQ(PELLAX_CLIENT_DestroySession(0), 0);
        newPeer.CloseConnection();
    }
}

TEST_F(ClientTest, AHostMayDestroyASessionFromItsOwnCallback)
{
    std::atomic<int> destroyed{1};
    m_host->SetHook([&](const HostEvent& event) {
        if (event.type == 0) {
            destroyed = PELLAX_CLIENT_DestroySession(event.id);
        }
    });
    ASSERT_EQ(Join(), 0);
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(2, 0, "bye")));
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(2, 0, "bye")));
    ASSERT_TRUE(WaitUntil([&] { return destroyed.load() == 0; }));
    EXPECT_TRUE(m_peer.WaitClosed());
    m_host->SetHook(nullptr);
    EXPECT_EQ(m_host->Count(0, 0), 1u);
    EXPECT_EQ(m_host->Count(3, 0), 0u);
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", m_peer.GetPort(), nullptr), 0);
}

// Against this library's server, over 127.0.0.1.
TEST_F(ClientTest, ConcurrentSynSendsAreEachAnsweredWithTheirOwnResponse)
{
    m_server = std::make_unique<CHostRecorder>(CHostRecorder::kServer);
    m_server->AnswerRequests();
    ASSERT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", 0, "{\"keepalive-interval\":1,\"keepalive-timeout\":30}"), 0);
    uint16_t port = COrvSingletonT<ORV::PELLAX::CServer>::Instance()->GetListenPort();
    ASSERT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", port, nullptr), 0);
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
