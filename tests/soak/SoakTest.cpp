// Clients join and leave at random while both sides make synchronous calls at full speed: every answer
// must be the caller's own, and the process must end where it started (descriptors, threads, memory).
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "frame/Singleton.h"
#include "server/Server.h"
#include "support/HostRecorder.h"
#include "support/RawSocket.h"

namespace pellax_test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The address sanitizer's quarantine keeps freed blocks resident by design (LeakSanitizer checks leaks).
constexpr int kDefaultSeconds = 8, kDefaultClients = 8, kServerCallers = 2;
constexpr size_t kResidentSlack = 512 << 20;
#else
constexpr int kDefaultSeconds = 25, kDefaultClients = 48, kServerCallers = 8;
constexpr size_t kResidentSlack = 32 << 20;
#endif
// A failed server call is blamed on its client's leave only when the client began to close within this
// long of the call: only a frame still on its way when the connection goes may be lost with it, so a
// client that stayed longer means a lost request or answer. Generous, for a loaded machine.
constexpr auto kLeaveGrace = 1s;

int EnvOr(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : fallback;
}

// Who is who. A client session registers with its token as user data and answers a request with the
// token after the body, so a server caller sees which client answered.
struct Soak {
    template <class F> auto Locked(F f)
    {
        std::lock_guard<std::mutex> guard(mutex);
        return f();
    }
    // Handles are reused as soon as a session is destroyed: opening and closing are serialised so a
    // handle's entries always belong to its present session. The join may be reported before Open returns.
    int Open(uint16_t port, long token)
    {
        std::lock_guard<std::mutex> life(lifeMutex);
        int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", port, nullptr);
        PELLAX_CLIENT_SetUserData(handle, 0, ("{\"token\":" + std::to_string(token) + "}").c_str());
        Locked([&] { tokens[handle] = token; });
        return handle;
    }
    bool WaitJoined(int handle)
    {
        return handle >= 0 && WaitUntil([&] { return Locked([&] { return joined.count(handle) != 0; }); });
    }
    void Close(int handle)
    {
        std::lock_guard<std::mutex> life(lifeMutex);
        Locked([&] { closingAt[tokens[handle]] = Clock::now(); });
        PELLAX_CLIENT_DestroySession(handle);
        Locked([&] { joined.erase(handle); });
    }
    void Problem(const std::string& what) { Locked([&] { problems.push_back(what); }); }

    std::mutex lifeMutex, mutex;
    std::map<unsigned int, long> registered;  // server side: id to token
    std::map<int, long> tokens;               // client side: handle to token
    std::set<unsigned int> joined;
    std::map<long, Clock::time_point> closingAt;  // by token
    std::vector<std::string> problems;
    std::atomic<long> nextToken{1};
    std::atomic<size_t> joins{0}, clientCalls{0}, serverCalls{0};
};

// One client slot: open a session, call for a random while, close it, again until the end.
void RunClient(Soak& soak, uint16_t port, Clock::time_point end, unsigned int seed)
{
    std::mt19937 random(seed);
    while (Clock::now() < end) {
        long token = soak.nextToken++;
        int handle = soak.Open(port, token);
        bool joined = soak.WaitJoined(handle);
        soak.joins += joined;
        Clock::time_point leave = Clock::now() + std::chrono::milliseconds(200 + random() % 2800);
        for (uint32_t n = 0; joined && Clock::now() < leave && Clock::now() < end; ++n, ++soak.clientCalls) {
            std::string body = "c" + std::to_string(token) + ":" + std::to_string(n);
            PELLAX_Message request = MakeRecord(8000, n, body);
            PELLAX_Message response{};
            int result = PELLAX_CLIENT_SynSend(handle, &request, &response, 10);
            if (result != 0 || TakeBody(response) != "re:" + body || response.sequence != n) {
                soak.Problem("client call " + body + ": " + std::to_string(result));
            }
        }
        if (!joined) {
            soak.Problem("session " + std::to_string(token) + " did not open");
            std::this_thread::sleep_for(10ms);
        }
        if (handle >= 0) {
            soak.Close(handle);
        }
    }
}

