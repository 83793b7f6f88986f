// What a client session reports to its owner (the client front): joins, leaves, frames and heartbeats.
#ifndef PELLAX_CLIENT_I_CLIENT_SESSION_SINK_H
#define PELLAX_CLIENT_I_CLIENT_SESSION_SINK_H

#include <cstdint>

#include "platform/OrvMessageBlock.h"
#include "protocol/PellaxMessageHeader.h"

namespace ORV {
namespace PELLAX {

class IClientSession;

class IClientSessionSink {
public:
    // result 0: joined; otherwise the transport's failure.
    virtual void OnJoin(IClientSession* session, uint32_t result) = 0;
    virtual void OnLeave(IClientSession* session, uint32_t reason) = 0;
    // A data frame; the block's read position stands at the body.
    virtual void OnReceive(IClientSession* session, const MessageHeaderPtr& header, COrvMessageBlock* block) = 0;
    virtual void OnCanSendAgain(IClientSession* session, uint32_t value) = 0;
    // The server stayed silent for more than twice the keepalive time-out.
    virtual void OnHeartBeatTimeOut(IClientSession* session) = 0;
    // Keepalive and Register answers; the block holds their "data" object as compact JSON.
    virtual void OnHeartbeat(IClientSession* session, const MessageHeaderPtr& header, COrvMessageBlock* block) = 0;
    virtual void OnRegister(IClientSession* session, const MessageHeaderPtr& header, COrvMessageBlock* block) = 0;
    virtual ~IClientSessionSink() = default;
};

}  // namespace PELLAX
}  // namespace ORV

#endif
