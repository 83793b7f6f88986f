// Ports for tests that cannot use port 0 (a fixed port named in a request, or a peer set up first).
#ifndef PELLAX_TEST_SUPPORT_FREE_PORT_H
#define PELLAX_TEST_SUPPORT_FREE_PORT_H

#include <cstdint>

namespace pellax_test {

// A port that was free a moment ago on 127.0.0.1: bound to port 0, read back, released. Another
// process may still take it before the caller does; 0 when no socket could be had.
uint16_t PickFreePort();
// True when a TCP listener on 127.0.0.1 accepts connections on the port.
bool IsListening(uint16_t port);

}  // namespace pellax_test

#endif
