// A client session behind PELLAX_CLIENT_*, against a raw server peer that speaks the wire format by hand or
// against this library's server: what goes on the wire, what reaches the host, and the table of 1024 handles.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "frame/Singleton.h"
#include "platform/OrvProcess.h"
#include "platform/OrvSession.h"
#include "server/Server.h"
#include "support/HostRecorder.h"
#include "support/RawSocket.h"
#include "support/RawServerPeer.h"

namespace pellax_test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr uint32_t kSyncBit = 0x80000000u;

bool Within(Clock::time_point from, Clock::time_point to, double least, double most)
{
    double seconds = std::chrono::duration<double>(to - from).count();
    return seconds > least && seconds < most;
}

// Command, sequence, flag, body and extensions as "[type:data]", to compare whole frames at once.
std::string Text(const WireFrame& frame)
{
    std::string text = std::to_string(frame.command) + " " + std::to_string(frame.sequence) + " " +
                       std::to_string(frame.flag) + " " + frame.BodyText();
    for (const WireExt& ext : frame.exts) {
        text += " [" + std::to_string(ext.type) + ":" + std::string(ext.data.begin(), ext.data.end()) + "]";
    }
    return text;
}

std::string Text(const HostEvent& event)
{
    std::string text = std::to_string(event.command) + " " + std::to_string(event.sequence) + " " +
                       std::to_string(event.flag) + " " + std::to_string(event.timestamp) + " " + event.data;
    for (const auto& [type, data] : event.exts) {
        text += " [" + std::to_string(type) + ":" + data + "]";
    }
    return text;
}

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartLibrary();
        InitializeSessionEx(0, 10);
        m_host = std::make_unique<CHostRecorder>(CHostRecorder::kClient, true);
    }
    void TearDown() override
    {
        PELLAX_SERVER_DestroySession();
        // The transport first: after it stops no callback of any session runs.
        UnInitializeSession();
        m_host.reset();
        PELLAX_Uninit();
    }

    int Join()
    {
        int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", m_peer.GetPort(), nullptr);
        EXPECT_TRUE(handle >= 0 && m_peer.Accept() && m_host->WaitFor(1, handle));
        return handle;
    }

    // The next frame that is not a Register (one goes out every second until answered).
    bool ReceiveData(WireFrame* frame)
    {
        for (int i = 0; i < 30 && m_peer.ReceiveFrame(frame); ++i) {
            if (frame->command != 0) {
                return true;
            }
        }
        return false;
    }

    std::unique_ptr<CHostRecorder> m_host;
    CRawServerPeer m_peer;
};

