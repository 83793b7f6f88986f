// pellax bench rtt|stream|fanin: the library against plain sockets doing the same work, in one run.
#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "BenchStats.h"
#include "Commands.h"
#include "Endpoint.h"
#include "LibraryScope.h"
#include "PlainSocketBaseline.h"
#include "StallCheck.h"
#include "Terminal.h"
#include "pellax.h"

namespace pellax_tool {

namespace {
using Clock = std::chrono::steady_clock;
constexpr uint32_t kBenchCommand = 2000;

struct BenchOptions {
    std::string mode;
    int size = 64;
    int clients = 0;
    double duration = 3;
    int count = 2000;
    bool json = false;
    std::string connect;
};

// What the server host and the client host callbacks share with the measuring threads.
struct BenchState {
    bool echo = true;
    std::atomic<uint64_t> received{0};
    std::atomic<uint64_t> receivedBytes{0};
    std::atomic<int> registered{0};
    std::atomic<uint64_t> progress{0};
};

int OnServer(unsigned int id, unsigned int type, PELLAX_Message* message, void* user)
{
    auto* state = static_cast<BenchState*>(user);
    if (type != PELLAX_SERVER_NOTIFY_DATA || message == nullptr) {
        return 0;
    }
    state->received.fetch_add(1, std::memory_order_relaxed);
    state->receivedBytes.fetch_add(static_cast<uint64_t>(message->dataLength), std::memory_order_relaxed);
    if (state->echo && message->command % 2 == 0) {
        PELLAX_Message answer = *message;
        answer.command = message->command + 1;
        answer.ext = nullptr;
        PELLAX_SERVER_Send(id, &answer);
    }
    return 0;
}

int OnClient(unsigned int, unsigned int type, PELLAX_Message*, void* user)
{
    if (type == PELLAX_CLIENT_EVENT_REGISTERED) {
        static_cast<BenchState*>(user)->registered.fetch_add(1);
    }
    return 0;
}

double Seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Starts the in-process server (unless connecting elsewhere) and the client sessions, registered.
bool OpenSessions(const BenchOptions& options, BenchState& state, std::vector<unsigned int>& handles)
{
    Endpoint endpoint;
    if (!options.connect.empty() && !ParseEndpoint(options.connect, endpoint)) {
        std::fprintf(stderr, "pellax: --connect wants HOST:PORT\n");
        return false;
    }
    if (options.connect.empty()) {
        endpoint.port = FindFreePort();
        PELLAX_SERVER_SetNotifyCallBack(OnServer, &state);
        if (PELLAX_SERVER_CreateSession(endpoint.host.c_str(), endpoint.port, nullptr) != 0) {
            std::fprintf(stderr, "pellax: the benchmark server could not start\n");
            return false;
        }
    }
    PELLAX_CLIENT_SetNotifyCallBack(OnClient, &state);
    for (int i = 0; i < options.clients; ++i) {
        int handle = PELLAX_CLIENT_CreateSession(endpoint.host.c_str(), endpoint.port, nullptr);
        if (handle < 0) {
            std::fprintf(stderr, "pellax: client session %d could not be created (code %d)\n", i, handle);
            return false;
        }
        handles.push_back(static_cast<unsigned int>(handle));
    }
    auto start = Clock::now();
    while (state.registered.load() < options.clients && Seconds(start) < 30) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (state.registered.load() < options.clients) {
        std::fprintf(stderr, "pellax: only %d of %d clients registered\n", state.registered.load(), options.clients);
        return false;
    }
    return true;
}

void CloseSessions(const BenchOptions& options, const std::vector<unsigned int>& handles)
{
    for (unsigned int handle : handles) {
        PELLAX_CLIENT_DestroySession(handle);
    }
    if (options.connect.empty()) {
        PELLAX_SERVER_DestroySession();
    }
    PELLAX_CLIENT_SetNotifyCallBack(nullptr, nullptr);
    PELLAX_SERVER_SetNotifyCallBack(nullptr, nullptr);
}

// Calls in turn on every workers-th session until the time is up; latencies in microseconds.
void CallLoop(const std::vector<unsigned int>& handles, size_t first, size_t step, const BenchOptions& options,
              BenchState& state, std::vector<double>& samples, std::atomic<uint64_t>& failures)
{
    std::vector<unsigned char> body(static_cast<size_t>(options.size) + 1, 'x');
    PELLAX_Message request;
    std::memset(&request, 0, sizeof(request));
    request.command = kBenchCommand;
    request.data = body.data();
    request.dataLength = options.size;
    auto start = Clock::now();
    for (size_t i = first; Seconds(start) < options.duration; i = (i + step < handles.size()) ? i + step : first) {
        PELLAX_Message response;
        std::memset(&response, 0, sizeof(response));
        auto sent = Clock::now();
        if (PELLAX_CLIENT_SynSend(handles[i], &request, &response, 5) != 0) {
            failures.fetch_add(1);
            continue;
        }
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
        PELLAX_FreeBuffer(response.data);
        state.progress.fetch_add(1, std::memory_order_relaxed);
    }
}

BenchFigures RunLibraryCalls(const BenchOptions& options, BenchState& state, const std::vector<unsigned int>& handles)
{
    size_t workers = std::min<size_t>(handles.size(), 8);
    std::vector<std::vector<double>> samples(workers);
    std::atomic<uint64_t> failures{0};
    std::vector<std::thread> threads;
    auto start = Clock::now();
    for (size_t w = 0; w < workers; ++w) {
        threads.emplace_back(
            [&, w] { CallLoop(handles, w, workers, options, state, samples[w], failures); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    double elapsed = Seconds(start);
    std::vector<double> all;
    for (const auto& part : samples) {
        all.insert(all.end(), part.begin(), part.end());
    }
    BenchFigures figures;
    uint64_t calls = all.size();
    SummariseLatency(all, figures);
    SetThroughput(calls, calls * static_cast<uint64_t>(options.size), elapsed, figures);
    figures.failures = failures.load();
    return figures;
}

BenchFigures RunLibraryStream(const BenchOptions& options, BenchState& state, unsigned int handle)
{
    std::vector<unsigned char> body(static_cast<size_t>(options.size) + 1, 'x');
    PELLAX_Message message;
    std::memset(&message, 0, sizeof(message));
    message.command = kBenchCommand + 1;
    message.data = body.data();
    message.dataLength = options.size;
    uint64_t sent = 0;
    auto start = Clock::now();
    while (Seconds(start) < options.duration) {
        if (PELLAX_CLIENT_Send(handle, &message) != 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));  // queue full: let it drain
            continue;
        }
        state.progress.store(++sent, std::memory_order_relaxed);
    }
    // Count what arrived, waiting a little for the tail.
    auto tail = Clock::now();
    while (options.connect.empty() && state.received.load() < sent && Seconds(tail) < 5) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    double elapsed = Seconds(start);
    BenchFigures figures;
    uint64_t counted = options.connect.empty() ? state.received.load() : sent;
    SetThroughput(counted, counted * static_cast<uint64_t>(options.size), elapsed, figures);
    return figures;
}

void ShowProgress(const BenchOptions& options, BenchState& state, std::atomic<bool>& done)
{
    const char* unit = options.mode == "stream" ? "messages" : "calls";
    while (!done.load()) {
        Terminal::Progress(Format("%s library: %llu %s", options.mode.c_str(),
                                  static_cast<unsigned long long>(state.progress.load()), unit));
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    Terminal::EndProgress();
}

BenchFigures RunBaseline(const BenchOptions& options)
{
    BaselineSettings settings{options.size, options.clients, options.duration};
    if (options.mode == "stream") {
        return RunPlainStream(settings);
    }
    return options.mode == "rtt" ? RunPlainRoundTrip(settings) : RunPlainFanIn(settings);
}

void PrintRow(const char* name, const BenchFigures& figures)
{
    std::printf("%-14s %10.1f %10.1f %10.1f %10.1f %12.0f %12.0f %9.2f\n", name, figures.p50, figures.p99,
                figures.p999, figures.mean, figures.callsPerSecond, figures.messagesPerSecond,
                figures.megabytesPerSecond);
}

double Ratio(double a, double b)
{
    return b > 0 ? a / b : 0;
}

void Report(const BenchOptions& options, const BenchFigures& library, const BenchFigures* baseline)
{
    double latencyRatio = baseline != nullptr ? Ratio(library.p50, baseline->p50) : 0;
    double throughputRatio = baseline != nullptr ? Ratio(library.messagesPerSecond, baseline->messagesPerSecond) : 0;
    if (options.json) {
        std::printf("{\"mode\":\"%s\",\"size\":%d,\"clients\":%d,\"duration_s\":%.1f,\"library\":%s,\"baseline\":%s,"
                    "\"ratio\":{\"p50\":%.3f,\"throughput\":%.3f}}\n",
                    options.mode.c_str(), options.size, options.clients, options.duration,
                    FiguresJson(library).c_str(), baseline != nullptr ? FiguresJson(*baseline).c_str() : "null",
                    latencyRatio, throughputRatio);
        return;
    }
    std::printf("pellax bench %s: %d-byte messages, %d client(s), %.1f s each\n", options.mode.c_str(), options.size,
                options.clients, options.duration);
    std::printf("%-14s %10s %10s %10s %10s %12s %12s %9s\n", "", "p50 us", "p99 us", "p99.9 us", "mean us", "calls/s",
                "msgs/s", "MB/s");
    PrintRow("library", library);
    if (baseline != nullptr) {
        PrintRow("plain socket", *baseline);
        std::printf("library / plain socket: round trip p50 %.2fx, throughput %.2fx\n", latencyRatio, throughputRatio);
    }
    if (library.failures > 0) {
        std::printf("failed calls: %llu\n", static_cast<unsigned long long>(library.failures));
    }
}

// Resident memory of this process in KiB, from /proc/self/status.
long ResidentKiB()
{
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) {
        return -1;
    }
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof(line), status) != nullptr) {
        if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1) {
            break;
        }
    }
    std::fclose(status);
    return kib;
}

