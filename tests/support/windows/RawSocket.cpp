#include "support/RawSocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <string>

#include "support/HostRecorder.h"

namespace pellax_test {

namespace {
// Winsock serves a process only after it asked; the library asks for itself, the raw peers too.
const bool g_winsockStarted = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}();

SOCKET Native(std::intptr_t fd)
{
    return static_cast<SOCKET>(fd);
}

std::intptr_t Wrap(SOCKET socket)
{
    return socket == INVALID_SOCKET ? -1 : static_cast<std::intptr_t>(socket);
}

sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Waits until the descriptor is readable; false on time-out.
bool WaitReadable(std::intptr_t fd, std::chrono::steady_clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) {
        return false;
    }
    WSAPOLLFD entry{Native(fd), POLLRDNORM, 0};
    return ::WSAPoll(&entry, 1, static_cast<int>(left.count())) > 0;
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
    CRawSocket socket(Wrap(::socket(AF_INET, SOCK_STREAM, 0)));
    if (!socket.IsValid()) {
        return {};
    }
    // Non-blocking while connecting: a full accept queue would otherwise hold the test for minutes.
    u_long on = 1;
    ::ioctlsocket(Native(socket.m_fd), FIONBIO, &on);
    sockaddr_in address = Loopback(port);
    if (::connect(Native(socket.m_fd), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        WSAPOLLFD entry{Native(socket.m_fd), POLLWRNORM, 0};
        int error = 0;
        int size = sizeof(error);
        if (::WSAGetLastError() != WSAEWOULDBLOCK || ::WSAPoll(&entry, 1, static_cast<int>(limit.count())) != 1 ||
            ::getsockopt(Native(socket.m_fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0 ||
            error != 0) {
            return {};
        }
    }
    u_long off = 0;
    ::ioctlsocket(Native(socket.m_fd), FIONBIO, &off);
    BOOL noDelay = TRUE;
    ::setsockopt(Native(socket.m_fd), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay));
    return socket;
}

CRawSocket CRawSocket::Listen(int backlog, uint16_t* port)
{
    CRawSocket socket(Wrap(::socket(AF_INET, SOCK_STREAM, 0)));
    sockaddr_in address = Loopback(0);
    int length = sizeof(address);
    if (!socket.IsValid() || ::bind(Native(socket.m_fd), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(Native(socket.m_fd), backlog) != 0 ||
        ::getsockname(Native(socket.m_fd), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return {};
    }
    *port = ntohs(address.sin_port);
    return socket;
}

void CRawSocket::Close()
{
    if (m_fd >= 0) {
        ::closesocket(Native(m_fd));
        m_fd = -1;
    }
}

CRawSocket CRawSocket::Accept(std::chrono::milliseconds limit)
{
    if (!WaitReadable(m_fd, std::chrono::steady_clock::now() + limit)) {
        return {};
    }
    return CRawSocket(Wrap(::accept(Native(m_fd), nullptr, nullptr)));
}

bool CRawSocket::SendAll(const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        int sent = ::send(Native(m_fd), reinterpret_cast<const char*>(bytes.data()) + done,
                          static_cast<int>(bytes.size() - done), 0);
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
        int got = ::recv(Native(m_fd), reinterpret_cast<char*>(bytes->data()) + done, static_cast<int>(n - done), 0);
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
    char buffer[4096];
    while (m_fd >= 0) {
        if (!WaitReadable(m_fd, deadline)) {
            return false;
        }
        if (::recv(Native(m_fd), buffer, sizeof(buffer), 0) <= 0) {
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
    WSAPOLLFD entry{Native(m_fd), POLLRDNORM, 0};
    return m_fd >= 0 && ::WSAPoll(&entry, 1, static_cast<int>(window.count())) == 0;
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
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    size_t count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == ::GetCurrentProcessId() ? 1 : 0;
    }
    ::CloseHandle(snapshot);
    return count;
}

// Handles stand in for descriptors: sockets, events and threads all count.
size_t CountOpenFds()
{
    DWORD count = 0;
    return ::GetProcessHandleCount(::GetCurrentProcess(), &count) ? count : 0;
}

std::string DescribeOpenFds()
{
    return std::to_string(CountOpenFds()) + " handles";
}

size_t ResidentBytes()
{
    PROCESS_MEMORY_COUNTERS counters{};
    return ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters)) ? counters.WorkingSetSize : 0;
}

// Windows has no per-process socket limit to raise.
size_t RaiseFdLimit(size_t wanted)
{
    return wanted;
}

}  // namespace pellax_test
