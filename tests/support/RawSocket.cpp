#include "support/RawSocket.h"

namespace pellax_test {

namespace {
// Winsock serves a process only after it asked; on Linux this raises the descriptor limit.
const bool g_processPrepared = (pellax_tool::PrepareProcess(), true);

int Milliseconds(std::chrono::milliseconds limit)
{
    return static_cast<int>(limit.count() < 0 ? 0 : limit.count());
}
}  // namespace

bool CRawSocket::Connect(uint16_t port, std::chrono::milliseconds limit)
{
    m_socket = pellax_tool::Connect(port, Milliseconds(limit));
    return IsValid();
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
    return IsValid() && pellax_tool::WriteAll(m_socket.Fd(), bytes.data(), bytes.size());
}

bool CRawSocket::ReadMessage(std::vector<uint8_t>* body, std::chrono::milliseconds limit)
{
    return IsValid() && pellax_tool::ReadFrame(m_socket.Fd(), *body, Milliseconds(limit));
}

bool CRawSocket::ReceiveFrame(WireFrame* frame, std::chrono::milliseconds limit)
{
    std::vector<uint8_t> bytes;
    return ReadMessage(&bytes, limit) && DecodeFrame(bytes, frame);
}

bool CRawSocket::WaitClosed(std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    uint8_t buffer[4096];
    while (IsValid()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        long got = pellax_tool::ReceiveSome(m_socket.Fd(), buffer, sizeof(buffer), Milliseconds(left));
        if (got <= 0) {
            return got == 0;
        }
    }
    return false;
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
    return CRawSocket().Connect(port, std::chrono::milliseconds(2000));
}

}  // namespace pellax_test
