#include "platform/OrvInetAddress.h"

#include <asio/ip/address_v4.hpp>

int COrvInetAddress::Set(const char* ipv4, uint16_t port)
{
    m_nPort = port;
    asio::error_code error;
    asio::ip::address_v4 parsed = ipv4 != nullptr ? asio::ip::make_address_v4(ipv4, error) : asio::ip::address_v4();
    m_bValid = ipv4 != nullptr && !error;
    m_nIp = m_bValid ? parsed.to_uint() : 0;
    return m_bValid ? 0 : -1;
}

void COrvInetAddress::Set(uint32_t hostOrderIp, uint16_t port)
{
    m_nIp = hostOrderIp;
    m_nPort = port;
    m_bValid = true;
}

std::string COrvInetAddress::GetHostText() const
{
    return asio::ip::address_v4(m_nIp).to_string();
}
