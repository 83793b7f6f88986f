// The library beside ZeroMQ and a plain socket, same sizes, same run: one table.
//
// The library's and the plain socket's figures come from `pellax bench ... --json` (which runs both);
// ZeroMQ's are measured here: PUSH/PULL for streams, REQ/REP for round trips, and one REQ socket per
// client thread against one REP for concurrent calls. Each figure is the median of several runs.
//   pellax_bench_compare PELLAX_TOOL [RUNS] [SECONDS]
#include <zmq.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <rapidjson/document.h>
#include <string>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kConcurrentClients = 8;

struct Figures {
    double plain = 0;
    double zeromq = 0;
    double library = 0;
};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double Seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One `pellax bench` run: the library's and the plain socket's value of one figure.
bool RunTool(const std::string& tool, const std::string& arguments, const char* figure, double* library,
             double* plain)
{
    std::string command = tool + " bench " + arguments + " --json 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) {
        return false;
    }
    std::string output;
    char buffer[4096];
    while (std::fgets(buffer, sizeof(buffer), pipe.get()) != nullptr) {
        output += buffer;
    }
    rapidjson::Document document;
    document.Parse(output.c_str());
    if (document.HasParseError() || !document.IsObject() || !document["library"].IsObject() ||
        !document["baseline"].IsObject()) {
        return false;
    }
    *library = document["library"][figure].GetDouble();
    *plain = document["baseline"][figure].GetDouble();
    return true;
}

// ZeroMQ owns its context and sockets; these close them whatever the path out.
struct ZmqContext {
    void* context = zmq_ctx_new();
    ~ZmqContext() { zmq_ctx_term(context); }
};

struct ZmqSocket {
    ZmqSocket(void* context, int type) : socket(zmq_socket(context, type))
    {
        int linger = 0;
        zmq_setsockopt(socket, ZMQ_LINGER, &linger, sizeof(linger));
    }
    ~ZmqSocket() { zmq_close(socket); }
    void* socket;
};

// Binds to a free loopback port and says which.
std::string BindLoopback(void* socket)
{
    zmq_bind(socket, "tcp://127.0.0.1:*");
    char endpoint[256];
    size_t length = sizeof(endpoint);
    zmq_getsockopt(socket, ZMQ_LAST_ENDPOINT, endpoint, &length);
    return endpoint;
}

// Messages per second (bytes = false) or MB per second through PUSH/PULL.
double ZmqStream(int size, double duration, bool bytes)
{
    ZmqContext context;
    ZmqSocket pull(context.context, ZMQ_PULL);
    std::string endpoint = BindLoopback(pull.socket);
    std::atomic<bool> done{false};
    std::thread sender([&] {
        ZmqSocket push(context.context, ZMQ_PUSH);
        zmq_connect(push.socket, endpoint.c_str());
        std::vector<char> body(static_cast<size_t>(size), 'x');
        while (!done.load(std::memory_order_relaxed)) {
            zmq_send(push.socket, body.data(), body.size(), 0);
        }
    });
    std::vector<char> buffer(static_cast<size_t>(size) + 1);
    int timeout = 1000;
    zmq_setsockopt(pull.socket, ZMQ_RCVTIMEO, &timeout, sizeof(timeout));
    uint64_t received = 0;
    auto start = Clock::now();
    while (Seconds(start) < duration && zmq_recv(pull.socket, buffer.data(), buffer.size(), 0) >= 0) {
        ++received;
    }
    double elapsed = Seconds(start);
    done.store(true);
    sender.join();
    double perSecond = static_cast<double>(received) / elapsed;
    return bytes ? perSecond * size / 1e6 : perSecond;
}

// One REQ client's round trips until the time is up; latencies in microseconds.
void ZmqCalls(void* context, const std::string& endpoint, int size, double duration, std::vector<double>* samples)
{
    ZmqSocket request(context, ZMQ_REQ);
    zmq_connect(request.socket, endpoint.c_str());
    int timeout = 5000;
    zmq_setsockopt(request.socket, ZMQ_RCVTIMEO, &timeout, sizeof(timeout));
    std::vector<char> body(static_cast<size_t>(size), 'x');
    std::vector<char> answer(static_cast<size_t>(size) + 1);
    auto start = Clock::now();
    while (Seconds(start) < duration) {
        auto sent = Clock::now();
        if (zmq_send(request.socket, body.data(), body.size(), 0) < 0 ||
            zmq_recv(request.socket, answer.data(), answer.size(), 0) < 0) {
            return;
        }
        samples->push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
    }
}

