// Disconnects one client on the event thread.
#ifndef PELLAX_SERVER_REMOVE_USER_EVENT_H
#define PELLAX_SERVER_REMOVE_USER_EVENT_H

#include <cstdint>

#include "platform/OrvSession.h"
#include "platform/OrvThread.h"
#include "platform/RefPtr.h"

namespace ORV {
namespace PELLAX {

class CRemoveUserEvent : public IOrvCustomizeEvent {
public:
    CRemoveUserEvent(const CRefPtr<IOrvServerSession>& session, const CRefPtr<IOrvID>& client, uint32_t reason)
        : m_pClient(client), m_nReason(reason), m_session(session)
    {
    }
    int OnEvent() override;

private:
    // Counted: the connection may leave by itself before the event runs.
    CRefPtr<IOrvID> m_pClient;
    uint32_t m_nReason;
    CRefPtr<IOrvServerSession> m_session;
};

}  // namespace PELLAX
}  // namespace ORV

#endif