TEST_F(ClientTest, SendAndSynSendCarryEveryFieldAndRefuseExtensionsOverTheSixteenBitArea)
{
    int handle = Join();
    std::vector<unsigned char> big(65528, 'e');  // 8 + 65528 = 65536 encoded bytes
    PELLAX_MessageExt bigExt{1, static_cast<uint32_t>(big.size()), big.data(), nullptr};
    PELLAX_Message message = MakeRecord(2, 0, "b");
    message.ext = &bigExt;
    PELLAX_Message response{};
    EXPECT_EQ(PELLAX_CLIENT_Send(handle, &message) + PELLAX_CLIENT_SynSend(handle, &message, &response, 1), -8);
    bigExt.length = 65527;  // exactly 65535: still fits
    ASSERT_EQ(PELLAX_CLIENT_Send(handle, &message), 0);
    unsigned char x[] = "xyz";
    PELLAX_MessageExt second{8, 2, x + 1, nullptr}, first{7, 1, x, &second};
    message = MakeRecord(2000, 31, "hello");
    message.flag = 0x1FF;
    message.ext = &first;
    ASSERT_EQ(PELLAX_CLIENT_Send(handle, &message), 0);
    // The first data frame on the wire is the one that fits: the refused ones never went out.
    WireFrame frame;
    ASSERT_TRUE(ReceiveData(&frame) && frame.exts.size() == 1);
    EXPECT_EQ(frame.exts[0].data.size(), 65527u);
    ASSERT_TRUE(ReceiveData(&frame));
    EXPECT_EQ(Text(frame), "2000 31 255 hello [7:x] [8:yz]");
    EXPECT_NE(frame.timestamp, 0u);

    // The record's own sequence comes back, the answer's extensions reversed, every part from its allocator;
    // then a header-only call both ways.
    PELLAX_Message request = MakeRecord(1000, 1234, "question");
    response.allocator = &CountingAllocator;
    auto call = std::async(std::launch::async, [&] { return PELLAX_CLIENT_SynSend(handle, &request, &response, 10); });
    ASSERT_TRUE(ReceiveData(&frame));
    EXPECT_EQ(Text(frame), "1000 " + std::to_string(frame.sequence | kSyncBit) + " 0 question");
    WireFrame answer = MakeFrame(1001, frame.sequence, "answer!");
    answer.flag = 9;
    answer.timestamp = 555;
    answer.exts = {{1, {'f'}}, {2, {'s', 'e'}}};
    ASSERT_TRUE(m_peer.SendFrame(answer));
    ASSERT_EQ(call.wait_for(10s), std::future_status::ready);
    ASSERT_EQ(call.get(), 0);
    EXPECT_EQ(std::make_tuple(response.sequence, response.command, response.flag, response.timestamp),
              std::make_tuple(1234u, 1001u, 9, uint64_t{555}));
    std::string exts;
    for (PELLAX_MessageExt* node = response.ext; node != nullptr;) {
        exts += std::to_string(node->type) + ":" + std::string(reinterpret_cast<char*>(node->data), node->length) + " ";
        PELLAX_FreeBuffer(node->data);
        PELLAX_FreeBuffer(std::exchange(node, node->next));
    }
    EXPECT_EQ(exts, "2:se 1:f ");
    EXPECT_EQ(g_allocations.load(), 5);  // two nodes, their data and the body
    EXPECT_EQ(TakeBody(response), "answer!");

    request = PELLAX_Message{};
    request.command = 40;
    call = std::async(std::launch::async, [&] { return PELLAX_CLIENT_SynSend(handle, &request, &response, 10); });
    ASSERT_TRUE(ReceiveData(&frame));
    EXPECT_EQ(Text(frame), "40 " + std::to_string(frame.sequence) + " 0 ");
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(41, frame.sequence, "")));
    ASSERT_EQ(call.get(), 0);
    EXPECT_EQ(std::make_pair(response.command, response.dataLength), std::make_pair(41u, 0));
    EXPECT_EQ(m_host->Count(0, handle), 0u) << "answers are not data";
}

// Frames shorter than their header announces are dropped and answer nothing; the host destroying the session
// ends a waiting call with the same code, well within its time-out.
TEST_F(ClientTest, AnUnansweredSynSendGivesMinusTwoAfterItsTimeOut)
{
    int handle = Join();
    auto peer = std::async(std::launch::async, [&] {
        WireFrame asked;
        if (!ReceiveData(&asked)) {
            return false;
        }
        WireFrame shortAnswer = MakeFrame(1001, asked.sequence, "abc");
        shortAnswer.bodyLengthField = 100;
        bool sent = m_peer.SendFrame(shortAnswer);
        shortAnswer.command = 2;
        return sent && m_peer.SendFrame(shortAnswer) && m_peer.SendMessage(std::vector<uint8_t>(20, 1));
    });
    PELLAX_Message request = MakeRecord(1000, 0, "anyone?");
    PELLAX_Message response{};
    Clock::time_point start = Clock::now();
    EXPECT_EQ(PELLAX_CLIENT_SynSend(handle, &request, &response, 2), -2);
    EXPECT_TRUE(Within(start, Clock::now(), 1.9, 60));
    EXPECT_TRUE(peer.get());
    EXPECT_EQ(response.data, nullptr);
    EXPECT_EQ(CountLogLines("[session=0,len=7]Send Failed. ClientSession"), 1u);
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(2, 0, "whole")));
    ASSERT_TRUE(m_host->WaitFor(0, handle) && m_host->Count(0, handle) == 1);
    EXPECT_EQ(m_host->Events(0)[0].data, "whole");
    EXPECT_EQ(std::make_pair(CountLogLines("short frame dropped"), CountLogLines("short frame dropped", 4)),
              std::make_pair(size_t(3), size_t(3)));

    auto call = std::async(std::launch::async, [&] { return PELLAX_CLIENT_SynSend(handle, &request, &response, 1); });
    WireFrame asked;
    EXPECT_TRUE(ReceiveData(&asked));
    start = Clock::now();
    EXPECT_EQ(PELLAX_CLIENT_DestroySession(handle), 0);
    EXPECT_EQ(call.get(), -2);
    EXPECT_TRUE(Within(start, Clock::now(), 0, 2.5));
}

