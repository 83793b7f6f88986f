#include "support/RawServerPeer.h"

#include <poll.h>

namespace pellax_test {

CRawServerPeer::CRawServerPeer(int backlog) : m_listener(CRawSocket::Listen(backlog, &m_nPort)) {}

bool CRawServerPeer::Accept(std::chrono::milliseconds timeout)
{
    m_connection = m_listener.Accept(timeout);
    return m_connection.IsValid();
}

bool CRawServerPeer::SendFrame(const WireFrame& frame)
{
    return m_connection.IsValid() && m_connection.SendAll(EncodeMessage(frame));
}

bool CRawServerPeer::SendMessage(const std::vector<uint8_t>& frameBytes)
{
    return m_connection.IsValid() && m_connection.SendAll(EncodeMessage(frameBytes));
}

bool CRawServerPeer::ReceiveFrame(WireFrame* frame, std::chrono::milliseconds timeout)
{
    std::vector<uint8_t> bytes;
    return m_connection.IsValid() && m_connection.ReadMessage(&bytes, timeout) && DecodeFrame(bytes, frame);
}

bool CRawServerPeer::ReceiveCommand(uint32_t command, WireFrame* frame, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !ReceiveFrame(frame, left)) {
            return false;
        }
        if (frame->command == command) {
            return true;
        }
    }
}

bool CRawServerPeer::ReceivesNothing(std::chrono::milliseconds window)
{
    if (!m_connection.IsValid()) {
        return false;
    }
    pollfd entry{m_connection.GetFd(), POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(window.count())) == 0;
}

}  // namespace pellax_test
