#include "RawClient.h"

#include <cstring>
#include <vector>

#include "PlainSocket.h"

namespace pellax_tool {

namespace {
constexpr size_t kHeaderSize = 156;

void PutU32(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

uint32_t GetU32(const uint8_t* at)
{
    return (uint32_t{at[0]} << 24) | (uint32_t{at[1]} << 16) | (uint32_t{at[2]} << 8) | at[3];
}

}

bool RawClient::Connect(int port)
{
    m_socket = pellax_tool::Connect(static_cast<uint16_t>(port));
    return m_socket.IsValid();
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
    return WriteAll(m_socket.Fd(), frame.data(), frame.size());
}

std::string RawClient::ReceiveBody(int timeoutMs)
{
    uint8_t prefix[4];
    if (!ReadAllWithin(m_socket.Fd(), prefix, 4, timeoutMs)) {
        return "";
    }
    std::vector<uint8_t> frame(GetU32(prefix));
    if (frame.size() < kHeaderSize || !ReadAllWithin(m_socket.Fd(), frame.data(), frame.size(), timeoutMs)) {
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
    return WaitPeerClosed(m_socket.Fd(), timeoutMs);
}

}  // namespace pellax_tool
