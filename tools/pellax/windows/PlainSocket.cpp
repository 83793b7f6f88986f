#include "PlainSocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <io.h>
#include <cstdio>

namespace pellax_tool {

namespace {
SOCKET Native(SocketFd fd)
{
    return static_cast<SOCKET>(fd);
}

void NoDelay(SocketFd fd)
{
    BOOL on = TRUE;
    setsockopt(Native(fd), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof(on));
}

sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

SocketFd NewSocket()
{
    SOCKET fd = socket(AF_INET, SOCK_STREAM, 0);
    return fd == INVALID_SOCKET ? kNoSocket : static_cast<SocketFd>(fd);
}
}  // namespace

Socket::~Socket()
{
    if (m_fd != kNoSocket) {
        closesocket(Native(m_fd));
    }
}

Socket Listen(uint16_t& port, int backlog)
{
    Socket listener(NewSocket());
    sockaddr_in address = Loopback(0);
    int length = sizeof(address);
    if (!listener.IsValid() || bind(Native(listener.Fd()), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(Native(listener.Fd()), backlog) != 0 ||
        getsockname(Native(listener.Fd()), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return Socket();
    }
    port = ntohs(address.sin_port);
    return listener;
}

Socket Connect(uint16_t port, int timeoutMs)
{
    Socket connection(NewSocket());
    SOCKET fd = Native(connection.Fd());
    u_long nonBlocking = timeoutMs >= 0 ? 1 : 0;
    ioctlsocket(fd, FIONBIO, &nonBlocking);
    sockaddr_in address = Loopback(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        WSAPOLLFD entry{fd, POLLWRNORM, 0};
        int error = 0;
        int size = sizeof(error);
        if (WSAGetLastError() != WSAEWOULDBLOCK || WSAPoll(&entry, 1, timeoutMs) != 1 ||
            getsockopt(fd, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0 || error != 0) {
            return Socket();
        }
    }
    u_long blocking = 0;
    ioctlsocket(fd, FIONBIO, &blocking);
    NoDelay(connection.Fd());
    return connection;
}

Socket Accept(const Socket& listener)
{
    SOCKET fd = accept(Native(listener.Fd()), nullptr, nullptr);
    Socket connection(fd == INVALID_SOCKET ? kNoSocket : static_cast<SocketFd>(fd));
    NoDelay(connection.Fd());
    return connection;
}

uint16_t FreeLoopbackPort()
{
    Socket probe(NewSocket());
    sockaddr_in address = Loopback(0);
    int length = sizeof(address);
    if (!probe.IsValid() || bind(Native(probe.Fd()), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        getsockname(Native(probe.Fd()), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

long SendSome(SocketFd fd, const void* data, size_t length)
{
    int chunk = length > 0x40000000 ? 0x40000000 : static_cast<int>(length);
    return send(Native(fd), static_cast<const char*>(data), chunk, 0);
}

long ReceiveSome(SocketFd fd, void* data, size_t length, int timeoutMs)
{
    WSAPOLLFD entry{Native(fd), POLLRDNORM, 0};
    if (timeoutMs >= 0 && WSAPoll(&entry, 1, timeoutMs) <= 0) {
        return -1;
    }
    int chunk = length > 0x40000000 ? 0x40000000 : static_cast<int>(length);
    int got = recv(Native(fd), static_cast<char*>(data), chunk, 0);
    return got < 0 ? 0 : got;
}

bool WaitPeerClosed(SocketFd fd, int timeoutMs)
{
    WSAPOLLFD entry{Native(fd), POLLRDNORM, 0};
    if (WSAPoll(&entry, 1, timeoutMs) <= 0) {
        return false;
    }
    char byte;
    return recv(Native(fd), &byte, 1, MSG_PEEK) <= 0;
}

std::vector<size_t> WaitReadable(const std::vector<SocketFd>& fds, int timeoutMs)
{
    std::vector<WSAPOLLFD> polls;
    for (SocketFd fd : fds) {
        polls.push_back(WSAPOLLFD{Native(fd), POLLRDNORM, 0});
    }
    std::vector<size_t> ready;
    if (WSAPoll(polls.data(), static_cast<ULONG>(polls.size()), timeoutMs) > 0) {
        for (size_t i = 0; i < polls.size(); ++i) {
            if ((polls[i].revents & (POLLRDNORM | POLLHUP | POLLERR)) != 0) {
                ready.push_back(i);
            }
        }
    }
    return ready;
}

void Shutdown(SocketFd fd, bool both)
{
    shutdown(Native(fd), both ? SD_BOTH : SD_SEND);
}

void PrepareProcess()
{
    // Winsock serves a process only after it asked; the library asks for itself, the tool's own
    // sockets need their own start-up. Never undone: the process ends with it.
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}

bool StdoutIsTerminal()
{
    return _isatty(_fileno(stdout)) != 0;
}

std::tm LocalTime(std::time_t seconds)
{
    std::tm local{};
    localtime_s(&local, &seconds);
    return local;
}

}  // namespace pellax_tool
