// Disposes of the heartbeat timer on the event thread that scheduled it.
#ifndef PELLAX_SERVER_HEARTBEAT_TIMER_DEL_EVENT_H
#define PELLAX_SERVER_HEARTBEAT_TIMER_DEL_EVENT_H

#include <memory>

#include "platform/OrvThread.h"
#include "platform/OrvTimer.h"

namespace ORV {
namespace PELLAX {

class CHeartbeatTimerDelEvent : public IOrvCustomizeEvent {
public:
    // An event that never runs still deletes the timer, which then stays silent.
    explicit CHeartbeatTimerDelEvent(std::unique_ptr<COrvTimer> timer) : m_pTimer(std::move(timer)) {}
    // The timer's destructor cancels it, here on the thread that scheduled it.
    int OnEvent() override
    {
        m_pTimer.reset();
        return 0;
    }

private:
    std::unique_ptr<COrvTimer> m_pTimer;
};

}  // namespace PELLAX
}  // namespace ORV

#endif
