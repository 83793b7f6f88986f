// The host side of the client tests: records every client notification and log line, and runs the
// library (and its transport) for the length of one test.
#ifndef PELLAX_TESTS_CLIENT_CLIENT_HOST_H
#define PELLAX_TESTS_CLIENT_CLIENT_HOST_H

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "pellax.h"
#include "support/Wait.h"

namespace pellax_test {

struct ClientEvent {
    unsigned int handle = 0;
    unsigned int type = 0;
    bool hasRecord = false;
    uint32_t command = 0;
    uint32_t sequence = 0;
    uint64_t timestamp = 0;
    int32_t flag = 0;
    std::string data;
    std::vector<std::pair<uint32_t, std::string>> exts;  // in list order
    std::chrono::steady_clock::time_point at;
};

struct LogLine {
    int level = 0;
    std::string text;
};

class CClientHost {
public:
    CClientHost();
    ~CClientHost();

    // Runs inside the notification callback, after the event is recorded.
    void SetHook(std::function<void(unsigned int, unsigned int, PELLAX_Message*)> hook);

    std::vector<ClientEvent> Events();
    std::vector<ClientEvent> Events(unsigned int handle, unsigned int type);
    size_t Count(unsigned int handle, unsigned int type);
    // The first matching event, waiting for it within the limit.
    bool WaitFor(unsigned int handle, unsigned int type, ClientEvent* event = nullptr,
                 std::chrono::milliseconds limit = kWaitLimit);
    bool WaitForCount(unsigned int handle, unsigned int type, size_t count,
                      std::chrono::milliseconds limit = kWaitLimit);

    std::vector<LogLine> Lines();
    size_t CountLines(const std::string& fragment);
    void ClearLines();

    static int OnNotify(unsigned int id, unsigned int type, PELLAX_Message* message, void* user);
    static int OnLog(int level, const char* module, const char* format, ...);

private:

    std::mutex m_mutex;
    std::vector<ClientEvent> m_events;
    std::vector<LogLine> m_lines;
    std::function<void(unsigned int, unsigned int, PELLAX_Message*)> m_hook;
};

// Starts the library with a CClientHost for each test and stops it afterwards.
class ClientTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::unique_ptr<CClientHost> m_host;
};

std::string Text(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> Bytes(const std::string& text);

}  // namespace pellax_test

#endif
