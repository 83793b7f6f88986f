// A tracer that records every trace call as one line of text, so tests can check which calls
// framing and the header manager make. Installed for its lifetime.
#ifndef PELLAX_TEST_SUPPORT_RECORDING_TRACER_H
#define PELLAX_TEST_SUPPORT_RECORDING_TRACER_H

#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Trace.h"

namespace pellax_test {

// Lines read like "Finish(0,-1,time out)"; a null text shows as "-null-".
class RecordingTracer : public IOrvTracer {
    static std::string Text(const char* text) { return text != nullptr ? text : "-null-"; }
    template <class Action> auto Locked(Action action) -> decltype(action())
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return action();
    }

public:
    RecordingTracer() : m_pPrevious(TraceInstall(this)) {}
    ~RecordingTracer() override { TraceInstall(m_pPrevious); }

    // An active trace: Inject* fill these in and CurrentSpan returns the handle.
    void SetActive(const std::string& traceId, const std::string& spanId, uint64_t span)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_traceId = traceId;
        m_spanId = spanId;
        m_span = span;
    }
    // Runs inside ResumeSpan, to interleave other work with a caller's trace calls.
    void OnResume(std::function<void(uint64_t)> action) { Locked([&] { m_onResume = std::move(action); }); }
    std::vector<std::string> Calls() { return Locked([&] { return m_calls; }); }
    void Clear() { Locked([&] { m_calls.clear(); }); }

    void RequestLabel(const char* label) override { Record("RequestLabel", {Text(label)}); }
    void ReceiveLabel(const char* label) override { Record("ReceiveLabel", {Text(label)}); }
    void Event(uint8_t ok, const char* code, const char* message) override
    {
        Record("Event", {std::to_string(ok), Text(code), Text(message)});
    }
    void Finish(uint8_t ok, const char* code, const char* message) override
    {
        Record("Finish", {std::to_string(ok), Text(code), Text(message)});
    }
    void InjectRequest(char* traceId, char* spanId) override { Inject("InjectRequest", traceId, spanId); }
    void InjectResponse(char* traceId, char* spanId) override { Inject("InjectResponse", traceId, spanId); }
    void SetIds(const char* traceId, const char* spanId) override { Record("SetIds", {Text(traceId), Text(spanId)}); }
    void Extract(const char* traceId, const char* spanId) override { Record("Extract", {Text(traceId), Text(spanId)}); }
    uint64_t CurrentSpan() override
    {
        Record("CurrentSpan", {});
        return Locked([&] { return m_span; });
    }
    void ResumeSpan(uint64_t* span) override
    {
        Record("ResumeSpan", {std::to_string(*span)});
        std::function<void(uint64_t)> action = Locked([&] { return m_onResume; });
        if (action) {
            action(*span);
        }
    }
    void ReleaseSpan(uint64_t* span) override { Record("ReleaseSpan", {std::to_string(*span)}); }

private:
    void Record(const char* name, const std::vector<std::string>& arguments)
    {
        std::string line = std::string(name) + "(";
        for (size_t i = 0; i < arguments.size(); ++i) {
            line += (i == 0 ? "" : ",") + arguments[i];
        }
        Locked([&] { m_calls.push_back(line + ")"); });
    }
    void Inject(const char* name, char* traceId, char* spanId)
    {
        Locked([&] {
            std::strncpy(traceId, m_traceId.c_str(), kTraceIdSize - 1);
            std::strncpy(spanId, m_spanId.c_str(), kTraceIdSize - 1);
        });
        Record(name, {});
    }

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
