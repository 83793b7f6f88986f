// What the transport does with a socket beyond asio: gathering non-blocking writes of many frames
// into one system call, non-blocking reads, and a listener that no other process can share.
#ifndef PELLAX_PLATFORM_ORV_SOCKET_IO_H
#define PELLAX_PLATFORM_ORV_SOCKET_IO_H

#include <asio/ip/tcp.hpp>
#include <cstddef>
#include <cstdint>

using OrvSocketHandle = asio::ip::tcp::socket::native_handle_type;

// One piece of a gathered write.
struct OrvIoSlice {
    const uint8_t* data;
    size_t length;
};

// Results of the calls below besides a byte count.
constexpr long kOrvIoWouldBlock = -1;  // nothing could be done now; wait for readiness
constexpr long kOrvIoFailed = -2;      // the connection is broken

// Readies a connected socket for the calls below (the non-blocking mode they rely on).
void OrvPrepareConnection(asio::ip::tcp::socket& socket);
// Writes as much of the slices as the socket takes now, in order; the count written or a result above.
long OrvSendGather(OrvSocketHandle socket, const OrvIoSlice* slices, size_t count);
// Reads what has arrived, up to capacity; 0 when the peer closed, else the count or a result above.
long OrvReceive(OrvSocketHandle socket, uint8_t* buffer, size_t capacity);
// Options for an open, unbound listener: a restarted server gets its port back at once, but a
// listener that holds the port already keeps it (a second create on it fails).
void OrvPrepareListener(asio::ip::tcp::acceptor& acceptor, asio::error_code& error);

#endif
