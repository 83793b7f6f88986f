// The transport against plain blocking sockets doing the same framing, over loopback.
//
// Round trip: one side sends a message, the other echoes it, the first sends the next one as soon
// as the echo is in (for the transport from inside the receive callbacks). Streaming: one side sends
// 64-byte messages as fast as it can, the other counts them. Each figure is the median of several
// runs and is printed with its ratio to the plain-socket figure.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/OrvSession.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRuns = 5;
constexpr int kRoundTrips = 10000;
constexpr int kStreamMessages = 400000;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A waitable flag for the benchmark's main thread.
class CDone {
public:
    void Set()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bDone = true;
        m_condition.notify_all();
    }
    void Wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_condition.wait(lock, [this] { return m_bDone; });
        m_bDone = false;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_condition;
    bool m_bDone = false;
};

// ---- plain blocking sockets ----

struct SocketPair {
    int client = -1;
    int server = -1;
    ~SocketPair()
    {
        ::close(client);
        ::close(server);
    }
};

void NoDelay(int fd)
{
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

void ConnectPair(SocketPair& pair)
{
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    pair.client = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(pair.client, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    pair.server = ::accept(listener, nullptr, nullptr);
    ::close(listener);
    NoDelay(pair.client);
    NoDelay(pair.server);
}

bool ReadExactly(int fd, uint8_t* buffer, size_t n)
{
    while (n > 0) {
        ssize_t got = ::read(fd, buffer, n);
        if (got <= 0) {
            return false;
        }
        buffer += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

std::vector<uint8_t> Framed(size_t size)
{
    std::vector<uint8_t> wire(4 + size, 0x5a);
    wire[0] = uint8_t(size >> 24);
    wire[1] = uint8_t(size >> 16);
    wire[2] = uint8_t(size >> 8);
    wire[3] = uint8_t(size);
    return wire;
}

// Reads one framed message into buffer (prefix first, then the body).
bool ReadMessage(int fd, std::vector<uint8_t>& buffer)
{
    uint8_t prefix[4];
    if (!ReadExactly(fd, prefix, 4)) {
        return false;
    }
    size_t length = (size_t(prefix[0]) << 24) | (size_t(prefix[1]) << 16) | (size_t(prefix[2]) << 8) | prefix[3];
    buffer.resize(4 + length);
    std::memcpy(buffer.data(), prefix, 4);
    return ReadExactly(fd, buffer.data() + 4, length);
}

double PlainRoundTrip(size_t size)
{
    SocketPair pair;
    ConnectPair(pair);
    std::thread echo([&] {
        std::vector<uint8_t> message;
        for (int i = 0; i < kRoundTrips && ReadMessage(pair.server, message); ++i) {
            ::write(pair.server, message.data(), message.size());
        }
    });
    std::vector<uint8_t> ping = Framed(size);
    std::vector<uint8_t> reply;
    Clock::time_point start = Clock::now();
    for (int i = 0; i < kRoundTrips; ++i) {
        ::write(pair.client, ping.data(), ping.size());
        ReadMessage(pair.client, reply);
    }
    double seconds = Seconds(start);
    echo.join();
    return seconds / kRoundTrips * 1e6;
}

double PlainStream()
{
    SocketPair pair;
    ConnectPair(pair);
    Clock::time_point start = Clock::now();
    std::thread receiver([&] {
        std::vector<uint8_t> chunk(64 * 1024);
        size_t have = 0;
        int messages = 0;
        while (messages < kStreamMessages) {
            ssize_t got = ::read(pair.server, chunk.data() + have, chunk.size() - have);
            if (got <= 0) {
                return;
            }
            have += static_cast<size_t>(got);
            size_t at = 0;
            while (have - at >= 4) {
                size_t length = (size_t(chunk[at]) << 24) | (size_t(chunk[at + 1]) << 16) |
                                (size_t(chunk[at + 2]) << 8) | chunk[at + 3];
                if (have - at < 4 + length) {
                    break;
                }
                at += 4 + length;
                ++messages;
            }
            std::memmove(chunk.data(), chunk.data() + at, have - at);
            have -= at;
        }
    });
    std::vector<uint8_t> message = Framed(64);
    for (int i = 0; i < kStreamMessages; ++i) {
        ::write(pair.client, message.data(), message.size());
    }
    receiver.join();
    return kStreamMessages / Seconds(start);
}

// ---- the transport ----

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
            m_done.Set();
        }
    }

    bool m_bEcho = true;
    int m_nExpected = 0;
    std::atomic<int> m_nReceived{0};
    CDone m_done;
};

class CPingClient : public IOrvClientSessionSink {
public:
    void OnJoin(IOrvClientSession*, uint32_t) override { m_joined.Set(); }
    void OnLeave(IOrvClientSession*, uint32_t) override {}
    void OnCanSendAgain(IOrvClientSession*, uint32_t) override { m_room.Set(); }
    void OnReceive(IOrvClientSession* session, COrvMessageBlock* frame) override
    {
        if (++m_nEchoes == kRoundTrips) {
            m_done.Set();
            return;
        }
        session->Send(0, frame);
    }

    std::atomic<int> m_nEchoes{0};
    CDone m_joined;
    CDone m_room;
    CDone m_done;
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
