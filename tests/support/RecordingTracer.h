// A tracer that records every trace call as text, so tests can check which calls framing and the
// header manager make. Installed for its lifetime.
#ifndef PELLAX_TEST_SUPPORT_RECORDING_TRACER_H
#define PELLAX_TEST_SUPPORT_RECORDING_TRACER_H

#include <functional>
#include <mutex>
#include <string>

#include "platform/Trace.h"

namespace pellax_test {

// Lines read like "Finish(0,-1,time out)"; a null text shows as "-null-".
struct RecordingTracer : IOrvTracer {
    RecordingTracer() : m_pPrevious(TraceInstall(this)) {}
    ~RecordingTracer() override { TraceInstall(m_pPrevious); }

    // An active trace: Inject* fill these in and CurrentSpan returns the handle.
    void SetActive(std::string traceId, std::string spanId, uint64_t span) { Set(m_active, {traceId, spanId, span}); }
    // Runs inside ResumeSpan, to interleave other work with a caller's trace calls.
    void OnResume(std::function<void(uint64_t)> action) { Set(m_onResume, std::move(action)); }
    // The calls since the last Take, separated by spaces.
    std::string Take() { std::string calls; std::lock_guard<std::mutex> lock(m_mutex); calls.swap(m_calls); return calls; }

    void RequestLabel(const char* label) override { Record("RequestLabel(" + T(label)); }
    void ReceiveLabel(const char* label) override { Record("ReceiveLabel(" + T(label)); }
    void Event(uint8_t ok, const char* code, const char* text) override { Record("Event(" + N(ok) + "," + T(code) + "," + T(text)); }
    void Finish(uint8_t ok, const char* code, const char* text) override { Record("Finish(" + N(ok) + "," + T(code) + "," + T(text)); }
    void InjectRequest(char* traceId, char* spanId) override { Inject("InjectRequest(", traceId, spanId); }
    void InjectResponse(char* traceId, char* spanId) override { Inject("InjectResponse(", traceId, spanId); }
    void SetIds(const char* trace, const char* span) override { Record("SetIds(" + T(trace) + "," + T(span)); }
    void Extract(const char* trace, const char* span) override { Record("Extract(" + T(trace) + "," + T(span)); }
    void ReleaseSpan(uint64_t* span) override { Record("ReleaseSpan(" + N(*span)); }
    void ResumeSpan(uint64_t* span) override { Record("ResumeSpan(" + N(*span)); Copy(m_onResume)(*span); }
    uint64_t CurrentSpan() override { Record("CurrentSpan("); return Copy(m_active).span; }

private:
    struct Active { std::string traceId, spanId; uint64_t span = 0; };
    static std::string T(const char* text) { return text != nullptr ? text : "-null-"; }
    static std::string N(uint64_t value) { return std::to_string(value); }
    template <class V> V Copy(const V& value) { std::lock_guard<std::mutex> lock(m_mutex); return value; }
    template <class V> void Set(V& to, V value) { std::lock_guard<std::mutex> lock(m_mutex); to = std::move(value); }
    void Record(const std::string& call) { std::lock_guard<std::mutex> lock(m_mutex); m_calls += (m_calls.empty() ? "" : " ") + call + ")"; }
    // The library hands in zeroed buffers, so copying the text leaves it terminated.
    void Inject(const char* call, char* traceId, char* spanId)
    {
        Copy(m_active).traceId.copy(traceId, kTraceIdSize - 1);
        Copy(m_active).spanId.copy(spanId, kTraceIdSize - 1);
        Record(call);
    }

    std::mutex m_mutex;
    std::string m_calls;
    Active m_active;
    std::function<void(uint64_t)> m_onResume = [](uint64_t) {};
    IOrvTracer* m_pPrevious;
};

}  // namespace pellax_test

#endif
