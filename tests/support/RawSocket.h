// A plain blocking TCP socket on 127.0.0.1 for tests that play the far end of the transport by hand,
// and the bounded waits and process counters those tests need.
#ifndef PELLAX_TEST_SUPPORT_RAW_SOCKET_H
#define PELLAX_TEST_SUPPORT_RAW_SOCKET_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pellax_test {

constexpr std::chrono::milliseconds kRawSocketWait{10000};

class CRawSocket {
public:
    CRawSocket() = default;
    explicit CRawSocket(int fd) : m_fd(fd) {}
    ~CRawSocket() { Close(); }
    CRawSocket(CRawSocket&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    CRawSocket& operator=(CRawSocket&& other) noexcept;
    CRawSocket(const CRawSocket&) = delete;
    CRawSocket& operator=(const CRawSocket&) = delete;

    // A connected socket, or an invalid one when the connect failed.
    static CRawSocket Connect(uint16_t port);
    // A listening socket on an ephemeral port of 127.0.0.1.
    static CRawSocket Listen(int backlog, uint16_t* port);

    bool IsValid() const { return m_fd >= 0; }
    int GetFd() const { return m_fd; }
    void Close();
    // A connection from the listen queue within the limit, or an invalid socket.
    CRawSocket Accept(std::chrono::milliseconds limit = kRawSocketWait);

    bool SendAll(const std::vector<uint8_t>& bytes);
    // Exactly n bytes within the limit; false on time-out or close.
    bool ReadExactly(std::vector<uint8_t>* bytes, size_t n, std::chrono::milliseconds limit = kRawSocketWait);
    // One length-prefixed message's body.
    bool ReadMessage(std::vector<uint8_t>* body, std::chrono::milliseconds limit = kRawSocketWait);
    // True when the far end closes (or resets) within the limit; bytes still arriving are skipped.
    bool WaitClosed(std::chrono::milliseconds limit = kRawSocketWait);

private:
    int m_fd = -1;
};

// The wire form of one message: 4-byte big-endian length, then the body.
std::vector<uint8_t> WireMessage(const std::vector<uint8_t>& body);
std::vector<uint8_t> BigEndianLength(uint32_t length);
// Recognisable bytes: body i of a test holds (seed + index) patterns that a mix-up would break.
std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed);

// True once the predicate holds, polling; false when the limit passed first.
bool PollUntil(const std::function<bool()>& predicate, std::chrono::milliseconds limit = kRawSocketWait);

// Threads and open descriptors of this process.
size_t CountThreads();
size_t CountOpenFds();
// Each open descriptor with what it refers to ("7:socket:[1234] 8:anon_inode:[eventpoll] ..."), so a
// failed descriptor count can say what was left open.
std::string DescribeOpenFds();

}  // namespace pellax_test

#endif
