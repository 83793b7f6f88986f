#include "platform/OrvRunPool.h"

MessageBlockPtr COrvRunPool::Take()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_runs.empty()) {
            MessageBlockPtr run = std::move(m_runs.back());
            m_runs.pop_back();
            return run;
        }
    }
    return COrvMessageBlock::Create(kRunBytes);
}

void COrvRunPool::Give(MessageBlockPtr run)
{
    run->SetReadPos(0);
    run->SetWritePos(0);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_runs.size() < m_nKeep) {
        m_runs.push_back(std::move(run));
    }
}
