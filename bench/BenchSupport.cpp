#include "BenchSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace pellax_bench {

namespace {
void NoDelay(int fd)
{
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}
}  // namespace

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

int DropLog(int, const char*, const char*, ...)
{
    return 0;
}

bool WriteAll(int fd, const void* data, size_t n)
{
    const char* bytes = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t sent = ::send(fd, bytes, n, MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        bytes += sent;
        n -= static_cast<size_t>(sent);
    }
    return true;
}

bool ReadAll(int fd, void* data, size_t n)
{
    char* bytes = static_cast<char*>(data);
    while (n > 0) {
        ssize_t got = ::recv(fd, bytes, n, 0);
        if (got <= 0) {
            return false;
        }
        bytes += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

std::vector<uint8_t> Framed(size_t size)
{
    std::vector<uint8_t> wire(4 + size, 0x5a);
    uint32_t length = htonl(static_cast<uint32_t>(size));
    std::copy_n(reinterpret_cast<const uint8_t*>(&length), 4, wire.begin());
    return wire;
}

bool ReadMessage(int fd, std::vector<uint8_t>& buffer)
{
    uint32_t length = 0;
    if (!ReadAll(fd, &length, 4)) {
        return false;
    }
    buffer.resize(4 + ntohl(length));  // no allocation once the buffer has grown
    std::memcpy(buffer.data(), &length, 4);
    return ReadAll(fd, buffer.data() + 4, buffer.size() - 4);
}

int ConnectTo(uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    NoDelay(fd);
    return fd;
}

int Listen(uint16_t* port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof(address);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::listen(fd, 64);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    *port = ntohs(address.sin_port);
    return fd;
}

CPlainEcho::CPlainEcho() : m_nListener(Listen(&m_nPort)), m_acceptor([this] { AcceptLoop(); }) {}

CPlainEcho::~CPlainEcho()
{
    ::shutdown(m_nListener, SHUT_RDWR);
    ::close(m_nListener);
    m_acceptor.join();
    for (std::thread& echo : m_echoes) {
        echo.join();
    }
}

void CPlainEcho::AcceptLoop()
{
    for (;;) {
        int fd = ::accept(m_nListener, nullptr, nullptr);
        if (fd < 0) {
            return;
        }
        NoDelay(fd);
        m_echoes.emplace_back([fd] {
            std::vector<uint8_t> message;
            while (ReadMessage(fd, message) && WriteAll(fd, message.data(), message.size())) {
            }
            ::close(fd);
        });
    }
}

}  // namespace pellax_bench
