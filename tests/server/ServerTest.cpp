// The server through the C interface against raw clients that speak the wire by hand: frames byte for
// byte, refusals, synchronous calls, control requests, closing, silence and the client id limit.
#include <future>
#include <set>
#include <thread>

#include "context/ContextMgr.h"
#include "platform/OrvProcess.h"
#include "server/ServerFixture.h"
#include "support/EventThreadHelper.h"
#include "support/RawServerPeer.h"

namespace pellax_test {
namespace {

using namespace std::chrono_literals;

WireFrame Answer(const WireFrame& request, uint32_t command, const std::string& body)
{
    WireFrame answer = MakeFrame(command, request.sequence, body);
    std::tie(answer.flag, answer.timestamp) = std::make_tuple(9, 4242);
    return answer;
}

// Wakes the manager's thread, so bookkeeping that waits for a wake-up gets done while a test polls.
size_t OpenContexts()
{
    auto* contexts = COrvSingletonT<ORV::PELLAX::CContextMgr>::Instance();
    Post(contexts->GetThread(), [] {});
    return contexts->GetContextCountForTest();
}

TEST_F(ServerTest, FramesCrossTheWireByteExactBothWays)
{
    ASSERT_TRUE(StartAndJoin());
    const std::string body("hello\0world", 11);
    PELLAX_Message message = MakeRecord(2000, 0x01020304, body);
    message.flag = 0x1FE;
    unsigned char first[] = {1, 2, 3};
    PELLAX_MessageExt second{8, 0, nullptr, nullptr};
    PELLAX_MessageExt head{7, 3, first, &second};
    message.ext = &head;
    ASSERT_EQ(PELLAX_SERVER_Send(m_id, &message), 0);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(m_peer.ReadMessage(&bytes));
    ASSERT_EQ(bytes.size(), 156u + 19u + 11u);
    // Version, the flag's low byte, sequence, command, body length, extension area length, entries, body.
    EXPECT_EQ(std::make_tuple(bytes[0], bytes[3], LoadBigEndian(&bytes[4], 4), LoadBigEndian(&bytes[16], 4),
                              LoadBigEndian(&bytes[20], 4), LoadBigEndian(&bytes[24], 2),
                              std::vector<uint8_t>(bytes.begin() + 156, bytes.begin() + 175),
                              std::string(bytes.begin() + 175, bytes.end())),
              std::make_tuple(uint8_t(1), uint8_t(0xFE), uint64_t{0x01020304}, uint64_t{2000}, uint64_t{11}, uint64_t{19},
                              std::vector<uint8_t>{0, 0, 0, 7, 0, 0, 0, 3, 1, 2, 3, 0, 0, 0, 8, 0, 0, 0, 0}, body));
    // The host hears extensions in reverse order; odd commands nobody waits for are data too.
    WireFrame frame = MakeFrame(1000, 0x1234, std::string("ab\0cd", 5));
    std::tie(frame.flag, frame.timestamp) = std::make_tuple(0xA5, 0x0102030405060708ull);
    frame.exts = {{1, {'x'}}, {2, {}}, {3, {'y', 'z'}}};
    for (const WireFrame& sent : {frame, MakeFrame(11, 3, "k"), MakeFrame(7, 4, "")}) {
        ASSERT_TRUE(m_peer.SendFrame(sent));
    }
    ASSERT_TRUE(m_host->WaitForCount(0, 3));
    std::vector<HostEvent> notes = m_host->Events(0);
    EXPECT_EQ(std::tie(notes[0].id, notes[0].command, notes[0].sequence, notes[0].timestamp, notes[0].flag,
                       notes[0].data, notes[0].exts, notes[1].command, notes[2].command),
              std::make_tuple(unsigned(m_id), 1000u, 0x1234u, 0x0102030405060708ull, 0xA5, std::string("ab\0cd", 5),
                              std::vector<std::pair<uint32_t, std::string>>{{3, "yz"}, {2, ""}, {1, "x"}}, 11u, 7u));
}

TEST_F(ServerTest, CallsAreRefusedWithTheirResultCodesAndOnlyOneSessionCanExist)
{
    PELLAX_Message message = MakeRecord(2, 0, "x");
    PELLAX_Message noData = MakeRecord(2, 0, nullptr);
    PELLAX_Message response{};
    EXPECT_EQ(std::make_tuple(PELLAX_SERVER_Send(0, &message), PELLAX_SERVER_SynSend(0, &message, &response, 1),
                              PELLAX_SERVER_SetUserData(0, 0, "{}"), PELLAX_SERVER_DestroyClientSession(0),
                              PELLAX_SERVER_DestroySession(), PELLAX_SERVER_Send(0, &noData)),
              std::make_tuple(-1, -1, -1, -1, -1, -4));
    CRawServerPeer taken;  // a port someone else listens on
    EXPECT_EQ(std::make_tuple(PELLAX_SERVER_CreateSession("not an address", 0, nullptr),
                              PELLAX_SERVER_CreateSession("127.0.0.1", taken.GetPort(), nullptr),
                              PELLAX_SERVER_CreateSession("127.0.0.1", 0, "{"), PELLAX_SERVER_DestroySession()),
              std::make_tuple(-1, -1, -4, -1));  // unparsable options leave no session behind
    EXPECT_EQ(CountLogLines("init ServerSession failed."), 2u);
    ASSERT_TRUE(StartAndJoin("[]"));  // options that are no object are no options
    EXPECT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", 0, nullptr), -1);
    // Two entries of 32760 data bytes encode to 65536 bytes: one more than the field holds.
    std::vector<unsigned char> big(32760, 0x55);
    PELLAX_MessageExt tail{2, static_cast<uint32_t>(big.size()), big.data(), nullptr};
    PELLAX_MessageExt head{1, static_cast<uint32_t>(big.size()), big.data(), &tail};
    PELLAX_Message oversized = MakeRecord(2, 0, "x");
    oversized.ext = &head;
    EXPECT_EQ(std::make_tuple(PELLAX_SERVER_Send(m_id + 1, &message), PELLAX_SERVER_SynSend(m_id + 1, &message, &response, 1),
                              PELLAX_SERVER_Send(0xFFFFFFFFu, &message), PELLAX_SERVER_Send(m_id, &noData),
                              PELLAX_SERVER_Send(m_id, nullptr), PELLAX_SERVER_SynSend(m_id, &message, nullptr, 1),
                              PELLAX_SERVER_Send(m_id, &oversized), PELLAX_SERVER_SynSend(m_id, &oversized, &response, 1)),
              std::make_tuple(-4, -4, -4, -4, -4, -4, -4, -4));
    EXPECT_TRUE(m_peer.ReceivesNothing(200ms));
    EXPECT_EQ(OpenContexts(), 0u);
    tail.length -= 1;
    EXPECT_EQ(PELLAX_SERVER_Send(m_id, &oversized), 0);
    EXPECT_EQ(Next(m_peer).exts.size(), 2u);
    const std::pair<int, std::string> logged[] = {
        {4, "[ORV::PELLAX::CServer::SetUserData("}, {4, "[session=0]ServerSession has not been created!"},
        {4, "[ORV::PELLAX::CServer::DestroySessionServer("}, {5, "init ServerSession failed."},
        {5, "[0x01900014] - [rsp={]parse json failed"}, {4, "[0x01900062] - serverSession has been created"},
        {4, "[ORV::PELLAX::CServer::CreateSessionServer("},
        {4, "[session=" + std::to_string(m_id + 1) + "]Cannot find clientSession handle."}};
    for (const auto& [level, text] : logged) {
        EXPECT_TRUE(HasLogLine(level, text)) << text;
    }
    // A port above 65535 listens on its low 16 bits.
    ASSERT_EQ(PELLAX_SERVER_DestroySession(), 0);
    if (!IsListening(4464)) {
        EXPECT_EQ(StartServer(nullptr, 70000), 4464);
    }
}

TEST_F(ServerTest, SyncSendsCarryFreshSequencesAndEachGetsItsOwnAnswerInTheAllocatorsMemory)
{
    ASSERT_TRUE(StartAndJoin());
    g_allocations = 0;
    PELLAX_Message responses[2] = {};
    std::future<int> results[2];
    for (int i = 0; i < 2; ++i) {
        results[i] = std::async(std::launch::async, [&, i] {
            const std::string body = "q" + std::to_string(i);  // the record points into it
            PELLAX_Message request = MakeRecord(400 + 2 * i, 12345 + i, body);
            responses[i].allocator = i == 0 ? &CountingAllocator : nullptr;
            return PELLAX_SERVER_SynSend(m_id, &request, &responses[i], 10);
        });
    }
    WireFrame requests[2] = {Next(m_peer), Next(m_peer)};
    for (int i = 1; i >= 0; --i) {  // answered in reverse order
        m_peer.SendFrame(Answer(requests[i], requests[i].command + 1, "re:" + requests[i].BodyText()));
    }
    EXPECT_NE(requests[0].sequence, requests[1].sequence);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(results[i].get(), 0);
        const PELLAX_Message& r = responses[i];
        EXPECT_EQ(std::make_tuple(requests[i].sequence >> 31, r.sequence, r.command, r.timestamp, r.flag,
                                  std::string(reinterpret_cast<char*>(r.data), r.dataLength)),
                  std::make_tuple(1u, 12345u + i, 401u + 2 * i, uint64_t(4242), 9, "re:q" + std::to_string(i)));
    }
    EXPECT_EQ(g_allocations.load(), 1);
    delete[] responses[0].data;
    PELLAX_FreeBuffer(responses[1].data);
    EXPECT_TRUE(WaitUntil([] { return OpenContexts() == 0; }));
}

TEST_F(ServerTest, SyncSendTimesOutWhenNobodyAnswersAndLeavesNoContext)
{
    ASSERT_TRUE(StartAndJoin());
    PELLAX_Message request = MakeRecord(300, 0, "q");
    PELLAX_Message response{};
    auto start = std::chrono::steady_clock::now();
    std::future<int> result = std::async(std::launch::async, [&] { return PELLAX_SERVER_SynSend(m_id, &request, &response, 1); });
    // A short frame, an even command or a sequence without bit 31 is not the answer.
    WireFrame frame = Next(m_peer);
    WireFrame truncated = Answer(frame, 301, "abc");
    truncated.bodyLengthField = 50;
    WireFrame other = Answer(frame, 301, "no");
    other.sequence &= 0x7FFFFFFFu;
    for (const WireFrame& wrong : {truncated, Answer(frame, 302, "no"), other}) {
        m_peer.SendFrame(wrong);
    }
    EXPECT_EQ(result.get(), -5);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);
    EXPECT_EQ(response.data, nullptr);
    EXPECT_TRUE(WaitUntil([] { return OpenContexts() == 0; }));
    EXPECT_TRUE(m_host->WaitForCount(0, 2));  // the two whole ones went to the host instead
    EXPECT_EQ(std::make_tuple(m_host->Count(0), CountLogLines("]Decode frame failed, dropped.")), std::make_tuple(size_t(2), size_t(1)));
}

