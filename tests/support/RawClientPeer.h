// A blocking TCP client to 127.0.0.1 that speaks the wire format by hand: every wait is bounded.
#ifndef PELLAX_TEST_SUPPORT_RAW_CLIENT_PEER_H
#define PELLAX_TEST_SUPPORT_RAW_CLIENT_PEER_H

#include "support/RawSocket.h"

namespace pellax_test {

class CRawClientPeer : public CRawSocket {
public:
    // Replaces any earlier connection.
    bool Connect(uint16_t port, std::chrono::milliseconds timeout = kWaitLimit)
    {
        CRawSocket::operator=(CRawSocket::Connect(port, timeout));
        return IsValid();
    }
    bool SendBytes(const std::vector<uint8_t>& bytes) { return IsValid() && SendAll(bytes); }
    // One length-prefixed message's bytes.
    bool ReceiveBytes(std::vector<uint8_t>* frameBytes, std::chrono::milliseconds timeout = kWaitLimit)
    {
        return ReadMessage(frameBytes, timeout);
    }
};

}  // namespace pellax_test

#endif