// On the real clock (tests/clock checks the silence boundaries exactly): Register a second after the join with
// the user data, keepalives every second once it is answered, then the server reported silent a little after
// twice the time-out since its last frame. A Register answer without data, or not JSON, is ignored.
TEST_F(ClientTest, RegisterResponseSetsTheIntervalAndKeepalivesFollowEverySecondUntilTheServerFallsSilent)
{
    const std::string pid = std::to_string(OrvCurrentProcessId());
    int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", m_peer.GetPort(), nullptr);
    ASSERT_EQ(handle, 0);
    ASSERT_EQ(PELLAX_CLIENT_SetUserData(handle, 0, "{\"zone\":\"a b\",\"n\":[1,2]}"), 0);
    ASSERT_EQ(PELLAX_CLIENT_SetUserData(handle, 1, "{\"k\":2}"), 0);
    ASSERT_TRUE(m_peer.Accept());
    HostEvent event;
    ASSERT_TRUE(m_host->WaitFor(1, handle, &event));
    WireFrame request;
    ASSERT_TRUE(m_peer.ReceiveFrame(&request));
    EXPECT_TRUE(Within(event.at, Clock::now(), 0.5, 3.0));
    EXPECT_EQ(Text(request), "0 " + std::to_string(request.sequence & ~kSyncBit) +
                                 " 0 {\"method\":\"Register\",\"params\":{\"pid\":" + pid +
                                 ",\"userdata\":{\"zone\":\"a b\",\"n\":[1,2]}}}");
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(1, request.sequence, "{\"resultCode\":\"200\"}")));
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(1, request.sequence, "not json")));
    ASSERT_TRUE(WaitUntil([&] { return CountLogLines("register data is not object") == 1; }));
    ASSERT_TRUE(WaitUntil([&] { return CountLogLines("[rsp=not json]parse json failed") == 1; }));
    EXPECT_EQ(m_host->Count(5, handle), 0u);
    const std::string ok = "{\"resultCode\":\"200\",\"message\":\"OK\",\"data\":";
    const std::string settings = "{\"ppid\":4242,\"keepalive-interval\":1,\"keepalive-timeout\":1}";
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(1, request.sequence, ok + settings + "}")));

    ASSERT_TRUE(m_host->WaitFor(5, handle, &event) && event.hasRecord);
    EXPECT_EQ(std::make_tuple(event.command, event.sequence, event.data), std::make_tuple(~0u, ~0u, settings));
    EXPECT_TRUE(CountLogLines("[interval=1]keepalive info") && CountLogLines("[timeout=1000]keepalive info"));
    Clock::time_point previous = event.at;
    Clock::time_point lastAnswer = previous;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(ReceiveData(&request));
        EXPECT_TRUE(Within(previous, Clock::now(), 0.4, 2.5)) << "keepalive " << i;
        previous = Clock::now();
        EXPECT_EQ(Text(request), "10 " + std::to_string(request.sequence & ~kSyncBit) +
                                     " 0 {\"method\":\"Keepalive\",\"params\":{\"pid\":" + pid + ",\"userdata\":{\"k\":2}}}");
        if (i == 0) {
            ASSERT_TRUE(m_peer.SendFrame(MakeFrame(11, request.sequence, ok + "{\"ppid\":4242,\"userdata\":[7]}}")));
            lastAnswer = Clock::now();
        }
    }
    ASSERT_TRUE(m_host->WaitFor(6, handle, &event));
    EXPECT_EQ(std::make_pair(event.command, event.data), std::make_pair(~0u, std::string("{\"ppid\":4242,\"userdata\":[7]}")));
    ASSERT_TRUE(m_host->WaitFor(4, handle, &event));
    EXPECT_TRUE(Within(lastAnswer, event.at, 1.9, 6.0));
    EXPECT_EQ(CountLogLines("OnHeartBeatTimeOut."), 1u);
    EXPECT_EQ(m_host->Count(3, handle), 0u) << "the connection is left to the host";
}

