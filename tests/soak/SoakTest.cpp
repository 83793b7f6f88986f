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

#ifdef PELLAX_SOAK_SANITIZED
constexpr int kDefaultSeconds = 8;
constexpr int kDefaultClients = 8;
constexpr int kServerCallers = 2;
#else
constexpr int kDefaultSeconds = 25;
constexpr int kDefaultClients = 48;
constexpr int kServerCallers = 8;
#endif
constexpr size_t kMiB = 1024 * 1024;

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
};

// What the server host knows of each client id: the connection's generation and the token it registered.
struct Peer {
    uint64_t generation = 0;
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
            ++peer.generation;
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
        {
            std::lock_guard<std::mutex> guard(hosts->m_mutex);
            auto found = hosts->m_tokens.find(handle);
            token = found == hosts->m_tokens.end() ? 0 : found->second;
        }
        std::string body = "re:" + std::string(reinterpret_cast<char*>(message->data), message->dataLength) + "|" +
                           std::to_string(token);
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
        PELLAX_CLIENT_DestroySession(handle);
        std::lock_guard<std::mutex> guard(m_mutex);
        m_tokens.erase(handle);
        m_joined[handle] = false;
    }
    bool Joined(unsigned int handle)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_joined[handle];
    }

    // A registered client at random: its id, generation and token.
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
    bool StillThere(unsigned int id, uint64_t generation)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        const Peer& peer = m_peers[id];
        return peer.live && peer.generation == generation;
    }
    size_t Live()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return static_cast<size_t>(
            std::count_if(m_peers.begin(), m_peers.end(), [](const auto& entry) { return entry.second.live; }));
    }

private:
    std::mutex m_lifeMutex;
    std::mutex m_mutex;
    std::map<unsigned int, Peer> m_peers;
    std::map<unsigned int, long> m_tokens;
    std::map<unsigned int, bool> m_joined;
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
        int result = PELLAX_SERVER_SynSend(id, &request, &response, 5);
        ++tally.serverCalls;
        if (result == 0) {
            if (TakeBody(response) != "re:" + body + "|" + std::to_string(peer.token) || response.sequence != n) {
                ++tally.serverCrossed;
            }
        } else if (hosts.StillThere(id, peer.generation)) {
            ++tally.serverFailed;
        } else {
            ++tally.serverLostToLeave;
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
    // One round of sessions first: the transport's pool threads set up their pollers on first use.
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
                "leave), resident %.1f MiB after warm-up and %.1f MiB at the end\n",
                seconds, clients, tally.joins.load(), tally.clientCalls.load(), tally.serverCalls.load(),
                tally.serverLostToLeave.load(), double(warmResident) / kMiB, double(endResident) / kMiB);
    EXPECT_EQ(tally.clientCrossed.load(), 0u);
    EXPECT_EQ(tally.serverCrossed.load(), 0u);
    EXPECT_EQ(tally.clientFailed.load(), 0u);
    EXPECT_EQ(tally.serverFailed.load(), 0u);
    EXPECT_EQ(tally.createFailed.load(), 0u);
    EXPECT_GT(tally.joins.load(), static_cast<size_t>(clients));  // they did come and go
    EXPECT_GT(tally.clientCalls.load(), tally.joins.load());
    EXPECT_GT(tally.serverCalls.load(), 0u);
    EXPECT_LT(endResident, warmResident + warmResident / 2 + 32 * kMiB);

    EXPECT_TRUE(WaitUntil([&] { return hosts.Live() == 0; })) << hosts.Live() << " clients never left";
    EXPECT_TRUE(WaitUntil([&] { return CountOpenFds() <= fdsAtStart; }))
        << CountOpenFds() << " descriptors against " << fdsAtStart;
    EXPECT_TRUE(WaitUntil([&] { return CountThreads() <= threadsAtStart; }))
        << CountThreads() << " threads against " << threadsAtStart;
    EXPECT_EQ(PELLAX_SERVER_DestroySession(), 0);
    PELLAX_SERVER_SetNotifyCallBack(nullptr, nullptr);
    PELLAX_CLIENT_SetNotifyCallBack(nullptr, nullptr);
    PELLAX_Uninit();
}

}  // namespace
}  // namespace pellax_test
