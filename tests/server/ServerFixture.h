// A started library with a server listening on an ephemeral port, a recorder of every server
// notification and log line, and raw clients that join and register by hand.
#ifndef PELLAX_TESTS_SERVER_SERVER_FIXTURE_H
#define PELLAX_TESTS_SERVER_SERVER_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/HostRecorder.h"
#include "support/RawClientPeer.h"

namespace pellax_test {

// The body of a successful control answer from this process, with more members after "ppid".
std::string OkAnswer(const std::string& moreData);

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the server on 127.0.0.1 port 0 and returns the port it listens on (0 on failure).
    uint16_t StartServer(const char* options = nullptr);
    // Connects the peer and waits for notification 1; returns the client id or -1.
    int Join(CRawClientPeer& peer);
    // Sends Register with the params and reads the answer.
    bool Register(CRawClientPeer& peer, uint32_t sequence, const std::string& params, WireFrame* answer);

    std::unique_ptr<CHostRecorder> m_host;
    uint16_t m_port = 0;
};

}  // namespace pellax_test

#endif
