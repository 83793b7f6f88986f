#include "platform/OrvSessionManager.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <atomic>
#include <new>
#include <thread>

#include "platform/OrvClientSession.h"
#include "platform/OrvServerSession.h"

namespace {
std::atomic<IOrvSessionManager*> g_testManager{nullptr};
std::atomic<OrvSessionLogFn> g_log{nullptr};

bool IsKnownType(uint32_t type)
{
    return type == ORV_SESSION_TYPE_TCP || type == ORV_SESSION_TYPE_TCP_ALT;
}
}

COrvSessionManager& COrvSessionManager::Get()
{
    // Never destroyed: a host that exits without UnInitializeSession must not have live sessions
    // torn down under running threads by exit handlers.
    static COrvSessionManager* manager = new COrvSessionManager;
    return *manager;
}

IOrvSessionManager* IOrvSessionManager::Instance()
{
    IOrvSessionManager* manager = g_testManager.load();
    return manager != nullptr ? manager : &COrvSessionManager::Get();
}

void SetSessionManagerForTest(IOrvSessionManager* manager)
{
    g_testManager.store(manager);
}

int COrvSessionManager::Start(int threads)
{
    std::lock_guard<std::mutex> life(m_lifeMutex);
    if (m_bRunning) {
        return 0;
    }
    // More threads than cores only add wake-ups and hand-overs.
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    size_t count = static_cast<size_t>(std::clamp(threads, 1, static_cast<int>(cores)));
    std::vector<COrvEventThread*> created;
    for (size_t i = 0; i < count; ++i) {
        IOrvThread* thread = nullptr;
        if (IOrvThreadManager::Instance()->CreateThread(0, 0, nullptr, &thread) != 0) {
            break;
        }
        created.push_back(static_cast<COrvEventThread*>(thread));
    }
    if (created.empty()) {
        return ORV_ERROR_NOT_STARTED;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_threads = std::move(created);
    m_nNextThread = 0;
    m_bRunning = true;
    return 0;
}

int COrvSessionManager::Stop()
{
    if (IsPoolThread()) {
        return ORV_ERROR_INVALID;  // a pool thread cannot wait for itself to stop
    }
    std::lock_guard<std::mutex> life(m_lifeMutex);
    std::unordered_map<IOrvClosableSession*, CRefPtr<IOrvReferenceControl>> sessions;
    std::vector<COrvEventThread*> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bRunning) {
            return ORV_ERROR_NOT_STARTED;
        }
        m_bRunning = false;
        sessions = m_sessions;
    }
    // The threads still run, so every close delivers its leaves before the pool goes.
    for (auto& entry : sessions) {
        entry.first->StartClose(ORV_REASON_SHUTDOWN);
    }
    for (auto& entry : sessions) {
        entry.first->WaitClosed();
    }
    sessions.clear();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        threads.swap(m_threads);
    }
    for (COrvEventThread* thread : threads) {
        IOrvThreadManager::Instance()->StopThread(thread);
        IOrvThreadManager::Instance()->ReleaseThread(thread);
    }
    return 0;
}

bool COrvSessionManager::IsPoolThread() const
{
    COrvEventThread* current = COrvEventThread::Current();
    std::lock_guard<std::mutex> lock(m_mutex);
    return current != nullptr && std::find(m_threads.begin(), m_threads.end(), current) != m_threads.end();
}

int COrvSessionManager::CreateServerSession(uint32_t type, CRefPtr<IOrvServerSession>& session)
{
    if (!IsKnownType(type)) {
        return ORV_ERROR_INVALID;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bRunning) {
            return ORV_ERROR_NOT_STARTED;
        }
    }
    session = new (std::nothrow) COrvServerSession;
    return session ? 0 : ORV_ERROR_INVALID;
}

int COrvSessionManager::CreateClientSession(uint32_t type, CRefPtr<IOrvClientSession>& session)
{
    if (!IsKnownType(type)) {
        return ORV_ERROR_INVALID;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bRunning) {
            return ORV_ERROR_NOT_STARTED;
        }
    }
    session = new (std::nothrow) COrvClientSession;
    return session ? 0 : ORV_ERROR_INVALID;
}

COrvEventThread* COrvSessionManager::Attach(IOrvClosableSession* session, IOrvReferenceControl* reference)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bRunning || m_threads.empty()) {
        return nullptr;
    }
    m_sessions[session] = reference;
    COrvEventThread* thread = m_threads[m_nNextThread];
    m_nNextThread = (m_nNextThread + 1) % m_threads.size();
    return thread;
}

void COrvSessionManager::Detach(IOrvClosableSession* session)
{
    CRefPtr<IOrvReferenceControl> released;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_sessions.find(session);
    if (it != m_sessions.end()) {
        released = std::move(it->second);
        m_sessions.erase(it);
    }
}

void SetSessionLog(OrvSessionLogFn log)
{
    g_log.store(log);
}

void OrvSessionLog(int level, const char* format, ...)
{
    OrvSessionLogFn log = g_log.load();
    if (log == nullptr) {
        return;
    }
    char line[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof(line), format, arguments);
    va_end(arguments);
    log(level, line);
}

int InitializeSessionEx(int, int threads)
{
    return COrvSessionManager::Get().Start(threads);
}

int UnInitializeSession()
{
    return COrvSessionManager::Get().Stop();
}
