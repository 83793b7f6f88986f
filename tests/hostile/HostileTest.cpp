// Peers that lie, flood or starve a library server in this process, while one well-behaved library
// client keeps making synchronous round trips that must all be answered.
#include <algorithm>
#include <optional>
#include <thread>
#include <vector>

#include "server/ServerFixture.h"

namespace pellax_test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Load = std::function<void(std::atomic<bool>& stop)>;
constexpr size_t kMiB = 1024 * 1024;
#if defined(__SANITIZE_ADDRESS__)
// Freed blocks wait in the address sanitizer's quarantine, so resident memory says little there.
constexpr size_t kGrowthLimit = 512 * kMiB;
#else
constexpr size_t kGrowthLimit = 64 * kMiB;
#endif

class HostileTest : public ServerTest {
protected:
    void SetUp() override
    {
        RaiseFdLimit(4096);
        ServerTest::SetUp();
        m_host->AnswerRequests();
        ASSERT_NE(StartServer(), 0);
        ASSERT_GE(m_probe = PELLAX_CLIENT_CreateSession("127.0.0.1", m_port, nullptr), 0);
        ASSERT_TRUE(m_client->WaitFor(1, m_probe) && m_host->WaitFor(1, -1));
        m_probeId = static_cast<int>(m_host->Events(1).front().id);
        m_fdsAtStart = CountOpenFds();
    }
    // While the load runs on its own thread the probe keeps calling for a second: every call must get
    // its own answer well within its time-out, so a server held up by the load shows as too few calls.
    void ExpectServedDuring(const Load& load)
    {
        std::atomic<bool> stop{false};
        std::thread loader([&] { load(stop); });
        uint32_t calls = 0;
        size_t failures = 0;
        for (auto end = Clock::now() + 1s; Clock::now() < end; ++calls) {
            std::string body = "probe " + std::to_string(calls);
            PELLAX_Message request = MakeRecord(6000, calls, body);
            PELLAX_Message response{};
            int result = PELLAX_CLIENT_SynSend(m_probe, &request, &response, 10);
            failures += result != 0 || TakeBody(response) != "re:" + body || response.command != 6001 ||
                        response.sequence != calls;
        }
        stop = true;
        loader.join();
        EXPECT_EQ(failures, 0u);
        EXPECT_GE(calls, 10u);
    }
    // Once the hostile connections are gone: only the probe is left (its calls all went through) and no
    // descriptor leaked.
    void ExpectBackToIdle()
    {
        EXPECT_TRUE(WaitUntil([&] { return m_host->Count(1) == m_host->Count(4) + 1; }));
        EXPECT_TRUE(WaitUntil([&] { return CountOpenFds() <= m_fdsAtStart; })) << DescribeOpenFds();
    }

    int m_probe = -1;
    int m_probeId = -1;
    size_t m_fdsAtStart = 0;
};

std::vector<uint8_t> LengthPrefix(uint32_t length)
{
    std::vector<uint8_t> bytes(kWireLengthPrefix);
    StoreBigEndian(bytes.data(), length, 4);
    return bytes;
}

// Recognisable bytes: a mix-up of two bodies or entries breaks the pattern.
std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

WireFrame RequestWithExtensions(uint32_t sequence)
{
    WireFrame frame = MakeFrame(3000, sequence, "");
    frame.exts = {{7, {'m', 'e', 't', 'a'}}, {8, PatternBytes(20, 8)}};
    frame.body = PatternBytes(40, sequence);
    return frame;
}

