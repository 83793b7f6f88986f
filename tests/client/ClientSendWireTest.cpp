// Sending from a client session, asynchronously and synchronously, against a raw server peer.
#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "ClientHost.h"
#include "support/RawServerPeer.h"
#include "support/WireFrame.h"

namespace pellax_test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kSyncBit = 0x80000000u;

std::atomic<int> g_allocations{0};

void* CountingAllocator(uint64_t size)
{
    ++g_allocations;
    return new unsigned char[size];
}

void FreeRecord(PELLAX_Message* record)
{
    for (PELLAX_MessageExt* node = record->ext; node != nullptr;) {
        PELLAX_MessageExt* next = node->next;
        PELLAX_FreeBuffer(node->data);
        PELLAX_FreeBuffer(node);
        node = next;
    }
    PELLAX_FreeBuffer(record->data);
}

class ClientSendWireTest : public ClientTest {
protected:
    void SetUp() override
    {
        ClientTest::SetUp();
        m_handle = static_cast<unsigned>(PELLAX_CLIENT_CreateSession("127.0.0.1", m_peer.GetPort(), nullptr));
        ASSERT_EQ(m_handle, 0u);
        ASSERT_TRUE(m_peer.Accept());
        ASSERT_TRUE(m_host->WaitFor(1, m_handle));
    }

    // The next frame that is not a Register.
    bool ReceiveData(WireFrame* frame, std::chrono::milliseconds limit = kWaitLimit)
    {
        Clock::time_point deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            if (!m_peer.ReceiveFrame(frame, limit) ) {
                return false;
            }
            if (frame->command != 0) {
                return true;
            }
        }
        return false;
    }

    CRawServerPeer m_peer;
    unsigned m_handle = 0;
};

TEST_F(ClientSendWireTest, SendPutsTheRecordOnTheWire)
{
    std::string body = "hello";
    PELLAX_MessageExt second{8, 2, reinterpret_cast<unsigned char*>(const_cast<char*>("yz")), nullptr};
    PELLAX_MessageExt first{7, 1, reinterpret_cast<unsigned char*>(const_cast<char*>("x")), &second};
    PELLAX_Message message = MakeRecord(2000, 31, body);
    message.flag = 0x1FF;
    message.ext = &first;
    ASSERT_EQ(PELLAX_CLIENT_Send(m_handle, &message), 0);

    WireFrame frame;
    ASSERT_TRUE(ReceiveData(&frame));
    EXPECT_EQ(frame.command, 2000u);
    EXPECT_EQ(frame.sequence, 31u);
    EXPECT_EQ(frame.flag, 0xFFu);
    EXPECT_NE(frame.timestamp, 0u);
    EXPECT_EQ(frame.BodyText(), body);
    ASSERT_EQ(frame.exts.size(), 2u);
    EXPECT_EQ(frame.exts[0].type, 7u);
    EXPECT_EQ(frame.exts[0].data, Bytes("x"));
    EXPECT_EQ(frame.exts[1].type, 8u);
    EXPECT_EQ(frame.exts[1].data, Bytes("yz"));
}

TEST_F(ClientSendWireTest, SynSendFillsTheResponseRecordWithTheRecordsAllocator)
{
    std::string body = "question";
    PELLAX_Message request = MakeRecord(1000, 1234, body);
    PELLAX_Message response{};
    response.allocator = &CountingAllocator;
    g_allocations = 0;
    auto call = std::async(std::launch::async, [&] { return PELLAX_CLIENT_SynSend(m_handle, &request, &response, 10); });

    WireFrame asked;
    ASSERT_TRUE(ReceiveData(&asked));
    EXPECT_EQ(asked.command, 1000u);
    EXPECT_NE(asked.sequence & kSyncBit, 0u);
    EXPECT_EQ(asked.BodyText(), body);
    WireFrame answer = MakeFrame(1001, asked.sequence, "answer!");
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
    ASSERT_EQ(response.dataLength, 7);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(response.data), 7), "answer!");
    ASSERT_NE(response.ext, nullptr);
    EXPECT_EQ(response.ext->type, 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(response.ext->data), response.ext->length), "second");
    ASSERT_NE(response.ext->next, nullptr);
    EXPECT_EQ(response.ext->next->type, 1u);
    EXPECT_EQ(response.ext->next->next, nullptr);
    EXPECT_EQ(g_allocations.load(), 5);  // two nodes, their data and the body
    FreeRecord(&response);
    EXPECT_EQ(m_host->Count(0, m_handle), 0u);
}

TEST_F(ClientSendWireTest, AHeaderOnlySynSendIsAnsweredHeaderOnly)
{
    PELLAX_Message request{};
    request.command = 40;
    PELLAX_Message response{};
    auto call = std::async(std::launch::async, [&] { return PELLAX_CLIENT_SynSend(m_handle, &request, &response, 10); });
    WireFrame asked;
    ASSERT_TRUE(ReceiveData(&asked));
    EXPECT_EQ(asked.command, 40u);
    EXPECT_TRUE(asked.body.empty());
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(41, asked.sequence, "")));
    ASSERT_EQ(call.get(), 0);
    EXPECT_EQ(response.command, 41u);
    EXPECT_EQ(response.dataLength, 0);
    FreeRecord(&response);
}

