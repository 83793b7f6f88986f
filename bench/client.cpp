// Client round trips through the library (PELLAX_CLIENT_SynSend answered by the server host from its
// callback with PELLAX_SERVER_Send), beside a plain-socket ping-pong baseline measured in the same run.
//
//   pellax_bench_client [seconds per run]      (run it once as is and once under `taskset -c 0`)
//
// Each figure is the median of five runs: microseconds per round trip for one caller, calls per
// second for eight concurrent callers (eight sessions, or eight connections for the baseline).
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "frame/Singleton.h"
#include "pellax.h"
#include "platform/OrvSession.h"
#include "server/Server.h"

using namespace pellax_bench;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRuns = 5;
constexpr int kConcurrent = 8;
constexpr size_t kSizes[] = {64, 4096};

double g_runSeconds = 1.0;

bool PingPong(int fd, std::vector<uint8_t>& message, std::vector<uint8_t>& reply)
{
    return WriteAll(fd, message.data(), message.size()) && ReadMessage(fd, reply);
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

// The body of the baseline's framed message, so both carry the same bytes.
bool SynSend(unsigned int handle, std::vector<uint8_t>& payload)
{
    PELLAX_Message request{};
    request.command = 1000;
    request.data = payload.data() + 4;
    request.dataLength = static_cast<int32_t>(payload.size() - 4);
    PELLAX_Message response{};
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

double MedianRate(int callers, const std::function<bool(int)>& call)
{
    CallsPerSecond(callers, call);  // warm-up
    std::vector<double> runs;
    for (int i = 0; i < kRuns; ++i) {
        runs.push_back(CallsPerSecond(callers, call));
    }
    return Median(runs);
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
    std::vector<std::vector<uint8_t>> payloads(kConcurrent, Framed(size));
    std::vector<std::vector<uint8_t>> replies(kConcurrent);
    std::vector<int> fds;
    for (int i = 0; i < kConcurrent; ++i) {
        fds.push_back(echo.Connect());
    }
    figures.plainOne = MedianRate(1, [&](int) { return PingPong(fds[0], payloads[0], replies[0]); });
    figures.plainMany = MedianRate(kConcurrent, [&](int i) { return PingPong(fds[i], payloads[i], replies[i]); });
    figures.pellaxOne = MedianRate(1, [&](int) { return SynSend(handles[0], payloads[0]); });
    figures.pellaxMany = MedianRate(kConcurrent, [&](int i) { return SynSend(handles[i], payloads[i]); });
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
