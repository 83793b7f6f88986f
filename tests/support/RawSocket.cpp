#include "support/RawSocket.h"

#include "PlainSocket.h"
#include "support/FreePort.h"

namespace pellax_test {

namespace {
// Winsock serves a process only after it asked; on Linux this raises the descriptor limit.
const bool g_processPrepared = (pellax_tool::PrepareProcess(), true);

int Milliseconds(std::chrono::milliseconds limit)
{
    return static_cast<int>(limit.count() < 0 ? 0 : limit.count());
}

std::chrono::milliseconds Left(std::chrono::steady_clock::time_point deadline)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
}
}  // namespace

CRawSocket CRawSocket::Connect(uint16_t port, std::chrono::milliseconds limit)
{
    return CRawSocket(pellax_tool::Connect(port, Milliseconds(limit)));
}

CRawSocket CRawSocket::Listen(int backlog, uint16_t* port)
{
    return CRawSocket(pellax_tool::Listen(*port, backlog));
}

CRawSocket CRawSocket::Accept(std::chrono::milliseconds limit)
{
    if (!IsValid() || pellax_tool::WaitReadable({m_socket.Fd()}, Milliseconds(limit)).empty()) {
        return {};
    }
    return CRawSocket(pellax_tool::Accept(m_socket));
}

bool CRawSocket::SendAll(const std::vector<uint8_t>& bytes)
{
    return pellax_tool::WriteAll(m_socket.Fd(), bytes.data(), bytes.size());
}

bool CRawSocket::ReadExactly(std::vector<uint8_t>* bytes, size_t n, std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    bytes->resize(n);
    for (size_t done = 0; done < n;) {
        long got = IsValid() ? pellax_tool::ReceiveSome(m_socket.Fd(), bytes->data() + done, n - done,
                                                        Milliseconds(Left(deadline)))
                             : 0;
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
    return ReadExactly(&prefix, 4, limit) && ReadExactly(body, GetU32(prefix.data()), limit);
}

bool CRawSocket::WaitClosed(std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    uint8_t buffer[4096];
    while (IsValid()) {
        long got = pellax_tool::ReceiveSome(m_socket.Fd(), buffer, sizeof(buffer), Milliseconds(Left(deadline)));
        if (got <= 0) {
            return got == 0;
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
    return IsValid() && pellax_tool::WaitReadable({m_socket.Fd()}, Milliseconds(window)).empty();
}

uint16_t PickFreePort()
{
    return pellax_tool::FreeLoopbackPort();
}

bool IsListening(uint16_t port)
{
    return CRawSocket::Connect(port, std::chrono::milliseconds(2000)).IsValid();
}

}  // namespace pellax_test
