// Asynchronous and synchronous sends as the raw client receives and answers them.
#include <atomic>
#include <thread>

#include "ServerFixture.h"
#include "context/ContextMgr.h"
#include "frame/Singleton.h"
#include "support/EventThreadHelper.h"

namespace pellax_test {
namespace {

std::atomic<int> g_allocations{0};

void* CountingAllocator(uint64_t size)
{
    ++g_allocations;
    return new unsigned char[size > 0 ? size : 1];
}

WireFrame Answer(const WireFrame& request, uint32_t command, const std::string& body)
{
    WireFrame answer;
    answer.command = command;
    answer.sequence = request.sequence;
    answer.flag = 9;
    answer.timestamp = 4242;
    answer.SetBody(body);
    return answer;
}

// Wakes the manager's thread, so bookkeeping that waits for a wake-up gets done while a test polls.
size_t OpenContexts()
{
    auto* contexts = COrvSingletonT<ORV::PELLAX::CContextMgr>::Instance();
    Post(contexts->GetThread(), [] {});
    return contexts->GetContextCountForTest();
}

class SendTest : public ServerTest {
protected:
    void SetUp() override
    {
        ServerTest::SetUp();
        ASSERT_NE(StartServer(nullptr), 0);
        m_id = Join(m_peer);
        ASSERT_GE(m_id, 0);
    }

    CRawClientPeer m_peer;
    int m_id = -1;
};

TEST_F(SendTest, AsyncSendArrivesByteExact)
{
    std::string body("hello\0world", 11);
    PELLAX_Message message = MakeRecord(2000, 0x01020304, body);
    message.flag = 0x1FE;
    unsigned char first[] = {1, 2, 3};
    PELLAX_MessageExt second{8, 0, nullptr, nullptr};
    PELLAX_MessageExt head{7, 3, first, &second};
    message.ext = &head;
    ASSERT_EQ(PELLAX_SERVER_Send(m_id, &message), 0);

    std::vector<uint8_t> bytes;
    ASSERT_TRUE(m_peer.ReceiveBytes(&bytes));
    ASSERT_EQ(bytes.size(), 156u + 11u + 8u + 11u);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[3], 0xFE);
    EXPECT_EQ(GetU32(bytes.data() + 4), 0x01020304u);
    EXPECT_EQ(GetU32(bytes.data() + 16), 2000u);
    EXPECT_EQ(GetU32(bytes.data() + 20), 11u);
    EXPECT_EQ(GetU16(bytes.data() + 24), 19u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 156, bytes.begin() + 175),
              (std::vector<uint8_t>{0, 0, 0, 7, 0, 0, 0, 3, 1, 2, 3, 0, 0, 0, 8, 0, 0, 0, 0}));
    EXPECT_EQ(std::string(bytes.begin() + 175, bytes.end()), body);
}

TEST_F(SendTest, SendsRefuseUnknownIdsNullDataAndOversizedExtensions)
{
    PELLAX_Message message = MakeRecord(2, 0, "x");
    PELLAX_Message response{};
    EXPECT_EQ(PELLAX_SERVER_Send(m_id + 1, &message), -4);
    EXPECT_EQ(PELLAX_SERVER_SynSend(m_id + 1, &message, &response, 1), -4);
    EXPECT_EQ(PELLAX_SERVER_Send(0xFFFFFFFFu, &message), -4);
    EXPECT_TRUE(HasLogLine(4, "[session=" + std::to_string(m_id + 1) + "]Cannot find clientSession handle."));
    PELLAX_Message noData = MakeRecord(2, 0, "x");
    noData.data = nullptr;
    EXPECT_EQ(PELLAX_SERVER_Send(m_id, &noData), -4);
    EXPECT_EQ(PELLAX_SERVER_Send(m_id, nullptr), -4);
    EXPECT_EQ(PELLAX_SERVER_SynSend(m_id, &message, nullptr, 1), -4);

    // Two entries of 32760 data bytes encode to 65536 bytes: one more than the field holds.
    std::vector<unsigned char> big(32760, 0x55);
    PELLAX_MessageExt tail{2, static_cast<uint32_t>(big.size()), big.data(), nullptr};
    PELLAX_MessageExt head{1, static_cast<uint32_t>(big.size()), big.data(), &tail};
    message.ext = &head;
    EXPECT_EQ(PELLAX_SERVER_Send(m_id, &message), -4);
    EXPECT_EQ(PELLAX_SERVER_SynSend(m_id, &message, &response, 1), -4);
    EXPECT_TRUE(m_peer.ReceivesNothing(std::chrono::milliseconds(200)));
    EXPECT_EQ(OpenContexts(), 0u);

    tail.length -= 1;  // 65535 bytes fit
    EXPECT_EQ(PELLAX_SERVER_Send(m_id, &message), 0);
    WireFrame frame;
    ASSERT_TRUE(m_peer.ReceiveFrame(&frame));
    EXPECT_EQ(frame.exts.size(), 2u);
}

