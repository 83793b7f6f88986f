// Server round trips against raw blocking sockets, beside a plain-socket echo with the same framing.
//
//   plain:  raw client --frame--> plain echo thread --same bytes--> raw client
//   send:   raw client --frame--> library --notification 0--> host callback --PELLAX_SERVER_Send--> raw client
//   synsend: host PELLAX_SERVER_SynSend --frame--> raw client answering --> library --> host
//
// Prints the median round trip of each in microseconds and the library's overhead over plain.
// Run it unpinned and under `taskset -c 0` to see both schedules.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "frame/Singleton.h"
#include "pellax.h"
#include "server/Server.h"

namespace {

constexpr size_t kHeaderSize = 156;
constexpr size_t kBodySize = 64;
constexpr int kWarmup = 2000;
constexpr int kRounds = 20000;
using Clock = std::chrono::steady_clock;

void Put32(uint8_t* out, uint32_t value)
{
    out[0] = static_cast<uint8_t>(value >> 24);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 8);
    out[3] = static_cast<uint8_t>(value);
}

uint32_t Get32(const uint8_t* in)
{
    return (uint32_t(in[0]) << 24) | (uint32_t(in[1]) << 16) | (uint32_t(in[2]) << 8) | in[3];
}

// Length prefix, 156-byte header (version 1, sequence, command, body length) and a 64-byte body.
std::vector<uint8_t> DataMessage(uint32_t command, uint32_t sequence)
{
    std::vector<uint8_t> bytes(4 + kHeaderSize + kBodySize, 0);
    Put32(bytes.data(), static_cast<uint32_t>(kHeaderSize + kBodySize));
    bytes[4] = 1;
    Put32(bytes.data() + 8, sequence);
    Put32(bytes.data() + 20, command);
    Put32(bytes.data() + 24, kBodySize);
    std::memset(bytes.data() + 4 + kHeaderSize, 'b', kBodySize);
    return bytes;
}

