// A client session against a raw server peer: what it puts on the wire and what reaches the host.
#include "platform/OrvProcess.h"

#include <atomic>
#include <future>
#include <string>
#include <utility>

#include "ClientHost.h"
#include "support/RawClientPeer.h"

namespace pellax_test {
namespace {

constexpr uint32_t kControlMarker = 0xFFFFFFFFu;

std::atomic<int> g_allocations{0};

void* CountingAllocator(uint64_t size)
{
    ++g_allocations;
    return new unsigned char[size];
}

std::string Pid()
{
    return std::to_string(OrvCurrentProcessId());
}

WireFrame Response(uint32_t command, uint32_t sequence, const std::string& dataJson)
{
    return MakeFrame(command, sequence, "{\"resultCode\":\"200\",\"message\":\"OK\",\"data\":" + dataJson + "}");
}

TEST_F(ClientTest, SendAndSynSendCarryEveryFieldAndRefuseExtensionsOverTheSixteenBitArea)
{
    int handle = Join();
    std::vector<unsigned char> big(65528, 'e');  // 8 + 65528 = 65536 encoded bytes
    PELLAX_MessageExt bigExt{1, static_cast<uint32_t>(big.size()), big.data(), nullptr};
    PELLAX_Message message = MakeRecord(2, 0, "b");
    message.ext = &bigExt;
    PELLAX_Message response{};
    EXPECT_EQ(PELLAX_CLIENT_Send(handle, &message), -4);
    EXPECT_EQ(PELLAX_CLIENT_SynSend(handle, &message, &response, 1), -4);
    bigExt.length = 65527;  // exactly 65535: still fits
    ASSERT_EQ(PELLAX_CLIENT_Send(handle, &message), 0);
    unsigned char x[] = "x", yz[] = "yz";
    PELLAX_MessageExt second{8, 2, yz, nullptr};
    PELLAX_MessageExt first{7, 1, x, &second};
    PELLAX_Message record = MakeRecord(2000, 31, "hello");
    record.flag = 0x1FF;
    record.ext = &first;
    ASSERT_EQ(PELLAX_CLIENT_Send(handle, &record), 0);

    // The first data frame on the wire is the one that fits: the refused ones never went out.
    WireFrame frame;
    ASSERT_TRUE(ReceiveData(&frame));
    ASSERT_EQ(frame.exts.size(), 1u);
    EXPECT_EQ(frame.exts[0].data.size(), 65527u);
    ASSERT_TRUE(ReceiveData(&frame));
    EXPECT_EQ(frame.command, 2000u);
    EXPECT_EQ(frame.sequence, 31u);
    EXPECT_EQ(frame.flag, 0xFFu);
    EXPECT_NE(frame.timestamp, 0u);
    EXPECT_EQ(frame.BodyText(), "hello");
    ASSERT_EQ(frame.exts.size(), 2u);
    EXPECT_EQ(frame.exts[0].type, 7u);
    EXPECT_EQ(frame.exts[0].data, Bytes("x"));
    EXPECT_EQ(frame.exts[1].type, 8u);
    EXPECT_EQ(frame.exts[1].data, Bytes("yz"));

    // A synchronous call: the record's own sequence comes back, the answer's extension list reversed, every
    // part of it from the record's allocator.
    PELLAX_Message request = MakeRecord(1000, 1234, "question");
    response.allocator = &CountingAllocator;
    auto call = std::async(std::launch::async, [&] { return PELLAX_CLIENT_SynSend(handle, &request, &response, 10); });
    ASSERT_TRUE(ReceiveData(&frame));
    EXPECT_EQ(frame.command, 1000u);
    EXPECT_NE(frame.sequence & kSyncBit, 0u);
    EXPECT_EQ(frame.BodyText(), "question");
    WireFrame answer = MakeFrame(1001, frame.sequence, "answer!");
    answer.flag = 9;
    answer.timestamp = 555;
    answer.exts = {{1, Bytes("first")}, {2, Bytes("second")}};
    ASSERT_TRUE(m_peer.SendFrame(answer));
    ASSERT_EQ(call.wait_for(10s), std::future_status::ready);
    ASSERT_EQ(call.get(), 0);
    EXPECT_EQ(response.sequence, 1234u);
    EXPECT_EQ(response.command, 1001u);
    EXPECT_EQ(response.flag, 9);
    EXPECT_EQ(response.timestamp, 555u);
    ASSERT_NE(response.ext, nullptr);
    EXPECT_EQ(response.ext->type, 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(response.ext->data), response.ext->length), "second");
    ASSERT_NE(response.ext->next, nullptr);
    EXPECT_EQ(response.ext->next->type, 1u);
    EXPECT_EQ(response.ext->next->next, nullptr);
    for (PELLAX_MessageExt* node = response.ext; node != nullptr;) {
        PELLAX_FreeBuffer(node->data);
        PELLAX_FreeBuffer(std::exchange(node, node->next));
    }
    EXPECT_EQ(g_allocations.load(), 5);  // two nodes, their data and the body
    EXPECT_EQ(TakeBody(response), "answer!");

