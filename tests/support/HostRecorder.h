// The host of the tests: records one side's notifications, answers requests from inside the callback
// like an echo service, records log lines, and reads the process's memory and limits.
#ifndef PELLAX_TEST_SUPPORT_HOST_RECORDER_H
#define PELLAX_TEST_SUPPORT_HOST_RECORDER_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "pellax.h"
#include "support/Wait.h"

namespace pellax_test {

// One notification as the host saw it, copied while the record was valid.
struct HostEvent {
    unsigned int id = 0;
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

// Data frames (type 0) are counted per id but kept only when asked, so full-speed traffic costs no memory.
class CHostRecorder {
public:
    enum Side { kServer, kClient };
    // Body of the answer to a request from this id; the default echoes "re:" + body.
    using Answer = std::function<std::string(unsigned int id, const std::string& body)>;
    // Runs inside the callback, on the library's thread, after the event was recorded.
    using Hook = std::function<void(const HostEvent& event)>;

    explicit CHostRecorder(Side side, bool keepDataFrames = false);
    ~CHostRecorder();
    CHostRecorder(const CHostRecorder&) = delete;
    CHostRecorder& operator=(const CHostRecorder&) = delete;

    // Requests (even commands) are answered with command + 1 and the same sequence.
    void AnswerRequests(Answer answer = nullptr);
    void SetHook(Hook hook);

    // Every event of the type and id (all of them for -1), in the order they came.
    std::vector<HostEvent> Events(int type = -1, int id = -1);
    size_t Count(unsigned int type, int id = -1);
    // The first event of the type (and id, unless -1), waiting for it within the limit.
    bool WaitFor(unsigned int type, int id, HostEvent* found = nullptr,
                 std::chrono::milliseconds limit = kWaitLimit);
    bool WaitForCount(unsigned int type, size_t count, int id = -1, std::chrono::milliseconds limit = kWaitLimit);

    static int OnNotify(unsigned int id, unsigned int type, PELLAX_Message* message, void* user);

private:
    void Reply(unsigned int id, PELLAX_Message* message);

    Side m_side;
    bool m_bKeepData;
    std::mutex m_mutex;
    std::vector<HostEvent> m_events;
    std::vector<size_t> m_dataCounts;  // by id
    Answer m_answer;
    bool m_bAnswering = false;
    Hook m_hook;
};

// A record around a body the caller keeps alive; a null text gives a record without data.
PELLAX_Message MakeRecord(uint32_t command, uint32_t sequence, const std::string& body);
// The record would point into a temporary that dies before the record is used.
PELLAX_Message MakeRecord(uint32_t command, uint32_t sequence, std::string&& body) = delete;
PELLAX_Message MakeRecord(uint32_t command, uint32_t sequence, const char* text);
// The body of a filled response record, freed afterwards.
std::string TakeBody(PELLAX_Message& response);
// A response allocator that counts its calls in g_allocations.
inline std::atomic<int> g_allocations{0};
void* CountingAllocator(uint64_t size);

struct LogLine {
    int level = 0;
    std::string text;
};

// PELLAX_Init with a callback that keeps every line; lines survive until the next StartLibrary.
void StartLibrary();
// The lines holding the part (every line for an empty one), of the level unless it is -1.
std::vector<LogLine> LogLines(const std::string& part = "", int level = -1);
size_t CountLogLines(const std::string& part, int level = -1);
bool HasLogLine(int level, const std::string& part);

// Resident memory of this process in bytes (VmRSS), 0 when unreadable.
size_t ResidentBytes();
// Raises the soft limit of open descriptors towards wanted (up to the hard limit); returns the new limit.
size_t RaiseFdLimit(size_t wanted);

}  // namespace pellax_test

#endif
