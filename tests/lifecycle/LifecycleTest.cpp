// Closing sessions and the edges of the C interface, both sides of the library in one process on a
// fixed free port: destroys free the port before they return, frames accepted before a close all
// arrive, concurrent and cross-thread destroys, hostile option texts, empty and boundary-sized answers.
#include <thread>
#include <vector>

#include "server/ServerFixture.h"

namespace pellax_test {
namespace {

using namespace std::chrono_literals;

class LifecycleTest : public ServerTest {
protected:
    void SetUp() override
    {
        ServerTest::SetUp();
        ASSERT_NE(m_port = PickFreePort(), 0);
    }
    // Sends 64 KiB frames until the queue mark refuses them: the peer never reads.
    static bool FillQueue(const std::function<int(PELLAX_Message*)>& send)
    {
        const std::string body(64 * 1024, 'q');
        PELLAX_Message message = MakeRecord(401, 1, body);
        int sent = 0;
        while (sent < 1000 && send(&message) == 0) {
            ++sent;
        }
        return sent < 1000;
    }
};
using CloseTest = LifecycleTest;

TEST_F(CloseTest, ACreateRacingADestroyEitherWinsOrFailsAndLeavesNothingListening)
{
    for (int round = 0; round < 200; ++round) {
        std::atomic<int> ready{0};
        auto start = [&ready] {
            for (ready.fetch_add(1); ready.load() < 2;) {
            }
        };
        int created = 1;
        std::thread creator([&] { start(); created = PELLAX_SERVER_CreateSession("127.0.0.1", m_port, nullptr); });
        start();
        int destroyed = PELLAX_SERVER_DestroySession();
        creator.join();
        ASSERT_TRUE(created == 0 || created == -1) << created;
        // A create that lost its session to the destroy says so; one that won is destroyed here.
        ASSERT_TRUE(created != 0 || destroyed == 0 || PELLAX_SERVER_DestroySession() == 0);
        ASSERT_FALSE(IsListening(m_port)) << "round " << round << ": " << created << ", " << destroyed;
    }
    ASSERT_EQ(StartServer(nullptr, m_port), m_port);
    EXPECT_GE(Register(), 0) << "the port serves again";
    // The destroy closes the connection first, which leaves it waiting out its close on this port.
    ASSERT_EQ(PELLAX_SERVER_DestroySession(), 0);
    EXPECT_EQ(StartServer(nullptr, m_port), m_port) << "a port that had a connection is free again at once";
}

TEST_F(CloseTest, FramesSentJustBeforeADestroyAllArriveInOrderBothWays)
{
    constexpr uint32_t kFrames = 1000;
    // Small frames share queued runs and larger ones queue alone: sizes on both sides of the 2 KiB
    // frame (header included) that still shares, and ones the sender writes itself.
    const size_t kSizes[] = {1, 64, 2048 - 156, 2049 - 156, 4096, 20000, 700};
    auto body = [&kSizes](uint32_t i) { return std::string(kSizes[i % 7], char('a' + i % 26)); };
    // The receiving host is busy with the first frame while the sender queues the rest and closes.
    auto busyOnFirst = [](const HostEvent& event) {
        std::this_thread::sleep_for(event.type == 0 && event.sequence == 0 ? 300ms : 0ms);
    };
    m_host->SetHook(busyOnFirst);
    m_client->SetHook(busyOnFirst);
    ASSERT_EQ(StartServer(nullptr, m_port), m_port);
    for (bool fromClient : {true, false}) {
        int handle = Register();
        unsigned int id = m_registeredId;
        ASSERT_GE(handle, 0);
        for (uint32_t i = 0; i < kFrames; ++i) {
            const std::string bytes = body(i);
            PELLAX_Message message = MakeRecord(201, i, bytes);
            ASSERT_EQ(fromClient ? PELLAX_CLIENT_Send(handle, &message) : PELLAX_SERVER_Send(id, &message), 0) << i;
        }
        ASSERT_EQ(fromClient ? PELLAX_CLIENT_DestroySession(handle) : PELLAX_SERVER_DestroyClientSession(id), 0);
        CHostRecorder& receiver = fromClient ? *m_host : *m_client;
        ASSERT_TRUE(receiver.WaitForCount(0, kFrames, -1, 20s)) << receiver.Count(0) << " of " << kFrames;
        std::vector<HostEvent> frames = receiver.Events(0);
        ASSERT_EQ(frames.size(), size_t(kFrames));
        for (uint32_t i = 0; i < kFrames; ++i) {
            ASSERT_EQ(std::tie(frames[i].sequence, frames[i].data), std::make_tuple(i, body(i))) << i;
        }
    }
}

// Far more than the socket takes at once: the sender writes part of it straight from the host's
// bytes, and the rest follows from a copy.
TEST_F(CloseTest, AFrameLargerThanTheSocketTakesAtOnceArrivesWhole)
{
    ASSERT_EQ(StartServer(nullptr, m_port), m_port);
    int handle = Register();
    ASSERT_GE(handle, 0);
    std::string big(12 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = char(i * 7 % 251);
    }
    PELLAX_Message message = MakeRecord(201, 0, big);
    ASSERT_EQ(PELLAX_CLIENT_Send(handle, &message), 0);
    ASSERT_TRUE(m_host->WaitForCount(0, 1, -1, 20s));
    EXPECT_TRUE(m_host->Events(0)[0].data == big);
}

// Peers that never read: a server's destroy waits for its peer no longer than the linger, and an
// Uninit waits for four client sessions' peers no longer than one.
TEST_F(CloseTest, UninitDrainsEverySessionAtOnceSoPeersThatNeverReadCostOneLinger)
{
    ASSERT_EQ(StartServer(nullptr, m_port), m_port);
    int id = Join(m_peer);
    ASSERT_TRUE(id >= 0 && FillQueue([id](PELLAX_Message* message) { return PELLAX_SERVER_Send(id, message); }));
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(PELLAX_SERVER_DestroySession(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);
    EXPECT_TRUE(HasLogLine(4, "did not read within the linger") && !IsListening(m_port));
    uint16_t port = 0;
    CRawSocket listener = CRawSocket::Listen(4, &port);
    std::vector<CRawSocket> peers;
    for (int i = 0; i < 4; ++i) {
        int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", port, nullptr);
        ASSERT_GE(handle, 0);
        peers.push_back(listener.Accept());
        ASSERT_TRUE(m_client->WaitFor(1, handle));
        ASSERT_TRUE(FillQueue([handle](PELLAX_Message* message) { return PELLAX_CLIENT_Send(handle, message); }));
    }
    start = std::chrono::steady_clock::now();
    PELLAX_Uninit();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 6s) << "one linger for all, not one after another";
    EXPECT_EQ(CountLogLines("did not read within the linger"), 5u);
}

using EdgeTest = LifecycleTest;

TEST_F(EdgeTest, OfTwoConcurrentDestroysOfOneHandleExactlyOneSucceedsAndDeeplyNestedOptionsTakeNothing)
{
    ASSERT_EQ(StartServer(nullptr, m_port), m_port);
    int handle = -1;
    for (int round = 0; round < 50; ++round) {
        ASSERT_GE(handle = PELLAX_CLIENT_CreateSession("127.0.0.1", m_port, nullptr), 0);
        std::atomic<int> other{1};
        std::thread destroyer([&] { other = PELLAX_CLIENT_DestroySession(handle); });
        int own = PELLAX_CLIENT_DestroySession(handle);
        destroyer.join();
        EXPECT_EQ(own + other, -4) << "one 0 and one -4 in round " << round;
    }
    const std::string deep(2000000, '[');
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", m_port, deep.c_str()), -4);
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", m_port, nullptr), handle) << "no slot was taken";
    ASSERT_EQ(PELLAX_SERVER_DestroySession(), 0);
    EXPECT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", m_port, deep.c_str()), -4);
    EXPECT_FALSE(IsListening(m_port));
}

TEST_F(EdgeTest, TwoCallbacksOnDifferentThreadsMayDestroyEachOthersSessions)
{
    ASSERT_EQ(StartServer(nullptr, m_port), m_port);
    int first = PELLAX_CLIENT_CreateSession("127.0.0.1", m_port, nullptr);
    int second = PELLAX_CLIENT_CreateSession("127.0.0.1", m_port, nullptr);
    ASSERT_TRUE(first >= 0 && second >= 0 && m_client->WaitForCount(5, 2));
    // Consecutive sessions take different library threads; each callback waits for the other's
    // before destroying the other session, so both destroys run at once.
    std::atomic<int> inside{0};
    std::atomic<int> done{0};
    m_client->SetHook([&](const HostEvent& event) {
        if (event.type == 0) {
            inside.fetch_add(1);
            WaitUntil([&] { return inside.load() >= 2; }, 2s);
            PELLAX_CLIENT_DestroySession(event.id == static_cast<unsigned int>(first) ? second : first);
            done.fetch_add(1);
        }
    });
    for (const HostEvent& joined : m_host->Events(1)) {
        PELLAX_Message message = MakeRecord(501, 1, "go");
        PELLAX_SERVER_Send(joined.id, &message);
    }
    EXPECT_TRUE(WaitUntil([&] { return done.load() == 2; }, 10s)) << "the destroys wait on each other";
    EXPECT_EQ(std::make_tuple(PELLAX_CLIENT_DestroySession(first), PELLAX_CLIENT_DestroySession(second)), std::make_tuple(-4, -4));
}

// Both directions, each answered by the other side's host with the body, or nothing when asked "empty".
TEST_F(EdgeTest, SynchronousAnswersEmptyOrAtBufferBoundarySizesArriveBothWaysFarWithinTheirTimeOut)
{
    const auto answer = [](unsigned int, const std::string& body) { return body == "empty" ? std::string() : body; };
    m_host->AnswerRequests(answer);
    m_client->AnswerRequests(answer);
    int handle = -1;
    ASSERT_TRUE(StartServer(nullptr, m_port) == m_port && (handle = Register()) >= 0);
    g_allocations = 0;
    // No data and no allocation for an empty answer; 64 B, a page, frames that end exactly on the 8 KiB
    // and 64 KiB read buffers, and 64 KiB.
    for (size_t size : {0, 64, 4096, 8192 - 160, 65536 - 160, 65536}) {
        const std::string body = size == 0 ? "empty" : std::string(size, 's');
        for (int call = 0; call < (size == 0 ? 4 : 200); ++call) {
            PELLAX_Message request = MakeRecord(600, 0, body);
            PELLAX_Message response = MakeRecord(0, 0, nullptr);
            response.allocator = size == 0 && call < 2 ? &CountingAllocator : nullptr;
            auto sent = std::chrono::steady_clock::now();
            ASSERT_EQ(call % 2 == 0 ? PELLAX_CLIENT_SynSend(handle, &request, &response, 5)
                                    : PELLAX_SERVER_SynSend(m_registeredId, &request, &response, 5), 0) << size << ", " << call;
            ASSERT_LT(std::chrono::steady_clock::now() - sent, 2s) << size << " bytes, call " << call << " stalled";
            EXPECT_EQ(std::make_tuple(response.dataLength == 0, response.data == nullptr), std::make_tuple(size == 0, size == 0));
            EXPECT_EQ(TakeBody(response).size(), size);
        }
    }
    EXPECT_EQ(g_allocations.load(), 0);
}

TEST_F(EdgeTest, AClientWhoseConnectionEndedSendsNoMoreKeepalives)
{
    ASSERT_EQ(StartServer("{\"keepalive-interval\":1}", m_port), m_port);
    int handle = Register();
    ASSERT_GE(handle, 0);
    ASSERT_EQ(PELLAX_SERVER_DestroyClientSession(m_host->Events(1).back().id), 0);
    ASSERT_TRUE(m_client->WaitFor(3, handle));
    std::this_thread::sleep_for(2500ms);  // two and a half keepalive periods
    EXPECT_EQ(CountLogLines("Send Heartbeat failed"), 0u);
}

}  // namespace
}  // namespace pellax_test
