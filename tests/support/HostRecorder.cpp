#include "support/HostRecorder.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <numeric>

namespace pellax_test {

namespace {

std::mutex g_logMutex;
std::vector<LogLine> g_logLines;

int OnLog(int level, const char*, const char* format, ...)
{
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    std::lock_guard<std::mutex> guard(g_logMutex);
    g_logLines.push_back({level, line});
    return 0;
}

HostEvent Copy(unsigned int id, unsigned int type, const PELLAX_Message* message)
{
    HostEvent event;
    event.id = id;
    event.type = type;
    event.at = std::chrono::steady_clock::now();
    if (message == nullptr) {
        return event;
    }
    event.hasRecord = true;
    event.command = message->command;
    event.sequence = message->sequence;
    event.timestamp = message->timestamp;
    event.flag = message->flag;
    event.data.assign(reinterpret_cast<const char*>(message->data), static_cast<size_t>(message->dataLength));
    for (const PELLAX_MessageExt* node = message->ext; node != nullptr; node = node->next) {
        event.exts.emplace_back(node->type, std::string(reinterpret_cast<const char*>(node->data), node->length));
    }
    return event;
}

}  // namespace

CHostRecorder::CHostRecorder(Side side, bool keepDataFrames)
    : m_side(side), m_bKeepData(keepDataFrames), m_dataCounts(1024, 0)
{
    if (m_side == kServer) {
        PELLAX_SERVER_SetNotifyCallBack(&CHostRecorder::OnNotify, this);
    } else {
        PELLAX_CLIENT_SetNotifyCallBack(&CHostRecorder::OnNotify, this);
    }
}

CHostRecorder::~CHostRecorder()
{
    if (m_side == kServer) {
        PELLAX_SERVER_SetNotifyCallBack(nullptr, nullptr);
    } else {
        PELLAX_CLIENT_SetNotifyCallBack(nullptr, nullptr);
    }
}

void CHostRecorder::AnswerRequests(Answer answer)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_answer = answer ? std::move(answer) : [](unsigned int, const std::string& body) { return "re:" + body; };
    m_bAnswering = true;
}

void CHostRecorder::SetHook(Hook hook)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_hook = std::move(hook);
}

int CHostRecorder::OnNotify(unsigned int id, unsigned int type, PELLAX_Message* message, void* user)
{
    auto* host = static_cast<CHostRecorder*>(user);
    bool data = type == 0 && message != nullptr;
    if (!data || host->m_bKeepData) {
        HostEvent event = Copy(id, type, message);
        Hook hook;
        {
            std::lock_guard<std::mutex> guard(host->m_mutex);
            host->m_events.push_back(event);
            hook = host->m_hook;
        }
        if (hook) {
            hook(event);
        }
    }
    if (data) {
        host->Reply(id, message);
    }
    return 0;
}

void CHostRecorder::Reply(unsigned int id, PELLAX_Message* message)
{
    Answer answer;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (id < m_dataCounts.size()) {
            ++m_dataCounts[id];
        }
        if (!m_bAnswering || (message->command & 1u) != 0) {
            return;
        }
        answer = m_answer;
    }
    std::string body(reinterpret_cast<const char*>(message->data), static_cast<size_t>(message->dataLength));
    std::string text = answer(id, body);
    PELLAX_Message reply = MakeRecord(message->command + 1, message->sequence, text);
    if (m_side == kServer) {
        PELLAX_SERVER_Send(id, &reply);
    } else {
        PELLAX_CLIENT_Send(id, &reply);
    }
}

std::vector<HostEvent> CHostRecorder::Events(int type, int id)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    std::vector<HostEvent> found;
    std::copy_if(m_events.begin(), m_events.end(), std::back_inserter(found), [&](const HostEvent& event) {
        return (type < 0 || event.type == static_cast<unsigned int>(type)) && (id < 0 || event.id == static_cast<unsigned int>(id));
    });
    return found;
}

size_t CHostRecorder::Count(unsigned int type, int id)
{
    if (type != 0) {
        return Events(static_cast<int>(type), id).size();
    }
    std::lock_guard<std::mutex> guard(m_mutex);
    if (id >= 0) {
        return static_cast<size_t>(id) < m_dataCounts.size() ? m_dataCounts[static_cast<size_t>(id)] : 0;
    }
    return std::accumulate(m_dataCounts.begin(), m_dataCounts.end(), size_t{0});
}

bool CHostRecorder::WaitFor(unsigned int type, int id, HostEvent* found, std::chrono::milliseconds limit)
{
    std::vector<HostEvent> events;
    bool seen = WaitUntil([&] { return !(events = Events(static_cast<int>(type), id)).empty(); }, limit);
    if (seen && found != nullptr) {
        *found = events.front();
    }
    return seen;
}

bool CHostRecorder::WaitForCount(unsigned int type, size_t count, int id, std::chrono::milliseconds limit)
{
    return WaitUntil([&] { return Count(type, id) >= count; }, limit);
}

PELLAX_Message MakeRecord(uint32_t command, uint32_t sequence, const std::string& body)
{
    PELLAX_Message message = MakeRecord(command, sequence, body.c_str());
    message.dataLength = static_cast<int32_t>(body.size());
    return message;
}

PELLAX_Message MakeRecord(uint32_t command, uint32_t sequence, const char* text)
{
    PELLAX_Message message;
    std::memset(&message, 0, sizeof(message));
    message.command = command;
    message.sequence = sequence;
    message.data = reinterpret_cast<unsigned char*>(const_cast<char*>(text));
    message.dataLength = text != nullptr ? static_cast<int32_t>(std::strlen(text)) : 0;
    return message;
}

std::string TakeBody(PELLAX_Message& response)
{
    std::string text;
    if (response.data != nullptr) {
        text.assign(reinterpret_cast<const char*>(response.data), static_cast<size_t>(response.dataLength));
    }
    PELLAX_FreeBuffer(response.data);
    response.data = nullptr;
    return text;
}

void* CountingAllocator(uint64_t size)
{
    ++g_allocations;
    return new unsigned char[size > 0 ? size : 1];
}

void StartLibrary()
{
    {
        std::lock_guard<std::mutex> guard(g_logMutex);
        g_logLines.clear();
    }
    PELLAX_Init(&OnLog);
}

std::vector<LogLine> LogLines(const std::string& part, int level)
{
    std::lock_guard<std::mutex> guard(g_logMutex);
    std::vector<LogLine> found;
    std::copy_if(g_logLines.begin(), g_logLines.end(), std::back_inserter(found), [&](const LogLine& line) {
        return (level < 0 || line.level == level) && line.text.find(part) != std::string::npos;
    });
    return found;
}

size_t CountLogLines(const std::string& part, int level)
{
    return LogLines(part, level).size();
}

bool HasLogLine(int level, const std::string& part)
{
    return CountLogLines(part, level) > 0;
}

}  // namespace pellax_test
