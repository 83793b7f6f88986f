// Clients join and leave at random while both sides make synchronous calls at full speed: every answer
// must be the caller's own, and the process must end where it started (descriptors, threads, memory).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "frame/Singleton.h"
#include "server/Server.h"
#include "support/HostRecorder.h"
#include "support/RawSocket.h"
#include "support/Wait.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PELLAX_SOAK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define PELLAX_SOAK_SANITIZED 1
#endif
#endif

namespace pellax_test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr size_t kMiB = 1024 * 1024;
#ifdef PELLAX_SOAK_SANITIZED
constexpr int kDefaultSeconds = 8;
constexpr int kDefaultClients = 8;
constexpr int kServerCallers = 2;
// The address sanitizer's quarantine keeps freed blocks resident by design (LeakSanitizer checks leaks).
constexpr size_t kResidentSlack = 512 * kMiB;
#else
constexpr int kDefaultSeconds = 25;
constexpr int kDefaultClients = 48;
constexpr int kServerCallers = 8;
constexpr size_t kResidentSlack = 32 * kMiB;
#endif
// A server call that failed is blamed on its client's leave only when the client began to close within
// this long of the call (or of answering it): only a frame still on its way when the connection goes
// may be lost with it, so a client that stayed longer means a lost request or answer. Generous, for a
// loaded machine, where a frame crosses in well under a millisecond.
constexpr auto kLeaveGrace = 1s;

int EnvOr(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    int value = text != nullptr ? std::atoi(text) : 0;
    return value > 0 ? value : fallback;
}

struct Tally {
    std::atomic<size_t> clientCalls{0};
    std::atomic<size_t> clientFailed{0};   // an error although the session was not going away
    std::atomic<size_t> clientCrossed{0};  // an answer that was not this call's
    std::atomic<size_t> serverCalls{0};
    std::atomic<size_t> serverFailed{0};
    std::atomic<size_t> serverCrossed{0};
    std::atomic<size_t> serverLostToLeave{0};
    std::atomic<size_t> joins{0};
    std::atomic<size_t> createFailed{0};

    // What the failed server calls returned, by whether their client's leave explains them.
    void ServerFailed(int code, bool byLeave)
    {
        ++(byLeave ? serverLostToLeave : serverFailed);
        std::lock_guard<std::mutex> guard(mutex);
        ++(byLeave ? leaveCodes : failedCodes)[code];
    }
    std::string Codes(bool byLeave)
    {
        std::lock_guard<std::mutex> guard(mutex);
        std::string text;
        for (const auto& entry : byLeave ? leaveCodes : failedCodes) {
            text += " " + std::to_string(entry.first) + " x" + std::to_string(entry.second);
        }
        return text;
    }
    std::mutex mutex;
    std::map<int, size_t> failedCodes;
    std::map<int, size_t> leaveCodes;
};

// What the server host knows of each client id: whether it is connected and the token it registered.
struct Peer {
    bool live = false;
    long token = 0;  // 0 until registered
};

class SoakHosts {
public:
    static int OnServer(unsigned int id, unsigned int type, PELLAX_Message* message, void* user)
    {
        auto* hosts = static_cast<SoakHosts*>(user);
        if (type == 0 && message != nullptr && (message->command & 1u) == 0) {
            std::string body = "re:" + std::string(reinterpret_cast<char*>(message->data), message->dataLength);
            PELLAX_Message answer = MakeRecord(message->command + 1, message->sequence, body);
            PELLAX_SERVER_Send(id, &answer);
            return 0;
        }
        std::lock_guard<std::mutex> guard(hosts->m_mutex);
        Peer& peer = hosts->m_peers[id];
        if (type == 1) {
            peer.live = true;
            peer.token = 0;
        } else if (type == 4) {
            peer.live = false;
            peer.token = 0;
        } else if (type == 5 && message != nullptr) {
            std::string params(reinterpret_cast<char*>(message->data), message->dataLength);
            size_t at = params.find("\"token\":");
            peer.token = at == std::string::npos ? 0 : std::atol(params.c_str() + at + 8);
        }
        return 0;
    }

