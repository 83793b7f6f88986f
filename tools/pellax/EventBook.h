// Everything the demo's two hosts were told, so each step can wait for what it expects.
#ifndef PELLAX_TOOL_EVENT_BOOK_H
#define PELLAX_TOOL_EVENT_BOOK_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace pellax_tool {

enum class Side { Server, Client };

struct NotedEvent {
    Side side;
    unsigned int id;    // client id on the server side, session handle on the client side
    unsigned int type;
    std::string text;   // the record's data as text
    unsigned int extTypes[4];
    int extCount;
};

class EventBook {
public:
    void Note(const NotedEvent& event);
    // Waits until some noted event matches; false after the time-out.
    bool WaitFor(const std::function<bool(const NotedEvent&)>& match, std::chrono::milliseconds limit,
                 NotedEvent* found = nullptr);
    // Waits until count noted events match; false after the time-out.
    bool WaitForCount(const std::function<bool(const NotedEvent&)>& match, size_t count,
                      std::chrono::milliseconds limit);

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<NotedEvent> m_events;
};

}  // namespace pellax_tool

#endif