// Requests the client would normally send, and an odd command without the synchronous bit, are data too; an
// answer nobody waits for is dropped. A synchronous call from the session's own callback could never see its
// answer: it fails at once.
TEST_F(ClientTest, DataFramesReachTheHostWithTheExtensionListReversedAndStrayAnswersDoNot)
{
    int handle = Join();
    std::promise<std::pair<int, bool>> inner;
    std::atomic<bool> once{false};
    m_host->SetHook([&](const HostEvent& event) {
        if (event.type == 0 && !once.exchange(true)) {
            PELLAX_Message request = MakeRecord(1000, 0, "inner");
            PELLAX_Message response{};
            Clock::time_point start = Clock::now();
            int result = PELLAX_CLIENT_SynSend(event.id, &request, &response, 5);
            inner.set_value({result, Within(start, Clock::now(), -1, 2.0)});
        }
    });
    WireFrame frame = MakeFrame(2, 77, "payload");
    frame.flag = 5;
    frame.timestamp = 0x0102030405060708ull;
    frame.exts = {{1, {'a', 'b'}}, {2, {}}, {3, {'x', 'y', 'z'}}};
    for (const WireFrame& next : {frame, MakeFrame(0, 5, "r"), MakeFrame(3, 6, "s"), MakeFrame(3, kSyncBit | 9, "late"),
                                  MakeFrame(2, 10, "next")}) {
        ASSERT_TRUE(m_peer.SendFrame(next));
    }
    auto outcome = inner.get_future();
    bool answered = outcome.wait_for(10s) == std::future_status::ready;
    m_host->SetHook(nullptr);
    ASSERT_TRUE(answered);
    EXPECT_EQ(outcome.get(), std::make_pair(-2, true));
    EXPECT_EQ(CountLogLines("SyncSend on the session's own thread."), 1u);

    ASSERT_TRUE(m_host->WaitForCount(0, 4, handle));
    EXPECT_TRUE(StaysFalse([&] { return m_host->Count(0, handle) > 4; }));
    std::vector<std::string> events;
    for (const HostEvent& event : m_host->Events(0)) {
        events.push_back(Text(event));
    }
    EXPECT_EQ(events, (std::vector<std::string>{"2 77 5 72623859790382856 payload [3:xyz] [2:] [1:ab]", "0 5 0 0 r",
                                                "3 6 0 0 s", "2 10 0 0 next"}));
    m_peer.Close();
    ASSERT_TRUE(m_host->WaitFor(3, handle));
    EXPECT_EQ(CountLogLines("[clientID=0]Client Leave Session"), 1u);
}

// A listener whose accept queue is full drops further connection attempts, so they hang until the connect
// time-out ends them: an integer one is honoured, any other leaves five seconds.
TEST_F(ClientTest, ConnectingToAClosedPortGivesEvent2AndAHangingConnectEndsAtItsTimeOut)
{
    uint16_t port = m_peer.GetPort();
    m_peer.CloseListener();
    ASSERT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", port, nullptr), 0);
    ASSERT_TRUE(m_host->WaitFor(2, 0) && m_host->Count(1, 0) == 0);
    EXPECT_EQ(CountLogLines("[clientID=0]Client join Session failed."), 1u);

    CRawServerPeer full(0);
    CRawSocket fillers[3];
    for (auto& filler : fillers) {
        filler.Connect(full.GetPort(), 300ms);
    }
    Clock::time_point start = Clock::now();
    int integer = PELLAX_CLIENT_CreateSession("127.0.0.1", full.GetPort(), "{\"connect-timeout\":2}");
    int text = PELLAX_CLIENT_CreateSession("127.0.0.1", full.GetPort(), "{\"connect-timeout\":\"2\"}");
    HostEvent integerEnd, textEnd;
    ASSERT_TRUE(m_host->WaitFor(2, integer, &integerEnd) && m_host->WaitFor(2, text, &textEnd));
    EXPECT_TRUE(Within(start, integerEnd.at, 1.5, 4.5));
    EXPECT_TRUE(Within(start, textEnd.at, 4.0, 8.0));
}