TEST_F(HostileTest, TruncatedAndLyingFramesAreDroppedAndTheConnectionStillServesAGoodFrame)
{
    // Malformed frames inside well-formed messages: cut at every length, lying about the body, the
    // extension area (truly 8 + 4 + 8 + 20 = 40 bytes) or the first entry (at most 32 data bytes), and a
    // Register whose body is short, which is not answered either.
    const std::vector<uint8_t> whole = EncodeFrame(RequestWithExtensions(1));
    std::vector<std::vector<uint8_t>> frames;
    for (size_t length = 1; length < whole.size(); ++length) {
        frames.emplace_back(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
    }
    const std::pair<std::optional<uint32_t>, std::optional<uint16_t>> lies[] = {
        {41u, {}}, {1000u, {}}, {0x7FFFFFFFu, {}}, {0xFFFFFFFFu, {}}, {{}, 37}, {{}, 4000}, {{}, 0xFFFF}};
    for (const auto& [body, area] : lies) {
        WireFrame lying = RequestWithExtensions(2);
        std::tie(lying.bodyLengthField, lying.extLengthField) = std::tie(body, area);
        frames.push_back(EncodeFrame(lying));
    }
    WireFrame shortRegister = MakeRegister(3, "{\"pid\":1}");
    shortRegister.bodyLengthField = 500;
    frames.push_back(EncodeFrame(shortRegister));
    for (uint32_t lie : {33u, 0x10000u, 0xFFFFFFF0u}) {
        frames.push_back(whole);
        StoreBigEndian(frames.back().data() + kWireHeaderSize + 4, lie, 4);
    }
    CRawSocket liar;
    int liarId = Join(liar);
    ASSERT_GE(liarId, 0);
    ExpectServedDuring([&](std::atomic<bool>& stop) {
        for (bool sent = true; sent && !stop;) {
            for (const std::vector<uint8_t>& frame : frames) {
                sent = sent && liar.SendAll(EncodeMessage(frame));
            }
            // Messages cut short by the connection's end: the peer announced more than it sent.
            for (size_t cut : {0, 3, 100, 200}) {
                std::vector<uint8_t> message = EncodeMessage(RequestWithExtensions(5));
                message.resize(kWireLengthPrefix + cut);
                CRawSocket quitter;
                quitter.Connect(m_port);
                quitter.SendAll(message);
            }
            std::this_thread::sleep_for(5ms);
        }
    });
    EXPECT_EQ(m_host->Count(0, liarId), 0u) << "a malformed frame reached the host";
    // The first answer the liar ever gets is the one to its first good frame.
    WireFrame good = RequestWithExtensions(99);
    WireFrame answer;
    ASSERT_TRUE(liar.SendFrame(good) && liar.ReceiveFrame(&answer));
    EXPECT_EQ(std::make_tuple(answer.command, answer.sequence, answer.BodyText(), m_host->Count(0, liarId)),
              std::make_tuple(3001u, 99u, "re:" + good.BodyText(), size_t(1)));
    liar.Close();
    ExpectBackToIdle();
}

TEST_F(HostileTest, LengthPrefixesOfZeroAndOverSixtyFourMebibytesCloseOnlyThatConnection)
{
    size_t opened = 0;
    size_t closed = 0;
    ExpectServedDuring([&](std::atomic<bool>& stop) {
        const uint32_t prefixes[] = {0u, 64u * 1024u * 1024u + 1u, 0x80000000u, 0xFFFFFFFFu};
        for (size_t round = 0; !stop; ++round) {
            CRawSocket socket;
            opened += socket.Connect(m_port);
            closed += socket.IsValid() && socket.SendAll(LengthPrefix(prefixes[round % 4])) && socket.WaitClosed(5s);
        }
    });
    EXPECT_GT(opened, 0u);
    EXPECT_EQ(closed, opened) << "the server kept a connection that sent a bad length";
    ExpectBackToIdle();
}

TEST_F(HostileTest, SlowSendersAnnouncingSixtyFourMebibytesCostLittleMemoryAndBlockNobody)
{
    std::vector<CRawSocket> senders(16);
    size_t before = ResidentBytes();
    size_t peak = before;
    ExpectServedDuring([&](std::atomic<bool>& stop) {
        for (CRawSocket& sender : senders) {
            sender.Connect(m_port);
            sender.SendAll(LengthPrefix(64u * 1024u * 1024u));
        }
        for (; !stop; std::this_thread::sleep_for(20ms)) {
            for (CRawSocket& sender : senders) {
                sender.SendAll({0x01});
            }
            peak = std::max(peak, ResidentBytes());
        }
    });
    for (CRawSocket& sender : senders) {
        EXPECT_TRUE(sender.IsValid() && !sender.WaitClosed(1ms)) << "slow is no crime: they are kept, just cheaply";
    }
    EXPECT_LT(peak, before + kGrowthLimit);
    EXPECT_EQ(m_host->Count(0), m_host->Count(0, m_probeId)) << "a partial frame was handed on";
    senders.clear();
    ExpectBackToIdle();
}

TEST_F(HostileTest, AFloodOfRegisterAndKeepaliveFramesFromManyConnectionsIsAnsweredWhileOthersAreServed)
{
    constexpr size_t connections = 256;
    RaiseFdLimit(connections * 2 + 1024);
    std::vector<CRawSocket> flood(connections);
    for (CRawSocket& socket : flood) {
        ASSERT_TRUE(socket.Connect(m_port));
    }
    // The probe holds one of the 1024 ids: a full flood may see its last connection refused.
    size_t servable = std::min<size_t>(connections, 1023);
    ASSERT_TRUE(WaitUntil([&] { return m_host->Count(1) >= servable + 1; }));
    constexpr int kBurst = 4;
    std::vector<uint8_t> keepalives;
    for (int i = 0; i < kBurst; ++i) {
        std::vector<uint8_t> one = EncodeMessage(MakeKeepalive(100 + i, "{\"pid\":1,\"userdata\":{\"flood\":true}}"));
        keepalives.insert(keepalives.end(), one.begin(), one.end());
    }
    ExpectServedDuring([&](std::atomic<bool>& stop) {
        for (CRawSocket& socket : flood) {
            socket.SendFrame(MakeRegister(1, "{\"pid\":1}"));
        }
        // Every connection sends a burst, then every burst's answers are read: a thousand frames at once.
        std::vector<uint8_t> answer;
        while (!stop) {
            for (CRawSocket& socket : flood) {
                socket.SendAll(keepalives);
            }
            for (CRawSocket& socket : flood) {
                for (int k = 0; k < kBurst && socket.IsValid(); ++k) {
                    socket.ReadMessage(&answer, 5s) ? void() : socket.Close();
                }
            }
        }
    });
    EXPECT_TRUE(WaitUntil([&] { return m_host->Count(5) >= servable; })) << m_host->Count(5);
    EXPECT_GT(m_host->Count(6), servable);
    flood.clear();
    ExpectBackToIdle();
}

TEST_F(HostileTest, AClientThatNeverReadsFillsItsQueueToTheMarkThenSendsFailWhileOthersAreServed)
{
    int lazyId = Join(m_peer);
    ASSERT_GE(lazyId, 0);
    const std::string chunk(256 * 1024, 'x');
    PELLAX_Message filler = MakeRecord(7001, 0, chunk);
    // Fill its queue first (slow under sanitizers), then keep pushing while the good client is measured.
    size_t before = ResidentBytes();
    size_t peak = before;
    size_t accepted = 0;
    int last = 0;
    for (auto end = Clock::now() + 30s; last != -2 && accepted < 1024 * kMiB && Clock::now() < end;) {
        accepted += (last = PELLAX_SERVER_Send(lazyId, &filler)) == 0 ? chunk.size() : 0;
        peak = std::max(peak, ResidentBytes());
    }
    ExpectServedDuring([&](std::atomic<bool>& stop) {
        for (; !stop; std::this_thread::sleep_for(10ms)) {  // it stays refused
            last = PELLAX_SERVER_Send(lazyId, &filler);
            peak = std::max(peak, ResidentBytes());
        }
    });
    EXPECT_EQ(last, -2);
    EXPECT_GE(accepted, 8 * kMiB) << "refused below the 8 MiB mark";
    EXPECT_LT(accepted, 256 * kMiB);
    EXPECT_LT(peak, before + kGrowthLimit);
    EXPECT_TRUE(HasLogLine(4, "Send Failed."));
    // Another client still gets what the host sends it.
    PELLAX_Message message = MakeRecord(7001, 1, "for the good client");
    EXPECT_EQ(PELLAX_SERVER_Send(m_probeId, &message), 0);
    EXPECT_TRUE(WaitUntil([&] { return m_client->Count(0, m_probe) == 1; }));
    m_peer.Close();
    EXPECT_TRUE(m_host->WaitFor(4, lazyId));
    ExpectBackToIdle();
}

}  // namespace
}  // namespace pellax_test