TEST_F(ServerTest, InsideANotificationASyncSendReturnsAtOnceAndADestroyDoesNotDeadlock)
{
    ASSERT_TRUE(StartAndJoin());
    std::atomic<int> results[2] = {{1}, {1}};  // the call, the destroy
    std::atomic<int64_t> took{-1};
    m_host->SetHook([&](const HostEvent& note) {
        PELLAX_Message request = MakeRecord(500, 0, "q");
        PELLAX_Message response{};
        auto start = std::chrono::steady_clock::now();
        results[0] = note.type == 0 ? PELLAX_SERVER_SynSend(note.id, &request, &response, 5) : 1;
        took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        results[1] = note.type == 0 ? PELLAX_SERVER_DestroySession() : 1;
    });
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(2, 0, "")));
    ASSERT_TRUE(WaitUntil([&] { return results[1].load() != 1; }));
    EXPECT_EQ(std::make_tuple(results[0].load(), results[1].load()), std::make_tuple(-1, 0));
    EXPECT_LT(took.load(), 1000);
    EXPECT_TRUE(HasLogLine(4, "CServerSession::SyncSend("));
    WireFrame sent;
    EXPECT_FALSE(m_peer.ReceiveFrame(&sent)) << "the refused call sent its request";
    EXPECT_TRUE(m_peer.WaitClosed());
    m_host->SetHook(nullptr);
    EXPECT_EQ(PELLAX_SERVER_DestroySession(), -1);
}

