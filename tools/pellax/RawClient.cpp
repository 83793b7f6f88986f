#include "RawClient.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstring>
#include <vector>

namespace pellax_tool {

namespace {
constexpr size_t kHeaderSize = 156;

void PutU32(uint8_t* at, uint32_t value)
{
    value = htonl(value);
    std::memcpy(at, &value, 4);
}

uint32_t GetU32(const uint8_t* at)
{
    uint32_t value = 0;
    std::memcpy(&value, at, 4);
    return ntohl(value);
}

bool ReadExactly(int fd, uint8_t* data, size_t length, int timeoutMs)
{
    while (length > 0) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, timeoutMs) <= 0) {
            return false;
        }
        ssize_t got = recv(fd, data, length, 0);
        if (got <= 0) {
            return false;
        }
        data += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}
}

bool RawClient::Connect(int port)
{
    m_socket = pellax_tool::Connect(static_cast<uint16_t>(port));
    return m_socket.Fd() >= 0;
}

bool RawClient::SendRegister(const std::string& body)
{
    // Length prefix, then the header: version 1, sequence, command 0 (Register), body length.
    std::vector<uint8_t> frame(4 + kHeaderSize + body.size(), 0);
    PutU32(frame.data(), static_cast<uint32_t>(kHeaderSize + body.size()));
    frame[4] = 1;
    PutU32(frame.data() + 4 + 4, 0x1234);
    PutU32(frame.data() + 4 + 20, static_cast<uint32_t>(body.size()));
    std::memcpy(frame.data() + 4 + kHeaderSize, body.data(), body.size());
    return send(m_socket.Fd(), frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size());
}

std::string RawClient::ReceiveBody(int timeoutMs)
{
    uint8_t prefix[4];
    if (!ReadExactly(m_socket.Fd(), prefix, 4, timeoutMs)) {
        return "";
    }
    std::vector<uint8_t> frame(GetU32(prefix));
    if (frame.size() < kHeaderSize || !ReadExactly(m_socket.Fd(), frame.data(), frame.size(), timeoutMs)) {
        return "";
    }
    size_t bodyStart = kHeaderSize + ((static_cast<size_t>(frame[24]) << 8) | frame[25]);
    uint32_t bodyLength = GetU32(frame.data() + 20);
    if (bodyStart + bodyLength > frame.size()) {
        return "";
    }
    return std::string(reinterpret_cast<const char*>(frame.data() + bodyStart), bodyLength);
}

bool RawClient::WaitClosed(int timeoutMs)
{
    pollfd entry{m_socket.Fd(), POLLIN, 0};
    if (poll(&entry, 1, timeoutMs) <= 0) {
        return false;
    }
    uint8_t byte;
    return recv(m_socket.Fd(), &byte, 1, MSG_PEEK) <= 0;
}

}  // namespace pellax_tool
