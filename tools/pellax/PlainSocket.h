// Plain blocking TCP sockets on 127.0.0.1 with Nagle off, carrying the library's 4-byte length
// prefix: the baseline side of the tool's benchmarks and of the bench programs.
#ifndef PELLAX_TOOL_PLAIN_SOCKET_H
#define PELLAX_TOOL_PLAIN_SOCKET_H

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace pellax_tool {

// Owns one descriptor.
class Socket {
public:
    explicit Socket(int fd = -1) : m_fd(fd) {}
    ~Socket();
    Socket(Socket&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    Socket& operator=(Socket&& other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    int Fd() const { return m_fd; }
    // Hands the descriptor over to the caller.
    int Release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

// A listener on an ephemeral port, written to port.
Socket Listen(uint16_t& port);
// An invalid socket (Fd() -1) when the connection is refused.
Socket Connect(uint16_t port);
Socket Accept(const Socket& listener);

bool WriteAll(int fd, const void* data, size_t length);
bool ReadAll(int fd, void* data, size_t length);
// One length-prefixed frame, without its prefix, into buffer.
bool ReadFrame(int fd, std::vector<uint8_t>& buffer);

}  // namespace pellax_tool

#endif
