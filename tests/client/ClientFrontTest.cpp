// The client front: its table of 1024 handles, argument checks, and which notifications reach the host.
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "ClientHost.h"
#include "support/RawServerPeer.h"
#include "support/WireFrame.h"

namespace pellax_test {
namespace {

using namespace std::chrono_literals;

PELLAX_Message Record(const char* body)
{
    PELLAX_Message message;
    std::memset(&message, 0, sizeof(message));
    message.command = 2;
    message.data = reinterpret_cast<unsigned char*>(const_cast<char*>(body));
    message.dataLength = body != nullptr ? static_cast<int32_t>(std::strlen(body)) : 0;
    return message;
}

// One descriptor per session plus the test's own; the default soft limit is often 1024.
bool RaiseDescriptorLimit(rlim_t wanted)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return false;
    }
    if (limit.rlim_cur >= wanted) {
        return true;
    }
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY || limit.rlim_max >= wanted ? wanted : limit.rlim_max;
    return setrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur >= wanted;
}

using ClientFrontTest = ClientTest;

TEST_F(ClientFrontTest, TheTableHolds1024SessionsAndReusesTheLowestFreeHandle)
{
    ASSERT_TRUE(RaiseDescriptorLimit(4096));
    CRawServerPeer listener(2048);  // never accepts: the kernel completes the connections by itself
    for (int expected = 0; expected < 1024; ++expected) {
        ASSERT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", listener.GetPort(), nullptr), expected);
    }
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", listener.GetPort(), nullptr), -3);
    std::vector<LogLine> full;
    for (const LogLine& line : m_host->Lines()) {
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

TEST_F(ClientFrontTest, HandlesOutsideTheTableAreRefusedWithoutALogLine)
{
    PELLAX_Message message = Record("x");
    PELLAX_Message response = Record(nullptr);
    for (unsigned handle : {static_cast<unsigned>(-1), 1024u}) {
        EXPECT_EQ(PELLAX_CLIENT_SetUserData(handle, 0, "{}"), -4);
        EXPECT_EQ(PELLAX_CLIENT_DestroySession(handle), -4);
        EXPECT_EQ(PELLAX_CLIENT_Send(handle, &message), -4);
        EXPECT_EQ(PELLAX_CLIENT_SynSend(handle, &message, &response, 1), -4);
    }
    EXPECT_TRUE(m_host->Lines().empty());
}

TEST_F(ClientFrontTest, EmptySlotsAreRefusedWithTheirOwnLogLines)
{
    PELLAX_Message message = Record("x");
    PELLAX_Message response = Record(nullptr);
    EXPECT_EQ(PELLAX_CLIENT_SetUserData(3, 0, "{}"), -4);
    EXPECT_EQ(PELLAX_CLIENT_DestroySession(3), -4);
    EXPECT_EQ(PELLAX_CLIENT_Send(3, &message), -4);
    EXPECT_EQ(PELLAX_CLIENT_SynSend(3, &message, &response, 1), -4);
    std::vector<LogLine> lines = m_host->Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].text.find("CClient::SetUserData("), std::string::npos);
    EXPECT_NE(lines[0].text.find("[0x01900017] - [session=3]Session handle is invalid"), std::string::npos);
    EXPECT_NE(lines[1].text.find("CClient::DestroySessionClient("), std::string::npos);
    EXPECT_NE(lines[1].text.find("[0x01900063] - [session=3]Session handle is invalid"), std::string::npos);
    EXPECT_NE(lines[2].text.find("[0x01900017] - [session=3]Session handle is invalid"), std::string::npos);
    EXPECT_NE(lines[3].text.find("[0x01900063] - [session=3]ServerSession has not been created!"), std::string::npos);
}

TEST_F(ClientFrontTest, MessageArgumentsAreCheckedBeforeTheHandle)
{
    PELLAX_Message noData = Record(nullptr);
    PELLAX_Message negative = Record("x");
    negative.dataLength = -1;
    PELLAX_Message response = Record(nullptr);
    EXPECT_EQ(PELLAX_CLIENT_Send(0, nullptr), -4);
    EXPECT_EQ(PELLAX_CLIENT_Send(0, &noData), -4);
    EXPECT_EQ(PELLAX_CLIENT_Send(0, &negative), -4);
    EXPECT_EQ(PELLAX_CLIENT_SynSend(0, nullptr, &response, 1), -4);
    EXPECT_EQ(PELLAX_CLIENT_SynSend(0, &noData, nullptr, 1), -4);
    noData.dataLength = 3;
    EXPECT_EQ(PELLAX_CLIENT_SynSend(0, &noData, &response, 1), -4);
    EXPECT_EQ(PELLAX_CLIENT_CreateSession(nullptr, 1, nullptr), -4);
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", -1, nullptr), -4);
    EXPECT_TRUE(m_host->Lines().empty());
}

