// HOST:PORT texts and free loopback ports.
#ifndef PELLAX_TOOL_ENDPOINT_H
#define PELLAX_TOOL_ENDPOINT_H

#include <string>

namespace pellax_tool {

struct Endpoint {
    std::string host = "127.0.0.1";
    int port = 7000;
};

// False when the text is not HOST:PORT with a port in 0..65535.
bool ParseEndpoint(const std::string& text, Endpoint& endpoint);
// A port the kernel hands out on 127.0.0.1 at this moment; 0 if none could be had.
int FindFreePort();

}  // namespace pellax_tool

#endif
