// The fixture of the server, hostile and lifecycle tests: a started library with a recording host on
// each side, a server on 127.0.0.1 and raw clients that join by hand.
#ifndef PELLAX_TESTS_SERVER_SERVER_FIXTURE_H
#define PELLAX_TESTS_SERVER_SERVER_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "frame/Singleton.h"
#include "server/Server.h"
#include "support/HostRecorder.h"
#include "support/RawSocket.h"

namespace pellax_test {

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartLibrary();
        m_host = std::make_unique<CHostRecorder>(CHostRecorder::kServer, true);
        m_client = std::make_unique<CHostRecorder>(CHostRecorder::kClient, true);
    }
    void TearDown() override { PELLAX_Uninit(); }

    // Creates the server on the port (0: an ephemeral one) and returns the port it listens on, 0 on failure.
    uint16_t StartServer(const char* options = nullptr, int port = 0)
    {
        bool created = PELLAX_SERVER_CreateSession("127.0.0.1", port, options) == 0;
        return created ? m_port = COrvSingletonT<ORV::PELLAX::CServer>::Instance()->GetListenPort() : 0;
    }
    // Connects the peer and waits for notification 1; returns the client id or -1.
    int Join(CRawSocket& peer, std::chrono::milliseconds limit = kWaitLimit)
    {
        size_t before = m_host->Count(1);
        bool joined = peer.Connect(m_port) && m_host->WaitForCount(1, before + 1, -1, limit);
        return joined ? static_cast<int>(m_host->Events(1)[before].id) : -1;
    }
    static WireFrame Next(CRawSocket& peer)
    {
        WireFrame frame;
        EXPECT_TRUE(peer.ReceiveFrame(&frame)) << "no frame came";
        return frame;
    }
    bool StartAndJoin(const char* options = nullptr) { return StartServer(options) != 0 && (m_id = Join(m_peer)) >= 0; }
    // A library client registered with the server: its handle (or -1); its id on the server is m_registeredId.
    int Register()
    {
        size_t before = m_host->Count(5);
        int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", m_port, nullptr);
        bool registered = handle >= 0 && m_host->WaitForCount(5, before + 1) && m_client->WaitFor(5, handle);
        m_registeredId = registered ? m_host->Events(5)[before].id : ~0u;
        return registered ? handle : -1;
    }

    std::unique_ptr<CHostRecorder> m_host;
    std::unique_ptr<CHostRecorder> m_client;
    uint16_t m_port = 0;
    CRawSocket m_peer;
    int m_id = -1;
    unsigned int m_registeredId = ~0u;
};

}  // namespace pellax_test

#endif