bool WriteAll(int fd, const uint8_t* data, size_t n)
{
    while (n > 0) {
        ssize_t w = ::send(fd, data, n, MSG_NOSIGNAL);
        if (w <= 0) {
            return false;
        }
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

bool ReadAll(int fd, uint8_t* data, size_t n)
{
    while (n > 0) {
        ssize_t r = ::recv(fd, data, n, 0);
        if (r <= 0) {
            return false;
        }
        data += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

// One whole message (prefix included) into buffer.
bool ReadMessage(int fd, std::vector<uint8_t>& buffer)
{
    buffer.resize(4);
    if (!ReadAll(fd, buffer.data(), 4)) {
        return false;
    }
    uint32_t length = Get32(buffer.data());
    buffer.resize(4 + length);
    return ReadAll(fd, buffer.data() + 4, length);
}

void NoDelay(int fd)
{
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
}

int ConnectTo(uint16_t port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    NoDelay(fd);
    return fd;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// Sends a frame and waits for one back, kRounds times; round trips in microseconds.
std::vector<double> ClientRoundTrips(int fd)
{
    std::vector<uint8_t> request = DataMessage(1000, 1);
    std::vector<uint8_t> reply;
    std::vector<double> samples;
    for (int i = 0; i < kWarmup + kRounds; ++i) {
        auto start = Clock::now();
        if (!WriteAll(fd, request.data(), request.size()) || !ReadMessage(fd, reply)) {
            break;
        }
        if (i >= kWarmup) {
            samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
    }
    return samples;
}

double PlainRoundTrip()
{
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(listener, 1);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    std::thread echo([listener] {
        int fd = accept(listener, nullptr, nullptr);
        NoDelay(fd);
        std::vector<uint8_t> message;
        while (ReadMessage(fd, message) && WriteAll(fd, message.data(), message.size())) {
        }
        close(fd);
    });
    int fd = ConnectTo(ntohs(address.sin_port));
    double median = Median(ClientRoundTrips(fd));
    close(fd);
    echo.join();
    close(listener);
    return median;
}

int Quiet(int, const char*, const char*, ...)
{
    return 0;
}

std::atomic<int> g_clientId{-1};

// Answers every data frame with the next command and the same body, from inside the callback.
int EchoFromCallback(unsigned int id, unsigned int type, PELLAX_Message* message, void*)
{
    if (type == 1) {
        g_clientId = static_cast<int>(id);
    }
    if (type == 0 && message != nullptr) {
        PELLAX_Message answer{};
        answer.command = message->command + 1;
        answer.sequence = message->sequence;
        answer.data = message->data;
        answer.dataLength = message->dataLength;
        PELLAX_SERVER_Send(id, &answer);
    }
    return 0;
}

uint16_t StartServer()
{
    g_clientId = -1;
    PELLAX_SERVER_SetNotifyCallBack(&EchoFromCallback, nullptr);
    if (PELLAX_SERVER_CreateSession("127.0.0.1", 0, nullptr) != 0) {
        return 0;
    }
    return COrvSingletonT<ORV::PELLAX::CServer>::Instance()->GetListenPort();
}

bool WaitForClient()
{
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (g_clientId.load() < 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return g_clientId.load() >= 0;
}

double LibrarySendRoundTrip()
{
    uint16_t port = StartServer();
    int fd = port != 0 ? ConnectTo(port) : -1;
    double median = fd >= 0 && WaitForClient() ? Median(ClientRoundTrips(fd)) : 0.0;
    if (fd >= 0) {
        close(fd);
    }
    PELLAX_SERVER_DestroySession();
    return median;
}

double LibrarySynSendRoundTrip()
{
    uint16_t port = StartServer();
    int fd = port != 0 ? ConnectTo(port) : -1;
    if (fd < 0 || !WaitForClient()) {
        PELLAX_SERVER_DestroySession();
        return 0.0;
    }
    std::thread answerer([fd] {
        std::vector<uint8_t> message;
        while (ReadMessage(fd, message)) {
            Put32(message.data() + 20, Get32(message.data() + 20) + 1);  // odd command, same sequence
            if (!WriteAll(fd, message.data(), message.size())) {
                break;
            }
        }
    });
    std::vector<uint8_t> body(kBodySize, 'b');
    std::vector<double> samples;
    for (int i = 0; i < kWarmup + kRounds; ++i) {
        PELLAX_Message request{};
        request.command = 1000;
        request.data = body.data();
        request.dataLength = static_cast<int32_t>(body.size());
        PELLAX_Message response{};
        auto start = Clock::now();
        int result = PELLAX_SERVER_SynSend(static_cast<unsigned int>(g_clientId.load()), &request, &response, 5);
        double elapsed = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        PELLAX_FreeBuffer(response.data);
        if (result != 0) {
            break;
        }
        if (i >= kWarmup) {
            samples.push_back(elapsed);
        }
    }
    shutdown(fd, SHUT_RDWR);
    answerer.join();
    close(fd);
    PELLAX_SERVER_DestroySession();
    return Median(samples);
}

}  // namespace

int main()
{
    PELLAX_Init(&Quiet);
    double plain = PlainRoundTrip();
    double send = LibrarySendRoundTrip();
    double synSend = LibrarySynSendRoundTrip();
    double plainAfter = PlainRoundTrip();
    PELLAX_Uninit();

    double baseline = (plain + plainAfter) / 2;
    std::printf("64-byte body, median round trip over %d rounds (us)\n", kRounds);
    std::printf("  plain socket echo      %8.2f  (before %.2f, after %.2f)\n", baseline, plain, plainAfter);
    std::printf("  PELLAX_SERVER_Send     %8.2f  %+6.1f%%  (target <= +30%%)\n", send, (send / baseline - 1) * 100);
    std::printf("  PELLAX_SERVER_SynSend  %8.2f  %+6.1f%%  (target <= +100%%)\n", synSend,
                (synSend / baseline - 1) * 100);
    return send > 0 && synSend > 0 ? 0 : 1;
}
