// Peers that die or freeze in their own processes: what each host hears, and how soon.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "frame/Singleton.h"
#include "server/Server.h"
#include "support/FreePort.h"
#include "support/HostRecorder.h"
#include "support/RawClientPeer.h"

namespace pellax_test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

long long Millis(Clock::time_point from, Clock::time_point to = Clock::now())
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

// The pid a client put into its Register params: {"pid":N,...}.
int PidOf(const HostEvent& registered)
{
    size_t at = registered.data.find("\"pid\":");
    return at == std::string::npos ? -1 : std::atoi(registered.data.c_str() + at + 6);
}

// A library server in this process on an ephemeral port, and a recorder of its notifications.
class ServerHostTest : public ::testing::Test {
protected:
    void SetUp() override { StartLibrary(); }
    void TearDown() override
    {
        PELLAX_SERVER_DestroySession();
        m_server.reset();
        PELLAX_Uninit();
    }

    void StartServer(const char* options)
    {
        m_server = std::make_unique<CHostRecorder>(CHostRecorder::kServer);
        m_server->AnswerRequests();
        ASSERT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", 0, options), 0);
        m_nPort = COrvSingletonT<ORV::PELLAX::CServer>::Instance()->GetListenPort();
        ASSERT_NE(m_nPort, 0);
    }

    // Starts a client process and returns the id the server gave it once it registered, or -1.
    int StartClientProcess(CChildProcess& child, const char* role = "client")
    {
        std::string line;
        if (!child.StartRole({role, std::to_string(m_nPort)}) || !child.ReadLine(&line, kWaitLimit) ||
            line.rfind("registered", 0) != 0) {
            return -1;
        }
        int id = -1;
        WaitUntil([&] {
            for (const HostEvent& event : m_server->Events(5)) {
                if (PidOf(event) == child.GetPid()) {
                    id = static_cast<int>(event.id);
                }
            }
            return id >= 0;
        });
        return id;
    }

    std::unique_ptr<CHostRecorder> m_server;
    uint16_t m_nPort = 0;
};

// Connects raw peers in batches and closes them again until the id `wanted` is handed out; returns
// every id handed out on the way, in order.
std::vector<int> CycleIdsUntil(CHostRecorder& server, uint16_t port, int wanted)
{
    std::vector<int> handedOut;
    constexpr size_t kBatch = 64;
    while (handedOut.size() < 2048 && std::find(handedOut.begin(), handedOut.end(), wanted) == handedOut.end()) {
        size_t joinsBefore = server.Count(1);
        size_t leavesBefore = server.Count(4);
        std::vector<std::unique_ptr<CRawClientPeer>> peers;
        for (size_t i = 0; i < kBatch; ++i) {
            peers.push_back(std::make_unique<CRawClientPeer>());
            if (!peers.back()->Connect(port) ||
                !WaitUntil([&] { return server.Count(1) >= joinsBefore + peers.size(); })) {
                return handedOut;
            }
        }
        std::vector<HostEvent> joins = server.Events(1);
        for (size_t i = joinsBefore; i < joins.size() && (handedOut.empty() || handedOut.back() != wanted); ++i) {
            handedOut.push_back(static_cast<int>(joins[i].id));
        }
        peers.clear();
        if (!WaitUntil([&] { return server.Count(4) >= leavesBefore + kBatch; })) {
            return handedOut;
        }
    }
    return handedOut;
}

TEST_F(ServerHostTest, AKilledClientProcessIsReportedWithinASecondAndItsIdComesBackOnlyWhenTheCursorWraps)
{
    StartServer(nullptr);
    CChildProcess children[3];
    int ids[3];
    for (int i = 0; i < 3; ++i) {
        ids[i] = StartClientProcess(children[i]);
        ASSERT_GE(ids[i], 0);
    }
    EXPECT_EQ(ids[1], (ids[0] + 1) % 1024);
    EXPECT_EQ(ids[2], (ids[1] + 1) % 1024);

    Clock::time_point killed = Clock::now();
    children[1].Signal(SIGKILL);
    HostEvent left;
    ASSERT_TRUE(m_server->WaitFor(4, ids[1], &left));
    long long reportedMs = Millis(killed, left.at);
    std::printf("[ figures ] kill -9 of a client reported after %lld ms\n", reportedMs);
    EXPECT_LT(reportedMs, 1000);
    EXPECT_EQ(m_server->Count(4, ids[0]) + m_server->Count(4, ids[2]), 0u);

    // Ids keep rising from the cursor; the freed one returns only after the cursor went round.
    CChildProcess next;
    int nextId = StartClientProcess(next);
    EXPECT_EQ(nextId, (ids[2] + 1) % 1024);
    std::vector<int> cycled = CycleIdsUntil(*m_server, m_nPort, ids[1]);
    ASSERT_FALSE(cycled.empty());
    ASSERT_EQ(cycled.back(), ids[1]) << "the freed id never came back";
    std::set<int> live{ids[0], ids[2], nextId};
    int expected = (nextId + 1) % 1024;
    for (int id : cycled) {
        while (live.count(expected) != 0) {
            expected = (expected + 1) % 1024;
        }
        ASSERT_EQ(id, expected);
        expected = (expected + 1) % 1024;
    }
    EXPECT_EQ(m_server->Count(4, ids[0]), 0u);  // the live processes were never disturbed
}

