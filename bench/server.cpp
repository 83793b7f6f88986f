// Server round trips against raw blocking sockets, beside a plain-socket echo with the same framing.
//
//   plain:  raw client --frame--> plain echo thread --same bytes--> raw client
//   send:   raw client --frame--> library --notification 0--> host callback --PELLAX_SERVER_Send--> raw client
//   synsend: host PELLAX_SERVER_SynSend --frame--> raw client answering --> library --> host
//
// Prints the median round trip of each in microseconds and the library's overhead over plain.
// Run it unpinned and under `taskset -c 0` to see both schedules.
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "WireFrame.h"
#include "frame/Singleton.h"
#include "pellax.h"
#include "server/Server.h"

using namespace pellax_bench;

namespace {

constexpr size_t kBodySize = 64;
constexpr size_t kCommandOffset = pellax_tool::kWireLengthPrefix + pellax_tool::kWireCommandOffset;  // in a message with its prefix
constexpr int kWarmup = 2000;
constexpr int kRounds = 20000;
using Clock = std::chrono::steady_clock;

std::vector<uint8_t> DataMessage(uint32_t command, uint32_t sequence)
{
    return pellax_tool::EncodeMessage(pellax_tool::MakeFrame(command, sequence, std::string(kBodySize, 'Z')));
}

// Times one round trip as given, kWarmup untimed and then kRounds timed; stops at the first failure.
template <class RoundTrip> double MedianRoundTrip(RoundTrip roundTrip)
{
    std::vector<double> samples;
    for (int i = 0; i < kWarmup + kRounds; ++i) {
        auto start = Clock::now();
        if (!roundTrip()) {
            break;
        }
        if (i >= kWarmup) {
            samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
    }
    return Median(samples);
}

// Sends a frame and waits for one back.
double ClientRoundTrips(int fd)
{
    std::vector<uint8_t> request = DataMessage(1000, 1);
    std::vector<uint8_t> reply;
    return MedianRoundTrip([&] { return WriteAll(fd, request.data(), request.size()) && ReadMessage(fd, reply); });
}

double PlainRoundTrip()
{
    CPlainEcho echo;
    int fd = echo.Connect();
    double median = ClientRoundTrips(fd);
    ::close(fd);
    return median;
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

// A library server with one raw client connected and joined; the client's descriptor, or -1.
int StartServerWithClient()
{
    g_clientId = -1;
    PELLAX_SERVER_SetNotifyCallBack(&EchoFromCallback, nullptr);
    if (PELLAX_SERVER_CreateSession("127.0.0.1", 0, nullptr) != 0) {
        return -1;
    }
    int fd = ConnectTo(COrvSingletonT<ORV::PELLAX::CServer>::Instance()->GetListenPort());
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (fd >= 0 && g_clientId.load() < 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (fd >= 0 && g_clientId.load() < 0) {
        ::close(fd);
        fd = -1;
    }
    return fd;
}

double LibrarySendRoundTrip()
{
    int fd = StartServerWithClient();
    double median = fd >= 0 ? ClientRoundTrips(fd) : 0.0;
    ::close(fd);
    PELLAX_SERVER_DestroySession();
    return median;
}

double LibrarySynSendRoundTrip()
{
    int fd = StartServerWithClient();
    if (fd < 0) {
        PELLAX_SERVER_DestroySession();
        return 0.0;
    }
    std::thread answerer([fd] {
        std::vector<uint8_t> message;
        while (ReadMessage(fd, message)) {
            // odd command, same sequence
            uint8_t* command = message.data() + kCommandOffset;
            pellax_tool::StoreBigEndian(command, pellax_tool::LoadBigEndian(command, 4) + 1, 4);
            if (!WriteAll(fd, message.data(), message.size())) {
                break;
            }
        }
    });
    std::vector<uint8_t> body(kBodySize, 'b');
    double median = MedianRoundTrip([&] {
        PELLAX_Message request{};
        request.command = 1000;
        request.data = body.data();
        request.dataLength = static_cast<int32_t>(body.size());
        PELLAX_Message response{};
        int result = PELLAX_SERVER_SynSend(static_cast<unsigned int>(g_clientId.load()), &request, &response, 5);
        PELLAX_FreeBuffer(response.data);
        return result == 0;
    });
    ::shutdown(fd, SHUT_RDWR);
    answerer.join();
    ::close(fd);
    PELLAX_SERVER_DestroySession();
    return median;
}

}  // namespace

int main()
{
    PELLAX_Init(&DropLog);
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