TEST_F(ClientSendWireTest, AnUnansweredSynSendGivesMinusTwoAfterItsTimeOut)
{
    std::string body = "anyone?";
    PELLAX_Message request = MakeRecord(1000, 0, body);
    PELLAX_Message response{};
    Clock::time_point start = Clock::now();
    EXPECT_EQ(PELLAX_CLIENT_SynSend(m_handle, &request, &response, 1), -2);
    EXPECT_GT(std::chrono::duration<double>(Clock::now() - start).count(), 0.9);
    EXPECT_EQ(response.data, nullptr);
    EXPECT_EQ(CountLogLines("[session=0,len=7]Send Failed. ClientSession"), 1u);
    WireFrame asked;
    EXPECT_TRUE(ReceiveData(&asked));
    // The host destroying the session meanwhile ends a call with the same code, within its time-out.
    auto call = std::async(std::launch::async, [&] { return PELLAX_CLIENT_SynSend(m_handle, &request, &response, 1); });
    EXPECT_TRUE(ReceiveData(&asked));
    start = Clock::now();
    EXPECT_EQ(PELLAX_CLIENT_DestroySession(m_handle), 0);
    EXPECT_EQ(call.get(), -2);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.5);
}

TEST_F(ClientSendWireTest, AShortFrameIsDroppedAndNeverAnswersAWaitingCall)
{
    std::string body = "wait";
    PELLAX_Message request = MakeRecord(1000, 0, body);
    PELLAX_Message response{};
    auto call = std::async(std::launch::async, [&] { return PELLAX_CLIENT_SynSend(m_handle, &request, &response, 2); });
    WireFrame asked;
    ASSERT_TRUE(ReceiveData(&asked));
    WireFrame shortAnswer = MakeFrame(1001, asked.sequence, "abc");
    shortAnswer.bodyLengthField = 100;
    ASSERT_TRUE(m_peer.SendFrame(shortAnswer));
    WireFrame shortData = shortAnswer;
    shortData.command = 2;
    ASSERT_TRUE(m_peer.SendFrame(shortData));
    ASSERT_TRUE(m_peer.SendMessage(std::vector<uint8_t>(20, 1)));
    EXPECT_EQ(call.get(), -2);

    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(2, 0, "whole")));
    HostEvent event;
    ASSERT_TRUE(m_host->WaitFor(0, m_handle, &event));
    EXPECT_EQ(m_host->Count(0, m_handle), 1u);
    EXPECT_EQ(event.data, "whole");
    size_t dropped = 0;
    for (const LogLine& line : LogLines()) {
        if (line.text.find("short frame dropped") != std::string::npos) {
            EXPECT_EQ(line.level, 4);
            ++dropped;
        }
    }
    EXPECT_EQ(dropped, 3u);
}

TEST_F(ClientSendWireTest, ExtensionsOverTheSixteenBitAreaAreRefusedAndNothingIsSent)
{
    std::vector<unsigned char> big(65528, 'e');  // 8 + 65528 = 65536 encoded bytes
    PELLAX_MessageExt node{1, static_cast<uint32_t>(big.size()), big.data(), nullptr};
    std::string body = "b";
    PELLAX_Message message = MakeRecord(2, 0, body);
    message.ext = &node;
    PELLAX_Message response{};
    EXPECT_EQ(PELLAX_CLIENT_Send(m_handle, &message), -4);
    EXPECT_EQ(PELLAX_CLIENT_SynSend(m_handle, &message, &response, 1), -4);
    WireFrame frame;
    // The first data frame on the wire is this one: the refused ones never went out.
    node.length = 65527;  // exactly 65535: still fits
    ASSERT_EQ(PELLAX_CLIENT_Send(m_handle, &message), 0);
    ASSERT_TRUE(ReceiveData(&frame));
    ASSERT_EQ(frame.exts.size(), 1u);
    EXPECT_EQ(frame.exts[0].data.size(), 65527u);
}

TEST_F(ClientSendWireTest, SynSendFromTheSessionsOwnCallbackFailsAtOnce)
{
    std::promise<std::pair<int, double>> outcome;
    std::atomic<bool> once{false};
    m_host->SetHook([&](const HostEvent& event) {
        if (event.type != 0 || once.exchange(true)) {
            return;
        }
        std::string body = "inner";
        PELLAX_Message request = MakeRecord(1000, 0, body);
        PELLAX_Message response{};
        Clock::time_point start = Clock::now();
        int result = PELLAX_CLIENT_SynSend(event.id, &request, &response, 5);
        outcome.set_value({result, std::chrono::duration<double>(Clock::now() - start).count()});
    });
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(2, 0, "go")));
    auto result = outcome.get_future();
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    auto [code, seconds] = result.get();
    m_host->SetHook(nullptr);
    EXPECT_EQ(code, -2);
    EXPECT_LT(seconds, 2.0);
    EXPECT_EQ(CountLogLines("SyncSend on the session's own thread."), 1u);
}

}  // namespace
}  // namespace pellax_test
