// Client round trips through the library (PELLAX_CLIENT_SynSend answered by the server host from its
// callback with PELLAX_SERVER_Send), beside a plain-socket ping-pong baseline measured in the same run.
//
//   pellax_bench_client [seconds per run]      (run it once as is and once under `taskset -c 0`)
//
// Each figure is the median of five runs: microseconds per round trip for one caller, calls per
// second for eight concurrent callers (eight sessions, or eight connections for the baseline).
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
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "frame/Singleton.h"
#include "pellax.h"
#include "platform/OrvSession.h"
#include "server/Server.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRuns = 5;
constexpr int kConcurrent = 8;
constexpr size_t kSizes[] = {64, 4096};

double g_runSeconds = 1.0;

bool WriteAll(int fd, const void* data, size_t n)
{
    const char* bytes = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t sent = ::send(fd, bytes, n, MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        bytes += sent;
        n -= static_cast<size_t>(sent);
    }
    return true;
}

bool ReadAll(int fd, void* data, size_t n)
{
    char* bytes = static_cast<char*>(data);
    while (n > 0) {
        ssize_t got = ::recv(fd, bytes, n, 0);
        if (got <= 0) {
            return false;
        }
        bytes += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

bool PingPong(int fd, std::vector<char>& buffer)
{
    uint32_t length = htonl(static_cast<uint32_t>(buffer.size()));
    return WriteAll(fd, &length, 4) && WriteAll(fd, buffer.data(), buffer.size()) && ReadAll(fd, &length, 4) &&
           ReadAll(fd, buffer.data(), ntohl(length));
}

void NoDelay(int fd)
{
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

// The baseline: a blocking echo of length-prefixed messages, one thread per connection.
class CPlainEcho {
public:
    CPlainEcho()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof(address);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        ::listen(m_listener, 64);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size);
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { AcceptLoop(); });
    }

    ~CPlainEcho()
    {
        ::shutdown(m_listener, SHUT_RDWR);
        ::close(m_listener);
        m_acceptor.join();
        for (std::thread& echo : m_echoes) {
            echo.join();
        }
    }

    int Connect()
    {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(m_port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        NoDelay(fd);
        return fd;
    }

private:
    void AcceptLoop()
    {
        for (;;) {
            int fd = ::accept(m_listener, nullptr, nullptr);
            if (fd < 0) {
                return;
            }
            NoDelay(fd);
            m_echoes.emplace_back([fd] {
                std::vector<char> buffer(64 * 1024);
                uint32_t length = 0;
                while (ReadAll(fd, &length, 4) && ReadAll(fd, buffer.data(), ntohl(length)) &&
                       WriteAll(fd, &length, 4) && WriteAll(fd, buffer.data(), ntohl(length))) {
                }
                ::close(fd);
            });
        }
    }

    int m_listener = -1;
    uint16_t m_port = 0;
    std::thread m_acceptor;
    std::vector<std::thread> m_echoes;
};

int DropLog(int, const char*, const char*, ...)
{
    return 0;
}

std::atomic<int> g_joined{0};

int OnClientNotify(unsigned int, unsigned int type, PELLAX_Message*, void*)
{
    if (type == 1) {
        ++g_joined;
    }
    return 0;
}

// The server host answers every request from its callback, as the measured round trip requires.
int OnServerNotify(unsigned int id, unsigned int type, PELLAX_Message* message, void*)
{
    if (type != 0 || message == nullptr || (message->command & 1u) != 0) {
        return 0;
    }
    PELLAX_Message answer = *message;
    answer.command = message->command + 1;
    answer.ext = nullptr;
    PELLAX_SERVER_Send(id, &answer);
    return 0;
}

PELLAX_Message Request(std::vector<char>& payload)
{
    PELLAX_Message message;
    std::memset(&message, 0, sizeof(message));
    message.command = 1000;
    message.data = reinterpret_cast<unsigned char*>(payload.data());
    message.dataLength = static_cast<int32_t>(payload.size());
    return message;
}

bool SynSend(unsigned int handle, std::vector<char>& payload)
{
    PELLAX_Message request = Request(payload);
    PELLAX_Message response;
    std::memset(&response, 0, sizeof(response));
    int result = PELLAX_CLIENT_SynSend(handle, &request, &response, 10);
    bool ok = result == 0 && response.dataLength == request.dataLength;
    PELLAX_FreeBuffer(response.data);
    return ok;
}

// Calls per second of `callers` threads each running `call` in a loop for the run time.
double CallsPerSecond(int callers, const std::function<bool(int)>& call)
{
    std::atomic<bool> stop{false};
    std::atomic<long> calls{0};
    std::atomic<bool> failed{false};
    std::vector<std::thread> threads;
    Clock::time_point start = Clock::now();
    for (int caller = 0; caller < callers; ++caller) {
        threads.emplace_back([&, caller] {
            long mine = 0;
            while (!stop.load(std::memory_order_relaxed)) {
                if (!call(caller)) {
                    failed = true;
                    break;
                }
                ++mine;
            }
            calls += mine;
        });
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(g_runSeconds));
    stop = true;
    for (std::thread& thread : threads) {
        thread.join();
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return failed ? 0.0 : static_cast<double>(calls.load()) / seconds;
}

double Median(int callers, const std::function<bool(int)>& call)
{
    CallsPerSecond(callers, call);  // warm-up
    std::vector<double> runs;
    for (int i = 0; i < kRuns; ++i) {
        runs.push_back(CallsPerSecond(callers, call));
    }
    std::sort(runs.begin(), runs.end());
    return runs[kRuns / 2];
}

struct Figures {
    double plainOne = 0;
    double plainMany = 0;
    double pellaxOne = 0;
    double pellaxMany = 0;
};

Figures Measure(size_t size, CPlainEcho& echo, const std::vector<unsigned int>& handles)
{
    Figures figures;
    std::vector<std::vector<char>> payloads(kConcurrent, std::vector<char>(size, 'p'));
    std::vector<int> fds;
    for (int i = 0; i < kConcurrent; ++i) {
        fds.push_back(echo.Connect());
    }
    figures.plainOne = Median(1, [&](int) { return PingPong(fds[0], payloads[0]); });
    figures.plainMany = Median(kConcurrent, [&](int i) { return PingPong(fds[i], payloads[i]); });
    figures.pellaxOne = Median(1, [&](int) { return SynSend(handles[0], payloads[0]); });
    figures.pellaxMany = Median(kConcurrent, [&](int i) { return SynSend(handles[i], payloads[i]); });
    for (int fd : fds) {
        ::close(fd);
    }
    return figures;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1) {
        g_runSeconds = std::max(0.1, std::atof(argv[1]));
    }
    PELLAX_Init(&DropLog);
    InitializeSessionEx(0, 10);
    PELLAX_SERVER_SetNotifyCallBack(&OnServerNotify, nullptr);
    PELLAX_CLIENT_SetNotifyCallBack(&OnClientNotify, nullptr);
    if (PELLAX_SERVER_CreateSession("127.0.0.1", 0, nullptr) != 0) {
        std::fprintf(stderr, "server session could not be created\n");
        return 1;
    }
    uint16_t port = COrvSingletonT<ORV::PELLAX::CServer>::Instance()->GetListenPort();
    std::vector<unsigned int> handles;
    for (int i = 0; i < kConcurrent; ++i) {
        handles.push_back(static_cast<unsigned int>(PELLAX_CLIENT_CreateSession("127.0.0.1", port, nullptr)));
    }
    for (int wait = 0; wait < 500 && g_joined.load() < kConcurrent; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (g_joined.load() < kConcurrent) {
        std::fprintf(stderr, "clients did not join\n");
        return 1;
    }

    CPlainEcho echo;
    std::printf("%-6s %14s %14s %8s %16s %16s %8s\n", "size", "plain rt(us)", "pellax rt(us)", "ratio",
                "plain x8 call/s", "pellax x8 call/s", "share");
    for (size_t size : kSizes) {
        Figures f = Measure(size, echo, handles);
        double plainRt = 1e6 / f.plainOne;
        double pellaxRt = f.pellaxOne > 0 ? 1e6 / f.pellaxOne : 0;
        std::printf("%-6zu %14.1f %14.1f %7.2fx %16.0f %16.0f %7.0f%%\n", size, plainRt, pellaxRt,
                    plainRt > 0 ? pellaxRt / plainRt : 0, f.plainMany, f.pellaxMany,
                    f.plainMany > 0 ? 100.0 * f.pellaxMany / f.plainMany : 0);
    }
    std::printf("targets: single-client round trip at most 2x plain; 8 clients at least 40%% of plain x8\n");

    for (unsigned int handle : handles) {
        PELLAX_CLIENT_DestroySession(handle);
    }
    PELLAX_SERVER_DestroySession();
    UnInitializeSession();
    PELLAX_Uninit();
    return 0;
}