    // Header only, both ways.
    PELLAX_Message empty{};
    empty.command = 40;
    call = std::async(std::launch::async, [&] { return PELLAX_CLIENT_SynSend(handle, &empty, &response, 10); });
    ASSERT_TRUE(ReceiveData(&frame));
    EXPECT_EQ(frame.command, 40u);
    EXPECT_TRUE(frame.body.empty());
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(41, frame.sequence, "")));
    ASSERT_EQ(call.get(), 0);
    EXPECT_EQ(response.command, 41u);
    EXPECT_EQ(response.dataLength, 0);
    EXPECT_EQ(m_host->Count(0, handle), 0u) << "answers are not data";
}

// Frames shorter than their header announces are dropped and answer nothing; the host destroying the session
// ends a waiting call with the same code, within its time-out.
TEST_F(ClientTest, AnUnansweredSynSendGivesMinusTwoAfterItsTimeOut)
{
    int handle = Join();
    auto peer = std::async(std::launch::async, [&] {
        WireFrame shortAnswer;
        if (!ReceiveData(&shortAnswer)) {
            return false;
        }
        shortAnswer = MakeFrame(1001, shortAnswer.sequence, "abc");
        shortAnswer.bodyLengthField = 100;
        bool sent = m_peer.SendFrame(shortAnswer);
        shortAnswer.command = 2;
        return sent && m_peer.SendFrame(shortAnswer) && m_peer.SendMessage(std::vector<uint8_t>(20, 1));
    });
    PELLAX_Message request = MakeRecord(1000, 0, "anyone?");
    PELLAX_Message response{};
    Clock::time_point start = Clock::now();
    EXPECT_EQ(PELLAX_CLIENT_SynSend(handle, &request, &response, 2), -2);
    EXPECT_GT(SecondsSince(start), 1.9);
    EXPECT_TRUE(peer.get());
    EXPECT_EQ(response.data, nullptr);
    EXPECT_EQ(CountLogLines("[session=0,len=7]Send Failed. ClientSession"), 1u);
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(2, 0, "whole")));
    HostEvent event;
    ASSERT_TRUE(m_host->WaitFor(0, handle, &event));
    EXPECT_EQ(m_host->Count(0, handle), 1u);
    EXPECT_EQ(event.data, "whole");
    size_t dropped = 0;
    for (const LogLine& line : LogLines()) {
        if (line.text.find("short frame dropped") != std::string::npos) {
            EXPECT_EQ(line.level, 4);
            ++dropped;
        }
    }
    EXPECT_EQ(dropped, 3u);

    auto call = std::async(std::launch::async, [&] { return PELLAX_CLIENT_SynSend(handle, &request, &response, 1); });
    WireFrame asked;
    EXPECT_TRUE(ReceiveData(&asked));
    start = Clock::now();
    EXPECT_EQ(PELLAX_CLIENT_DestroySession(handle), 0);
    EXPECT_EQ(call.get(), -2);
    EXPECT_LT(SecondsSince(start), 2.5);
}

