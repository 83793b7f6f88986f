// Creating and destroying the server, disconnecting clients, and the client id limit.
#include <atomic>
#include <memory>
#include <thread>

#include "ServerFixture.h"
#include "frame/Singleton.h"
#include "server/Server.h"
#include "support/FreePort.h"
#include "support/RawServerPeer.h"

namespace pellax_test {
namespace {

const std::string kBody = "x";

PELLAX_Message DataMessage()
{
    return MakeRecord(2, 0, kBody);
}

TEST_F(ServerTest, CallsWithoutASessionFailAndOnlyOneSessionCanExist)
{
    PELLAX_Message message = DataMessage();
    PELLAX_Message response{};
    EXPECT_EQ(PELLAX_SERVER_Send(0, &message), -1);
    EXPECT_EQ(PELLAX_SERVER_SynSend(0, &message, &response, 1), -1);
    EXPECT_EQ(PELLAX_SERVER_SetUserData(0, 0, "{}"), -1);
    EXPECT_EQ(PELLAX_SERVER_DestroyClientSession(0), -1);
    EXPECT_TRUE(HasLogLine(4, "[ORV::PELLAX::CServer::SetUserData("));
    EXPECT_TRUE(HasLogLine(4, "[session=0]ServerSession has not been created!"));
    message.data = nullptr;
    EXPECT_EQ(PELLAX_SERVER_Send(0, &message), -4);
    EXPECT_EQ(PELLAX_SERVER_CreateSession("not an address", 0, nullptr), -1);
    EXPECT_TRUE(HasLogLine(5, "init ServerSession failed."));
    CRawServerPeer taken;  // a port someone else listens on
    EXPECT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", taken.GetPort(), nullptr), -1);
    EXPECT_EQ(CountLogLines("init ServerSession failed."), 2u);

    // Unparsable options leave no session behind; options that are no object are no options.
    EXPECT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", 0, "{"), -4);
    EXPECT_TRUE(HasLogLine(5, "[0x01900014] - [rsp={]parse json failed"));
    EXPECT_EQ(PELLAX_SERVER_DestroySession(), -1);
    EXPECT_TRUE(HasLogLine(4, "[ORV::PELLAX::CServer::DestroySessionServer("));
    ASSERT_NE(StartServer("[]"), 0);

    EXPECT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", 0, nullptr), -1);
    EXPECT_TRUE(HasLogLine(4, "[ORV::PELLAX::CServer::CreateSessionServer("));
    EXPECT_TRUE(HasLogLine(4, "[0x01900062] - serverSession has been created"));
    CRawClientPeer peer;
    EXPECT_GE(Join(peer), 0);
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

TEST_F(ServerTest, DestroyWhileASyncSendWaitsEndsTheWaiter)
{
    ASSERT_NE(StartServer(nullptr), 0);
    CRawClientPeer peer;
    int id = Join(peer);
    ASSERT_GE(id, 0);
    std::atomic<int> result{1};
    std::thread waiter([&] {
        PELLAX_Message request = DataMessage();
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

TEST_F(ServerTest, DestroyClosesEveryClientAndNoNotificationStartsAfterItReturns)
{
    ASSERT_NE(StartServer(nullptr), 0);
    CRawClientPeer idle;
    CRawClientPeer peer;
    ASSERT_GE(Join(idle), 0);
    ASSERT_GE(Join(peer), 0);
    std::atomic<bool> destroyed{false};
    std::atomic<int> late{0};
    m_host->SetHook([&](const HostEvent&) {
        if (destroyed.load()) {
            ++late;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    });
    std::atomic<bool> stop{false};
    std::thread sender([&] {
        WireFrame frame = MakeFrame(2, 0, "x");
        while (!stop.load() && peer.SendFrame(frame)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    ASSERT_TRUE(m_host->WaitForCount(0, 5));
    ASSERT_EQ(PELLAX_SERVER_DestroySession(), 0);
    destroyed = true;
    size_t seen = m_host->Events().size();
    EXPECT_TRUE(idle.WaitClosed());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
    sender.join();
    m_host->SetHook(nullptr);
    EXPECT_EQ(late.load(), 0);
    EXPECT_EQ(m_host->Events().size(), seen);
    EXPECT_TRUE(peer.WaitClosed());
    EXPECT_EQ(PELLAX_SERVER_DestroySession(), -1);
}

TEST_F(ServerTest, DestroyFromInsideANotificationDoesNotDeadlock)
{
    ASSERT_NE(StartServer(nullptr), 0);
    CRawClientPeer peer;
    ASSERT_GE(Join(peer), 0);
    std::atomic<int> result{1};
    m_host->SetHook([&](const HostEvent& note) {
        if (note.type == 0) {
            result = PELLAX_SERVER_DestroySession();
        }
    });
    WireFrame frame = MakeFrame(2, 0, "");
    ASSERT_TRUE(peer.SendFrame(frame));
    EXPECT_TRUE(WaitUntil([&] { return result.load() != 1; }));
    EXPECT_EQ(result.load(), 0);
    EXPECT_TRUE(peer.WaitClosed());
    m_host->SetHook(nullptr);
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
    EXPECT_TRUE(StaysFalse([&] { return m_host->Count(4) != 0; }, std::chrono::milliseconds(300)));
    EXPECT_EQ(PELLAX_SERVER_DestroyClientSession(id), -1);
    EXPECT_TRUE(HasLogLine(4, "[session=" + std::to_string(id) + "]Cannot find clientSession handle."));
    PELLAX_Message message = DataMessage();
    EXPECT_EQ(PELLAX_SERVER_Send(id, &message), -4);
    kept.Close();
    EXPECT_TRUE(m_host->WaitFor(4, -1));
}

TEST_F(ServerTest, ThousandTwentyFourClientsAreServedTheNextIsRefusedAndAFreedIdIsGivenAgain)
{
    // Each connection costs two descriptors in this process: the raw client's and the server's.
    if (RaiseFdLimit(2400) < 2400) {
        GTEST_SKIP() << "cannot raise the open-file limit";
    }
    ASSERT_NE(StartServer(nullptr), 0);
    std::vector<std::unique_ptr<CRawClientPeer>> peers;
    for (int i = 0; i < 1024; ++i) {
        peers.push_back(std::make_unique<CRawClientPeer>());
        ASSERT_TRUE(peers.back()->Connect(m_port)) << i;
    }
    ASSERT_TRUE(m_host->WaitForCount(1, 1024, -1, std::chrono::milliseconds(30000)));
    std::vector<bool> seen(1024, false);
    for (const HostEvent& note : m_host->Events(1)) {
        ASSERT_LT(note.id, 1024u);
        EXPECT_FALSE(seen[note.id]) << note.id;
        seen[note.id] = true;
    }

    CRawClientPeer refused;
    ASSERT_TRUE(refused.Connect(m_port));
    EXPECT_TRUE(refused.WaitClosed());
    EXPECT_TRUE(HasLogLine(4, "No free client id, join refused."));
    EXPECT_EQ(m_host->Count(1), 1024u);
    EXPECT_EQ(m_host->Count(4), 0u);

    WireFrame answer;
    ASSERT_TRUE(peers[1023]->SendFrame(MakeKeepalive(1, "{\"pid\":1}")));
    EXPECT_TRUE(peers[1023]->ReceiveFrame(&answer));
    EXPECT_EQ(answer.command, 11u);

    // The only free id is found again, wherever the allocator's cursor stands. It is free once the
    // leaving client's object is gone, which may be a moment after the notification.
    peers[5]->Close();
    HostEvent left;
    ASSERT_TRUE(m_host->WaitFor(4, -1, &left));
    int again = -1;
    CRawClientPeer late;
    for (int attempt = 0; attempt < 20 && again < 0; ++attempt) {
        size_t before = m_host->Count(1);
        ASSERT_TRUE(late.Connect(m_port));
        if (m_host->WaitForCount(1, before + 1, -1, std::chrono::milliseconds(500))) {
            again = static_cast<int>(m_host->Events(1)[before].id);
        }
    }
    EXPECT_EQ(again, static_cast<int>(left.id));
}

}  // namespace
}  // namespace pellax_test
