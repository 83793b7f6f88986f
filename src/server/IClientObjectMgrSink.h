// What the server session tells its owner: joins and leaves, data frames, registrations,
// keepalives and silent clients. Called on the transport's event thread, one at a time.
#ifndef PELLAX_SERVER_I_CLIENT_OBJECT_MGR_SINK_H
#define PELLAX_SERVER_I_CLIENT_OBJECT_MGR_SINK_H

#include <cstdint>

#include "platform/OrvMessageBlock.h"
#include "platform/RefPtr.h"
#include "protocol/PellaxMessageHeader.h"
#include "server/ClientObject.h"

namespace ORV {
namespace PELLAX {

class IClientObjectMgrSink {
public:
    static constexpr uint32_t kChangeJoin = 0;
    static constexpr uint32_t kChangeOther = 1;
    static constexpr uint32_t kChangeLeave = 4;

    virtual void OnClientChange(const CRefPtr<CClientObject>& client, uint32_t change) = 0;
    // A data frame; the body block's read position stands at the first body byte.
    virtual void OnReceive(const CRefPtr<CClientObject>& client, const CRefPtr<CPellaxMessageHeader>& header,
                           const CRefPtr<COrvMessageBlock>& body) = 0;
    virtual void OnHeartBeatTimeOut(const CRefPtr<CClientObject>& client) = 0;
    // The request's "params" as compact JSON text.
    virtual void OnHeartbeat(const CRefPtr<CClientObject>& client, const CRefPtr<CPellaxMessageHeader>& header,
                             const CRefPtr<COrvMessageBlock>& params) = 0;
    virtual void OnRegister(const CRefPtr<CClientObject>& client, const CRefPtr<CPellaxMessageHeader>& header,
                            const CRefPtr<COrvMessageBlock>& params) = 0;

protected:
    virtual ~IClientObjectMgrSink() = default;
};

}  // namespace PELLAX
}  // namespace ORV

#endif
