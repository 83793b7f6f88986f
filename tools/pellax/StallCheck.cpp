// pellax bench stall: a fixed number of synchronous calls each way at sizes that end on the
// transport's read and write boundaries; every call must answer, and none may come near its time-out.
#include "StallCheck.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "Endpoint.h"
#include "LibraryScope.h"
#include "pellax.h"

namespace pellax_tool {

namespace {
using Clock = std::chrono::steady_clock;
constexpr uint32_t kStallCommand = 3000;
constexpr unsigned int kCallTimeoutSeconds = 5;
// Far below the time-out, far above any answer on a loaded loopback: a call this slow was held up.
constexpr double kStallMilliseconds = 1000;
// 64 B, a page, frames of exactly 8 KiB and 64 KiB with their 160 bytes of prefix and header, 64 KiB.
const int kSizes[] = {64, 4096, 8192 - 160, 65536 - 160, 65536};

struct StallTally {
    uint64_t calls = 0;
    uint64_t failed = 0;
    uint64_t stalls = 0;
    double slowestMs = 0;

    void Add(int result, Clock::time_point sent)
    {
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
        ++calls;
        failed += result != 0 ? 1 : 0;
        stalls += result == 0 && ms > kStallMilliseconds ? 1 : 0;
        slowestMs = ms > slowestMs ? ms : slowestMs;
    }
};

// Both hosts answer every request from their callback, as the bench's echo server does.
PELLAX_Message Answer(const PELLAX_Message& request)
{
    PELLAX_Message answer = request;
    answer.command = request.command + 1;
    answer.ext = nullptr;
    return answer;
}

// What the callbacks tell the calling thread: the client's id on the server, and its registration.
struct Peers {
    std::atomic<unsigned int> clientId{0};
    std::atomic<bool> registered{false};
};

int OnServer(unsigned int id, unsigned int type, PELLAX_Message* message, void* user)
{
    if (type == PELLAX_SERVER_NOTIFY_JOINED) {
        static_cast<Peers*>(user)->clientId.store(id);
    }
    if (type == PELLAX_SERVER_NOTIFY_DATA && message != nullptr && message->command % 2 == 0) {
        PELLAX_Message answer = Answer(*message);
        PELLAX_SERVER_Send(id, &answer);
    }
    return 0;
}

int OnClient(unsigned int handle, unsigned int type, PELLAX_Message* message, void* user)
{
    if (type == PELLAX_CLIENT_EVENT_REGISTERED) {
        static_cast<Peers*>(user)->registered.store(true);
    }
    if (type == PELLAX_CLIENT_EVENT_DATA && message != nullptr && message->command % 2 == 0) {
        PELLAX_Message answer = Answer(*message);
        PELLAX_CLIENT_Send(handle, &answer);
    }
    return 0;
}

// A fresh server and client for one size; false when they do not come up.
bool RunSize(int size, int count, StallTally& tally)
{
    Peers peers;
    int port = FindFreePort();
    PELLAX_SERVER_SetNotifyCallBack(OnServer, &peers);
    PELLAX_CLIENT_SetNotifyCallBack(OnClient, &peers);
    if (PELLAX_SERVER_CreateSession("127.0.0.1", port, nullptr) != 0) {
        return false;
    }
    int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", port, nullptr);
    auto start = Clock::now();
    while (handle >= 0 && !peers.registered.load() && Clock::now() - start < std::chrono::seconds(10)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    bool up = handle >= 0 && peers.registered.load();
    std::vector<unsigned char> body(static_cast<size_t>(size), 'x');
    for (int i = 0; up && i < count; ++i) {
        PELLAX_Message request;
        PELLAX_Message response;
        std::memset(&request, 0, sizeof(request));
        std::memset(&response, 0, sizeof(response));
        request.command = kStallCommand;
        request.data = body.data();
        request.dataLength = size;
        auto sent = Clock::now();
        // Alternate directions: the client calls the server host, the server calls the client host.
        int result = i % 2 == 0 ? PELLAX_CLIENT_SynSend(static_cast<unsigned int>(handle), &request, &response,
                                                         kCallTimeoutSeconds)
                                : PELLAX_SERVER_SynSend(peers.clientId.load(), &request, &response,
                                                        kCallTimeoutSeconds);
        tally.Add(result, sent);
        PELLAX_FreeBuffer(response.data);
    }
    if (handle >= 0) {
        PELLAX_CLIENT_DestroySession(static_cast<unsigned int>(handle));
    }
    PELLAX_SERVER_DestroySession();
    PELLAX_SERVER_SetNotifyCallBack(nullptr, nullptr);
    PELLAX_CLIENT_SetNotifyCallBack(nullptr, nullptr);
    return up;
}
}  // namespace

int RunStallCheck(int count, bool json)
{
    LibraryScope scope(LogLevelOption());
    StallTally tally;
    for (int size : kSizes) {
        if (!RunSize(size, count, tally)) {
            std::fprintf(stderr, "pellax: the server and client for %d-byte calls did not come up\n", size);
            return 1;
        }
    }
    if (json) {
        std::printf("{\"mode\":\"stall\",\"calls\":%llu,\"failed\":%llu,\"stalls\":%llu,\"slowest_ms\":%.1f}\n",
                    static_cast<unsigned long long>(tally.calls), static_cast<unsigned long long>(tally.failed),
                    static_cast<unsigned long long>(tally.stalls), tally.slowestMs);
    } else {
        std::printf("pellax bench stall: %llu synchronous calls both ways at 64 B to 64 KiB\n",
                    static_cast<unsigned long long>(tally.calls));
        std::printf("failed calls: %llu, stalls (over %.0f ms): %llu, slowest call: %.1f ms\n",
                    static_cast<unsigned long long>(tally.failed), kStallMilliseconds,
                    static_cast<unsigned long long>(tally.stalls), tally.slowestMs);
    }
    return tally.failed == 0 && tally.stalls == 0 ? 0 : 1;
}

}  // namespace pellax_tool
