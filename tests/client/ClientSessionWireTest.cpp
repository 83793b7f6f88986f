// A client session against a raw server peer that speaks the wire format by hand.
#include "platform/OrvProcess.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "ClientHost.h"
#include "support/RawClientPeer.h"
#include "support/RawServerPeer.h"
#include "support/WireFrame.h"

namespace pellax_test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kSyncBit = 0x80000000u;
constexpr uint32_t kControlMarker = 0xFFFFFFFFu;

double SecondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

std::string Pid()
{
    return std::to_string(OrvCurrentProcessId());
}

WireFrame Response(uint32_t command, uint32_t sequence, const std::string& dataJson)
{
    return MakeFrame(command, sequence, "{\"resultCode\":\"200\",\"message\":\"OK\",\"data\":" + dataJson + "}");
}

class ClientSessionWireTest : public ClientTest {
protected:
    // A session joined to the peer; -1 (and a failure) when it did not get there.
    int Join(const char* options = nullptr)
    {
        int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", m_peer.GetPort(), options);
        EXPECT_GE(handle, 0);
        EXPECT_TRUE(m_peer.Accept());
        EXPECT_TRUE(m_host->WaitFor(1, handle));
        return handle;
    }

    // Answers the next Register with the given "data" and waits for event 5.
    bool Register(int handle, const std::string& dataJson)
    {
        WireFrame request;
        return m_peer.ReceiveCommand(0, &request) && m_peer.SendFrame(Response(1, request.sequence, dataJson)) &&
               m_host->WaitFor(5, handle);
    }

    CRawServerPeer m_peer;
};

TEST_F(ClientSessionWireTest, RegisterGoesOutOneSecondAfterTheJoinWithTheUserData)
{
    int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", m_peer.GetPort(), nullptr);
    ASSERT_EQ(handle, 0);
    ASSERT_EQ(PELLAX_CLIENT_SetUserData(handle, 0, "{\"zone\":\"a b\",\"n\":[1,2]}"), 0);
    ASSERT_TRUE(m_peer.Accept());
    HostEvent joined;
    ASSERT_TRUE(m_host->WaitFor(1, 0, &joined));

    WireFrame first;
    ASSERT_TRUE(m_peer.ReceiveFrame(&first));
    Clock::time_point firstAt = Clock::now();
    double delay = SecondsBetween(joined.at, firstAt);
    EXPECT_GT(delay, 0.5);
    EXPECT_LT(delay, 3.0);
    EXPECT_EQ(first.command, 0u);
    EXPECT_EQ(first.sequence & kSyncBit, 0u);
    EXPECT_EQ(first.flag, 0u);
    EXPECT_TRUE(first.exts.empty());
    EXPECT_EQ(first.BodyText(), "{\"method\":\"Register\",\"params\":{\"pid\":" + Pid() +
                                    ",\"userdata\":{\"zone\":\"a b\",\"n\":[1,2]}}}");

    EXPECT_EQ(m_host->Count(5, 0), 0u);
}

// On the real clock (tests/clock checks the silence boundaries exactly): keepalives every second, then
// the server reported silent a little after twice the time-out since its last frame.
TEST_F(ClientSessionWireTest, RegisterResponseSetsTheIntervalAndKeepalivesFollowEverySecondUntilTheServerFallsSilent)
{
    int handle = Join();
    ASSERT_EQ(PELLAX_CLIENT_SetUserData(handle, 1, "{\"k\":2}"), 0);
    ASSERT_TRUE(Register(handle, "{\"ppid\":4242,\"keepalive-interval\":1,\"keepalive-timeout\":1}"));

    HostEvent registered;
    ASSERT_TRUE(m_host->WaitFor(5, handle, &registered));
    ASSERT_TRUE(registered.hasRecord);
    EXPECT_EQ(registered.data, "{\"ppid\":4242,\"keepalive-interval\":1,\"keepalive-timeout\":1}");
    EXPECT_EQ(registered.command, kControlMarker);
    EXPECT_EQ(registered.sequence, kControlMarker);
    EXPECT_GE(CountLogLines("[interval=1]keepalive info"), 1u);
    EXPECT_GE(CountLogLines("[timeout=1000]keepalive info"), 1u);

    Clock::time_point previous = registered.at;
    Clock::time_point lastAnswer = previous;
    for (int i = 0; i < 2; ++i) {
        WireFrame keepalive;
        ASSERT_TRUE(m_peer.ReceiveFrame(&keepalive, 5s));
        Clock::time_point now = Clock::now();
        double gap = SecondsBetween(previous, now);
        EXPECT_GT(gap, 0.4) << "keepalive " << i;
        EXPECT_LT(gap, 2.5) << "keepalive " << i;
        previous = now;
        EXPECT_EQ(keepalive.command, 10u);
        EXPECT_EQ(keepalive.sequence & kSyncBit, 0u);
        EXPECT_EQ(keepalive.BodyText(), "{\"method\":\"Keepalive\",\"params\":{\"pid\":" + Pid() + ",\"userdata\":{\"k\":2}}}");
        if (i == 0) {
            ASSERT_TRUE(m_peer.SendFrame(Response(11, keepalive.sequence, "{\"ppid\":4242,\"userdata\":[7]}")));
            lastAnswer = Clock::now();
        }
    }
    HostEvent heartbeat;
    ASSERT_TRUE(m_host->WaitFor(6, handle, &heartbeat));
    EXPECT_EQ(heartbeat.data, "{\"ppid\":4242,\"userdata\":[7]}");
    EXPECT_EQ(heartbeat.command, kControlMarker);

    HostEvent silent;
    ASSERT_TRUE(m_host->WaitFor(4, handle, &silent));
    double quiet = SecondsBetween(lastAnswer, silent.at);
    EXPECT_GT(quiet, 1.9);
    EXPECT_LT(quiet, 6.0);
    EXPECT_EQ(CountLogLines("OnHeartBeatTimeOut."), 1u);
    EXPECT_EQ(m_host->Count(3, handle), 0u) << "the connection is left to the host";
}

