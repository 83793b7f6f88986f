// The heartbeat timer of a closed server session stays silent even when its deleting event cannot
// be posted, because the session's event thread is already shutting down.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "pellax.h"
#include "platform/OrvSession.h"
#include "server/Server.h"
#include "server/ServerSession.h"
#include "support/EventThreadHelper.h"
#include "support/FakeTransport.h"
#include "support/Wait.h"

namespace pellax_test {
namespace {

using namespace ORV::PELLAX;

class CountingSession : public CServerSession {
public:
    void OnTimer(COrvTimer* timer) override
    {
        ++m_nTicks;
        CServerSession::OnTimer(timer);
    }
    std::atomic<int> m_nTicks{0};
};

TEST(HeartbeatTimer, StaysSilentAfterCloseWhenItsEventThreadNoLongerTakesEvents)
{
    PELLAX_Init(nullptr);
    {
        CRefPtr<CountingSession> session(new CountingSession);
        CServer sink;  // hears nothing: the fake refuses the join
        CRefPtr<pellax_fake::CFakeServerSession> server(new pellax_fake::CFakeServerSession);
        CRefPtr<IOrvID> client(new pellax_fake::CFakeID(1));
        ASSERT_EQ(session->Initialize(1, 1, 0), 0);
        ASSERT_EQ(session->Open(&sink, COrvInetAddress("127.0.0.1", 0)), 0);
        CScopedEventThread thread;
        ASSERT_TRUE(RunOn(thread.Get(), [&] { session->OnJoin(server.Get(), client); }));
        ASSERT_TRUE(WaitUntil([&] { return session->m_nTicks.load() >= 1; }));
        // Hold the thread while it starts stopping: from then on it refuses every posted event.
        std::atomic<bool> release{false};
        ASSERT_TRUE(Post(thread.Get(), [&] { WaitUntil([&] { return release.load(); }); }));
        std::thread stopper([&] { thread.Stop(); });
        ASSERT_TRUE(WaitUntil([&] { return !Post(thread.Get(), [] {}); }));
        session->Close();
        int ticksAtClose = session->m_nTicks.load();
        // Long enough for the next tick to fall due while the thread is held.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        release = true;
        stopper.join();
        EXPECT_EQ(session->m_nTicks.load(), ticksAtClose);
        session->OnLeave(server.Get(), client.Get(), 0);
        session->Finalize();
    }
    PELLAX_Uninit();
}

}  // namespace
}  // namespace pellax_test
