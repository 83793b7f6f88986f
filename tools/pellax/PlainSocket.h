// Plain blocking TCP sockets on 127.0.0.1 with Nagle off, carrying the library's 4-byte length
// prefix: the baseline side of the tool's benchmarks and of the bench programs, and the tool's raw
// client. One implementation per platform (posix/, windows/) behind this header.
#ifndef PELLAX_TOOL_PLAIN_SOCKET_H
#define PELLAX_TOOL_PLAIN_SOCKET_H

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <utility>
#include <vector>

namespace pellax_tool {

// A descriptor or a Winsock handle, whichever the platform has.
using SocketFd = std::intptr_t;
constexpr SocketFd kNoSocket = -1;

// Owns one socket.
class Socket {
public:
    explicit Socket(SocketFd fd = kNoSocket) : m_fd(fd) {}
    ~Socket();
    Socket(Socket&& other) noexcept : m_fd(other.m_fd) { other.m_fd = kNoSocket; }
    Socket& operator=(Socket&& other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    SocketFd Fd() const { return m_fd; }
    bool IsValid() const { return m_fd != kNoSocket; }
    // Hands the socket over to the caller.
    SocketFd Release() { return std::exchange(m_fd, kNoSocket); }

private:
    SocketFd m_fd;
};

// A listener on an ephemeral port, written to port; an invalid socket when none could be had.
Socket Listen(uint16_t& port, int backlog = 1024);
// An invalid socket when the connection is refused or, with a time-out, not made within it (a full
// accept queue would otherwise hold the caller for minutes).
Socket Connect(uint16_t port, int timeoutMs = -1);
Socket Accept(const Socket& listener);
// A port of 127.0.0.1 that was free a moment ago; 0 when none could be had.
uint16_t FreeLoopbackPort();

// What one send or receive moved; ReceiveSome gives 0 when the peer closed (or on an error) and -1
// when nothing came within timeoutMs (-1 waits as long as it takes).
long SendSome(SocketFd fd, const void* data, size_t length);
long ReceiveSome(SocketFd fd, void* data, size_t length, int timeoutMs);

bool WriteAll(SocketFd fd, const void* data, size_t length);
bool ReadAll(SocketFd fd, void* data, size_t length);
// One length-prefixed frame, without its prefix, into buffer; each wait for more bounded by timeoutMs.
bool ReadFrame(SocketFd fd, std::vector<uint8_t>& buffer, int timeoutMs = -1);
// Exactly length bytes, each wait for more bounded by timeoutMs.
bool ReadAllWithin(SocketFd fd, void* data, size_t length, int timeoutMs);
// True when the peer closed (or reset) the connection within timeoutMs.
bool WaitPeerClosed(SocketFd fd, int timeoutMs);
// Indices of the sockets with something to read (or closed) within timeoutMs; empty on time-out.
std::vector<size_t> WaitReadable(const std::vector<SocketFd>& fds, int timeoutMs);
// Ends sending (and receiving, if both), which wakes a peer or a thread blocked on the socket.
void Shutdown(SocketFd fd, bool both);

// The process around the sockets: socket start-up where the platform needs it, limits raised.
void PrepareProcess();
bool StdoutIsTerminal();
// The thread-safe local time of the platform.
std::tm LocalTime(std::time_t seconds);

}  // namespace pellax_tool

#endif
