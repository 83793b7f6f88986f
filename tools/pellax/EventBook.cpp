#include "EventBook.h"

namespace pellax_tool {

void EventBook::Note(const NotedEvent& event)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(event);
    }
    m_changed.notify_all();
}

bool EventBook::WaitFor(const std::function<bool(const NotedEvent&)>& match, std::chrono::milliseconds limit,
                        NotedEvent* found)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    size_t checked = 0;
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        for (; checked < m_events.size(); ++checked) {
            if (match(m_events[checked])) {
                if (found != nullptr) {
                    *found = m_events[checked];
                }
                return true;
            }
        }
        if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout && checked == m_events.size()) {
            return false;
        }
    }
}

bool EventBook::WaitForCount(const std::function<bool(const NotedEvent&)>& match, size_t count,
                             std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    size_t checked = 0;
    size_t matched = 0;
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        for (; checked < m_events.size(); ++checked) {
            matched += match(m_events[checked]) ? 1 : 0;
        }
        if (matched >= count) {
            return true;
        }
        if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout && checked == m_events.size()) {
            return false;
        }
    }
}

}  // namespace pellax_tool
