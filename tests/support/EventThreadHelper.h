// Runs code on a platform event thread and waits for it, so tests can act "on the thread".
#ifndef PELLAX_TEST_SUPPORT_EVENT_THREAD_HELPER_H
#define PELLAX_TEST_SUPPORT_EVENT_THREAD_HELPER_H

#include <functional>

#include "platform/OrvThread.h"

namespace pellax_test {

// An IOrvCustomizeEvent around a function.
class CFunctionEvent : public IOrvCustomizeEvent {
public:
    explicit CFunctionEvent(std::function<void()> action) : m_action(std::move(action)) {}
    int OnEvent() override
    {
        m_action();
        return 0;
    }

private:
    std::function<void()> m_action;
};

// Posts the action; false when the thread refused it.
bool Post(IOrvThread* thread, std::function<void()> action);
// Posts the action and waits until it ran; false when refused or not run within the wait limit.
bool RunOn(IOrvThread* thread, std::function<void()> action);

// An event thread for one test: created by the thread manager, stopped and released at the end.
class CScopedEventThread {
public:
    explicit CScopedEventThread(IOrvThreadSink* sink = nullptr);
    ~CScopedEventThread();
    CScopedEventThread(const CScopedEventThread&) = delete;
    CScopedEventThread& operator=(const CScopedEventThread&) = delete;

    IOrvThread* Get() const { return m_pThread; }
    void Stop();

private:
    IOrvThread* m_pThread = nullptr;
};

}  // namespace pellax_test

#endif