TEST_F(ClientSessionWireTest, DataFramesReachTheHostWithTheExtensionListReversedAndStrayAnswersDoNot)
{
    int handle = Join();
    WireFrame frame = MakeFrame(2, 77, "payload");
    frame.flag = 5;
    frame.timestamp = 0x0102030405060708ull;
    frame.exts = {{1, Bytes("ab")}, {2, {}}, {3, Bytes("xyz")}};
    ASSERT_TRUE(m_peer.SendFrame(frame));
    // Requests the client would normally send, and an odd command without the synchronous bit, are data too.
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(0, 5, "r")));
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(3, 6, "s")));
    // An answer nobody waits for is dropped.
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(3, kSyncBit | 9, "late")));
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(2, 10, "next")));

    ASSERT_TRUE(m_host->WaitForCount(0, 4, handle));
    EXPECT_TRUE(StaysFalse([&] { return m_host->Count(0, handle) > 4; }));
    std::vector<HostEvent> events = m_host->Events(0);
    EXPECT_EQ(events[0].command, 2u);
    EXPECT_EQ(events[0].sequence, 77u);
    EXPECT_EQ(events[0].flag, 5);
    EXPECT_EQ(events[0].timestamp, 0x0102030405060708ull);
    EXPECT_EQ(events[0].data, "payload");
    std::vector<std::pair<uint32_t, std::string>> reversed = {{3, "xyz"}, {2, ""}, {1, "ab"}};
    EXPECT_EQ(events[0].exts, reversed);
    EXPECT_EQ(events[1].command, 0u);
    EXPECT_EQ(events[2].command, 3u);
    EXPECT_EQ(events[2].data, "s");
    EXPECT_EQ(events[3].data, "next");
}

TEST_F(ClientSessionWireTest, TheServerClosingTheConnectionGivesEvent3)
{
    int handle = Join();
    m_peer.CloseConnection();
    ASSERT_TRUE(m_host->WaitFor(3, handle));
    EXPECT_EQ(CountLogLines("[clientID=0]Client Leave Session"), 1u);
}

TEST_F(ClientSessionWireTest, ARegisterResponseWithoutDataKeepsTheSessionRegistering)
{
    int handle = Join();
    WireFrame request;
    ASSERT_TRUE(m_peer.ReceiveCommand(0, &request));
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(1, request.sequence, "{\"resultCode\":\"200\"}")));
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(1, request.sequence, "not json")));
    ASSERT_TRUE(WaitUntil([&] { return CountLogLines("register data is not object") == 1; }));
    ASSERT_TRUE(WaitUntil([&] { return CountLogLines("[rsp=not json]parse json failed") == 1; }));
    EXPECT_EQ(m_host->Count(5, handle), 0u);
}

TEST_F(ClientSessionWireTest, ConnectingToAClosedPortGivesEvent2)
{
    uint16_t port = m_peer.GetPort();
    m_peer.CloseListener();
    int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", port, nullptr);
    ASSERT_EQ(handle, 0);
    ASSERT_TRUE(m_host->WaitFor(2, 0));
    EXPECT_EQ(m_host->Count(1, 0), 0u);
    EXPECT_EQ(CountLogLines("[clientID=0]Client join Session failed."), 1u);
}

// A listener whose accept queue is full drops further connection attempts, so they hang until the
// connect time-out ends them.
class ClientConnectTimeoutTest : public ClientTest {
protected:
    ClientConnectTimeoutTest() : m_listener(0)
    {
        for (auto& filler : m_fillers) {
            filler.Connect(m_listener.GetPort(), 300ms);
        }
    }

    CRawServerPeer m_listener;
    CRawClientPeer m_fillers[3];
};

TEST_F(ClientConnectTimeoutTest, AnIntegerConnectTimeoutIsHonouredAndAnyOtherLeavesFiveSeconds)
{
    Clock::time_point start = Clock::now();
    ASSERT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", m_listener.GetPort(), "{\"connect-timeout\":2}"), 0);
    ASSERT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", m_listener.GetPort(), "{\"connect-timeout\":\"2\"}"), 1);
    HostEvent integer;
    HostEvent text;
    ASSERT_TRUE(m_host->WaitFor(2, 0, &integer));
    ASSERT_TRUE(m_host->WaitFor(2, 1, &text));
    EXPECT_GT(SecondsBetween(start, integer.at), 1.5);
    EXPECT_LT(SecondsBetween(start, integer.at), 4.5);
    EXPECT_GT(SecondsBetween(start, text.at), 4.0);
    EXPECT_LT(SecondsBetween(start, text.at), 8.0);
}

}  // namespace
}  // namespace pellax_test
