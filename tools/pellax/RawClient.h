// A client without the library: one plain socket that registers once and then says nothing,
// to show how the server treats a peer that falls silent.
#ifndef PELLAX_TOOL_RAW_CLIENT_H
#define PELLAX_TOOL_RAW_CLIENT_H

#include <string>

#include "PlainSocket.h"

namespace pellax_tool {

class RawClient {
public:
    bool Connect(int port);
    // Sends one Register frame with these JSON params.
    bool SendRegister(const std::string& paramsJson);
    // The body of the next frame, or empty after the time-out.
    std::string ReceiveBody(int timeoutMs);
    // True when the server closed the connection within the time-out.
    bool WaitClosed(int timeoutMs);

private:
    Socket m_socket;
};

}  // namespace pellax_tool

#endif