    static int OnClient(unsigned int handle, unsigned int type, PELLAX_Message* message, void* user)
    {
        auto* hosts = static_cast<SoakHosts*>(user);
        if (type == 1) {
            std::lock_guard<std::mutex> guard(hosts->m_mutex);
            hosts->m_joined[handle] = true;
            return 0;
        }
        if (type != 0 || message == nullptr || (message->command & 1u) != 0) {
            return 0;
        }
        long token = 0;
        std::string request(reinterpret_cast<char*>(message->data), message->dataLength);
        {
            std::lock_guard<std::mutex> guard(hosts->m_mutex);
            auto found = hosts->m_tokens.find(handle);
            token = found == hosts->m_tokens.end() ? 0 : found->second;
            hosts->m_answeredAt[request] = Clock::now();
        }
        std::string body = "re:" + request + "|" + std::to_string(token);
        PELLAX_Message answer = MakeRecord(message->command + 1, message->sequence, body);
        PELLAX_CLIENT_Send(handle, &answer);
        return 0;
    }

    // Handles are reused as soon as a session is destroyed: opening and closing are serialised so a
    // handle's entries always belong to its present session. The join may be reported before Open.
    int Open(uint16_t port, long token)
    {
        std::lock_guard<std::mutex> life(m_lifeMutex);
        int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", port, nullptr);
        if (handle >= 0) {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_tokens[static_cast<unsigned int>(handle)] = token;
        }
        return handle;
    }
    void Close(unsigned int handle)
    {
        std::lock_guard<std::mutex> life(m_lifeMutex);
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            auto found = m_tokens.find(handle);
            if (found != m_tokens.end()) {
                m_closingAt[found->second] = Clock::now();
            }
        }
        PELLAX_CLIENT_DestroySession(handle);
        std::lock_guard<std::mutex> guard(m_mutex);
        m_tokens.erase(handle);
        m_joined[handle] = false;
    }
    // When the client with this token began to close, if it had by now.
    bool ClosingSince(long token, Clock::time_point* at) { return Find(m_closingAt, token, at, false); }
    // When a client answered the request with this body, if it did; forgotten afterwards.
    bool TakeAnswered(const std::string& request, Clock::time_point* at)
    {
        return Find(m_answeredAt, request, at, true);
    }
    bool Joined(unsigned int handle)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_joined[handle];
    }

    // A registered client at random: its id and token.
    bool PickRegistered(std::mt19937& random, unsigned int* id, Peer* peer)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        std::vector<std::pair<unsigned int, Peer>> candidates;
        for (const auto& entry : m_peers) {
            if (entry.second.live && entry.second.token != 0) {
                candidates.push_back(entry);
            }
        }
        if (candidates.empty()) {
            return false;
        }
        const auto& chosen = candidates[random() % candidates.size()];
        *id = chosen.first;
        *peer = chosen.second;
        return true;
    }
    size_t Live()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return static_cast<size_t>(
            std::count_if(m_peers.begin(), m_peers.end(), [](const auto& entry) { return entry.second.live; }));
    }

private:
    template <class Key> bool Find(std::map<Key, Clock::time_point>& times, const Key& key, Clock::time_point* at,
                                   bool forget)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        auto found = times.find(key);
        if (found == times.end()) {
            return false;
        }
        *at = found->second;
        if (forget) {
            times.erase(found);
        }
        return true;
    }

    std::mutex m_lifeMutex;
    std::mutex m_mutex;
    std::map<unsigned int, Peer> m_peers;
    std::map<unsigned int, long> m_tokens;
    std::map<unsigned int, bool> m_joined;
    std::map<long, Clock::time_point> m_closingAt;           // by token
    std::map<std::string, Clock::time_point> m_answeredAt;  // by server request body
};

