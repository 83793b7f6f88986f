// One connection to a server as the client front sees it; counted, held through CRefPtr.
#ifndef PELLAX_CLIENT_I_CLIENT_SESSION_H
#define PELLAX_CLIENT_I_CLIENT_SESSION_H

#include <cstdint>

#include "client/IClientSessionSink.h"
#include "context/MessageResponse.h"
#include "platform/OrvInetAddress.h"
#include "platform/OrvMessageBlock.h"
#include "platform/OrvReferenceControl.h"
#include "platform/OrvTimeValue.h"
#include "protocol/PellaxMessageHeader.h"

namespace ORV {
namespace PELLAX {

class IClientSession : public IOrvReferenceControl {
public:
    virtual int SetOption(uint32_t option) = 0;
    // Stops the timer; kResultNotStarted when there was none.
    virtual int Finalize() = 0;
    virtual uint32_t GetHandle() const = 0;
    // Starts connecting; the outcome arrives later as the sink's OnJoin.
    virtual int Open(IClientSessionSink* sink, const COrvInetAddress* server, const COrvTimeValue* timeout,
                     const COrvInetAddress* local) = 0;
    virtual void Close(uint32_t reason) = 0;
    // The body is encoded straight behind the header, from the host's bytes.
    virtual int AsyncSend(CPellaxMessageHeader& header, const void* body, size_t length) = 0;
    // Sends with a fresh synchronous sequence and waits for the answer; the body may be empty.
    virtual int SyncSend(CPellaxMessageHeader& header, const void* body, size_t length,
                         CRefPtr<CMessageResponse>& response, uint32_t timeoutSeconds) = 0;
    // kind 0: Register user data, 1: Keepalive user data; -4 for any other kind.
    virtual int SetUserData(uint32_t kind, const char* text) = 0;
    // Forgets the sink. Waits for a notification in progress on another thread, so that none
    // reaches the sink once this returns.
    virtual void DetachSink() = 0;
};

}  // namespace PELLAX
}  // namespace ORV

#endif