TEST_F(SendTest, SyncSendCarriesAFreshSyncSequenceAndReturnsTheAnswerInTheAllocatorsMemory)
{
    PELLAX_Message request = MakeRecord(300, 12345, "question");
    PELLAX_Message response{};
    response.allocator = &CountingAllocator;
    g_allocations = 0;
    uint32_t sentSequence = 0;
    std::thread peer([&] {
        WireFrame frame;
        if (m_peer.ReceiveFrame(&frame)) {
            sentSequence = frame.sequence;
            m_peer.SendFrame(Answer(frame, 301, "the answer"));
        }
    });
    ASSERT_EQ(PELLAX_SERVER_SynSend(m_id, &request, &response, 10), 0);
    peer.join();
    EXPECT_NE(sentSequence & 0x80000000u, 0u);
    EXPECT_EQ(response.sequence, 12345u);
    EXPECT_EQ(response.command, 301u);
    EXPECT_EQ(response.timestamp, 4242u);
    EXPECT_EQ(response.flag, 9);
    EXPECT_EQ(g_allocations.load(), 1);
    ASSERT_EQ(response.dataLength, 10);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(response.data), 10), "the answer");
    delete[] static_cast<unsigned char*>(static_cast<void*>(response.data));
    EXPECT_TRUE(WaitUntil([] { return OpenContexts() == 0; }));
}

TEST_F(SendTest, SyncSendTimesOutWhenNobodyAnswersAndLeavesNoContext)
{
    PELLAX_Message request = MakeRecord(300, 0, "q");
    PELLAX_Message response{};
    std::thread peer([&] {
        WireFrame frame;
        if (m_peer.ReceiveFrame(&frame)) {
            // A short frame, an even command or a sequence without bit 31 is not the answer.
            WireFrame truncated = Answer(frame, 301, "abc");
            truncated.bodyLengthField = 50;
            m_peer.SendFrame(truncated);
            m_peer.SendFrame(Answer(frame, 302, "no"));
            WireFrame other = Answer(frame, 301, "no");
            other.sequence &= 0x7FFFFFFFu;
            m_peer.SendFrame(other);
        }
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(PELLAX_SERVER_SynSend(m_id, &request, &response, 1), -5);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    peer.join();
    EXPECT_EQ(response.data, nullptr);
    EXPECT_TRUE(WaitUntil([] { return OpenContexts() == 0; }));
    EXPECT_TRUE(m_host->WaitForCount(0, 2));  // the two whole ones went to the host instead
    EXPECT_EQ(m_host->Count(0), 2u);
}

TEST_F(SendTest, TwoSyncSendsInFlightEachGetTheirOwnAnswer)
{
    std::vector<WireFrame> requests;
    std::thread peer([&] {
        WireFrame frame;
        while (requests.size() < 2 && m_peer.ReceiveFrame(&frame)) {
            requests.push_back(frame);
        }
        for (auto it = requests.rbegin(); it != requests.rend(); ++it) {
            m_peer.SendFrame(Answer(*it, it->command + 1, "re:" + it->BodyText()));
        }
    });
    std::string answers[2];
    int results[2] = {-9, -9};
    std::thread callers[2];
    for (int i = 0; i < 2; ++i) {
        callers[i] = std::thread([&, i] {
            std::string body = "q" + std::to_string(i);
            PELLAX_Message request = MakeRecord(400 + 2 * i, 0, body);
            PELLAX_Message response{};
            results[i] = PELLAX_SERVER_SynSend(m_id, &request, &response, 10);
            if (results[i] == 0) {
                answers[i].assign(reinterpret_cast<char*>(response.data), response.dataLength);
                PELLAX_FreeBuffer(response.data);
            }
        });
    }
    for (std::thread& caller : callers) {
        caller.join();
    }
    peer.join();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].sequence, requests[1].sequence);
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(results[1], 0);
    EXPECT_EQ(answers[0], "re:q0");
    EXPECT_EQ(answers[1], "re:q1");
}

TEST_F(SendTest, SyncSendInsideANotificationReturnsAtOnce)
{
    std::atomic<int> result{1};
    std::atomic<long long> elapsedMs{-1};
    m_host->SetHook([&](const HostEvent& note) {
        if (note.type != 0) {
            return;
        }
        PELLAX_Message request = MakeRecord(500, 0, "q");
        PELLAX_Message response{};
        auto start = std::chrono::steady_clock::now();
        result = PELLAX_SERVER_SynSend(note.id, &request, &response, 5);
        elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                        .count();
    });
    WireFrame frame = MakeFrame(2, 0, "");
    ASSERT_TRUE(m_peer.SendFrame(frame));
    ASSERT_TRUE(WaitUntil([&] { return elapsedMs.load() >= 0; }));
    EXPECT_EQ(result.load(), -1);
    EXPECT_LT(elapsedMs.load(), 1000);
    EXPECT_TRUE(HasLogLine(4, "CServerSession::SyncSend("));
    EXPECT_TRUE(m_peer.ReceivesNothing(std::chrono::milliseconds(100)));
    m_host->SetHook(nullptr);
}

}  // namespace
}  // namespace pellax_test
