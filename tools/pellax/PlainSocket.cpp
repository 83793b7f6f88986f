#include "PlainSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pellax_tool {

namespace {
void NoDelay(int fd)
{
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}
}  // namespace

Socket::~Socket()
{
    if (m_fd >= 0) {
        close(m_fd);
    }
}

Socket Listen(uint16_t& port)
{
    Socket listener(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof(address);
    bind(listener.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(listener.Fd(), 1024);
    getsockname(listener.Fd(), reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return listener;
}

Socket Connect(uint16_t port)
{
    Socket connection(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = Loopback(port);
    if (connect(connection.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        return Socket();
    }
    NoDelay(connection.Fd());
    return connection;
}

Socket Accept(const Socket& listener)
{
    Socket connection(accept(listener.Fd(), nullptr, nullptr));
    NoDelay(connection.Fd());
    return connection;
}

bool WriteAll(int fd, const void* data, size_t length)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (length > 0) {
        ssize_t written = send(fd, bytes, length, MSG_NOSIGNAL);
        if (written <= 0) {
            return false;
        }
        bytes += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

bool ReadAll(int fd, void* data, size_t length)
{
    auto* bytes = static_cast<uint8_t*>(data);
    while (length > 0) {
        ssize_t got = recv(fd, bytes, length, 0);
        if (got <= 0) {
            return false;
        }
        bytes += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}

bool ReadFrame(int fd, std::vector<uint8_t>& buffer)
{
    uint32_t length = 0;
    if (!ReadAll(fd, &length, 4)) {
        return false;
    }
    length = ntohl(length);
    buffer.resize(length);
    return ReadAll(fd, buffer.data(), length);
}

}  // namespace pellax_tool