TEST_F(ServerHostTest, AFrozenClientIsDroppedALittleAfterTwiceTheKeepaliveTimeout)
{
    StartServer("{\"keepalive-interval\":1,\"keepalive-timeout\":1}");
    CChildProcess child;
    int id = StartClientProcess(child);
    ASSERT_GE(id, 0);
    // Alive, its keepalives hold it well past the drop line.
    EXPECT_TRUE(StaysFalse([&] { return m_server->Count(4, id) != 0; }, 3s));
    EXPECT_GE(m_server->Count(6, id), 2u);

    Clock::time_point frozen = Clock::now();
    child.Signal(SIGSTOP);
    HostEvent dropped;
    ASSERT_TRUE(m_server->WaitFor(4, id, &dropped));
    Clock::time_point lastHeard = m_server->Events(6).back().at;
    ASSERT_LT(lastHeard, dropped.at);
    long long silentMs = Millis(lastHeard, dropped.at);
    std::printf("[ figures ] frozen client dropped %lld ms after SIGSTOP, %lld ms after its last keepalive "
                "(keepalive 1/1)\n",
                Millis(frozen, dropped.at), silentMs);
    // More than twice the time-out after its last frame, at the next scan (one interval later at most).
    EXPECT_GT(silentMs, 2000);
    EXPECT_LT(silentMs, 4500);
    child.Kill();
}

TEST_F(ServerHostTest, ASynchronousSendToAClientThatDiesEndsWithTheTimeOutCode)
{
    StartServer(nullptr);
    CChildProcess child;
    int id = StartClientProcess(child, "mute-client");
    ASSERT_GE(id, 0);
    std::string body = "are you there";
    PELLAX_Message request = MakeRecord(4000, 77, body);
    PELLAX_Message response{};
    std::thread killer([&] {
        std::this_thread::sleep_for(300ms);
        child.Signal(SIGKILL);
    });
    Clock::time_point start = Clock::now();
    int result = PELLAX_SERVER_SynSend(static_cast<unsigned int>(id), &request, &response, 2);
    long long tookMs = Millis(start);
    killer.join();
    std::printf("[ figures ] server call with time-out 2 s to a client killed meanwhile: %d after %lld ms\n", result,
                tookMs);
    EXPECT_EQ(result, -5);
    EXPECT_LE(tookMs, 2000 + 1500);
    EXPECT_EQ(response.data, nullptr);
    EXPECT_TRUE(m_server->WaitFor(4, id));
}

// Library clients in this process against `pellax serve` in a child process.
class ClientHostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartLibrary();
        m_client = std::make_unique<CHostRecorder>(CHostRecorder::kClient);
        m_nPort = PickFreePort();
        ASSERT_NE(m_nPort, 0);
    }
    void TearDown() override
    {
        for (int handle : m_handles) {
            PELLAX_CLIENT_DestroySession(static_cast<unsigned int>(handle));
        }
        m_client.reset();
        PELLAX_Uninit();
    }

    // `pellax serve` on the test's port; true once it listens.
    bool Serve(CChildProcess& serve, bool echo, int keepaliveInterval = 5, int keepaliveTimeout = 30)
    {
        return serve.StartServe(m_nPort, echo, keepaliveInterval, keepaliveTimeout) &&
               WaitUntil([this] { return IsListening(m_nPort); });
    }

    int Connect()
    {
        int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", m_nPort, nullptr);
        if (handle >= 0) {
            m_handles.push_back(handle);
        }
        return handle;
    }

    // A session that the server has registered, or -1.
    int ConnectRegistered()
    {
        int handle = Connect();
        return handle >= 0 && m_client->WaitFor(5, handle) ? handle : -1;
    }

    // One round trip through `pellax serve --echo`; true when the same body comes back.
    static bool RoundTrip(int handle, const std::string& body)
    {
        PELLAX_Message request = MakeRecord(2000, 1, body);
        PELLAX_Message response{};
        int result = PELLAX_CLIENT_SynSend(static_cast<unsigned int>(handle), &request, &response, 5);
        return result == 0 && TakeBody(response) == body && response.command == 2001;
    }

    std::unique_ptr<CHostRecorder> m_client;
    std::vector<int> m_handles;
    uint16_t m_nPort = 0;
};

