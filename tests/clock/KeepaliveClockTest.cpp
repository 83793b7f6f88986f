// Keepalive silence on both sides, driven by the fake transport and the fake clock: the scans run
// when the test calls them, at the tick the test set, so the boundaries are exact and nothing sleeps.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/FakeTransport.h"
#include "support/HostRecorder.h"
#include "support/WireFrame.h"

namespace pellax_test {
namespace {

using pellax_fake::g_tick;
using pellax_fake::RunOnEventThread;

constexpr uint64_t kStart = 5000000;

MessageBlockPtr Block(const WireFrame& frame)
{
    std::vector<uint8_t> bytes = EncodeFrame(frame);
    return COrvMessageBlock::Create(bytes.data(), bytes.size());
}

// Sets the clock and runs one keepalive scan of the sink at that tick (and what it posted).
void ScanAt(uint64_t tick, IOrvTimerSink* sink)
{
    g_tick = tick;
    ASSERT_NE(sink, nullptr);
    RunOnEventThread([&] { sink->OnTimer(nullptr); });
    RunOnEventThread([] {});
}

class KeepaliveClock : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartLibrary();
        m_fakes = pellax_fake::InstallFakeTransport();
    }
    void TearDown() override { PELLAX_SERVER_DestroySession(); }

    pellax_fake::CFakeSessionManager* m_fakes = nullptr;
    std::unique_ptr<CHostRecorder> m_host;
};

// Below 1 second, or not an integer, the defaults stand: 30 s, so silence after 60 s.
TEST_F(KeepaliveClock, TheServerDropsAClientJustOverTwiceTheTimeOutAfterItsLastFrame)
{
    const struct {
        const char* options;
        uint64_t twice;
    } cases[] = {
        {"{\"keepalive-interval\":1,\"keepalive-timeout\":3}", 6000}, {"{\"keepalive-interval\":10,\"keepalive-timeout\":1}", 2000},
        {"{\"keepalive-interval\":0,\"keepalive-timeout\":0}", 60000}, {"{\"keepalive-timeout\":-3}", 60000},
        {"{\"keepalive-timeout\":2.5}", 60000}, {"{\"keepalive-timeout\":\"10\"}", 60000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        m_host.reset();  // before the next one installs its callback
        m_host = std::make_unique<CHostRecorder>(CHostRecorder::kServer);
        g_tick = kStart;
        ASSERT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", 1, c.options), 0);
        auto* server = m_fakes->server.Get();
        RunOnEventThread([&] {
            server->Join(0);
            server->Join(1);
        });
        ASSERT_TRUE(m_host->WaitForCount(1, 2));
        unsigned int quiet = m_host->Events(1)[0].id;
        unsigned int talker = m_host->Events(1)[1].id;
        // Any frame counts as a sign of life: a data frame from the talker half-way through.
        g_tick = kStart + c.twice / 2;
        RunOnEventThread([&] { server->Receive(1, Block(MakeFrame(2, 7, "alive"))); });
        // Each boundary: the scan at it drops nobody more, the one just after drops one more.
        const struct {
            uint64_t at;
            size_t left;
        } scans[] = {{c.twice, 0}, {c.twice + 1, 1}, {c.twice / 2 + c.twice, 1}, {c.twice / 2 + c.twice + 1, 2}};
        for (const auto& scan : scans) {
            ScanAt(kStart + scan.at, server->TimerSink());
            ASSERT_TRUE(m_host->WaitForCount(4, scan.left));
            EXPECT_EQ(m_host->Count(4), scan.left) << "at " << scan.at;
        }
        EXPECT_EQ(m_host->Events(4)[0].id, quiet);
        EXPECT_EQ(m_host->Events(4)[1].id, talker);
        ASSERT_EQ(PELLAX_SERVER_DestroySession(), 0);
    }
}

// The client takes its settings from the Register answer; invalid ones leave the 30-second default.
TEST_F(KeepaliveClock, TheClientReportsTheServerSilentJustOverTwiceTheTimeOutAfterItsLastFrame)
{
    const struct {
        const char* data;
        uint64_t twice;
    } cases[] = {
        {"{\"ppid\":1,\"keepalive-interval\":1,\"keepalive-timeout\":3}", 6000}, {"{\"keepalive-interval\":0,\"keepalive-timeout\":0}", 60000},
        {"{\"keepalive-interval\":\"1\",\"keepalive-timeout\":\"1\"}", 60000}, {"{\"keepalive-interval\":-3,\"keepalive-timeout\":-1}", 60000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data);
        size_t logged = CountLogLines("Long time no get heartbeat from server.");
        m_host.reset();
        m_host = std::make_unique<CHostRecorder>(CHostRecorder::kClient);
        g_tick = kStart;
        int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", 1, nullptr);
        ASSERT_GE(handle, 0);
        auto* client = m_fakes->client.Get();
        RunOnEventThread([&] { client->Join(0); });
        ASSERT_TRUE(m_host->WaitFor(1, handle));
        // Unanswered, Register goes out at every tick, each time under a fresh sequence.
        ScanAt(kStart, client->TimerSink());
        ScanAt(kStart, client->TimerSink());
        std::vector<WireFrame> sent(2);
        std::vector<MessageBlockPtr> frames = client->Sent();
        ASSERT_GE(frames.size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            ASSERT_TRUE(DecodeFrame(frames[frames.size() - 2 + i]->GetReadPtr(), frames[frames.size() - 2 + i]->GetLength(), &sent[i]));
            EXPECT_EQ(sent[i].command, 0u);
        }
        EXPECT_NE(sent[0].sequence, sent[1].sequence);
        std::string answer = std::string("{\"resultCode\":\"200\",\"message\":\"OK\",\"data\":") + c.data + "}";
        RunOnEventThread([&] { client->Receive(Block(MakeFrame(1, 1, answer))); });
        ASSERT_TRUE(m_host->WaitFor(5, handle));
        g_tick = kStart + 1000;
        RunOnEventThread([&] { client->Receive(Block(MakeFrame(2, 7, "alive"))); });

        ScanAt(kStart + 1000 + c.twice, client->TimerSink());
        EXPECT_EQ(m_host->Count(4, handle), 0u);
        ScanAt(kStart + 1000 + c.twice + 1, client->TimerSink());
        ASSERT_TRUE(m_host->WaitFor(4, handle));
        EXPECT_EQ(CountLogLines("Long time no get heartbeat from server."), logged + 1);
        // The connection is left to the host.
        EXPECT_EQ(m_host->Count(3, handle), 0u);
        ASSERT_EQ(PELLAX_CLIENT_DestroySession(handle), 0);
    }
}

}  // namespace
}  // namespace pellax_test
