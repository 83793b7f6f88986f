// A client session hands nothing to its sink once the sink is detached, and detaching waits for a
// notification already in progress: what lets the front reuse a handle at once.
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>

#include "ClientHost.h"
#include "client/ClientSession.h"
#include "protocol/FrameCodec.h"
#include "support/RawServerPeer.h"

namespace pellax_test {
namespace {

using namespace std::chrono_literals;
using namespace ORV::PELLAX;

// Counts data frames; the first one blocks until released.
class CBlockingSink : public IClientSessionSink {
public:
    void OnJoin(IClientSession*, uint32_t) override {}
    void OnLeave(IClientSession*, uint32_t) override {}
    void OnReceive(IClientSession*, const MessageHeaderPtr&, COrvMessageBlock*) override
    {
        if (++m_nReceived == 1) {
            m_entered.set_value();
            m_release.get_future().wait();
        }
    }
    void OnCanSendAgain(IClientSession*, uint32_t) override {}
    void OnHeartBeatTimeOut(IClientSession*) override {}
    void OnHeartbeat(IClientSession*, const MessageHeaderPtr&, COrvMessageBlock*) override {}
    void OnRegister(IClientSession*, const MessageHeaderPtr&, COrvMessageBlock*) override {}

    std::atomic<int> m_nReceived{0};
    std::promise<void> m_entered;
    std::promise<void> m_release;
};

MessageBlockPtr DataFrame()
{
    MessageHeaderPtr header(new CPellaxMessageHeader(2, 1, 1, 0, 0, 0));
    MessageBlockPtr frame;
    EncodeFrame(header.Get(), "x", 1, false, &frame);
    return frame;
}

using ClientSessionSinkTest = ClientTest;

TEST_F(ClientSessionSinkTest, DetachingTheSinkWaitsForTheNotificationInProgressAndStopsLaterOnes)
{
    CRawServerPeer peer;
    CBlockingSink sink;
    CRefPtr<CClientSession> session(new CClientSession(5));
    COrvInetAddress server("127.0.0.1", peer.GetPort());
    COrvTimeValue timeout(5, 0);
    ASSERT_EQ(session->Open(&sink, &server, &timeout, nullptr), 0);

    // Frames are handed in as the transport would, from a thread of their own.
    std::thread delivery([&] { session->OnReceive(nullptr, DataFrame().Get()); });
    ASSERT_EQ(sink.m_entered.get_future().wait_for(10s), std::future_status::ready);
    auto detached = std::async(std::launch::async, [&] { session->DetachSink(); });
    EXPECT_EQ(detached.wait_for(300ms), std::future_status::timeout);
    sink.m_release.set_value();
    delivery.join();
    ASSERT_EQ(detached.wait_for(10s), std::future_status::ready);

    session->OnReceive(nullptr, DataFrame().Get());
    EXPECT_EQ(sink.m_nReceived.load(), 1);
    EXPECT_EQ(CountLogLines("[0x01900017] - m_pSink is null"), 1u);
    session->Close(0);
    session->Finalize();
}

}  // namespace
}  // namespace pellax_test