// Calls registered clients at random; a call may only fail, or be answered by a client that took over
// the id, when the client it picked went away meanwhile.
void RunServerCaller(Soak& soak, Clock::time_point end, unsigned int seed)
{
    std::mt19937 random(seed);
    for (uint32_t n = 0; Clock::now() < end; ++n) {
        auto [id, token] = soak.Locked([&] {
            return soak.registered.empty() ? std::pair<unsigned int, long>()
                                           : std::pair<unsigned int, long>(*std::next(soak.registered.begin(), random() % soak.registered.size()));
        });
        if (token == 0) {
            std::this_thread::sleep_for(1ms);
            continue;
        }
        std::string body = "s" + std::to_string(seed) + ":" + std::to_string(n);
        PELLAX_Message request = MakeRecord(9000, n, body);
        PELLAX_Message response{};
        Clock::time_point called = Clock::now();
        int result = PELLAX_SERVER_SynSend(id, &request, &response, 5);
        ++soak.serverCalls;
        const std::string answer = result == 0 ? TakeBody(response) : "";
        const std::string mine = "re:" + body + "|";
        if (result == 0 && answer == mine + std::to_string(token) && response.sequence == n) {
            continue;
        }
        bool byLeave = result != 0 || (answer.compare(0, mine.size(), mine) == 0 && response.sequence == n);
        auto closing = soak.Locked([&, token = token] { return soak.closingAt.count(token) ? soak.closingAt[token] : Clock::time_point::max(); });
        if (!byLeave || closing >= called + kLeaveGrace) {
            soak.Problem("server call " + body + ": " + std::to_string(result) + ", answer " + answer);
        }
    }
}

TEST(Soak, ClientsJoiningAndLeavingAtRandomWhileBothSidesCallGetOnlyTheirOwnAnswersAndLeakNothing)
{
    int seconds = EnvOr("PELLAX_SOAK_SECONDS", kDefaultSeconds);
    int clients = std::min(EnvOr("PELLAX_SOAK_CLIENTS", kDefaultClients), 1000);
    RaiseFdLimit(static_cast<size_t>(clients) * 4 + 1024);
    StartLibrary();
    Soak soak;
    CHostRecorder server(CHostRecorder::kServer);
    CHostRecorder client(CHostRecorder::kClient);
    server.AnswerRequests();
    server.SetHook([&](const HostEvent& event) {
        size_t at = event.type == 5 ? event.data.find("\"token\":") : std::string::npos;
        soak.Locked([&] {  // a join, leave or Register ends what the id stood for
            soak.registered.erase(event.type == 1 || event.type == 4 || event.type == 5 ? event.id : ~0u);
            if (at != std::string::npos) {
                soak.registered[event.id] = std::atol(event.data.c_str() + at + 8);
            }
        });
    });
    client.AnswerRequests([&](unsigned int handle, const std::string& body) {
        return "re:" + body + "|" + std::to_string(soak.Locked([&] { return soak.tokens[handle]; }));
    });
    client.SetHook([&](const HostEvent& event) {
        soak.Locked([&] { return event.type == 1 && soak.joined.insert(event.id).second; });
    });
    ASSERT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", 0, nullptr), 0);
    uint16_t port = COrvSingletonT<ORV::PELLAX::CServer>::Instance()->GetListenPort();
    auto live = [&] { return server.Count(1) - server.Count(4); };
    // One round of sessions first, so the counts taken below start from a library that has served.
    std::vector<int> warmUp;
    for (int i = 0; i < 16; ++i) {
        warmUp.push_back(soak.Open(port, 0));
    }
    for (int handle : warmUp) {
        EXPECT_TRUE(soak.WaitJoined(handle));
        soak.Close(handle);
    }
    ASSERT_TRUE(WaitUntil([&] { return live() == 0; }));
    size_t fdsAtStart = CountOpenFds();
    size_t threadsAtStart = CountThreads();
    Clock::time_point start = Clock::now();
    Clock::time_point end = start + std::chrono::seconds(seconds);
    std::vector<std::thread> workers;
    for (int i = 0; i < clients + kServerCallers; ++i) {
        workers.emplace_back(i < clients ? std::thread(RunClient, std::ref(soak), port, end, 1000u + i)
                                         : std::thread(RunServerCaller, std::ref(soak), end, 1u + i - clients));
    }
    std::this_thread::sleep_for((end - start) / 3);
    size_t warmResident = ResidentBytes();
    std::this_thread::sleep_for(end - Clock::now() - 200ms);
    size_t endResident = ResidentBytes();
    for (std::thread& worker : workers) {
        worker.join();
    }
    EXPECT_TRUE(soak.problems.empty()) << soak.problems.size() << " problems, first: " << soak.problems[0];
    // They did come and go, and both sides called.
    EXPECT_GT(soak.joins.load(), static_cast<size_t>(clients));
    EXPECT_GT(soak.clientCalls.load(), soak.joins.load());
    EXPECT_GT(soak.serverCalls.load(), 0u);
    EXPECT_LT(endResident, warmResident + warmResident / 2 + kResidentSlack);
    EXPECT_TRUE(WaitUntil([&] { return live() == 0; })) << live() << " clients never left";
    EXPECT_TRUE(WaitUntil([&] { return CountOpenFds() <= fdsAtStart; })) << DescribeOpenFds();
    EXPECT_TRUE(WaitUntil([&] { return CountThreads() <= threadsAtStart; })) << CountThreads() << " threads";
    EXPECT_EQ(PELLAX_SERVER_DestroySession(), 0);
    PELLAX_Uninit();
}

}  // namespace
}  // namespace pellax_test
