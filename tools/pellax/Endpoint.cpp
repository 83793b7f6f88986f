#include "Endpoint.h"

#include <cstdlib>

#include "PlainSocket.h"

namespace pellax_tool {

bool ParseEndpoint(const std::string& text, Endpoint& endpoint)
{
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
        return false;
    }
    char* end = nullptr;
    long port = std::strtol(text.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || port < 0 || port > 65535) {
        return false;
    }
    endpoint.host = text.substr(0, colon);
    endpoint.port = static_cast<int>(port);
    return true;
}

int FindFreePort()
{
    return FreeLoopbackPort();
}

}  // namespace pellax_tool