// One client slot: open a session, call for a random while, close it, again until the end.
void RunClient(SoakHosts& hosts, Tally& tally, std::atomic<long>& nextToken, uint16_t port, Clock::time_point end,
               unsigned int seed)
{
    std::mt19937 random(seed);
    while (Clock::now() < end) {
        long token = nextToken++;
        int handle = hosts.Open(port, token);
        if (handle < 0) {
            ++tally.createFailed;
            std::this_thread::sleep_for(10ms);
            continue;
        }
        unsigned int h = static_cast<unsigned int>(handle);
        std::string userdata = "{\"token\":" + std::to_string(token) + "}";
        PELLAX_CLIENT_SetUserData(h, 0, userdata.c_str());
        if (WaitUntil([&] { return hosts.Joined(h); })) {
            ++tally.joins;
            Clock::time_point leave = Clock::now() + std::chrono::milliseconds(200 + random() % 2800);
            for (uint32_t n = 0; Clock::now() < leave && Clock::now() < end; ++n) {
                std::string body = "c" + std::to_string(token) + ":" + std::to_string(n);
                PELLAX_Message request = MakeRecord(8000, n, body);
                PELLAX_Message response{};
                int result = PELLAX_CLIENT_SynSend(h, &request, &response, 10);
                ++tally.clientCalls;
                if (result != 0) {
                    ++tally.clientFailed;
                } else if (TakeBody(response) != "re:" + body || response.sequence != n) {
                    ++tally.clientCrossed;
                }
            }
        } else {
            ++tally.createFailed;
        }
        hosts.Close(h);
    }
}

// True when the picked client's leave explains a failed call (or an answer from a client that took over
// its id): it began to close before the call returned and soon after it got the request, or answered it.
bool EndedByLeave(SoakHosts& hosts, long token, const std::string& request, Clock::time_point called,
                  Clock::time_point returned)
{
    Clock::time_point answered;
    Clock::time_point reference = hosts.TakeAnswered(request, &answered) ? answered : called;
    Clock::time_point closing;
    return hosts.ClosingSince(token, &closing) && closing < returned && closing < reference + kLeaveGrace;
}

// Calls registered clients at random; a call may only fail when its client went away meanwhile.
void RunServerCaller(SoakHosts& hosts, Tally& tally, Clock::time_point end, unsigned int seed)
{
    std::mt19937 random(seed);
    for (uint32_t n = 0; Clock::now() < end; ++n) {
        unsigned int id = 0;
        Peer peer;
        if (!hosts.PickRegistered(random, &id, &peer)) {
            std::this_thread::sleep_for(1ms);
            continue;
        }
        std::string body = "s" + std::to_string(seed) + ":" + std::to_string(n);
        PELLAX_Message request = MakeRecord(9000, n, body);
        PELLAX_Message response{};
        Clock::time_point called = Clock::now();
        int result = PELLAX_SERVER_SynSend(id, &request, &response, 5);
        Clock::time_point returned = Clock::now();
        ++tally.serverCalls;
        if (result == 0) {
            std::string answer = TakeBody(response);
            std::string mine = "re:" + body + "|";
            bool left = EndedByLeave(hosts, peer.token, body, called, returned);
            if (answer == mine + std::to_string(peer.token) && response.sequence == n) {
                continue;
            }
            // Only a client that took over the id of one that left may answer with its own token.
            if (left && answer.compare(0, mine.size(), mine) == 0 && response.sequence == n) {
                ++tally.serverLostToLeave;
            } else {
                ++tally.serverCrossed;
            }
        } else {
            tally.ServerFailed(result, EndedByLeave(hosts, peer.token, body, called, returned));
        }
    }
}

