// Creating and destroying the server, disconnecting clients, and the client id limit.
#include <sys/resource.h>

#include <atomic>
#include <memory>
#include <thread>

#include "ServerFixture.h"
#include "frame/Singleton.h"
#include "server/Server.h"
#include "support/FreePort.h"

namespace pellax_test {
namespace {

PELLAX_Message DataMessage(unsigned char* byte)
{
    PELLAX_Message message{};
    message.command = 2;
    message.data = byte;
    message.dataLength = 1;
    return message;
}

TEST_F(ServerTest, SecondCreateFailsAndTheFirstServerKeepsWorking)
{
    ASSERT_NE(StartServer(nullptr), 0);
    EXPECT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", 0, nullptr), -1);
    EXPECT_TRUE(HasLog(4, "[ORV::PELLAX::CServer::CreateSessionServer("));
    EXPECT_TRUE(HasLog(4, "[0x01900062] - serverSession has been created"));
    CRawClientPeer peer;
    EXPECT_GE(Join(peer), 0);
}

TEST_F(ServerTest, UnparsableOptionsLeaveNoSessionBehind)
{
    EXPECT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", 0, "{"), -4);
    EXPECT_TRUE(HasLog(5, "[0x01900014] - [rsp={]parse json failed"));
    EXPECT_EQ(PELLAX_SERVER_DestroySession(), -1);
    EXPECT_TRUE(HasLog(4, "[ORV::PELLAX::CServer::DestroySessionServer("));
    ASSERT_NE(StartServer("[]"), 0);
    CRawClientPeer peer;
    EXPECT_GE(Join(peer), 0);
}

TEST_F(ServerTest, OperationsWithoutASessionFail)
{
    unsigned char byte = 1;
    PELLAX_Message message = DataMessage(&byte);
    PELLAX_Message response{};
    EXPECT_EQ(PELLAX_SERVER_Send(0, &message), -1);
    EXPECT_EQ(PELLAX_SERVER_SynSend(0, &message, &response, 1), -1);
    EXPECT_EQ(PELLAX_SERVER_SetUserData(0, 0, "{}"), -1);
    EXPECT_EQ(PELLAX_SERVER_DestroyClientSession(0), -1);
    EXPECT_TRUE(HasLog(4, "[ORV::PELLAX::CServer::SetUserData("));
    EXPECT_TRUE(HasLog(4, "[session=0]ServerSession has not been created!"));
    message.data = nullptr;
    EXPECT_EQ(PELLAX_SERVER_Send(0, &message), -4);
    EXPECT_EQ(PELLAX_SERVER_CreateSession("not an address", 0, nullptr), -1);
    EXPECT_TRUE(HasLog(5, "init ServerSession failed."));
}

TEST_F(ServerTest, PortAbove65535ListensOnItsLow16Bits)
{
    if (IsListening(4464)) {
        GTEST_SKIP() << "port 4464 is taken on this machine";
    }
    ASSERT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", 70000, nullptr), 0);
    EXPECT_EQ(COrvSingletonT<ORV::PELLAX::CServer>::Instance()->GetListenPort(), 4464);
    EXPECT_TRUE(IsListening(4464));
}

TEST_F(ServerTest, DestroyWithClientsConnectedClosesThemAndNothingIsNotifiedAfterwards)
{
    ASSERT_NE(StartServer(nullptr), 0);
    CRawClientPeer peers[3];
    for (CRawClientPeer& peer : peers) {
        ASSERT_GE(Join(peer), 0);
    }
    ASSERT_EQ(PELLAX_SERVER_DestroySession(), 0);
    size_t seen = m_notes.Snapshot().size();
    for (CRawClientPeer& peer : peers) {
        EXPECT_TRUE(peer.WaitClosed());
    }
    EXPECT_TRUE(StaysFalse([&] { return m_notes.Snapshot().size() != seen; }, std::chrono::milliseconds(300)));
    EXPECT_EQ(PELLAX_SERVER_DestroySession(), -1);
    ASSERT_NE(StartServer(nullptr), 0);  // and a new one can be created
}

TEST_F(ServerTest, DestroyWhileASyncSendWaitsEndsTheWaiter)
{
    ASSERT_NE(StartServer(nullptr), 0);
    CRawClientPeer peer;
    int id = Join(peer);
    ASSERT_GE(id, 0);
    std::atomic<int> result{1};
    std::thread waiter([&] {
        unsigned char byte = 1;
        PELLAX_Message request = DataMessage(&byte);
        PELLAX_Message response{};
        result = PELLAX_SERVER_SynSend(id, &request, &response, 2);
    });
    WireFrame request;
    ASSERT_TRUE(peer.ReceiveFrame(&request));
    ASSERT_EQ(PELLAX_SERVER_DestroySession(), 0);
    waiter.join();
    EXPECT_EQ(result.load(), -5);
    EXPECT_TRUE(peer.WaitClosed());
}

TEST_F(ServerTest, NoNotificationStartsAfterDestroyReturns)
{
    ASSERT_NE(StartServer(nullptr), 0);
    CRawClientPeer peer;
    ASSERT_GE(Join(peer), 0);
    std::atomic<bool> destroyed{false};
    std::atomic<int> late{0};
    m_notes.SetHook([&](const Notification&) {
        if (destroyed.load()) {
            ++late;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    });
    std::atomic<bool> stop{false};
    std::thread sender([&] {
        WireFrame frame;
        frame.command = 2;
        frame.SetBody("x");
        while (!stop.load() && peer.SendFrame(frame)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    ASSERT_TRUE(m_notes.WaitForCount(0, 5));
    ASSERT_EQ(PELLAX_SERVER_DestroySession(), 0);
    destroyed = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
    sender.join();
    m_notes.SetHook(nullptr);
    EXPECT_EQ(late.load(), 0);
}

TEST_F(ServerTest, DestroyFromInsideANotificationDoesNotDeadlock)
{
    ASSERT_NE(StartServer(nullptr), 0);
    CRawClientPeer peer;
    ASSERT_GE(Join(peer), 0);
    std::atomic<int> result{1};
    m_notes.SetHook([&](const Notification& note) {
        if (note.type == 0) {
            result = PELLAX_SERVER_DestroySession();
        }
    });
    WireFrame frame;
    frame.command = 2;
    ASSERT_TRUE(peer.SendFrame(frame));
    EXPECT_TRUE(WaitUntil([&] { return result.load() != 1; }));
    EXPECT_EQ(result.load(), 0);
    EXPECT_TRUE(peer.WaitClosed());
    m_notes.SetHook(nullptr);
    EXPECT_EQ(PELLAX_SERVER_DestroySession(), -1);
}

TEST_F(ServerTest, DestroyClientSessionDisconnectsWithoutNotification)
{
    ASSERT_NE(StartServer(nullptr), 0);
    CRawClientPeer kept;
    CRawClientPeer dropped;
    ASSERT_GE(Join(kept), 0);
    int id = Join(dropped);
    ASSERT_GE(id, 0);
    EXPECT_EQ(PELLAX_SERVER_DestroyClientSession(id), 0);
    EXPECT_TRUE(dropped.WaitClosed());
    EXPECT_TRUE(StaysFalse([&] { return m_notes.Count(4) != 0; }, std::chrono::milliseconds(300)));
    EXPECT_EQ(PELLAX_SERVER_DestroyClientSession(id), -1);
    EXPECT_TRUE(HasLog(4, "[session=" + std::to_string(id) + "]Cannot find clientSession handle."));
    unsigned char byte = 1;
    PELLAX_Message message = DataMessage(&byte);
    EXPECT_EQ(PELLAX_SERVER_Send(id, &message), -4);
    kept.Close();
    EXPECT_TRUE(m_notes.WaitFor(4, nullptr));
}

// Each connection costs two descriptors in this process: the raw client's and the server's.
bool RaiseOpenFileLimit(rlim_t wanted)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return false;
    }
    if (limit.rlim_cur >= wanted) {
        return true;
    }
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted) {
        return false;
    }
    limit.rlim_cur = wanted;
    return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

TEST_F(ServerTest, ThousandTwentyFourClientsAreServedAndTheNextIsRefused)
{
    if (!RaiseOpenFileLimit(2400)) {
        GTEST_SKIP() << "cannot raise the open-file limit";
    }
    ASSERT_NE(StartServer(nullptr), 0);
    std::vector<std::unique_ptr<CRawClientPeer>> peers;
    for (int i = 0; i < 1024; ++i) {
        peers.push_back(std::make_unique<CRawClientPeer>());
        ASSERT_TRUE(peers.back()->Connect(m_port)) << i;
    }
    ASSERT_TRUE(m_notes.WaitForCount(1, 1024));
    std::vector<bool> seen(1024, false);
    for (const Notification& note : m_notes.Snapshot()) {
        ASSERT_LT(note.id, 1024u);
        EXPECT_FALSE(seen[note.id]) << note.id;
        seen[note.id] = true;
    }

    CRawClientPeer refused;
    ASSERT_TRUE(refused.Connect(m_port));
    EXPECT_TRUE(refused.WaitClosed());
    EXPECT_TRUE(HasLog(4, "No free client id, join refused."));
    EXPECT_EQ(m_notes.Count(1), 1024u);
    EXPECT_EQ(m_notes.Count(4), 0u);

    WireFrame answer;
    ASSERT_TRUE(peers[1023]->SendFrame(MakeKeepalive(1, "{\"pid\":1}")));
    EXPECT_TRUE(peers[1023]->ReceiveFrame(&answer));
    EXPECT_EQ(answer.command, 11u);
}

}  // namespace
}  // namespace pellax_test
