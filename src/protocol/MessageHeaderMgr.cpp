#include "protocol/MessageHeaderMgr.h"

#include <new>

#include "platform/Trace.h"

CMessageHeaderMgr::~CMessageHeaderMgr()
{
    Stop();
}

int CMessageHeaderMgr::Start()
{
    ZOT_Guard guard(m_threadLock);
    if (m_thread != nullptr) {
        return 0;
    }
    // Read by the new thread when it starts; set only while no thread can be reading them.
    m_interval.Set(kSweepPeriodSeconds, 0);
    m_delay.Set(0, 0);
    if (IOrvThreadManager::Instance()->CreateThread(0, 14, this, &m_thread) != 0) {
        m_thread = nullptr;
        return kThreadRefused;
    }
    return 0;
}

void CMessageHeaderMgr::Stop()
{
    ZOT_Guard guard(m_threadLock);
    if (m_thread == nullptr) {
        return;
    }
    IOrvThreadManager::Instance()->StopThread(m_thread);
    IOrvThreadManager::Instance()->ReleaseThread(m_thread);
    m_thread = nullptr;
}

void CMessageHeaderMgr::Add(const std::string& spanId, uint64_t span)
{
    ZOT_Guard guard(m_lock);
    auto found = m_entries.find(spanId);
    if (found != m_entries.end()) {
        TraceReleaseSpan(&found->second.m_nSpan);
        m_entries.erase(found);
    }
    try {
        m_entries.emplace(spanId, Entry{span, ZOT_GetTimeTick64()});
    } catch (const std::bad_alloc&) {
        // Tracing is best effort: the request goes out untracked.
    }
}

uint64_t CMessageHeaderMgr::Take(const std::string& spanId)
{
    ZOT_Guard guard(m_lock);
    auto found = m_entries.find(spanId);
    if (found == m_entries.end()) {
        return 0;
    }
    uint64_t span = found->second.m_nSpan;
    m_entries.erase(found);
    return span;
}

size_t CMessageHeaderMgr::GetEntryCount()
{
    ZOT_Guard guard(m_lock);
    return m_entries.size();
}

void CMessageHeaderMgr::Sweep()
{
    std::map<std::string, Entry> copy;
    {
        ZOT_Guard guard(m_lock);
        try {
            copy = m_entries;
        } catch (const std::bad_alloc&) {
            return;
        }
    }
    uint64_t now = ZOT_GetTimeTick64();
    for (auto& [spanId, entry] : copy) {
        if (now - entry.m_nTick < kMaxAgeMs) {
            continue;
        }
        // A response may have taken the entry since the copy; then its span is already finished.
        if (!RemoveIfUnchanged(spanId, entry)) {
            continue;
        }
        TraceResumeSpan(&entry.m_nSpan);
        TraceSetIds(nullptr, nullptr);
        TraceFinish(0, "-1", "time out");
    }
}

bool CMessageHeaderMgr::RemoveIfUnchanged(const std::string& spanId, const Entry& seen)
{
    ZOT_Guard guard(m_lock);
    auto found = m_entries.find(spanId);
    if (found == m_entries.end() || found->second.m_nSpan != seen.m_nSpan || found->second.m_nTick != seen.m_nTick) {
        return false;
    }
    m_entries.erase(found);
    return true;
}

void CMessageHeaderMgr::OnTimer(COrvTimer*)
{
    Sweep();
}

void CMessageHeaderMgr::OnThreadStart()
{
    m_timer.Schedule(this, m_interval, m_delay, -1);
}

void CMessageHeaderMgr::OnThreadStop()
{
    m_timer.Cancel();
}
