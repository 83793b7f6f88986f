#include "server/CloseSessionEvent.h"

namespace ORV {
namespace PELLAX {

int CCloseSessionEvent::OnEvent()
{
    if (m_session) {
        m_session->Close(m_nReason);
    }
    return 0;
}

}  // namespace PELLAX
}  // namespace ORV
