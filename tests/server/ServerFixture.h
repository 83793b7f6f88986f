// A started library with a server listening on an ephemeral port, a recorder of every server
// notification and log line, and raw clients that register by hand.
#ifndef PELLAX_TESTS_SERVER_SERVER_FIXTURE_H
#define PELLAX_TESTS_SERVER_SERVER_FIXTURE_H

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "pellax.h"
#include "support/RawClientPeer.h"
#include "support/WireFrame.h"

namespace pellax_test {

// One notification as the host saw it, copied while the record was valid.
struct Notification {
    unsigned int id = 0;
    unsigned int type = 0;
    bool hasRecord = false;
    uint32_t command = 0;
    std::string data;
    int32_t dataLength = 0;
    uint32_t sequence = 0;
    uint64_t timestamp = 0;
    int32_t flag = 0;
    std::vector<std::pair<uint32_t, std::string>> exts;  // in list order
};

class NotificationRecorder {
public:
    void Add(const Notification& notification);
    std::vector<Notification> Snapshot();
    size_t Count(unsigned int type);
    // The first notification of the type (and id, unless any id) within the wait limit.
    bool WaitFor(unsigned int type, Notification* found, int id = -1);
    bool WaitForCount(unsigned int type, size_t count);
    // Runs inside the callback, on the library's thread, after the notification was recorded.
    void SetHook(std::function<void(const Notification&)> hook);

private:
    std::mutex m_mutex;
    std::vector<Notification> m_items;
    std::function<void(const Notification&)> m_hook;
};

// Log lines of the library, recorded through PELLAX_Init's callback.
struct LogLine {
    int level;
    std::string text;
};
std::vector<LogLine> RecordedLogs();
bool HasLog(int level, const std::string& part);
void ClearLogs();

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

    static int OnNotify(unsigned int id, unsigned int type, PELLAX_Message* message, void* user);

    NotificationRecorder m_notes;
    uint16_t m_port = 0;
};

}  // namespace pellax_test

#endif