TEST_F(ClientHostTest, AKilledServerProcessEndsEveryClientAndARestartOnTheSamePortAcceptsAtOnce)
{
    CChildProcess serve;
    ASSERT_TRUE(Serve(serve, true));
    for (int i = 0; i < 4; ++i) {
        int handle = ConnectRegistered();
        ASSERT_GE(handle, 0);
        ASSERT_TRUE(RoundTrip(handle, "before " + std::to_string(handle)));
    }

    Clock::time_point killed = Clock::now();
    serve.Kill();
    for (int handle : m_handles) {
        HostEvent ended;
        ASSERT_TRUE(m_client->WaitFor(3, handle, &ended)) << "handle " << handle;
        EXPECT_LT(Millis(killed, ended.at), 1000);
    }

    Clock::time_point restarted = Clock::now();
    CChildProcess again;
    ASSERT_TRUE(Serve(again, true)) << "the port stayed blocked after the kill";
    int handle = Connect();
    ASSERT_GE(handle, 0);
    ASSERT_TRUE(m_client->WaitFor(1, handle));
    std::printf("[ figures ] restarted server accepted a client %lld ms after its start\n", Millis(restarted));
    ASSERT_TRUE(m_client->WaitFor(5, handle));
    EXPECT_TRUE(RoundTrip(handle, "after"));
}

TEST_F(ClientHostTest, AFrozenServerIsReportedAsSilent)
{
    CChildProcess serve;
    ASSERT_TRUE(Serve(serve, true, 1, 1));
    int handle = ConnectRegistered();
    ASSERT_GE(handle, 0);
    ASSERT_TRUE(m_client->WaitFor(6, handle));  // keepalives flow at the adopted period

    Clock::time_point frozen = Clock::now();
    serve.Signal(SIGSTOP);
    HostEvent silent;
    ASSERT_TRUE(m_client->WaitFor(4, handle, &silent));
    long long silentMs = Millis(frozen, silent.at);
    std::printf("[ figures ] frozen server reported silent %lld ms after SIGSTOP (keepalive 1/1)\n", silentMs);
    EXPECT_GT(silentMs, 1000);
    EXPECT_LT(silentMs, 6000);
    EXPECT_EQ(m_client->Count(3, handle), 0u);  // silence does not close the connection
    serve.Kill();
    EXPECT_TRUE(m_client->WaitFor(3, handle));
}

TEST_F(ClientHostTest, ASecondServerOnAPortInUseFailsWithItsLogLineAndTheFirstKeepsServing)
{
    CChildProcess serve;
    ASSERT_TRUE(Serve(serve, true));
    CHostRecorder server(CHostRecorder::kServer);

    EXPECT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", m_nPort, nullptr), -1);
    EXPECT_TRUE(HasLogLine(5, "init ServerSession failed."));
    EXPECT_TRUE(HasLogLine(4, "Open server session failed"));

    int handle = ConnectRegistered();
    ASSERT_GE(handle, 0);
    EXPECT_TRUE(RoundTrip(handle, "still the first"));
    // The failed create left nothing behind.
    EXPECT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", 0, nullptr), 0);
    EXPECT_EQ(PELLAX_SERVER_DestroySession(), 0);
}

TEST_F(ClientHostTest, ASynchronousCallEndsWithItsTimeOutCodeWhenTheServerDiesOrTheHostDestroysTheSession)
{
    CChildProcess serve;
    ASSERT_TRUE(Serve(serve, false));  // never answers
    int first = ConnectRegistered();
    int second = ConnectRegistered();
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);

    auto call = [](int handle, int* result, long long* tookMs) {
        std::string body = "hello?";
        PELLAX_Message request = MakeRecord(2000, 9, body);
        PELLAX_Message response{};
        Clock::time_point start = Clock::now();
        *result = PELLAX_CLIENT_SynSend(static_cast<unsigned int>(handle), &request, &response, 2);
        *tookMs = Millis(start);
        TakeBody(response);
    };

    int destroyedResult = 1;
    long long destroyedMs = 0;
    std::thread destroyed(call, second, &destroyedResult, &destroyedMs);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(PELLAX_CLIENT_DestroySession(static_cast<unsigned int>(second)), 0);
    m_handles.pop_back();
    destroyed.join();
    EXPECT_EQ(destroyedResult, -2);
    EXPECT_LE(destroyedMs, 2000 + 1500);

    int diedResult = 1;
    long long diedMs = 0;
    std::thread died(call, first, &diedResult, &diedMs);
    std::this_thread::sleep_for(300ms);
    serve.Kill();
    died.join();
    std::printf("[ figures ] client call with time-out 2 s: session destroyed -> %d after %lld ms, server killed "
                "-> %d after %lld ms\n",
                destroyedResult, destroyedMs, diedResult, diedMs);
    EXPECT_EQ(diedResult, -2);
    EXPECT_LE(diedMs, 2000 + 1500);
    EXPECT_TRUE(m_client->WaitFor(3, first));
}

}  // namespace
}  // namespace pellax_test
