#include "support/FreePort.h"

#include "support/RawClientPeer.h"

namespace pellax_test {

uint16_t PickFreePort()
{
    uint16_t port = 0;
    CRawSocket::Listen(1, &port);  // released again at once
    return port;
}

bool IsListening(uint16_t port)
{
    CRawClientPeer probe;
    return probe.Connect(port, std::chrono::milliseconds(2000));
}

}  // namespace pellax_test
