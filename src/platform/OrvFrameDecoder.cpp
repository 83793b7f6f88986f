#include "platform/OrvFrameDecoder.h"

#include <algorithm>

#include "platform/OrvSession.h"

namespace {
// A partial body starts this small and doubles as its bytes come in. The margin over 64 KiB holds a
// 64 KiB payload with its header whole: growing would copy each such frame once more.
constexpr size_t kFirstBodyCapacity = 68 * 1024;
}

COrvFrameDecoder::Result COrvFrameDecoder::Feed(const uint8_t* data, size_t n, IOrvFrameSink* sink)
{
    while (n > 0) {
        Result result = kOk;
        size_t used = m_state == State::kLength ? TakeLength(data, n, &result) : TakeBody(data, n, &result);
        if (result == kOk && m_state == State::kBody && m_body && m_body->GetLength() == m_nBodyLength) {
            result = Deliver(sink);
        }
        if (result != kOk) {
            return result;
        }
        data += used;
        n -= used;
    }
    return kOk;
}

size_t COrvFrameDecoder::TakeLength(const uint8_t* data, size_t n, Result* result)
{
    size_t used = std::min(n, sizeof(m_lengthBytes) - m_nLengthHave);
    std::copy(data, data + used, m_lengthBytes + m_nLengthHave);
    m_nLengthHave += used;
    if (m_nLengthHave < sizeof(m_lengthBytes)) {
        return used;
    }
    uint32_t length = (uint32_t(m_lengthBytes[0]) << 24) | (uint32_t(m_lengthBytes[1]) << 16) |
                      (uint32_t(m_lengthBytes[2]) << 8) | uint32_t(m_lengthBytes[3]);
    m_nLengthHave = 0;
    if (length == 0 || length > ORV_MAX_FRAME_LENGTH) {
        *result = kBadLength;
        return used;
    }
    m_nBodyLength = length;
    m_state = State::kBody;
    return used;
}

size_t COrvFrameDecoder::TakeBody(const uint8_t* data, size_t n, Result* result)
{
    size_t have = m_body ? m_body->GetLength() : 0;
    size_t used = std::min(n, m_nBodyLength - have);
    if (!m_body) {
        m_body = NewBody(used);
    }
    if (!m_body || m_body->Write(data, used) != 0) {
        *result = kNoMemory;
    }
    return used;
}

MessageBlockPtr COrvFrameDecoder::NewBody(size_t used)
{
    if (m_pSpare != nullptr && *m_pSpare && (*m_pSpare)->GetCapacity() >= m_nBodyLength) {
        return std::move(*m_pSpare);
    }
    // Whole bodies are copied once at their exact size; partial ones start small.
    return COrvMessageBlock::Create(used == m_nBodyLength ? used : std::min(m_nBodyLength, kFirstBodyCapacity));
}

COrvFrameDecoder::Result COrvFrameDecoder::Deliver(IOrvFrameSink* sink)
{
    CRefPtr<COrvMessageBlock> frame = std::move(m_body);
    m_nBodyLength = 0;
    m_state = State::kLength;
    bool more = sink->OnFrame(frame.Get());
    // Held by nobody else now, so nobody else can take it up again: safe to fill anew.
    if (m_pSpare != nullptr && frame->GetReference() == 1 && frame->GetCapacity() <= kSpareBytes) {
        frame->SetReadPos(0);
        frame->SetWritePos(0);
        *m_pSpare = std::move(frame);
    }
    return more ? kOk : kStopped;
}
