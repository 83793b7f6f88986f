// A plain blocking TCP socket on 127.0.0.1 for tests that play the far end of the transport by hand,
// in raw bytes or in whole frames, and the process counters those tests need. Every wait is bounded.
#ifndef PELLAX_TEST_SUPPORT_RAW_SOCKET_H
#define PELLAX_TEST_SUPPORT_RAW_SOCKET_H

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "PlainSocket.h"
#include "WireFrame.h"
#include "support/Wait.h"

namespace pellax_test {

// The tool's hand-written wire codec, so tests check what really travels, not what the library's own
// encoder thinks.
using pellax_tool::DecodeFrame;
using pellax_tool::EncodeFrame;
using pellax_tool::EncodeMessage;
using pellax_tool::kWireHeaderSize;
using pellax_tool::kWireLengthPrefix;
using pellax_tool::LoadBigEndian;
using pellax_tool::MakeFrame;
using pellax_tool::MakeKeepalive;
using pellax_tool::MakeRegister;
using pellax_tool::StoreBigEndian;
using pellax_tool::WireExt;
using pellax_tool::WireFrame;

class CRawSocket {
public:
    CRawSocket() = default;
    explicit CRawSocket(pellax_tool::Socket socket) : m_socket(std::move(socket)) {}

    // A listening socket on an ephemeral port of 127.0.0.1.
    static CRawSocket Listen(int backlog, uint16_t* port) { return CRawSocket(pellax_tool::Listen(*port, backlog)); }
    // Replaces any earlier connection; false when refused or not made within the limit.
    bool Connect(uint16_t port, std::chrono::milliseconds limit = kWaitLimit);
    bool IsValid() const { return m_socket.IsValid(); }
    void Close() { m_socket = pellax_tool::Socket(); }
    // A connection from the listen queue within the limit, or an invalid socket.
    CRawSocket Accept(std::chrono::milliseconds limit = kWaitLimit);

    bool SendAll(const std::vector<uint8_t>& bytes);
    bool SendFrame(const WireFrame& frame) { return SendAll(EncodeMessage(frame)); }
    // One length-prefixed message's body, each wait for more bytes within the limit.
    bool ReadMessage(std::vector<uint8_t>* body, std::chrono::milliseconds limit = kWaitLimit);
    // One message parsed as a frame; false on time-out, close or when it is not a well-formed frame.
    bool ReceiveFrame(WireFrame* frame, std::chrono::milliseconds limit = kWaitLimit);
    // True when the far end closes (or resets) within the limit; bytes still arriving are skipped.
    bool WaitClosed(std::chrono::milliseconds limit = kWaitLimit);
    // True when nothing arrives and the connection stays open for the whole window.
    bool ReceivesNothing(std::chrono::milliseconds window = kQuietWindow);

private:
    pellax_tool::Socket m_socket;
};

// A port that was free a moment ago on 127.0.0.1, for tests that cannot use port 0; another process may
// still take it first. 0 when no socket could be had.
uint16_t PickFreePort();
// True when a TCP listener on 127.0.0.1 accepts connections on the port.
bool IsListening(uint16_t port);

// Threads and open descriptors of this process.
size_t CountThreads();
size_t CountOpenFds();
// Each open descriptor with what it refers to ("7:socket:[1234] 8:anon_inode:[eventpoll] ..."), so a
// failed descriptor count can say what was left open.
std::string DescribeOpenFds();

}  // namespace pellax_test

#endif