// Holds the registered sessions for the duration and reports what the process keeps resident.
int RunIdle(const BenchOptions& options)
{
    LibraryScope scope(LogLevelOption());
    BenchState state;
    std::vector<unsigned int> handles;
    long before = ResidentKiB();
    bool opened = OpenSessions(options, state, handles);
    std::this_thread::sleep_for(std::chrono::duration<double>(options.duration));
    long held = ResidentKiB();
    CloseSessions(options, handles);
    if (!opened) {
        return 1;
    }
    const char* who = options.connect.empty() ? "server and clients in this process" : "client sessions";
    if (options.json) {
        std::printf("{\"mode\":\"idle\",\"clients\":%d,\"rss_kib_before\":%ld,\"rss_kib_held\":%ld}\n",
                    options.clients, before, held);
    } else {
        std::printf("pellax bench idle: %d registered client(s) held for %.1f s (%s)\n", options.clients,
                    options.duration, who);
        std::printf("resident memory: %.1f MiB before, %.1f MiB while held\n", before / 1024.0, held / 1024.0);
    }
    return 0;
}

int RunBench(BenchOptions options)
{
    if (options.clients <= 0) {
        options.clients = options.mode == "fanin" || options.mode == "idle" ? 64 : 1;
    }
    if (options.mode == "idle") {
        return RunIdle(options);
    }
    if (options.mode == "stall") {
        return RunStallCheck(options.count, options.json);
    }
    if (options.mode != "fanin") {
        options.clients = 1;
    }
    BenchFigures library;
    {
        LibraryScope scope(LogLevelOption());
        BenchState state;
        state.echo = options.mode != "stream";
        std::vector<unsigned int> handles;
        if (!OpenSessions(options, state, handles)) {
            CloseSessions(options, handles);
            return 1;
        }
        std::atomic<bool> done{false};
        std::thread progress(ShowProgress, std::cref(options), std::ref(state), std::ref(done));
        library = options.mode == "stream" ? RunLibraryStream(options, state, handles[0])
                                           : RunLibraryCalls(options, state, handles);
        done.store(true);
        progress.join();
        CloseSessions(options, handles);
    }
    if (!options.connect.empty()) {
        Report(options, library, nullptr);
        return 0;
    }
    BenchFigures baseline = RunBaseline(options);
    Report(options, library, &baseline);
    return library.failures == 0 ? 0 : 1;
}
}

