// Cancels and deletes a session timer on the thread that owns it.
#ifndef PELLAX_CLIENT_TIMER_DEL_EVENT_H
#define PELLAX_CLIENT_TIMER_DEL_EVENT_H

#include <memory>

#include "platform/OrvReferenceControl.h"
#include "platform/OrvThread.h"
#include "platform/OrvTimer.h"
#include "platform/RefPtr.h"

namespace ORV {
namespace PELLAX {

class CTimerDelEvent : public IOrvCustomizeEvent {
public:
    // owner is the timer's sink: it must outlive every tick that may still run before this event.
    CTimerDelEvent(std::unique_ptr<COrvTimer> timer, IOrvReferenceControl* owner)
        : m_pTimer(std::move(timer)), m_pOwner(owner)
    {
    }

    // The timer's destructor cancels it, here on the thread that scheduled it.
    int OnEvent() override
    {
        m_pTimer.reset();
        return 0;
    }
    void SetTimer(std::unique_ptr<COrvTimer> timer) { m_pTimer = std::move(timer); }
    // Gives the timer back when the event could not be posted.
    std::unique_ptr<COrvTimer> TakeTimer() { return std::move(m_pTimer); }

private:
    std::unique_ptr<COrvTimer> m_pTimer;
    CRefPtr<IOrvReferenceControl> m_pOwner;
};

}  // namespace PELLAX
}  // namespace ORV

#endif
