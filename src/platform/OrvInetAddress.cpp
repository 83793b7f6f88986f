#include "platform/OrvInetAddress.h"

#include <arpa/inet.h>

int COrvInetAddress::Set(const char* ipv4, uint16_t port)
{
    m_nPort = port;
    in_addr parsed{};
    m_bValid = ipv4 != nullptr && inet_pton(AF_INET, ipv4, &parsed) == 1;
    m_nIp = m_bValid ? ntohl(parsed.s_addr) : 0;
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
    in_addr address{};
    address.s_addr = htonl(m_nIp);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof(text));
    return text;
}