// The idle client has a synchronous call waiting on it, the other one keeps sending.
TEST_F(ServerTest, DestroyClosesEveryClientAndNoNotificationStartsAfterItReturns)
{
    CRawSocket idle;
    int idleId = -1;
    ASSERT_TRUE(StartAndJoin() && (idleId = Join(idle)) >= 0);
    std::future<int> waited = std::async(std::launch::async, [&] {
        PELLAX_Message request = MakeRecord(2, 0, "x");
        PELLAX_Message response{};
        return PELLAX_SERVER_SynSend(idleId, &request, &response, 2);
    });
    std::atomic<bool> destroyed{false};
    std::atomic<int> late{0};
    m_host->SetHook([&](const HostEvent&) {
        late += destroyed.load() ? 1 : 0;
        std::this_thread::sleep_for(20ms);
    });
    std::thread sender([&] {
        for (int n = 0; n < 400 && m_peer.SendFrame(MakeFrame(2, 0, "x")); ++n) {
            std::this_thread::sleep_for(2ms);
        }
    });
    ASSERT_TRUE(m_host->WaitForCount(0, 5));
    ASSERT_EQ(Next(idle).command, 2u);
    ASSERT_EQ(PELLAX_SERVER_DestroySession(), 0);
    destroyed = true;
    size_t seen = m_host->Events().size();
    EXPECT_TRUE(idle.WaitClosed() && m_peer.WaitClosed());
    sender.join();
    std::this_thread::sleep_for(300ms);  // time for a late notification to show
    EXPECT_EQ(std::make_tuple(waited.get(), late.load(), m_host->Events().size(), PELLAX_SERVER_DestroySession()),
              std::make_tuple(-5, 0, seen, -1));
}