TEST(Soak, ClientsJoiningAndLeavingAtRandomWhileBothSidesCallGetOnlyTheirOwnAnswersAndLeakNothing)
{
    int seconds = EnvOr("PELLAX_SOAK_SECONDS", kDefaultSeconds);
    int clients = std::min(EnvOr("PELLAX_SOAK_CLIENTS", kDefaultClients), 1000);
    RaiseFdLimit(static_cast<size_t>(clients) * 4 + 1024);

    StartLibrary();
    SoakHosts hosts;
    PELLAX_SERVER_SetNotifyCallBack(&SoakHosts::OnServer, &hosts);
    PELLAX_CLIENT_SetNotifyCallBack(&SoakHosts::OnClient, &hosts);
    ASSERT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", 0, nullptr), 0);
    uint16_t port = COrvSingletonT<ORV::PELLAX::CServer>::Instance()->GetListenPort();
    ASSERT_NE(port, 0);
    // One round of sessions first, so the counts taken below start from a library that has served.
    std::vector<int> warmUp;
    for (int i = 0; i < 16; ++i) {
        warmUp.push_back(hosts.Open(port, 0));
        ASSERT_GE(warmUp.back(), 0);
    }
    for (int handle : warmUp) {
        EXPECT_TRUE(WaitUntil([&] { return hosts.Joined(static_cast<unsigned int>(handle)); }));
        hosts.Close(static_cast<unsigned int>(handle));
    }
    ASSERT_TRUE(WaitUntil([&] { return hosts.Live() == 0; }));
    size_t fdsAtStart = CountOpenFds();
    std::string fdsDescribedAtStart = DescribeOpenFds();
    size_t threadsAtStart = CountThreads();

    Tally tally;
    std::atomic<long> nextToken{1};
    Clock::time_point start = Clock::now();
    Clock::time_point end = start + std::chrono::seconds(seconds);
    std::vector<std::thread> workers;
    for (int i = 0; i < clients; ++i) {
        workers.emplace_back(RunClient, std::ref(hosts), std::ref(tally), std::ref(nextToken), port, end, 1000u + i);
    }
    for (int i = 0; i < kServerCallers; ++i) {
        workers.emplace_back(RunServerCaller, std::ref(hosts), std::ref(tally), end, 1u + i);
    }
    std::this_thread::sleep_for((end - start) / 3);
    size_t warmResident = ResidentBytes();
    std::this_thread::sleep_for(end - Clock::now() - std::chrono::milliseconds(200));
    size_t endResident = ResidentBytes();
    for (std::thread& worker : workers) {
        worker.join();
    }

    std::printf("[ figures ] soak %d s, %d clients: %zu sessions, %zu client calls, %zu server calls (%zu ended by a "
                "leave, returning%s), resident %.1f MiB after warm-up and %.1f MiB at the end\n",
                seconds, clients, tally.joins.load(), tally.clientCalls.load(), tally.serverCalls.load(),
                tally.serverLostToLeave.load(), tally.Codes(true).c_str(), double(warmResident) / kMiB,
                double(endResident) / kMiB);
    EXPECT_EQ(tally.clientCrossed.load(), 0u);
    EXPECT_EQ(tally.serverCrossed.load(), 0u);
    EXPECT_EQ(tally.clientFailed.load(), 0u);
    EXPECT_EQ(tally.serverFailed.load(), 0u) << "returned" << tally.Codes(false);
    EXPECT_EQ(tally.createFailed.load(), 0u);
    EXPECT_GT(tally.joins.load(), static_cast<size_t>(clients));  // they did come and go
    EXPECT_GT(tally.clientCalls.load(), tally.joins.load());
    EXPECT_GT(tally.serverCalls.load(), 0u);
    EXPECT_LT(endResident, warmResident + warmResident / 2 + kResidentSlack);

    EXPECT_TRUE(WaitUntil([&] { return hosts.Live() == 0; })) << hosts.Live() << " clients never left";
    EXPECT_TRUE(WaitUntil([&] { return CountOpenFds() <= fdsAtStart; }))
        << CountOpenFds() << " descriptors against " << fdsAtStart << "\nnow:   " << DescribeOpenFds()
        << "\nstart: " << fdsDescribedAtStart;
    EXPECT_TRUE(WaitUntil([&] { return CountThreads() <= threadsAtStart; }))
        << CountThreads() << " threads against " << threadsAtStart;
    EXPECT_EQ(PELLAX_SERVER_DestroySession(), 0);
    PELLAX_SERVER_SetNotifyCallBack(nullptr, nullptr);
    PELLAX_CLIENT_SetNotifyCallBack(nullptr, nullptr);
    PELLAX_Uninit();
}

}  // namespace
}  // namespace pellax_test
