#include "client/TimerDelEvent.h"

namespace ORV {
namespace PELLAX {

int CTimerDelEvent::OnEvent()
{
    if (m_pTimer) {
        m_pTimer->Cancel();
        m_pTimer.reset();
    }
    return 0;
}

}  // namespace PELLAX
}  // namespace ORV
