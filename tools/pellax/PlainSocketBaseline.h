// The same exchanges over plain blocking sockets with the same framing (4-byte length, 156-byte
// header, body), one write per message and TCP_NODELAY: what the library is measured against.
#ifndef PELLAX_TOOL_PLAIN_SOCKET_BASELINE_H
#define PELLAX_TOOL_PLAIN_SOCKET_BASELINE_H

#include "BenchStats.h"

namespace pellax_tool {

struct BaselineSettings {
    int size = 64;
    int clients = 1;
    double seconds = 3;
};

BenchFigures RunPlainRoundTrip(const BaselineSettings& settings);
BenchFigures RunPlainStream(const BaselineSettings& settings);
// settings.clients connections served by one polling echo thread.
BenchFigures RunPlainFanIn(const BaselineSettings& settings);

}  // namespace pellax_tool

#endif
