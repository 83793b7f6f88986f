// Keepalive silence on both sides, driven by the fake transport and the fake clock: the scans run
// when the test calls them, at the tick the test set, so the boundaries are exact and nothing sleeps.
#include <gtest/gtest.h>

#include <string>

#include "support/FakeTransport.h"
#include "support/HostRecorder.h"
#include "WireFrame.h"

namespace pellax_test {
namespace {

using pellax_fake::g_tick;
using pellax_tool::EncodeFrame;
using pellax_tool::MakeFrame;
using pellax_fake::RunOnEventThread;

constexpr uint64_t kStart = 5000000;

// Sets the clock and runs one keepalive scan of the sink at that tick (and what it posted).
void ScanAt(uint64_t tick, IOrvTimerSink* sink)
{
    g_tick = tick;
    ASSERT_NE(sink, nullptr);
    RunOnEventThread([&] { sink->OnTimer(nullptr); });
    RunOnEventThread([] {});
}

// Below 1 second, or not an integer, the defaults stand: 30 s, so silence after 60 s. Any frame counts as a
// sign of life: the second client sends one half-way through. At each boundary the scan drops nobody more,
// the one just after drops one more.
TEST(KeepaliveClock, TheServerDropsAClientJustOverTwiceTheTimeOutAfterItsLastFrame)
{
    StartLibrary();
    pellax_fake::CFakeSessionManager* fakes = pellax_fake::InstallFakeTransport();
    const std::pair<const char*, uint64_t> cases[] = {
        {"{\"keepalive-interval\":1,\"keepalive-timeout\":3}", 6000}, {"{\"keepalive-interval\":10,\"keepalive-timeout\":1}", 2000},
        {"{\"keepalive-interval\":0,\"keepalive-timeout\":0}", 60000}, {"{\"keepalive-timeout\":2.5}", 60000},
    };
    for (const auto& [options, twice] : cases) {
        SCOPED_TRACE(options);
        CHostRecorder host(CHostRecorder::kServer);
        g_tick = kStart;
        ASSERT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", 1, options), 0);
        auto* server = fakes->server.Get();
        RunOnEventThread([&] { server->Join(0), server->Join(1); });
        ASSERT_TRUE(host.WaitForCount(1, 2));
        g_tick = kStart + twice / 2;
        RunOnEventThread([&] { server->Receive(1, pellax_fake::Block(EncodeFrame(MakeFrame(2, 7, "alive")))); });
        const std::pair<uint64_t, size_t> scans[] = {{twice, 0}, {twice + 1, 1}, {twice / 2 + twice, 1}, {twice / 2 + twice + 1, 2}};
        for (const auto& [at, left] : scans) {
            ScanAt(kStart + at, server->TimerSink());
            EXPECT_TRUE(host.WaitForCount(4, left) && host.Count(4) == left) << "at " << at;
        }
        EXPECT_EQ(std::make_pair(host.Events(4).at(0).id, host.Events(4).at(1).id),
                  std::make_pair(host.Events(1)[0].id, host.Events(1)[1].id));
        ASSERT_EQ(PELLAX_SERVER_DestroySession(), 0);
    }
}

// The client takes its settings from the Register answer; invalid ones leave the 30-second default.
TEST(KeepaliveClock, TheClientReportsTheServerSilentJustOverTwiceTheTimeOutAfterItsLastFrame)
{
    StartLibrary();
    pellax_fake::CFakeSessionManager* fakes = pellax_fake::InstallFakeTransport();
    for (const char* data : {"{\"ppid\":1,\"keepalive-interval\":1,\"keepalive-timeout\":3}",
                             "{\"keepalive-interval\":0,\"keepalive-timeout\":0}",
                             "{\"keepalive-interval\":\"1\",\"keepalive-timeout\":\"1\"}",
                             "{\"keepalive-interval\":-3,\"keepalive-timeout\":-1}"}) {
        SCOPED_TRACE(data);
        uint64_t twice = data[3] == 'p' ? 6000 : 60000;
        size_t logged = CountLogLines("Long time no get heartbeat from server.");
        CHostRecorder host(CHostRecorder::kClient);
        g_tick = kStart;
        int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", 1, nullptr);
        ASSERT_GE(handle, 0);
        auto* client = fakes->client.Get();
        RunOnEventThread([&] { client->Join(0); });
        ASSERT_TRUE(host.WaitFor(1, handle));
        // Unanswered, Register goes out at every tick, each time under a fresh sequence.
        std::vector<std::pair<uint32_t, uint32_t>> sent;
        pellax_fake::g_answer = [&](const COrvMessageBlock&, const auto& header) {
            sent.emplace_back(header->GetCommand(), header->GetSequence());
            return std::vector<MessageBlockPtr>();
        };
        ScanAt(kStart, client->TimerSink());
        ScanAt(kStart, client->TimerSink());
        pellax_fake::g_answer = nullptr;
        ASSERT_EQ(sent.size(), 2u);
        EXPECT_TRUE(sent[0].first == 0 && sent[1].first == 0 && sent[0].second != sent[1].second);
        std::string answer = std::string("{\"resultCode\":\"200\",\"message\":\"OK\",\"data\":") + data + "}";
        RunOnEventThread([&] { client->Receive(pellax_fake::Block(EncodeFrame(MakeFrame(1, 1, answer)))); });
        ASSERT_TRUE(host.WaitFor(5, handle));
        g_tick = kStart + 1000;
        RunOnEventThread([&] { client->Receive(pellax_fake::Block(EncodeFrame(MakeFrame(2, 7, "alive")))); });
        ScanAt(kStart + 1000 + twice, client->TimerSink());
        EXPECT_EQ(host.Count(4, handle), 0u);
        ScanAt(kStart + 1000 + twice + 1, client->TimerSink());
        ASSERT_TRUE(host.WaitFor(4, handle));
        EXPECT_EQ(CountLogLines("Long time no get heartbeat from server."), logged + 1);
        EXPECT_EQ(host.Count(3, handle), 0u) << "the connection is left to the host";
        ASSERT_EQ(PELLAX_CLIENT_DestroySession(handle), 0);
    }
}

}  // namespace
}  // namespace pellax_test
