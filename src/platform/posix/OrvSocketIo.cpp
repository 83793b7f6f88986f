#include "platform/OrvSocketIo.h"

#include <cerrno>
#include <sys/socket.h>
#include <sys/uio.h>

namespace {
constexpr size_t kMaxIov = 512;

long Failure(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK ? kOrvIoWouldBlock : kOrvIoFailed;
}
}

void OrvPrepareConnection(asio::ip::tcp::socket&)
{
    // Every call below passes MSG_DONTWAIT, so the socket itself stays as asio keeps it.
}

long OrvSendGather(OrvSocketHandle socket, const OrvIoSlice* slices, size_t count)
{
    iovec iov[kMaxIov];
    msghdr message{};
    message.msg_iov = iov;
    message.msg_iovlen = count < kMaxIov ? count : kMaxIov;
    for (size_t i = 0; i < message.msg_iovlen; ++i) {
        iov[i] = {const_cast<uint8_t*>(slices[i].data), slices[i].length};
    }
    for (;;) {
        ssize_t written = ::sendmsg(socket, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written >= 0) {
            return static_cast<long>(written);
        }
        if (errno != EINTR) {
            return Failure(errno);
        }
    }
}

long OrvReceive(OrvSocketHandle socket, uint8_t* buffer, size_t capacity)
{
    for (;;) {
        ssize_t received = ::recv(socket, buffer, capacity, MSG_DONTWAIT);
        if (received >= 0) {
            return static_cast<long>(received);
        }
        if (errno != EINTR) {
            return Failure(errno);
        }
    }
}

void OrvPrepareListener(asio::ip::tcp::acceptor& acceptor, asio::error_code& error)
{
    // Here the option lets a restarted server bind past connections in TIME_WAIT; a port with a live
    // listener stays refused.
    acceptor.set_option(asio::socket_base::reuse_address(true), error);
}