TEST_F(ClientTest, TheTableHolds1024SessionsAndReusesTheLowestFreeHandle)
{
    // One descriptor per session plus the test's own; the default soft limit is often 1024.
    ASSERT_GE(RaiseFdLimit(4096), 4096u);
    CRawServerPeer listener(2048);  // never accepts: the kernel completes the connections by itself
    for (int expected = 0; expected < 1024; ++expected) {
        ASSERT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", listener.GetPort(), nullptr), expected);
    }
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", listener.GetPort(), nullptr), -3);
    std::vector<LogLine> full = LogLines("exceeds");
    ASSERT_EQ(full.size(), 1u);
    EXPECT_EQ(full[0].level, 4);
    EXPECT_EQ(full[0].text.rfind("[ORV::PELLAX::CClient::CreateSessionClient(", 0), 0u);
    EXPECT_NE(full[0].text.find(")] [0x01900042] - ClientSession exceeds max num."), std::string::npos);
    ASSERT_EQ(PELLAX_CLIENT_DestroySession(7), 0);
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", listener.GetPort(), nullptr), 7);
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", listener.GetPort(), nullptr), -3);
    for (unsigned handle = 0; handle < 1024; ++handle) {
        ASSERT_EQ(PELLAX_CLIENT_DestroySession(handle), 0);
    }
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", listener.GetPort(), nullptr), 0);
}