// On the real clock (tests/clock checks the silence boundaries exactly): Register a second after the join with
// the user data, keepalives every second once it is answered, then the server reported silent a little after
// twice the time-out since its last frame.
TEST_F(ClientTest, RegisterResponseSetsTheIntervalAndKeepalivesFollowEverySecondUntilTheServerFallsSilent)
{
    int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", m_peer.GetPort(), nullptr);
    ASSERT_EQ(handle, 0);
    ASSERT_EQ(PELLAX_CLIENT_SetUserData(handle, 0, "{\"zone\":\"a b\",\"n\":[1,2]}"), 0);
    ASSERT_EQ(PELLAX_CLIENT_SetUserData(handle, 1, "{\"k\":2}"), 0);
    ASSERT_TRUE(m_peer.Accept());
    HostEvent event;
    ASSERT_TRUE(m_host->WaitFor(1, handle, &event));
    WireFrame request;
    ASSERT_TRUE(m_peer.ReceiveFrame(&request));
    EXPECT_GT(SecondsSince(event.at), 0.5);
    EXPECT_LT(SecondsSince(event.at), 3.0);
    EXPECT_EQ(request.command, 0u);
    EXPECT_EQ(request.sequence & kSyncBit, 0u);
    EXPECT_EQ(request.flag, 0u);
    EXPECT_TRUE(request.exts.empty());
    EXPECT_EQ(request.BodyText(),
              "{\"method\":\"Register\",\"params\":{\"pid\":" + Pid() + ",\"userdata\":{\"zone\":\"a b\",\"n\":[1,2]}}}");
    EXPECT_EQ(m_host->Count(5, handle), 0u);
    const std::string settings = "{\"ppid\":4242,\"keepalive-interval\":1,\"keepalive-timeout\":1}";
    ASSERT_TRUE(m_peer.SendFrame(Response(1, request.sequence, settings)));

    ASSERT_TRUE(m_host->WaitFor(5, handle, &event));
    ASSERT_TRUE(event.hasRecord);
    EXPECT_EQ(event.data, settings);
    EXPECT_EQ(event.command, kControlMarker);
    EXPECT_EQ(event.sequence, kControlMarker);
    EXPECT_GE(CountLogLines("[interval=1]keepalive info"), 1u);
    EXPECT_GE(CountLogLines("[timeout=1000]keepalive info"), 1u);
    Clock::time_point previous = event.at;
    Clock::time_point lastAnswer = previous;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(m_peer.ReceiveFrame(&request, 5s));
        EXPECT_GT(SecondsSince(previous), 0.4) << "keepalive " << i;
        EXPECT_LT(SecondsSince(previous), 2.5) << "keepalive " << i;
        previous = Clock::now();
        EXPECT_EQ(request.command, 10u);
        EXPECT_EQ(request.sequence & kSyncBit, 0u);
        EXPECT_EQ(request.BodyText(), "{\"method\":\"Keepalive\",\"params\":{\"pid\":" + Pid() + ",\"userdata\":{\"k\":2}}}");
        if (i == 0) {
            ASSERT_TRUE(m_peer.SendFrame(Response(11, request.sequence, "{\"ppid\":4242,\"userdata\":[7]}")));
            lastAnswer = Clock::now();
        }
    }
    ASSERT_TRUE(m_host->WaitFor(6, handle, &event));
    EXPECT_EQ(event.data, "{\"ppid\":4242,\"userdata\":[7]}");
    EXPECT_EQ(event.command, kControlMarker);
    ASSERT_TRUE(m_host->WaitFor(4, handle, &event));
    EXPECT_GT(SecondsSince(lastAnswer, event.at), 1.9);
    EXPECT_LT(SecondsSince(lastAnswer, event.at), 6.0);
    EXPECT_EQ(CountLogLines("OnHeartBeatTimeOut."), 1u);
    EXPECT_EQ(m_host->Count(3, handle), 0u) << "the connection is left to the host";
}

