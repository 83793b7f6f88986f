// The transport against plain blocking sockets doing the same framing, over loopback.
//
// Round trip: one side sends a message, the other echoes it, the first sends the next one as soon
// as the echo is in (for the transport from inside the receive callbacks). Streaming: one side sends
// 64-byte messages as fast as it can, the other counts them. Each figure is the median of several
// runs and is printed with its ratio to the plain-socket figure.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "platform/OrvLockEvent.h"
#include "platform/OrvSession.h"

using namespace pellax_bench;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRuns = 5;
constexpr int kRoundTrips = 10000;
constexpr int kStreamMessages = 400000;

double Seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double PlainRoundTrip(size_t size)
{
    CPlainEcho echo;
    int fd = echo.Connect();
    std::vector<uint8_t> ping = Framed(size);
    std::vector<uint8_t> reply;
    Clock::time_point start = Clock::now();
    for (int i = 0; i < kRoundTrips; ++i) {
        WriteAll(fd, ping.data(), ping.size());
        ReadMessage(fd, reply);
    }
    double seconds = Seconds(start);
    ::close(fd);
    return seconds / kRoundTrips * 1e6;
}

// Counts whole messages in what arrives, parsing the prefixes out of large reads.
void CountMessages(int fd, int expected)
{
    std::vector<uint8_t> chunk(64 * 1024);
    size_t have = 0;
    for (int messages = 0; messages < expected;) {
        ssize_t got = ::recv(fd, chunk.data() + have, chunk.size() - have, 0);
        if (got <= 0) {
            return;
        }
        have += static_cast<size_t>(got);
        size_t at = 0;
        while (have - at >= 4) {
            size_t length = (size_t(chunk[at]) << 24) | (size_t(chunk[at + 1]) << 16) | (size_t(chunk[at + 2]) << 8) |
                            chunk[at + 3];
            if (have - at < 4 + length) {
                break;
            }
            at += 4 + length;
            ++messages;
        }
        std::copy(chunk.begin() + static_cast<std::ptrdiff_t>(at),
                  chunk.begin() + static_cast<std::ptrdiff_t>(have), chunk.begin());
        have -= at;
    }
}

double PlainStream()
{
    uint16_t port = 0;
    int listener = Listen(&port);
    int client = ConnectTo(port);
    int server = ::accept(listener, nullptr, nullptr);
    Clock::time_point start = Clock::now();
    std::thread receiver(CountMessages, server, kStreamMessages);
    std::vector<uint8_t> message = Framed(64);
    for (int i = 0; i < kStreamMessages; ++i) {
        WriteAll(client, message.data(), message.size());
    }
    receiver.join();
    double rate = kStreamMessages / Seconds(start);
    for (int fd : {client, server, listener}) {
        ::close(fd);
    }
    return rate;
}

class CEchoServer : public IOrvServerSessionSink {
public:
    void OnJoin(IOrvServerSession* server, CRefPtr<IOrvID>& client) override { server->Accept(client.Get(), 0); }
    void OnLeave(IOrvServerSession*, IOrvID*, uint32_t) override {}
    void OnCanSendAgain(IOrvServerSession*, IOrvID*, uint32_t) override {}
    void OnReceive(IOrvServerSession* server, IOrvID* client, COrvMessageBlock* frame) override
    {
        if (m_bEcho) {
            server->Send(client, frame);
        } else if (++m_nReceived == m_nExpected) {
            m_done.Signal();
        }
    }

    bool m_bEcho = true;
    int m_nExpected = 0;
    std::atomic<int> m_nReceived{0};
    COrvLockEvent m_done{0, 0};  // auto-reset: each wait takes one signal
};

class CPingClient : public IOrvClientSessionSink {
public:
    void OnJoin(IOrvClientSession*, uint32_t) override { m_joined.Signal(); }
    void OnLeave(IOrvClientSession*, uint32_t) override {}
    void OnCanSendAgain(IOrvClientSession*, uint32_t) override { m_room.Signal(); }
    void OnReceive(IOrvClientSession* session, COrvMessageBlock* frame) override
    {
        if (++m_nEchoes == kRoundTrips) {
            m_done.Signal();
            return;
        }
        session->Send(0, frame);
    }

    std::atomic<int> m_nEchoes{0};
    COrvLockEvent m_joined{0, 0};  // auto-reset: each wait takes one signal
    COrvLockEvent m_room{0, 0};
    COrvLockEvent m_done{0, 0};
};

struct TransportPair {
    CEchoServer server;
    CPingClient client;
    CRefPtr<IOrvServerSession> serverSession;
    CRefPtr<IOrvClientSession> clientSession;

    TransportPair()
    {
        IOrvSessionManager::Instance()->CreateServerSession(ORV_SESSION_TYPE_TCP, serverSession);
        serverSession->Open(&server, COrvInetAddress("127.0.0.1", 0));
        IOrvSessionManager::Instance()->CreateClientSession(ORV_SESSION_TYPE_TCP, clientSession);
        clientSession->Connect(&client, COrvInetAddress("127.0.0.1", serverSession->GetListenPort()),
                               COrvTimeValue(5, 0), nullptr);
        client.m_joined.Wait();
    }
    ~TransportPair()
    {
        clientSession->Close(0);
        serverSession->Close(0);
    }
};

double TransportRoundTrip(size_t size)
{
    TransportPair pair;
    std::vector<uint8_t> body(size, 0x5a);
    CRefPtr<COrvMessageBlock> ping = COrvMessageBlock::Create(body.data(), body.size());
    Clock::time_point start = Clock::now();
    pair.clientSession->Send(0, ping.Get());
    pair.client.m_done.Wait();
    return Seconds(start) / kRoundTrips * 1e6;
}

double TransportStream()
{
    TransportPair pair;
    pair.server.m_bEcho = false;
    pair.server.m_nExpected = kStreamMessages;
    std::vector<uint8_t> body(64, 0x5a);
    Clock::time_point start = Clock::now();
    for (int i = 0; i < kStreamMessages; ++i) {
        CRefPtr<COrvMessageBlock> message = COrvMessageBlock::Create(body.data(), body.size());
        while (pair.clientSession->Send(0, message.Get()) != 0) {
            pair.client.m_room.Wait();  // above the high-water mark: wait for the drain
        }
    }
    pair.server.m_done.Wait();
    return kStreamMessages / Seconds(start);
}

void Report(const char* name, const char* unit, const std::function<double()>& transport,
            const std::function<double()>& plain)
{
    std::vector<double> ours;
    std::vector<double> theirs;
    for (int run = 0; run < kRuns; ++run) {
        ours.push_back(transport());
        theirs.push_back(plain());
    }
    double a = Median(ours);
    double b = Median(theirs);
    std::printf("%-26s transport %12.2f %-9s plain socket %12.2f %-9s ratio %.2f\n", name, a, unit, b, unit, a / b);
}

}  // namespace

int main()
{
    if (InitializeSessionEx(0, 10) != 0) {
        std::fprintf(stderr, "transport did not start\n");
        return 1;
    }
    std::printf("medians of %d runs; round trips %d per run, streaming %d messages per run\n", kRuns, kRoundTrips,
                kStreamMessages);
    Report("round trip 64 B", "us", [] { return TransportRoundTrip(64); }, [] { return PlainRoundTrip(64); });
    Report("round trip 4 KiB", "us", [] { return TransportRoundTrip(4096); }, [] { return PlainRoundTrip(4096); });
    Report("stream 64 B", "msg/s", [] { return TransportStream(); }, [] { return PlainStream(); });
    UnInitializeSession();
    return 0;
}
