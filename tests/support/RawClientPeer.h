// A blocking TCP client to 127.0.0.1 that speaks the wire format by hand: every wait is bounded.
#ifndef PELLAX_TEST_SUPPORT_RAW_CLIENT_PEER_H
#define PELLAX_TEST_SUPPORT_RAW_CLIENT_PEER_H

#include <chrono>
#include <cstdint>
#include <vector>

#include "support/Wait.h"
#include "support/WireFrame.h"

namespace pellax_test {

class CRawClientPeer {
public:
    CRawClientPeer() = default;
    ~CRawClientPeer();
    CRawClientPeer(const CRawClientPeer&) = delete;
    CRawClientPeer& operator=(const CRawClientPeer&) = delete;

    bool Connect(uint16_t port, std::chrono::milliseconds timeout = kWaitLimit);
    bool IsConnected() const { return m_fd >= 0; }
    void Close();
    int GetFd() const { return m_fd; }

    bool SendBytes(const std::vector<uint8_t>& bytes);
    // The frame behind its length prefix.
    bool SendFrame(const WireFrame& frame);

    // One length-prefixed message's bytes; false on time-out, close or a broken prefix.
    bool ReceiveBytes(std::vector<uint8_t>* frameBytes, std::chrono::milliseconds timeout = kWaitLimit);
    // One message parsed as a frame; false as above or when it is not a well-formed frame.
    bool ReceiveFrame(WireFrame* frame, std::chrono::milliseconds timeout = kWaitLimit);
    // True when nothing arrives (and the connection stays open) for the whole window.
    bool ReceivesNothing(std::chrono::milliseconds window = kQuietWindow);
    // True when the other side closes the connection within the time-out (pending frames are skipped).
    bool WaitClosed(std::chrono::milliseconds timeout = kWaitLimit);

private:
    // 1 read all, 0 time-out, -1 closed or failed.
    int ReadExactly(uint8_t* buffer, size_t n, std::chrono::steady_clock::time_point deadline);

    int m_fd = -1;
};

}  // namespace pellax_test

#endif
