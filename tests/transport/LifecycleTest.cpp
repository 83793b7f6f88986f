#include <gtest/gtest.h>

#include "transport/TransportSinks.h"

using namespace transport_test;
using pellax_test::CountOpenFds;
using pellax_test::CountThreads;

namespace {

// One full use of the transport, left open on purpose: the stop must close it.
void RunOneCycle(CServerSink& serverSink, CClientSink& clientSink)
{
    ASSERT_EQ(0, InitializeSessionEx(0, 10));
    ASSERT_EQ(0, InitializeSessionEx(0, 10)) << "a second start changes nothing";
    CRefPtr<IOrvServerSession> server;
    ASSERT_EQ(0, IOrvSessionManager::Instance()->CreateServerSession(ORV_SESSION_TYPE_TCP, server));
    ASSERT_EQ(0, server->Open(&serverSink, COrvInetAddress("127.0.0.1", 0)));
    CRefPtr<IOrvClientSession> client;
    ASSERT_EQ(0, IOrvSessionManager::Instance()->CreateClientSession(ORV_SESSION_TYPE_TCP, client));
    ASSERT_EQ(0, client->Connect(&clientSink, COrvInetAddress("127.0.0.1", server->GetListenPort()),
                                 COrvTimeValue(10, 0), nullptr));
    ASSERT_TRUE(clientSink.WaitCount(Kind::kJoin, 1));
    ASSERT_EQ(0, client->Send(0, Block({1, 2}).Get()));
    ASSERT_TRUE(serverSink.WaitCount(Kind::kReceive, 1));

    ASSERT_EQ(0, UnInitializeSession());
    EXPECT_EQ(1u, serverSink.Count(Kind::kLeave));
    EXPECT_EQ(1u, clientSink.Count(Kind::kLeave));
    EXPECT_NE(0, client->Send(0, Block({3}).Get()));
    EXPECT_EQ(0, client->Close(0));
    EXPECT_EQ(0, server->Close(0));
}

TEST(TransportLifecycleTest, FiftyStartStopCyclesWithOpenSessionsLeakNoThreadOrDescriptor)
{
    {
        CServerSink serverSink;
        CClientSink clientSink;
        RunOneCycle(serverSink, clientSink);  // first use settles lazily created process state
    }
    size_t threads = CountThreads();
    size_t fds = CountOpenFds();
    for (int cycle = 0; cycle < 50; ++cycle) {
        CServerSink serverSink;
        CClientSink clientSink;
        RunOneCycle(serverSink, clientSink);
        if (HasFatalFailure()) {
            return;
        }
        ASSERT_EQ(threads, CountThreads()) << "cycle " << cycle;
        ASSERT_EQ(fds, CountOpenFds()) << "cycle " << cycle;
        ASSERT_TRUE(serverSink.Faults().empty());
        ASSERT_TRUE(clientSink.Faults().empty());
    }
}

TEST(TransportLifecycleTest, NothingIsCreatedOrOpenedWhileTheTransportIsStopped)
{
    CRefPtr<IOrvServerSession> server;
    CRefPtr<IOrvClientSession> client;
    EXPECT_NE(0, IOrvSessionManager::Instance()->CreateServerSession(ORV_SESSION_TYPE_TCP, server));
    EXPECT_NE(0, IOrvSessionManager::Instance()->CreateClientSession(ORV_SESSION_TYPE_TCP, client));
    EXPECT_NE(0, UnInitializeSession());

    ASSERT_EQ(0, InitializeSessionEx(0, 1));
    ASSERT_EQ(0, IOrvSessionManager::Instance()->CreateServerSession(ORV_SESSION_TYPE_TCP, server));
    ASSERT_EQ(0, UnInitializeSession());
    CServerSink sink;
    EXPECT_NE(0, server->Open(&sink, COrvInetAddress("127.0.0.1", 0))) << "created before the stop";
}

}  // namespace
