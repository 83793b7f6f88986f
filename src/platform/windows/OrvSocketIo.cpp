#include "platform/OrvSocketIo.h"

#include <winsock2.h>

namespace {
constexpr size_t kMaxBuffers = 512;

long Failure()
{
    return WSAGetLastError() == WSAEWOULDBLOCK ? kOrvIoWouldBlock : kOrvIoFailed;
}
}

void OrvPrepareConnection(asio::ip::tcp::socket& socket)
{
    // Winsock has no per-call "don't wait" flag: the socket itself must not block. asio's own
    // operations on it are overlapped and unaffected.
    asio::error_code ignored;
    socket.non_blocking(true, ignored);
}

long OrvSendGather(OrvSocketHandle socket, const OrvIoSlice* slices, size_t count)
{
    WSABUF buffers[kMaxBuffers];
    DWORD used = static_cast<DWORD>(count < kMaxBuffers ? count : kMaxBuffers);
    for (DWORD i = 0; i < used; ++i) {
        buffers[i].buf = reinterpret_cast<CHAR*>(const_cast<uint8_t*>(slices[i].data));
        buffers[i].len = static_cast<ULONG>(slices[i].length);
    }
    DWORD written = 0;
    if (WSASend(socket, buffers, used, &written, 0, nullptr, nullptr) != 0) {
        return Failure();
    }
    return static_cast<long>(written);
}

long OrvReceive(OrvSocketHandle socket, uint8_t* buffer, size_t capacity)
{
    int wanted = capacity > 0x7fffffff ? 0x7fffffff : static_cast<int>(capacity);
    int received = ::recv(socket, reinterpret_cast<char*>(buffer), wanted, 0);
    if (received == SOCKET_ERROR) {
        return Failure();
    }
    return received;
}

void OrvPrepareListener(asio::ip::tcp::acceptor& acceptor, asio::error_code& error)
{
    // SO_REUSEADDR would let a second process listen on the same port here; exclusive use keeps a
    // create on a port in use failing, as it does elsewhere.
    BOOL on = TRUE;
    if (::setsockopt(acceptor.native_handle(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                     sizeof(on)) == SOCKET_ERROR) {
        error = asio::error_code(WSAGetLastError(), asio::error::get_system_category());
    }
}
