// The server front's view of its one listening session.
#ifndef PELLAX_SERVER_I_SERVER_SESSION_H
#define PELLAX_SERVER_I_SERVER_SESSION_H

#include <cstdint>

#include "pellax.h"
#include "platform/OrvInetAddress.h"
#include "platform/OrvReferenceControl.h"

namespace ORV {
namespace PELLAX {

class IClientObjectMgrSink;

class IServerSession : public IOrvReferenceControl {
public:
    // Keepalive interval and time-out in seconds; options bit 0 selects the alternative transport type.
    virtual int Initialize(int32_t interval, int32_t timeout, uint32_t options) = 0;
    virtual void Finalize() = 0;
    virtual int Open(IClientObjectMgrSink* sink, const COrvInetAddress& address) = 0;
    // From a host thread: once it returns the sink is never called again.
    virtual void Close() = 0;
    virtual int Leave(uint32_t clientId) = 0;
    // The records were checked by the server front; they are taken as valid here.
    virtual int AsyncSend(uint32_t clientId, const PELLAX_Message* message) = 0;
    virtual int SyncSend(uint32_t clientId, const PELLAX_Message* request, PELLAX_Message* response,
                         uint32_t timeout) = 0;
    virtual int SetUserData(uint32_t clientId, uint32_t type, const char* text) = 0;
    // The port listened on, 0 when not open (port 0 asks the system for one).
    virtual uint16_t GetListenPort() = 0;
};

}  // namespace PELLAX
}  // namespace ORV

#endif