// A synchronous call from the session's own callback could never see its answer: it fails at once.
TEST_F(ClientTest, DataFramesReachTheHostWithTheExtensionListReversedAndStrayAnswersDoNot)
{
    int handle = Join();
    std::promise<std::pair<int, double>> inner;
    std::atomic<bool> once{false};
    m_host->SetHook([&](const HostEvent& event) {
        if (event.type == 0 && !once.exchange(true)) {
            PELLAX_Message request = MakeRecord(1000, 0, "inner");
            PELLAX_Message response{};
            Clock::time_point start = Clock::now();
            int result = PELLAX_CLIENT_SynSend(event.id, &request, &response, 5);
            inner.set_value({result, SecondsSince(start)});
        }
    });
    WireFrame frame = MakeFrame(2, 77, "payload");
    frame.flag = 5;
    frame.timestamp = 0x0102030405060708ull;
    frame.exts = {{1, Bytes("ab")}, {2, {}}, {3, Bytes("xyz")}};
    ASSERT_TRUE(m_peer.SendFrame(frame));
    // Requests the client would normally send, and an odd command without the synchronous bit, are data too;
    // an answer nobody waits for is dropped.
    for (const WireFrame& next : {MakeFrame(0, 5, "r"), MakeFrame(3, 6, "s"), MakeFrame(3, kSyncBit | 9, "late"),
                                  MakeFrame(2, 10, "next")}) {
        ASSERT_TRUE(m_peer.SendFrame(next));
    }
    auto outcome = inner.get_future();
    bool answered = outcome.wait_for(10s) == std::future_status::ready;
    m_host->SetHook(nullptr);
    ASSERT_TRUE(answered);
    auto [code, seconds] = outcome.get();
    EXPECT_EQ(code, -2);
    EXPECT_LT(seconds, 2.0);
    EXPECT_EQ(CountLogLines("SyncSend on the session's own thread."), 1u);

    ASSERT_TRUE(m_host->WaitForCount(0, 4, handle));
    EXPECT_TRUE(StaysFalse([&] { return m_host->Count(0, handle) > 4; }));
    std::vector<HostEvent> events = m_host->Events(0);
    EXPECT_EQ(events[0].command, 2u);
    EXPECT_EQ(events[0].sequence, 77u);
    EXPECT_EQ(events[0].flag, 5);
    EXPECT_EQ(events[0].timestamp, 0x0102030405060708ull);
    EXPECT_EQ(events[0].data, "payload");
    std::vector<std::pair<uint32_t, std::string>> reversed = {{3, "xyz"}, {2, ""}, {1, "ab"}};
    EXPECT_EQ(events[0].exts, reversed);
    EXPECT_EQ(events[1].command, 0u);
    EXPECT_EQ(events[2].command, 3u);
    EXPECT_EQ(events[2].data, "s");
    EXPECT_EQ(events[3].data, "next");
}

// A Register answer without data, or not JSON, leaves the session registering.
TEST_F(ClientTest, TheServerClosingTheConnectionGivesEvent3)
{
    int handle = Join();
    WireFrame request;
    ASSERT_TRUE(m_peer.ReceiveCommand(0, &request));
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(1, request.sequence, "{\"resultCode\":\"200\"}")));
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(1, request.sequence, "not json")));
    ASSERT_TRUE(WaitUntil([&] { return CountLogLines("register data is not object") == 1; }));
    ASSERT_TRUE(WaitUntil([&] { return CountLogLines("[rsp=not json]parse json failed") == 1; }));
    EXPECT_EQ(m_host->Count(5, handle), 0u);
    m_peer.CloseConnection();
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
    ASSERT_TRUE(m_host->WaitFor(2, 0));
    EXPECT_EQ(m_host->Count(1, 0), 0u);
    EXPECT_EQ(CountLogLines("[clientID=0]Client join Session failed."), 1u);

    CRawServerPeer full(0);
    CRawClientPeer fillers[3];
    for (auto& filler : fillers) {
        filler.Connect(full.GetPort(), 300ms);
    }
    Clock::time_point start = Clock::now();
    int integer = PELLAX_CLIENT_CreateSession("127.0.0.1", full.GetPort(), "{\"connect-timeout\":2}");
    int text = PELLAX_CLIENT_CreateSession("127.0.0.1", full.GetPort(), "{\"connect-timeout\":\"2\"}");
    HostEvent integerEnd;
    HostEvent textEnd;
    ASSERT_TRUE(m_host->WaitFor(2, integer, &integerEnd));
    ASSERT_TRUE(m_host->WaitFor(2, text, &textEnd));
    EXPECT_GT(SecondsSince(start, integerEnd.at), 1.5);
    EXPECT_LT(SecondsSince(start, integerEnd.at), 4.5);
    EXPECT_GT(SecondsSince(start, textEnd.at), 4.0);
    EXPECT_LT(SecondsSince(start, textEnd.at), 8.0);
}

}  // namespace
}  // namespace pellax_test
