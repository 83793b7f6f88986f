// Peers that try to exhaust the server: slow senders, control floods, a client that never reads.
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "HostileFixture.h"
#include "support/RawClientPeer.h"
#include "support/RawSocket.h"
#include "support/WireFrame.h"

namespace pellax_test {
namespace {

using namespace std::chrono_literals;
constexpr size_t kMiB = 1024 * 1024;
#if defined(__SANITIZE_ADDRESS__)
// Freed blocks wait in the address sanitizer's quarantine, so resident memory says little there.
constexpr size_t kGrowthLimit = 512 * kMiB;
#else
constexpr size_t kGrowthLimit = 64 * kMiB;
#endif

// PELLAX_FLOOD_CONNECTIONS (default 256; the soak run uses 1024).
size_t FloodConnections()
{
    const char* text = std::getenv("PELLAX_FLOOD_CONNECTIONS");
    int count = text != nullptr ? std::atoi(text) : 0;
    return count > 0 ? static_cast<size_t>(count) : 256;
}

TEST_F(HostileTest, SlowSendersAnnouncingSixtyFourMebibytesCostLittleMemoryAndBlockNobody)
{
    constexpr size_t kSenders = 16;
    size_t before = 0;
    size_t peak = 0;
    size_t stillOpen = 0;
    ExpectServedDuring("slow senders (16 x 64 MiB announced)", [&](std::atomic<bool>& stop) {
        std::vector<CRawSocket> senders;
        for (size_t i = 0; i < kSenders; ++i) {
            senders.push_back(CRawSocket::Connect(m_nPort));
            senders.back().SendAll(BigEndianLength(64u * 1024u * 1024u));
        }
        before = ResidentBytes();
        std::vector<uint8_t> byte{0x01};
        while (!stop) {
            for (CRawSocket& sender : senders) {
                sender.SendAll(byte);
            }
            peak = std::max(peak, ResidentBytes());
            std::this_thread::sleep_for(20ms);
        }
        for (CRawSocket& sender : senders) {
            stillOpen += sender.IsValid() && !sender.WaitClosed(std::chrono::milliseconds(1)) ? 1 : 0;
        }
    });
    std::printf("[ figures ] slow senders: resident %.1f MiB before, peak %.1f MiB (growth %.2f MiB)\n",
                double(before) / kMiB, double(peak) / kMiB, double(peak > before ? peak - before : 0) / kMiB);
    EXPECT_EQ(stillOpen, kSenders);  // slow is no crime: they are kept, just cheaply
    EXPECT_LT(peak, before + kGrowthLimit);
    int probeId = static_cast<int>(m_server->Events(1).front().id);
    EXPECT_EQ(m_server->Count(0), m_server->Count(0, probeId));  // no partial frame was handed on
    ExpectBackToIdle();
}

TEST_F(HostileTest, AFloodOfRegisterAndKeepaliveFramesFromManyConnectionsIsAnsweredWhileOthersAreServed)
{
    size_t connections = FloodConnections();
    RaiseFdLimit(connections * 2 + 1024);
    std::vector<CRawSocket> flood;
    for (size_t i = 0; i < connections; ++i) {
        flood.push_back(CRawSocket::Connect(m_nPort));
        ASSERT_TRUE(flood.back().IsValid()) << "connection " << i;
    }
    // The probe client holds one of the 1024 ids: a full flood may see its last connection refused.
    size_t servable = std::min<size_t>(connections, 1023);
    ASSERT_TRUE(WaitUntil([&] { return m_server->Count(1) >= servable + 1; }));
    std::vector<uint8_t> keepalives;
    constexpr int kBurst = 4;
    for (int i = 0; i < kBurst; ++i) {
        std::vector<uint8_t> one = EncodeMessage(MakeKeepalive(100 + i, "{\"pid\":1,\"userdata\":{\"flood\":true}}"));
        keepalives.insert(keepalives.end(), one.begin(), one.end());
    }
    std::vector<uint8_t> registration = EncodeMessage(MakeRegister(1, "{\"pid\":1}"));

    ExpectServedDuring("register and keepalive flood", [&](std::atomic<bool>& stop) {
        std::vector<std::thread> workers;
        constexpr size_t kWorkers = 4;
        for (size_t w = 0; w < kWorkers; ++w) {
            workers.emplace_back([&, w] {
                std::vector<uint8_t> answer;
                for (size_t i = w; i < flood.size(); i += kWorkers) {
                    flood[i].SendAll(registration);
                }
                // Each connection sends its next burst as soon as the last one was answered.
                while (!stop) {
                    for (size_t i = w; i < flood.size() && !stop; i += kWorkers) {
                        if (!flood[i].IsValid() || !flood[i].SendAll(keepalives)) {
                            continue;
                        }
                        for (int k = 0; k < kBurst; ++k) {
                            if (!flood[i].ReadMessage(&answer, 5s)) {
                                flood[i].Close();
                                break;
                            }
                        }
                    }
                }
            });
        }
        for (std::thread& worker : workers) {
            worker.join();
        }
    });
    EXPECT_TRUE(WaitUntil([&] { return m_server->Count(5) >= servable; })) << m_server->Count(5);
    std::printf("[ figures ] flood: %zu connections, %zu registrations and %zu keepalives reported\n", connections,
                m_server->Count(5), m_server->Count(6));
    EXPECT_GT(m_server->Count(6), servable);
    flood.clear();
    ExpectBackToIdle();
}

TEST_F(HostileTest, AClientThatNeverReadsFillsItsQueueToTheMarkThenSendsFailWhileOthersAreServed)
{
    int probeId = static_cast<int>(m_server->Events(1).front().id);
    CRawClientPeer lazy;
    ASSERT_TRUE(lazy.Connect(m_nPort));
    ASSERT_TRUE(WaitUntil([&] { return m_server->Count(1) == 2; }));
    int lazyId = static_cast<int>(m_server->Events(1).back().id);
    constexpr size_t kChunk = 256 * 1024;
    std::string chunk(kChunk, 'x');

    size_t before = 0;
    size_t peak = 0;
    size_t accepted = 0;
    int last = 0;
    double slowestRefusalMs = 0;
    // Fill its queue first (slow under sanitizers), then keep pushing while the good client is measured.
    before = ResidentBytes();
    PELLAX_Message filler = MakeRecord(7001, 0, chunk);
    auto fillEnd = std::chrono::steady_clock::now() + 30s;
    while (last != -2 && accepted < 1024 * kMiB && std::chrono::steady_clock::now() < fillEnd) {
        last = PELLAX_SERVER_Send(static_cast<unsigned int>(lazyId), &filler);
        accepted += last == 0 ? kChunk : 0;
        peak = std::max(peak, ResidentBytes());
    }
    ExpectServedDuring("never-reading client", [&](std::atomic<bool>& stop) {
        PELLAX_Message message = MakeRecord(7001, 0, chunk);
        while (!stop) {  // it stays refused, and refusing is quick
            auto start = std::chrono::steady_clock::now();
            last = PELLAX_SERVER_Send(static_cast<unsigned int>(lazyId), &message);
            slowestRefusalMs = std::max(slowestRefusalMs, std::chrono::duration<double, std::milli>(
                                                              std::chrono::steady_clock::now() - start).count());
            peak = std::max(peak, ResidentBytes());
            std::this_thread::sleep_for(10ms);
        }
    });
    std::printf("[ figures ] never-reading client: %.1f MiB accepted before -2, resident %.1f MiB before, peak %.1f "
                "MiB (growth %.2f MiB), slowest refusal %.2f ms\n",
                double(accepted) / kMiB, double(before) / kMiB, double(peak) / kMiB,
                double(peak > before ? peak - before : 0) / kMiB, slowestRefusalMs);
    EXPECT_EQ(last, -2);
    EXPECT_GE(accepted, 8 * kMiB) << "refused below the 8 MiB mark";
    EXPECT_LT(accepted, 256 * kMiB);
    EXPECT_LT(peak, before + kGrowthLimit);
    EXPECT_LT(slowestRefusalMs, 1000.0);
    EXPECT_TRUE(HasLogLine(4, "Send Failed."));

    // Another client still gets what the host sends it.
    std::string note = "for the good client";
    PELLAX_Message message = MakeRecord(7001, 1, note);
    EXPECT_EQ(PELLAX_SERVER_Send(static_cast<unsigned int>(probeId), &message), 0);
    EXPECT_TRUE(WaitUntil([&] { return m_client->Count(0, m_nProbe) == 1; }));
    lazy.Close();
    EXPECT_TRUE(m_server->WaitFor(4, lazyId));
    ExpectBackToIdle();
}

}  // namespace
}  // namespace pellax_test