TEST_F(ClientFrontTest, UnparsableOptionsAreRefusedAndLeaveTheSlotFree)
{
    CRawServerPeer listener;
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", listener.GetPort(), "{connect-timeout:2"), -4);
    EXPECT_EQ(m_host->CountLines("[0x01900014] - [rsp={connect-timeout:2]parse json failed"), 1u);
    // JSON that is not an object, and an empty object, are options without a time-out.
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", listener.GetPort(), "5"), 0);
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", listener.GetPort(), "{}"), 1);
    EXPECT_TRUE(listener.Accept());
}

TEST_F(ClientFrontTest, SetUserDataAcceptsOnlyRegisterAndKeepaliveKinds)
{
    CRawServerPeer listener;
    int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", listener.GetPort(), nullptr);
    ASSERT_EQ(handle, 0);
    EXPECT_EQ(PELLAX_CLIENT_SetUserData(0, 0, "{}"), 0);
    EXPECT_EQ(PELLAX_CLIENT_SetUserData(0, 1, nullptr), 0);
    EXPECT_EQ(PELLAX_CLIENT_SetUserData(0, 2, "{}"), -4);
}

TEST_F(ClientFrontTest, ACallbackSetLaterGetsTheLaterEventsAndNoneAreLoggedWithout)
{
    PELLAX_CLIENT_SetNotifyCallBack(nullptr, nullptr);
    CRawServerPeer peer;
    ASSERT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", peer.GetPort(), nullptr), 0);
    ASSERT_TRUE(peer.Accept());
    WireFrame frame;
    frame.command = 2;
    frame.SetBody("unseen");
    ASSERT_TRUE(peer.SendFrame(frame));
    // The Register proves the session has joined and run; nothing reached a host or the log.
    WireFrame registered;
    ASSERT_TRUE(peer.ReceiveCommand(0, &registered));
    EXPECT_EQ(m_host->CountLines("Client join Session"), 0u);

    PELLAX_CLIENT_SetNotifyCallBack(&CClientHost::OnNotify, m_host.get());
    frame.SetBody("seen");
    ASSERT_TRUE(peer.SendFrame(frame));
    ASSERT_TRUE(m_host->WaitFor(0, 0));
    EXPECT_EQ(m_host->Events().size(), 1u);
    EXPECT_EQ(m_host->Events()[0].data, "seen");
}

// A destroyed session's late events must never reach the host under its reused handle.
TEST_F(ClientFrontTest, ADestroyedSessionNeverNotifiesUnderItsReusedHandle)
{
    CRawServerPeer oldPeer;
    CRawServerPeer newPeer;
    for (int round = 0; round < 10; ++round) {
        ASSERT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", oldPeer.GetPort(), nullptr), 0);
        ASSERT_TRUE(oldPeer.Accept());
        ASSERT_TRUE(m_host->WaitFor(0, 1));
        std::atomic<bool> flooding{true};
        std::thread flood([&] {
            WireFrame frame;
            frame.command = 2;
            frame.SetBody("old");
            for (int i = 0; i < 100000 && flooding.load() && oldPeer.SendFrame(frame); ++i) {
            }
        });
        ASSERT_TRUE(m_host->WaitFor(0, 0));

        ASSERT_EQ(PELLAX_CLIENT_DestroySession(0), 0);
        size_t before = m_host->Events().size();
        ASSERT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", newPeer.GetPort(), nullptr), 0);
        ASSERT_TRUE(newPeer.Accept());
        WireFrame frame;
        frame.command = 2;
        frame.SetBody("new");
        ASSERT_TRUE(newPeer.SendFrame(frame));
        ASSERT_TRUE(WaitUntil([&] {
            std::vector<ClientEvent> events = m_host->Events();
            return !events.empty() && events.back().data == "new";
        }));
        flooding = false;
        flood.join();
        oldPeer.CloseConnection();

        std::vector<ClientEvent> events = m_host->Events();
        for (size_t i = before; i < events.size(); ++i) {
            EXPECT_NE(events[i].data, "old") << "round " << round;
            EXPECT_NE(events[i].type, 3u) << "round " << round;
        }
        ASSERT_EQ(PELLAX_CLIENT_DestroySession(0), 0);
        newPeer.CloseConnection();
    }
}

TEST_F(ClientFrontTest, AHostMayDestroyASessionFromItsOwnCallback)
{
    CRawServerPeer peer;
    std::atomic<int> destroyed{1};
    m_host->SetHook([&](unsigned int handle, unsigned int type, PELLAX_Message*) {
        if (type == 0) {
            destroyed = PELLAX_CLIENT_DestroySession(handle);
        }
    });
    ASSERT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", peer.GetPort(), nullptr), 0);
    ASSERT_TRUE(peer.Accept());
    WireFrame frame;
    frame.command = 2;
    frame.SetBody("bye");
    ASSERT_TRUE(peer.SendFrame(frame));
    ASSERT_TRUE(peer.SendFrame(frame));
    ASSERT_TRUE(WaitUntil([&] { return destroyed.load() == 0; }));
    EXPECT_TRUE(peer.WaitClosed());
    m_host->SetHook(nullptr);
    EXPECT_EQ(m_host->Count(0, 0), 1u);
    EXPECT_EQ(m_host->Count(0, 3), 0u);
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", peer.GetPort(), nullptr), 0);
}

}  // namespace
}  // namespace pellax_test
