#include "support/EventThreadHelper.h"

#include <memory>

#include "platform/OrvLockEvent.h"
#include "support/Wait.h"

namespace pellax_test {

bool Post(IOrvThread* thread, std::function<void()> action)
{
    auto* event = new CFunctionEvent(std::move(action));
    if (thread->PostEvent(event) != 0) {
        delete event;
        return false;
    }
    return true;
}

bool RunOn(IOrvThread* thread, std::function<void()> action)
{
    // Shared, so a late run after a time-out still finds the event alive.
    auto done = std::make_shared<COrvLockEvent>(0, 0);
    bool posted = Post(thread, [action = std::move(action), done] {
        action();
        done->Signal();
    });
    if (!posted) {
        return false;
    }
    COrvTimeValue limit(kWaitLimit.count() / 1000, 0);
    return done->Wait(&limit) == 0;
}

CScopedEventThread::CScopedEventThread(IOrvThreadSink* sink)
{
    IOrvThreadManager::Instance()->CreateThread(0, 14, sink, &m_pThread);
}

CScopedEventThread::~CScopedEventThread()
{
    if (m_pThread != nullptr) {
        IOrvThreadManager::Instance()->ReleaseThread(m_pThread);
    }
}

void CScopedEventThread::Stop()
{
    IOrvThreadManager::Instance()->StopThread(m_pThread);
}

}  // namespace pellax_test
