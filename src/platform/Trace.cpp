#include "platform/Trace.h"

#include <atomic>

namespace {
// Null stands for the silent tracer, so loading the library constructs nothing.
std::atomic<IOrvTracer*> g_pTracer{nullptr};

IOrvTracer* Tracer()
{
    static IOrvTracer silent;
    IOrvTracer* tracer = g_pTracer.load(std::memory_order_acquire);
    return tracer != nullptr ? tracer : &silent;
}
}

IOrvTracer* TraceInstall(IOrvTracer* tracer)
{
    return g_pTracer.exchange(tracer);
}

void TraceRequestLabel(const char* label)
{
    Tracer()->RequestLabel(label);
}

void TraceReceiveLabel(const char* label)
{
    Tracer()->ReceiveLabel(label);
}

void TraceEvent(uint8_t ok, const char* code, const char* message)
{
    Tracer()->Event(ok, code, message);
}

void TraceFinish(uint8_t ok, const char* code, const char* message)
{
    Tracer()->Finish(ok, code, message);
}

void TraceInjectRequest(char* traceId, char* spanId)
{
    Tracer()->InjectRequest(traceId, spanId);
}

void TraceInjectResponse(char* traceId, char* spanId)
{
    Tracer()->InjectResponse(traceId, spanId);
}

void TraceSetIds(const char* traceId, const char* spanId)
{
    Tracer()->SetIds(traceId, spanId);
}

void TraceExtract(const char* traceId, const char* spanId)
{
    Tracer()->Extract(traceId, spanId);
}

uint64_t TraceCurrentSpan()
{
    return Tracer()->CurrentSpan();
}

void TraceResumeSpan(uint64_t* span)
{
    Tracer()->ResumeSpan(span);
}

void TraceReleaseSpan(uint64_t* span)
{
    Tracer()->ReleaseSpan(span);
}
