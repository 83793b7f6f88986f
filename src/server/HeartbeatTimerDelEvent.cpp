#include "server/HeartbeatTimerDelEvent.h"

namespace ORV {
namespace PELLAX {

int CHeartbeatTimerDelEvent::OnEvent()
{
    if (m_pTimer) {
        m_pTimer->Cancel();
        m_pTimer.reset();
    }
    return 0;
}

}  // namespace PELLAX
}  // namespace ORV