TEST_F(ServerTest, ThousandTwentyFourClientsAreServedTheNextIsRefusedAndAFreedIdIsGivenAgain)
{
    // Each connection costs two descriptors in this process: the raw client's and the server's.
    if (RaiseFdLimit(2400) < 2400) {
        GTEST_SKIP() << "cannot raise the open-file limit";
    }
    ASSERT_NE(StartServer(), 0);
    std::vector<CRawSocket> peers(1025);
    for (size_t i = 0; i < peers.size(); ++i) {  // the last one once the others have joined
        ASSERT_TRUE(peers[i].Connect(m_port) && (i != 1023 || m_host->WaitForCount(1, 1024, -1, 30s)));
    }
    std::set<unsigned int> ids;
    for (const HostEvent& note : m_host->Events(1)) {
        ids.insert(note.id);
    }
    EXPECT_EQ(std::make_tuple(ids.size(), *ids.rbegin()), std::make_tuple(size_t(1024), 1023u));
    EXPECT_TRUE(peers[1024].WaitClosed());
    EXPECT_TRUE(HasLogLine(4, "No free client id, join refused."));
    EXPECT_EQ(std::make_tuple(m_host->Count(1), m_host->Count(4)), std::make_tuple(size_t(1024), size_t(0)));
    // The only free id is found again, wherever the allocator's cursor stands. It is free once the
    // leaving client's object is gone, which may be a moment after the notification.
    peers[5].Close();
    HostEvent left;
    ASSERT_TRUE(m_host->WaitFor(4, -1, &left));
    int again = -1;
    for (int attempt = 0; attempt < 20 && again < 0; ++attempt) {
        again = Join(m_peer, 500ms);
    }
    EXPECT_EQ(again, static_cast<int>(left.id));
}

