#include "support/RawClientPeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace pellax_test {

namespace {
constexpr uint32_t kMaxMessage = 64u * 1024u * 1024u;

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

bool WaitWritable(int fd, std::chrono::milliseconds timeout)
{
    pollfd entry{fd, POLLOUT, 0};
    if (poll(&entry, 1, static_cast<int>(timeout.count())) != 1) {
        return false;
    }
    int error = 0;
    socklen_t size = sizeof(error);
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}
}  // namespace

CRawClientPeer::~CRawClientPeer()
{
    Close();
}

bool CRawClientPeer::Connect(uint16_t port, std::chrono::milliseconds timeout)
{
    Close();
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        return false;
    }
    int one = 1;
    setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    int flags = fcntl(m_fd, F_GETFL, 0);
    fcntl(m_fd, F_SETFL, flags | O_NONBLOCK);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int result = connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    bool connected = result == 0 || (errno == EINPROGRESS && WaitWritable(m_fd, timeout));
    if (!connected) {
        Close();
        return false;
    }
    fcntl(m_fd, F_SETFL, flags);
    return true;
}

void CRawClientPeer::Close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool CRawClientPeer::SendBytes(const std::vector<uint8_t>& bytes)
{
    size_t sent = 0;
    while (m_fd >= 0 && sent < bytes.size()) {
        ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return m_fd >= 0;
}

bool CRawClientPeer::SendFrame(const WireFrame& frame)
{
    return SendBytes(EncodeMessage(frame));
}

int CRawClientPeer::ReadExactly(uint8_t* buffer, size_t n, std::chrono::steady_clock::time_point deadline)
{
    size_t got = 0;
    while (got < n) {
        pollfd entry{m_fd, POLLIN, 0};
        int ready = poll(&entry, 1, MillisecondsLeft(deadline));
        if (ready == 0) {
            return 0;
        }
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        ssize_t r = ready < 0 ? -1 : ::recv(m_fd, buffer + got, n - got, 0);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            return -1;
        }
        got += static_cast<size_t>(r);
    }
    return 1;
}

bool CRawClientPeer::ReceiveBytes(std::vector<uint8_t>* frameBytes, std::chrono::milliseconds timeout)
{
    if (m_fd < 0) {
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + timeout;
    uint8_t prefix[kWireLengthPrefix];
    if (ReadExactly(prefix, sizeof(prefix), deadline) != 1) {
        return false;
    }
    uint32_t length = GetU32(prefix);
    if (length == 0 || length > kMaxMessage) {
        return false;
    }
    frameBytes->assign(length, 0);
    return ReadExactly(frameBytes->data(), length, deadline) == 1;
}

bool CRawClientPeer::ReceiveFrame(WireFrame* frame, std::chrono::milliseconds timeout)
{
    std::vector<uint8_t> bytes;
    return ReceiveBytes(&bytes, timeout) && DecodeFrame(bytes, frame);
}

bool CRawClientPeer::ReceivesNothing(std::chrono::milliseconds window)
{
    if (m_fd < 0) {
        return false;
    }
    pollfd entry{m_fd, POLLIN, 0};
    return poll(&entry, 1, static_cast<int>(window.count())) == 0;
}

bool CRawClientPeer::WaitClosed(std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    uint8_t sink[4096];
    while (m_fd >= 0) {
        int result = ReadExactly(sink, 1, deadline);
        if (result == 0) {
            return false;
        }
        if (result < 0) {
            return true;
        }
    }
    return false;
}

}  // namespace pellax_test
