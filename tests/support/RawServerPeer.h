// A blocking listener on 127.0.0.1 (port 0) that plays the server by hand: it accepts one connection at
// a time and sends and reads length-prefixed frames in the wire format on it. Every wait is bounded.
#ifndef PELLAX_TEST_SUPPORT_RAW_SERVER_PEER_H
#define PELLAX_TEST_SUPPORT_RAW_SERVER_PEER_H

#include "support/RawSocket.h"

namespace pellax_test {

class CRawServerPeer : public CRawSocket {
public:
    // Listens at once; a backlog that is never drained keeps later connects waiting.
    explicit CRawServerPeer(int backlog = 64) : m_listener(CRawSocket::Listen(backlog, &m_nPort)) {}

    uint16_t GetPort() const { return m_nPort; }
    void CloseListener() { m_listener.Close(); }
    // Takes the next connection, replacing the current one.
    bool Accept(std::chrono::milliseconds timeout = kWaitLimit)
    {
        CRawSocket::operator=(m_listener.Accept(timeout));
        return IsValid();
    }
    // Any bytes as one length-prefixed message, for frames that lie about their lengths.
    bool SendMessage(const std::vector<uint8_t>& frameBytes) { return SendAll(EncodeMessage(frameBytes)); }

private:
    uint16_t m_nPort = 0;  // before m_listener: Listen fills it in
    CRawSocket m_listener;
};

}  // namespace pellax_test

#endif