TEST_F(ServerTest, ControlRequestsAreAnsweredWithSettingsOrTheirDefaultsAndUserDataAndReportedWithTheirParams)
{
    ASSERT_TRUE(StartAndJoin("{\"keepalive-interval\":7,\"keepalive-timeout\":40}"));
    auto ok = [](const std::string& more) {
        return "{\"resultCode\":\"200\",\"message\":\"OK\",\"data\":{\"ppid\":" + std::to_string(OrvCurrentProcessId()) + more + "}}";
    };
    auto ask = [&](const WireFrame& request) { return m_peer.SendFrame(request) ? Next(m_peer) : WireFrame(); };
    const std::string settings = ",\"keepalive-interval\":7,\"keepalive-timeout\":40";
    EXPECT_EQ(std::make_tuple(PELLAX_SERVER_SetUserData(m_id, 0, "{\"r\":1}"), PELLAX_SERVER_SetUserData(m_id, 1, "{\"a\":1}"),
                              PELLAX_SERVER_SetUserData(m_id, 2, "{\"x\":1}"), PELLAX_SERVER_SetUserData(m_id + 1, 0, "{}")),
              std::make_tuple(0, 0, -4, -4));
    // Each request with the answer's command and body, then the notification type and the params it reports.
    const std::tuple<WireFrame, uint32_t, std::string, unsigned int, std::string> steps[] = {
        {MakeRegister(77, "{\"pid\":4242,\"name\":\"a b\"}"), 1, ok(settings + ",\"userdata\":{\"r\":1}"), 5,
         "{\"pid\":4242,\"name\":\"a b\"}"},
        {MakeKeepalive(2, "{\"pid\":5,\"userdata\":{\"k\":[1,2]}}"), 11, ok(",\"userdata\":{\"a\":1}"), 6,
         "{\"pid\":5,\"userdata\":{\"k\":[1,2]}}"},
    };
    for (const auto& [request, command, body, type, params] : steps) {
        WireFrame answer = ask(request);
        HostEvent note;
        ASSERT_TRUE(m_host->WaitFor(type, m_id, &note));
        EXPECT_EQ(std::make_tuple(answer.command, answer.sequence, answer.flag, answer.exts.size(), answer.BodyText(),
                                  note.command, note.sequence, note.flag, note.exts.size(), note.data),
                  std::make_tuple(command, request.sequence, uint8_t(0), size_t(0), body, 0xFFFFFFFFu, 0xFFFFFFFFu, 0,
                                  size_t(0), params));
    }
    EXPECT_TRUE(HasLogLine(3, "[clientID=" + std::to_string(m_id) + "]register success.") &&
                HasLogLine(3, "[ORV::PELLAX::CServer::OnRegister("));
    // A null or empty text leaves the member out.
    EXPECT_EQ(std::make_tuple(PELLAX_SERVER_SetUserData(m_id, 1, nullptr), PELLAX_SERVER_SetUserData(m_id, 0, "")),
              std::make_tuple(0, 0));
    EXPECT_EQ(std::make_tuple(ask(MakeKeepalive(3, "{\"pid\":1}")).BodyText(), ask(MakeRegister(4, "{\"pid\":1}")).BodyText()),
              std::make_tuple(ok(""), ok(settings)));
    // A Register that does not parse is still answered, a Keepalive is not; an array "params" is
    // answered but not reported.
    for (const WireFrame& request : {MakeFrame(0, 5, "{not json"), MakeFrame(0, 6, "{\"method\":\"Register\",\"params\":[1]}"),
                                     MakeFrame(10, 8, "{\"method\":\"Keepalive\",\"params\":[]}")}) {
        WireFrame answer = ask(request);
        EXPECT_EQ(std::make_tuple(answer.command, answer.sequence, answer.BodyText().find("\"resultCode\":\"200\"") != std::string::npos),
                  std::make_tuple(request.command + 1, request.sequence, true));
    }
    EXPECT_TRUE(WaitUntil([] { return HasLogLine(5, "[rsp={not json]parse json failed") && HasLogLine(5, "]not found params"); }));
    ASSERT_TRUE(m_peer.SendFrame(MakeFrame(10, 7, "{not json")));
    EXPECT_TRUE(m_peer.ReceivesNothing(300ms));
    m_peer.Close();
    HostEvent note;
    ASSERT_TRUE(m_host->WaitFor(4, m_id, &note));
    EXPECT_EQ(std::make_tuple(note.hasRecord, m_host->Count(3), m_host->Count(5), m_host->Count(6)),
              std::make_tuple(false, size_t(0), size_t(2), size_t(2)));
    // Settings below 1 or of another type give the defaults (5/30).
    const char* defaults = ",\"keepalive-interval\":5,\"keepalive-timeout\":30";
    const std::pair<const char*, const char*> cases[] = {
        {"{\"keepalive-interval\":0,\"keepalive-timeout\":-3}", defaults},
        {"{\"keepalive-interval\":\"10\",\"keepalive-timeout\":2.5}", defaults},
        {"{\"keepalive-interval\":10}", ",\"keepalive-interval\":10,\"keepalive-timeout\":30"},
    };
    for (const auto& [options, expected] : cases) {
        ASSERT_EQ(PELLAX_SERVER_DestroySession(), 0);
        ASSERT_TRUE(StartAndJoin(options)) << options;
        EXPECT_EQ(ask(MakeRegister(1, "{\"pid\":1}")).BodyText(), ok(expected)) << options;
    }
}

// A client the host drops leaves without a notification; the silent one is dropped with one.
TEST_F(ServerTest, SilentClientIsDroppedALittleAfterTwiceTheTimeout)
{
    ASSERT_NE(StartServer("{\"keepalive-interval\":1,\"keepalive-timeout\":1}"), 0);
    // Taken before the join: the server's clock for the silent client starts somewhere inside it.
    auto joined = std::chrono::steady_clock::now();
    CRawSocket dropped;
    int id = -1;
    ASSERT_TRUE((m_id = Join(m_peer)) >= 0 && (id = Join(dropped)) >= 0);
    PELLAX_Message message = MakeRecord(2, 0, "x");
    EXPECT_EQ(PELLAX_SERVER_DestroyClientSession(id), 0);
    EXPECT_TRUE(dropped.WaitClosed());
    EXPECT_EQ(std::make_tuple(PELLAX_SERVER_DestroyClientSession(id), PELLAX_SERVER_Send(id, &message)), std::make_tuple(-1, -4));
    HostEvent note;
    ASSERT_TRUE(m_host->WaitFor(4, -1, &note));
    EXPECT_EQ(std::make_tuple(note.id, m_host->Count(4)), std::make_tuple(unsigned(m_id), size_t(1)));
    EXPECT_GT(note.at - joined, 2000ms);
    EXPECT_LT(note.at - joined, 6000ms);
    EXPECT_TRUE(m_peer.WaitClosed());
}

}  // namespace
}  // namespace pellax_test
