// Closes the listening session on the event thread.
#ifndef PELLAX_SERVER_CLOSE_SESSION_EVENT_H
#define PELLAX_SERVER_CLOSE_SESSION_EVENT_H

#include <cstdint>

#include "platform/OrvReferenceControl.h"
#include "platform/OrvSession.h"
#include "platform/OrvThread.h"
#include "platform/RefPtr.h"

namespace ORV {
namespace PELLAX {

class CCloseSessionEvent : public IOrvCustomizeEvent {
public:
    // owner is the sink the transport calls until the close has run; it is kept alive until then.
    CCloseSessionEvent(const CRefPtr<IOrvServerSession>& session, uint32_t reason,
                       const CRefPtr<IOrvReferenceControl>& owner)
        : m_nReason(reason), m_session(session), m_pOwner(owner)
    {
    }
    int OnEvent() override;

private:
    uint32_t m_nReason;
    CRefPtr<IOrvServerSession> m_session;
    CRefPtr<IOrvReferenceControl> m_pOwner;
};

}  // namespace PELLAX
}  // namespace ORV

#endif
