#include "RawClient.h"

#include <vector>

#include "WireFrame.h"

namespace pellax_tool {

bool RawClient::Connect(int port)
{
    m_socket = pellax_tool::Connect(static_cast<uint16_t>(port));
    return m_socket.IsValid();
}

bool RawClient::SendRegister(const std::string& paramsJson)
{
    std::vector<uint8_t> message = EncodeMessage(MakeRegister(0x1234, paramsJson));
    return WriteAll(m_socket.Fd(), message.data(), message.size());
}

std::string RawClient::ReceiveBody(int timeoutMs)
{
    std::vector<uint8_t> bytes;
    WireFrame frame;
    return ReadFrame(m_socket.Fd(), bytes, timeoutMs) && DecodeFrame(bytes, &frame) ? frame.BodyText() : "";
}

bool RawClient::WaitClosed(int timeoutMs)
{
    return WaitPeerClosed(m_socket.Fd(), timeoutMs);
}

}  // namespace pellax_tool
