#include "support/RecordingTracer.h"

#include <cstring>

namespace pellax_test {

namespace {
std::string Text(const char* text)
{
    return text != nullptr ? text : "-null-";
}
}

RecordingTracer::RecordingTracer() : m_pPrevious(TraceInstall(this)) {}

RecordingTracer::~RecordingTracer()
{
    TraceInstall(m_pPrevious);
}

void RecordingTracer::SetActive(const std::string& traceId, const std::string& spanId, uint64_t span)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_traceId = traceId;
    m_spanId = spanId;
    m_span = span;
}

void RecordingTracer::OnResume(std::function<void(uint64_t)> action)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_onResume = std::move(action);
}

std::vector<std::string> RecordingTracer::Calls()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

void RecordingTracer::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.clear();
}

void RecordingTracer::Record(const std::string& line)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back(line);
}

void RecordingTracer::RequestLabel(const char* label)
{
    Record("RequestLabel(" + Text(label) + ")");
}

void RecordingTracer::ReceiveLabel(const char* label)
{
    Record("ReceiveLabel(" + Text(label) + ")");
}

void RecordingTracer::Event(uint8_t ok, const char* code, const char* message)
{
    Record("Event(" + std::to_string(ok) + "," + Text(code) + "," + Text(message) + ")");
}

void RecordingTracer::Finish(uint8_t ok, const char* code, const char* message)
{
    Record("Finish(" + std::to_string(ok) + "," + Text(code) + "," + Text(message) + ")");
}

void RecordingTracer::Inject(const char* name, char* traceId, char* spanId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::strncpy(traceId, m_traceId.c_str(), kTraceIdSize - 1);
    std::strncpy(spanId, m_spanId.c_str(), kTraceIdSize - 1);
    m_calls.push_back(std::string(name) + "()");
}

void RecordingTracer::InjectRequest(char* traceId, char* spanId)
{
    Inject("InjectRequest", traceId, spanId);
}

void RecordingTracer::InjectResponse(char* traceId, char* spanId)
{
    Inject("InjectResponse", traceId, spanId);
}

void RecordingTracer::SetIds(const char* traceId, const char* spanId)
{
    Record("SetIds(" + Text(traceId) + "," + Text(spanId) + ")");
}

void RecordingTracer::Extract(const char* traceId, const char* spanId)
{
    Record("Extract(" + Text(traceId) + "," + Text(spanId) + ")");
}

uint64_t RecordingTracer::CurrentSpan()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back("CurrentSpan()");
    return m_span;
}

void RecordingTracer::ResumeSpan(uint64_t* span)
{
    std::function<void(uint64_t)> action;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back("ResumeSpan(" + std::to_string(*span) + ")");
        action = m_onResume;
    }
    if (action) {
        action(*span);
    }
}

void RecordingTracer::ReleaseSpan(uint64_t* span)
{
    Record("ReleaseSpan(" + std::to_string(*span) + ")");
}

}  // namespace pellax_test
