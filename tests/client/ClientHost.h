// The library (and its transport) running for one client test, with a recorder of every client
// notification and log line, and a raw server peer that speaks the wire format by hand.
#ifndef PELLAX_TESTS_CLIENT_CLIENT_HOST_H
#define PELLAX_TESTS_CLIENT_CLIENT_HOST_H

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/OrvSession.h"
#include "support/HostRecorder.h"
#include "support/RawServerPeer.h"
#include "support/WireFrame.h"

namespace pellax_test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kSyncBit = 0x80000000u;

inline double SecondsSince(Clock::time_point from, Clock::time_point to = Clock::now())
{
    return std::chrono::duration<double>(to - from).count();
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
        m_server.reset();
        m_host.reset();
        PELLAX_Uninit();
    }

    // A session joined to the peer; -1 (and a failure) when it did not get there.
    int Join()
    {
        int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", m_peer.GetPort(), nullptr);
        EXPECT_GE(handle, 0);
        EXPECT_TRUE(m_peer.Accept());
        EXPECT_TRUE(m_host->WaitFor(1, handle));
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
    std::unique_ptr<CHostRecorder> m_server;
    CRawServerPeer m_peer;
};

inline std::vector<uint8_t> Bytes(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace pellax_test

#endif
