#include "support/RawSocket.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>

#include "support/HostRecorder.h"

namespace pellax_test {

namespace {
sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Waits until the descriptor is readable; false on time-out.
bool WaitReadable(int fd, std::chrono::steady_clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) {
        return false;
    }
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(left.count())) > 0;
}

size_t CountDirectory(const char* path)
{
    DIR* directory = ::opendir(path);
    if (directory == nullptr) {
        return 0;
    }
    size_t count = 0;
    while (dirent* entry = ::readdir(directory)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    ::closedir(directory);
    return count;
}
}

CRawSocket& CRawSocket::operator=(CRawSocket&& other) noexcept
{
    if (this != &other) {
        Close();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

CRawSocket CRawSocket::Connect(uint16_t port, std::chrono::milliseconds limit)
{
    CRawSocket socket(::socket(AF_INET, SOCK_STREAM, 0));
    if (!socket.IsValid()) {
        return {};
    }
    // Non-blocking while connecting: a full accept queue would otherwise hold the test for minutes.
    int flags = ::fcntl(socket.m_fd, F_GETFL, 0);
    ::fcntl(socket.m_fd, F_SETFL, flags | O_NONBLOCK);
    sockaddr_in address = Loopback(port);
    if (::connect(socket.m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        pollfd entry{static_cast<int>(socket.m_fd), POLLOUT, 0};
        int error = 0;
        socklen_t size = sizeof(error);
        if (errno != EINPROGRESS || ::poll(&entry, 1, static_cast<int>(limit.count())) != 1 ||
            ::getsockopt(socket.m_fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
            return {};
        }
    }
    ::fcntl(socket.m_fd, F_SETFL, flags);
    int on = 1;
    ::setsockopt(socket.m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    return socket;
}

CRawSocket CRawSocket::Listen(int backlog, uint16_t* port)
{
    CRawSocket socket(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof(address);
    if (!socket.IsValid() || ::bind(socket.m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(socket.m_fd, backlog) != 0 ||
        ::getsockname(socket.m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return {};
    }
    *port = ntohs(address.sin_port);
    return socket;
}

void CRawSocket::Close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

CRawSocket CRawSocket::Accept(std::chrono::milliseconds limit)
{
    if (!WaitReadable(m_fd, std::chrono::steady_clock::now() + limit)) {
        return {};
    }
    return CRawSocket(::accept(m_fd, nullptr, nullptr));
}

bool CRawSocket::SendAll(const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t sent = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        done += static_cast<size_t>(sent);
    }
    return true;
}

bool CRawSocket::ReadExactly(std::vector<uint8_t>* bytes, size_t n, std::chrono::milliseconds limit)
{
    if (m_fd < 0) {
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + limit;
    bytes->resize(n);
    size_t done = 0;
    while (done < n) {
        if (!WaitReadable(m_fd, deadline)) {
            return false;
        }
        ssize_t got = ::recv(m_fd, bytes->data() + done, n - done, 0);
        if (got <= 0) {
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

bool CRawSocket::ReadMessage(std::vector<uint8_t>* body, std::chrono::milliseconds limit)
{
    std::vector<uint8_t> prefix;
    if (!ReadExactly(&prefix, 4, limit)) {
        return false;
    }
    return ReadExactly(body, GetU32(prefix.data()), limit);
}

bool CRawSocket::WaitClosed(std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    uint8_t buffer[4096];
    while (m_fd >= 0) {
        if (!WaitReadable(m_fd, deadline)) {
            return false;
        }
        if (::recv(m_fd, buffer, sizeof(buffer), 0) <= 0) {
            return true;
        }
    }
    return false;
}

bool CRawSocket::ReceiveFrame(WireFrame* frame, std::chrono::milliseconds limit)
{
    std::vector<uint8_t> bytes;
    return ReadMessage(&bytes, limit) && DecodeFrame(bytes, frame);
}

bool CRawSocket::ReceivesNothing(std::chrono::milliseconds window)
{
    pollfd entry{static_cast<int>(m_fd), POLLIN, 0};
    return m_fd >= 0 && ::poll(&entry, 1, static_cast<int>(window.count())) == 0;
}

std::vector<uint8_t> BigEndianLength(uint32_t length)
{
    std::vector<uint8_t> bytes;
    PutU32(bytes, length);
    return bytes;
}

std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

size_t CountThreads()
{
    return CountDirectory("/proc/self/task");
}

size_t CountOpenFds()
{
    return CountDirectory("/proc/self/fd");
}

std::string DescribeOpenFds()
{
    std::string text;
    DIR* directory = ::opendir("/proc/self/fd");
    if (directory == nullptr) {
        return text;
    }
    while (dirent* entry = ::readdir(directory)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        std::string path = std::string("/proc/self/fd/") + entry->d_name;
        char target[256];
        ssize_t length = ::readlink(path.c_str(), target, sizeof(target) - 1);
        target[length > 0 ? length : 0] = '\0';
        text += std::string(entry->d_name) + ":" + target + " ";
    }
    ::closedir(directory);
    return text;
}

size_t ResidentBytes()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            size_t kib = 0;
            status >> kib;
            return kib * 1024;
        }
        status.ignore(1 << 16, '\n');
    }
    return 0;
}

size_t RaiseFdLimit(size_t wanted)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 0;
    }
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur = std::min<rlim_t>(wanted, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    return static_cast<size_t>(limit.rlim_cur);
}

}  // namespace pellax_test
