#include "BenchSupport.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "PlainSocket.h"
#include "WireFrame.h"

namespace pellax_bench {

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

int DropLog(int, const char*, const char*, ...)
{
    return 0;
}

std::vector<uint8_t> Framed(size_t size)
{
    return pellax_tool::EncodeMessage(std::vector<uint8_t>(size, 0x5a));
}

bool ReadMessage(int fd, std::vector<uint8_t>& buffer)
{
    uint32_t length = 0;
    if (!pellax_tool::ReadAll(fd, &length, 4)) {
        return false;
    }
    buffer.resize(4 + ntohl(length));  // no allocation once the buffer has grown
    std::memcpy(buffer.data(), &length, 4);
    return pellax_tool::ReadAll(fd, buffer.data() + 4, buffer.size() - 4);
}

int ConnectTo(uint16_t port)
{
    return pellax_tool::Connect(port).Release();
}

int Listen(uint16_t* port)
{
    return pellax_tool::Listen(*port).Release();
}

CPlainEcho::CPlainEcho() : m_listener(pellax_tool::Listen(m_nPort)), m_acceptor([this] { AcceptLoop(); }) {}

CPlainEcho::~CPlainEcho()
{
    ::shutdown(m_listener.Fd(), SHUT_RDWR);  // ends the acceptor's wait
    m_acceptor.join();
    for (std::thread& echo : m_echoes) {
        echo.join();
    }
}

void CPlainEcho::AcceptLoop()
{
    for (;;) {
        pellax_tool::Socket connection = pellax_tool::Accept(m_listener);
        if (connection.Fd() < 0) {
            return;
        }
        m_echoes.emplace_back([connection = std::move(connection)] {
            std::vector<uint8_t> message;
            while (ReadMessage(connection.Fd(), message) && WriteAll(connection.Fd(), message.data(), message.size())) {
            }
        });
    }
}

}  // namespace pellax_bench
