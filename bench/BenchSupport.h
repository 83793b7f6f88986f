// The plain-socket side of the benchmarks: blocking loopback sockets carrying the same 4-byte
// length-prefixed framing, so every library figure stands beside a baseline from the same run.
#ifndef PELLAX_BENCH_BENCH_SUPPORT_H
#define PELLAX_BENCH_BENCH_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

#include "PlainSocket.h"

namespace pellax_bench {

using pellax_tool::WriteAll;

double Median(std::vector<double> values);  // 0 when empty
int DropLog(int level, const char* scope, const char* format, ...);

// A length prefix and `size` filler bytes.
std::vector<uint8_t> Framed(size_t size);
// One whole message, prefix included, into buffer.
bool ReadMessage(int fd, std::vector<uint8_t>& buffer);
// A loopback TCP connection with Nagle off; -1 when refused.
int ConnectTo(uint16_t port);
// A loopback listener on an ephemeral port.
int Listen(uint16_t* port);

// Sends every message straight back, one thread per connection, until the peer closes.
class CPlainEcho {
public:
    CPlainEcho();
    ~CPlainEcho();
    CPlainEcho(const CPlainEcho&) = delete;
    CPlainEcho& operator=(const CPlainEcho&) = delete;

    int Connect() const { return ConnectTo(m_nPort); }

private:
    void AcceptLoop();

    uint16_t m_nPort = 0;  // before m_listener: Listen fills it in
    pellax_tool::Socket m_listener;
    std::vector<std::thread> m_echoes;  // touched only by the acceptor until it is joined
    std::thread m_acceptor;             // last: it starts once the rest is built
};

}  // namespace pellax_bench

#endif
