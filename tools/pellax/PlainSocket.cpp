#include "PlainSocket.h"

namespace pellax_tool {

bool WriteAll(SocketFd fd, const void* data, size_t length)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (length > 0) {
        long written = SendSome(fd, bytes, length);
        if (written <= 0) {
            return false;
        }
        bytes += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

bool ReadAll(SocketFd fd, void* data, size_t length)
{
    return ReadAllWithin(fd, data, length, -1);
}

bool ReadAllWithin(SocketFd fd, void* data, size_t length, int timeoutMs)
{
    auto* bytes = static_cast<uint8_t*>(data);
    while (length > 0) {
        long got = ReceiveSome(fd, bytes, length, timeoutMs);
        if (got <= 0) {
            return false;
        }
        bytes += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}

bool ReadFrame(SocketFd fd, std::vector<uint8_t>& buffer, int timeoutMs)
{
    uint8_t prefix[4];
    if (!ReadAllWithin(fd, prefix, sizeof(prefix), timeoutMs)) {
        return false;
    }
    buffer.resize(static_cast<size_t>(prefix[0]) << 24 | static_cast<size_t>(prefix[1]) << 16 |
                  static_cast<size_t>(prefix[2]) << 8 | prefix[3]);
    return ReadAllWithin(fd, buffer.data(), buffer.size(), timeoutMs);
}

}  // namespace pellax_tool