// Round-trip p50 in microseconds (clients == 1) or calls per second.
double ZmqRoundTrips(int size, int clients, double duration)
{
    ZmqContext context;
    ZmqSocket reply(context.context, ZMQ_REP);
    std::string endpoint = BindLoopback(reply.socket);
    std::atomic<bool> done{false};
    std::thread server([&] {
        int timeout = 100;
        zmq_setsockopt(reply.socket, ZMQ_RCVTIMEO, &timeout, sizeof(timeout));
        std::vector<char> buffer(static_cast<size_t>(size) + 1);
        while (!done.load()) {
            int length = zmq_recv(reply.socket, buffer.data(), buffer.size(), 0);
            if (length >= 0) {
                zmq_send(reply.socket, buffer.data(), static_cast<size_t>(length), 0);
            }
        }
    });
    std::vector<std::vector<double>> samples(static_cast<size_t>(clients));
    std::vector<std::thread> callers;
    auto start = Clock::now();
    for (auto& part : samples) {
        callers.emplace_back(ZmqCalls, context.context, endpoint, size, duration, &part);
    }
    for (std::thread& caller : callers) {
        caller.join();
    }
    double elapsed = Seconds(start);
    done.store(true);
    server.join();
    std::vector<double> all;
    for (const auto& part : samples) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return clients == 1 ? Median(all) : static_cast<double>(all.size()) / elapsed;
}

struct Row {
    const char* name;
    const char* toolArguments;  // what `pellax bench` runs
    const char* figure;         // which of its JSON figures
    bool lowerIsBetter;
    double (*zeromq)(double duration);
};

const Row kRows[] = {
    {"stream 64 B, msgs/s", "stream --size 64", "msgs_per_s", false,
     [](double d) { return ZmqStream(64, d, false); }},
    {"stream 4 KiB, msgs/s", "stream --size 4096", "msgs_per_s", false,
     [](double d) { return ZmqStream(4096, d, false); }},
    {"stream 64 KiB, MB/s", "stream --size 65536", "mb_per_s", false,
     [](double d) { return ZmqStream(65536, d, true); }},
    {"round trip 64 B, p50 us", "rtt --size 64", "p50_us", true, [](double d) { return ZmqRoundTrips(64, 1, d); }},
    {"8 clients calling, calls/s", "fanin --clients 8 --size 64", "calls_per_s", false,
     [](double d) { return ZmqRoundTrips(64, kConcurrentClients, d); }},
};
}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PELLAX_TOOL [RUNS] [SECONDS]\n", argv[0]);
        return 2;
    }
    std::string tool = argv[1];
    int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    double duration = argc > 3 ? std::atof(argv[3]) : 1.5;
    std::printf("%-28s %12s %12s %12s %10s %10s\n", "medians of runs", "plain", "zeromq", "library", "lib/plain",
                "lib/zmq");
    for (const Row& row : kRows) {
        std::vector<double> plain, zeromq, library;
        for (int run = 0; run < runs; ++run) {
            double ours = 0, theirs = 0;
            std::string arguments = std::string(row.toolArguments) + " --duration " + std::to_string(duration);
            if (RunTool(tool, arguments, row.figure, &ours, &theirs)) {
                library.push_back(ours);
                plain.push_back(theirs);
            }
            zeromq.push_back(row.zeromq(duration));
        }
        Figures figures{Median(plain), Median(zeromq), Median(library)};
        std::printf("%-28s %12.1f %12.1f %12.1f %9.2fx %9.2fx%s\n", row.name, figures.plain, figures.zeromq,
                    figures.library, figures.plain > 0 ? figures.library / figures.plain : 0,
                    figures.zeromq > 0 ? figures.library / figures.zeromq : 0,
                    row.lowerIsBetter ? "  (lower is better)" : "");
    }
    return 0;
}
