#include "PlainSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace pellax_tool {

namespace {
int Native(SocketFd fd)
{
    return static_cast<int>(fd);
}

void NoDelay(SocketFd fd)
{
    int on = 1;
    setsockopt(Native(fd), IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
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
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    return fd < 0 ? kNoSocket : fd;
}
}  // namespace

Socket::~Socket()
{
    if (m_fd != kNoSocket) {
        close(Native(m_fd));
    }
}

Socket Listen(uint16_t& port, int backlog)
{
    Socket listener(NewSocket());
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof(address);
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
    int fd = Native(connection.Fd());
    int flags = fcntl(fd, F_GETFL, 0);
    if (timeoutMs >= 0) {
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }
    sockaddr_in address = Loopback(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        pollfd entry{fd, POLLOUT, 0};
        int error = 0;
        socklen_t size = sizeof(error);
        if (errno != EINPROGRESS || poll(&entry, 1, timeoutMs) != 1 ||
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
            return Socket();
        }
    }
    fcntl(fd, F_SETFL, flags);
    NoDelay(connection.Fd());
    return connection;
}

Socket Accept(const Socket& listener)
{
    int fd = accept(Native(listener.Fd()), nullptr, nullptr);
    Socket connection(fd < 0 ? kNoSocket : fd);
    NoDelay(connection.Fd());
    return connection;
}

uint16_t FreeLoopbackPort()
{
    Socket probe(NewSocket());
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof(address);
    if (!probe.IsValid() || bind(Native(probe.Fd()), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        getsockname(Native(probe.Fd()), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

long SendSome(SocketFd fd, const void* data, size_t length)
{
    return static_cast<long>(send(Native(fd), data, length, MSG_NOSIGNAL));
}

long ReceiveSome(SocketFd fd, void* data, size_t length, int timeoutMs)
{
    pollfd entry{Native(fd), POLLIN, 0};
    if (timeoutMs >= 0 && poll(&entry, 1, timeoutMs) <= 0) {
        return -1;
    }
    ssize_t got = recv(Native(fd), data, length, 0);
    return got < 0 ? 0 : static_cast<long>(got);
}

bool WaitPeerClosed(SocketFd fd, int timeoutMs)
{
    pollfd entry{Native(fd), POLLIN, 0};
    if (poll(&entry, 1, timeoutMs) <= 0) {
        return false;
    }
    uint8_t byte;
    return recv(Native(fd), &byte, 1, MSG_PEEK) <= 0;
}

std::vector<size_t> WaitReadable(const std::vector<SocketFd>& fds, int timeoutMs)
{
    std::vector<pollfd> polls;
    for (SocketFd fd : fds) {
        polls.push_back(pollfd{Native(fd), POLLIN, 0});
    }
    std::vector<size_t> ready;
    if (poll(polls.data(), polls.size(), timeoutMs) > 0) {
        for (size_t i = 0; i < polls.size(); ++i) {
            if ((polls[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                ready.push_back(i);
            }
        }
    }
    return ready;
}

void Shutdown(SocketFd fd, bool both)
{
    shutdown(Native(fd), both ? SHUT_RDWR : SHUT_WR);
}

void PrepareProcess()
{
    // A server and 1024 clients in one process need two descriptors per client.
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

bool StdoutIsTerminal()
{
    return isatty(STDOUT_FILENO) != 0;
}

std::tm LocalTime(std::time_t seconds)
{
    std::tm local{};
    localtime_r(&seconds, &local);
    return local;
}

}  // namespace pellax_tool
