// A tracer that records every trace call as one line of text, so tests can check which calls
// framing, the header manager and the send paths make. Installed for its lifetime.
#ifndef PELLAX_TEST_SUPPORT_RECORDING_TRACER_H
#define PELLAX_TEST_SUPPORT_RECORDING_TRACER_H

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Trace.h"

namespace pellax_test {

// Lines read like "Finish(0,-1,time out)"; a null text shows as "-null-".
class RecordingTracer : public IOrvTracer {
public:
    RecordingTracer();
    ~RecordingTracer() override;

    // An active trace: Inject* fill these in and CurrentSpan returns the handle.
    void SetActive(const std::string& traceId, const std::string& spanId, uint64_t span);
    // Runs inside ResumeSpan, to interleave other work with a caller's trace calls.
    void OnResume(std::function<void(uint64_t)> action);

    std::vector<std::string> Calls();
    void Clear();

    void RequestLabel(const char* label) override;
    void ReceiveLabel(const char* label) override;
    void Event(uint8_t ok, const char* code, const char* message) override;
    void Finish(uint8_t ok, const char* code, const char* message) override;
    void InjectRequest(char* traceId, char* spanId) override;
    void InjectResponse(char* traceId, char* spanId) override;
    void SetIds(const char* traceId, const char* spanId) override;
    void Extract(const char* traceId, const char* spanId) override;
    uint64_t CurrentSpan() override;
    void ResumeSpan(uint64_t* span) override;
    void ReleaseSpan(uint64_t* span) override;

private:
    void Record(const std::string& line);
    void Inject(const char* name, char* traceId, char* spanId);

    std::mutex m_mutex;
    std::vector<std::string> m_calls;
    std::string m_traceId;
    std::string m_spanId;
    uint64_t m_span = 0;
    std::function<void(uint64_t)> m_onResume;
    IOrvTracer* m_pPrevious;
};

}  // namespace pellax_test

#endif
