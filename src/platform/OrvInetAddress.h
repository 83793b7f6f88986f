// An IPv4 address and port; a text that is not a dotted IPv4 address leaves it invalid.
#ifndef PELLAX_PLATFORM_ORV_INET_ADDRESS_H
#define PELLAX_PLATFORM_ORV_INET_ADDRESS_H

#include <cstdint>
#include <string>

class COrvInetAddress {
public:
    COrvInetAddress() = default;
    COrvInetAddress(const char* ipv4, uint16_t port) { Set(ipv4, port); }

    // 0 when the text is an IPv4 address.
    int Set(const char* ipv4, uint16_t port);
    void Set(uint32_t hostOrderIp, uint16_t port);

    bool IsValid() const { return m_bValid; }
    // The address in host byte order.
    uint32_t GetRawAddress() const { return m_nIp; }
    uint16_t GetPort() const { return m_nPort; }
    std::string GetHostText() const;

private:
    uint32_t m_nIp = 0;
    uint16_t m_nPort = 0;
    bool m_bValid = false;
};

#endif