// Handles outside the table and bad message arguments (checked before the handle) are refused without a log
// line; empty slots are refused with their own lines; unparsable options leave the slot free.
TEST_F(ClientTest, BadArgumentsHandlesOutsideTheTableEmptySlotsAndUnparsableOptionsAreRefused)
{
    PELLAX_Message message = MakeRecord(2, 0, "x"), noData = MakeRecord(2, 0, nullptr), response = noData;
    PELLAX_Message negative = message, lengthNoData = noData;
    negative.dataLength = -1;
    lengthNoData.dataLength = 3;
    const std::vector<int> refused(8, -4);
    EXPECT_EQ((std::vector<int>{PELLAX_CLIENT_Send(0, nullptr), PELLAX_CLIENT_Send(0, &noData), PELLAX_CLIENT_Send(0, &negative),
                                PELLAX_CLIENT_SynSend(0, nullptr, &response, 1), PELLAX_CLIENT_SynSend(0, &noData, nullptr, 1),
                                PELLAX_CLIENT_SynSend(0, &lengthNoData, &response, 1),
                                PELLAX_CLIENT_CreateSession(nullptr, 1, nullptr), PELLAX_CLIENT_CreateSession("127.0.0.1", -1, nullptr)}),
              refused);
    for (unsigned handle : {static_cast<unsigned>(-1), 1024u, 3u}) {
        EXPECT_TRUE(LogLines().empty());
        EXPECT_EQ((std::vector<int>{PELLAX_CLIENT_SetUserData(handle, 0, "{}"), PELLAX_CLIENT_DestroySession(handle),
                                    PELLAX_CLIENT_Send(handle, &message), PELLAX_CLIENT_SynSend(handle, &message, &response, 1)}),
                  std::vector<int>(refused.begin(), refused.begin() + 4)) << handle;
    }
    const char* const expected[][2] = {
        {"CClient::SetUserData(", "[0x01900017] - [session=3]Session handle is invalid"},
        {"CClient::DestroySessionClient(", "[0x01900063] - [session=3]Session handle is invalid"},
        {"", "[0x01900017] - [session=3]Session handle is invalid"},
        {"", "[0x01900063] - [session=3]ServerSession has not been created!"},
    };
    std::vector<LogLine> lines = LogLines();
    ASSERT_EQ(lines.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_NE(lines[i].text.find(expected[i][0]), std::string::npos) << lines[i].text;
        EXPECT_NE(lines[i].text.find(expected[i][1]), std::string::npos) << lines[i].text;
    }

    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", m_peer.GetPort(), "{connect-timeout:2"), -4);
    EXPECT_EQ(CountLogLines("[0x01900014] - [rsp={connect-timeout:2]parse json failed"), 1u);
    // JSON that is not an object, and an empty object, are options without a time-out.
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", m_peer.GetPort(), "5"), 0);
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", m_peer.GetPort(), "{}"), 1);
    // User data comes in two kinds only: Register and Keepalive.
    EXPECT_EQ(std::make_tuple(PELLAX_CLIENT_SetUserData(0, 0, "{}"), PELLAX_CLIENT_SetUserData(0, 1, nullptr),
                              PELLAX_CLIENT_SetUserData(0, 2, "{}")),
              std::make_tuple(0, 0, -4));
}

// A destroyed session's late events never reach the host under its reused handle; a host may destroy a
// session from its own callback.
TEST_F(ClientTest, ADestroyedSessionNeverNotifiesUnderItsReusedHandle)
{
    CRawServerPeer newPeer;
    for (int round = 0; round < 10; ++round) {
        ASSERT_EQ(Join(), 0);
        std::atomic<bool> flooding{true};
        std::thread flood([&] {
            WireFrame frame = MakeFrame(2, 0, "old");
            for (int i = 0; i < 100000 && flooding.load() && m_peer.SendFrame(frame); ++i) {
            }
        });
        ASSERT_TRUE(m_host->WaitFor(0, 0));
        ASSERT_EQ(PELLAX_CLIENT_DestroySession(0), 0);
        size_t before = m_host->Events().size();
        ASSERT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", newPeer.GetPort(), nullptr), 0);
        ASSERT_TRUE(newPeer.Accept() && newPeer.SendFrame(MakeFrame(2, 0, "new")));
        ASSERT_TRUE(WaitUntil([&] { return m_host->Events().back().data == "new"; }));
        flooding = false;
        flood.join();
        m_peer.Close();
        std::vector<HostEvent> events = m_host->Events();
        for (size_t i = before; i < events.size(); ++i) {
            EXPECT_TRUE(events[i].data != "old" && events[i].type != 3) << "round " << round;
        }
        ASSERT_EQ(PELLAX_CLIENT_DestroySession(0), 0);
        newPeer.Close();
    }

    std::atomic<int> destroyed{1};
    m_host->SetHook([&](const HostEvent& event) {
        if (event.type == 0) {
            destroyed = PELLAX_CLIENT_DestroySession(event.id);
        }
    });
    size_t before = m_host->Events().size();
    ASSERT_EQ(Join(), 0);
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(2, 0, "bye")) && m_peer.SendFrame(MakeFrame(2, 0, "bye")));
    ASSERT_TRUE(WaitUntil([&] { return destroyed.load() == 0; }));
    EXPECT_TRUE(m_peer.WaitClosed());
    m_host->SetHook(nullptr);
    std::vector<HostEvent> events = m_host->Events();
    EXPECT_EQ(events.size() - before, 2u) << "the join and one frame";
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", m_peer.GetPort(), nullptr), 0);
}

// Against this library's server, over 127.0.0.1.
TEST_F(ClientTest, ConcurrentSynSendsAreEachAnsweredWithTheirOwnResponse)
{
    CHostRecorder server(CHostRecorder::kServer);
    server.AnswerRequests();
    ASSERT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", 0, "{\"keepalive-interval\":1,\"keepalive-timeout\":30}"), 0);
    uint16_t port = COrvSingletonT<ORV::PELLAX::CServer>::Instance()->GetListenPort();
    ASSERT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", port, nullptr), 0);
    ASSERT_TRUE(m_host->WaitFor(1, 0));
    constexpr int kThreads = 8, kCalls = 500;
    std::atomic<int> answered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCalls; ++i) {
                std::string body = "t=" + std::to_string(t) + ",i=" + std::to_string(i);
                PELLAX_Message request = MakeRecord(1000, 0, body);
                PELLAX_Message response{};
                answered += PELLAX_CLIENT_SynSend(0, &request, &response, 20) == 0 && TakeBody(response) == "re:" + body;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(answered.load(), kThreads * kCalls);
    PELLAX_SERVER_DestroySession();
}

}  // namespace
}  // namespace pellax_test
