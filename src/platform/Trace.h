// Request-tracing hooks: the library's calls into the trace library. Without an installed tracer
// they do nothing, hand out empty identifiers and span handle 0, which every caller accepts.
#ifndef PELLAX_PLATFORM_TRACE_H
#define PELLAX_PLATFORM_TRACE_H

#include <cstddef>
#include <cstdint>

// Identifier buffers hold NUL-terminated texts of at most 32 characters.
constexpr size_t kTraceIdSize = 33;

// What a tracer receives; every member defaults to doing nothing, so a tracer overrides only
// what it watches. Installed tracers are called from any library thread at once.
class IOrvTracer {
public:
    virtual ~IOrvTracer() = default;
    virtual void RequestLabel(const char* /*label*/) {}
    virtual void ReceiveLabel(const char* /*label*/) {}
    virtual void Event(uint8_t /*ok*/, const char* /*code*/, const char* /*message*/) {}
    virtual void Finish(uint8_t /*ok*/, const char* /*code*/, const char* /*message*/) {}
    virtual void InjectRequest(char* /*traceId*/, char* /*spanId*/) {}
    virtual void InjectResponse(char* /*traceId*/, char* /*spanId*/) {}
    virtual void SetIds(const char* /*traceId*/, const char* /*spanId*/) {}
    virtual void Extract(const char* /*traceId*/, const char* /*spanId*/) {}
    virtual uint64_t CurrentSpan() { return 0; }
    virtual void ResumeSpan(uint64_t* /*span*/) {}
    virtual void ReleaseSpan(uint64_t* /*span*/) {}
};

// Installs a tracer (null restores the silent default); returns the one it replaces. The caller
// keeps the tracer alive until no library thread can be calling it any more.
IOrvTracer* TraceInstall(IOrvTracer* tracer);

void TraceRequestLabel(const char* label);
void TraceReceiveLabel(const char* label);
// code and message may be null ("none").
void TraceEvent(uint8_t ok, const char* code, const char* message);
void TraceFinish(uint8_t ok, const char* code, const char* message);
// Fill zeroed kTraceIdSize-byte buffers; they stay empty when no trace is active.
void TraceInjectRequest(char* traceId, char* spanId);
void TraceInjectResponse(char* traceId, char* spanId);
// Either text may be null.
void TraceSetIds(const char* traceId, const char* spanId);
void TraceExtract(const char* traceId, const char* spanId);
// The active span's handle, 0 meaning none.
uint64_t TraceCurrentSpan();
void TraceResumeSpan(uint64_t* span);
void TraceReleaseSpan(uint64_t* span);

#endif
