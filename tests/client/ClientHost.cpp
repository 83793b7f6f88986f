#include "ClientHost.h"

#include <cstdarg>

#include "platform/OrvSession.h"

namespace pellax_test {

namespace {
// The log callback has no user pointer: the running test's host is reached through this.
std::mutex g_hostMutex;
CClientHost* g_host = nullptr;
}  // namespace

CClientHost::CClientHost()
{
    std::lock_guard<std::mutex> guard(g_hostMutex);
    g_host = this;
}

CClientHost::~CClientHost()
{
    std::lock_guard<std::mutex> guard(g_hostMutex);
    g_host = nullptr;
}

void CClientHost::SetHook(std::function<void(unsigned int, unsigned int, PELLAX_Message*)> hook)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_hook = std::move(hook);
}

int CClientHost::OnNotify(unsigned int id, unsigned int type, PELLAX_Message* message, void* user)
{
    auto* host = static_cast<CClientHost*>(user);
    ClientEvent event;
    event.handle = id;
    event.type = type;
    event.at = std::chrono::steady_clock::now();
    if (message != nullptr) {
        event.hasRecord = true;
        event.command = message->command;
        event.sequence = message->sequence;
        event.timestamp = message->timestamp;
        event.flag = message->flag;
        event.data.assign(reinterpret_cast<const char*>(message->data), static_cast<size_t>(message->dataLength));
        for (const PELLAX_MessageExt* node = message->ext; node != nullptr; node = node->next) {
            event.exts.emplace_back(node->type, std::string(reinterpret_cast<const char*>(node->data), node->length));
        }
    }
    std::function<void(unsigned int, unsigned int, PELLAX_Message*)> hook;
    {
        std::lock_guard<std::mutex> guard(host->m_mutex);
        host->m_events.push_back(std::move(event));
        hook = host->m_hook;
    }
    if (hook) {
        hook(id, type, message);
    }
    return 0;
}

int CClientHost::OnLog(int level, const char*, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const char* line = va_arg(arguments, const char*);
    va_end(arguments);
    std::lock_guard<std::mutex> guard(g_hostMutex);
    if (g_host != nullptr) {
        std::lock_guard<std::mutex> lines(g_host->m_mutex);
        g_host->m_lines.push_back({level, line});
    }
    return 0;
}

std::vector<ClientEvent> CClientHost::Events()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_events;
}

std::vector<ClientEvent> CClientHost::Events(unsigned int handle, unsigned int type)
{
    std::vector<ClientEvent> matching;
    for (ClientEvent& event : Events()) {
        if (event.handle == handle && event.type == type) {
            matching.push_back(std::move(event));
        }
    }
    return matching;
}

size_t CClientHost::Count(unsigned int handle, unsigned int type)
{
    return Events(handle, type).size();
}

bool CClientHost::WaitFor(unsigned int handle, unsigned int type, ClientEvent* event, std::chrono::milliseconds limit)
{
    if (!WaitForCount(handle, type, 1, limit)) {
        return false;
    }
    if (event != nullptr) {
        *event = Events(handle, type).front();
    }
    return true;
}

bool CClientHost::WaitForCount(unsigned int handle, unsigned int type, size_t count, std::chrono::milliseconds limit)
{
    return WaitUntil([&] { return Count(handle, type) >= count; }, limit);
}

std::vector<LogLine> CClientHost::Lines()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_lines;
}

size_t CClientHost::CountLines(const std::string& fragment)
{
    size_t count = 0;
    for (const LogLine& line : Lines()) {
        count += line.text.find(fragment) != std::string::npos ? 1 : 0;
    }
    return count;
}

void CClientHost::ClearLines()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_lines.clear();
}

void ClientTest::SetUp()
{
    m_host = std::make_unique<CClientHost>();
    PELLAX_Init(&CClientHost::OnLog);
    InitializeSessionEx(0, 10);
    PELLAX_CLIENT_SetNotifyCallBack(&CClientHost::OnNotify, m_host.get());
}

void ClientTest::TearDown()
{
    // The transport first: after it stops no callback of any session runs.
    UnInitializeSession();
    PELLAX_Uninit();
    m_host.reset();
}

std::string Text(const std::vector<uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::vector<uint8_t> Bytes(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace pellax_test