void AddBenchCommand(CLI::App& app, int& exitCode)
{
    static BenchOptions options;
    auto* bench = app.add_subcommand("bench", "Measure the library against plain sockets doing the same work");
    bench->add_option("mode", options.mode,
                      "rtt: round trips; stream: one-way messages; fanin: many clients; idle: memory of idle clients; "
                      "stall: synchronous calls both ways that must all answer within a second")
        ->required()
        ->check(CLI::IsMember({"rtt", "stream", "fanin", "idle", "stall"}));
    bench->add_option("--size", options.size, "Body bytes per message")->check(CLI::Range(0, 16 * 1024 * 1024));
    bench->add_option("--clients", options.clients, "Clients for fanin and idle (default 64)")->check(CLI::Range(1, 1024));
    bench->add_option("--duration", options.duration, "Seconds per measurement")->check(CLI::Range(0.2, 600.0));
    bench->add_option("--count", options.count, "Calls per size for stall")->check(CLI::Range(1, 10000000));
    bench->add_flag("--json", options.json, "Print the figures as one JSON object");
    bench->add_option("--connect", options.connect, "Measure against a server elsewhere (no baseline)");
    bench->footer("Examples:\n  pellax bench rtt --size 64\n  pellax bench stream --duration 5\n"
                  "  pellax bench fanin --clients 1024 --json\n  pellax bench stall --count 20000\n  pellax bench idle --clients 1024 --connect 127.0.0.1:7000");
    bench->callback([&exitCode] { exitCode = RunBench(options); });
}

}  // namespace pellax_tool
