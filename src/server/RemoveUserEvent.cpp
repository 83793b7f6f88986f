#include "server/RemoveUserEvent.h"

namespace ORV {
namespace PELLAX {

int CRemoveUserEvent::OnEvent()
{
    if (m_session && m_pClient) {
        m_session->Disconnect(m_pClient.Get(), m_nReason);
    }
    return 0;
}

}  // namespace PELLAX
}  // namespace ORV
