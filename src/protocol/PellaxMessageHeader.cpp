#include "protocol/PellaxMessageHeader.h"

#include <cstring>
#include <new>

#include "frame/Singleton.h"
#include "platform/Trace.h"
#include "platform/Zot.h"
#include "protocol/MessageHeaderMgr.h"

namespace ORV {
namespace PELLAX {

namespace {
constexpr size_t kReservedAfterLengths = 6;
constexpr size_t kReservedAfterSpan = 19;
constexpr size_t kReservedAfterTrace = 31;
static_assert(4 + 4 + 8 + 4 + 4 + 2 + kReservedAfterLengths + kTraceIdSize + kReservedAfterSpan + kTraceIdSize +
                      kReservedAfterTrace + 8 ==
                  CPellaxMessageHeader::kFixedSize,
              "the fixed part of the header is 156 bytes");

// Every integer of the header travels big-endian.
template <class T>
uint8_t* PutBig(uint8_t* out, T value)
{
    for (size_t i = 0; i < sizeof(T); ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * (sizeof(T) - 1 - i)));
    }
    return out + sizeof(T);
}

template <class T>
const uint8_t* GetBig(const uint8_t* in, T& value)
{
    value = 0;
    for (size_t i = 0; i < sizeof(T); ++i) {
        value = static_cast<T>((value << 8) | in[i]);
    }
    return in + sizeof(T);
}

bool IsControl(uint32_t command)
{
    return command == CPellaxMessageHeader::kCommandRegister ||
           command == CPellaxMessageHeader::kCommandRegisterResponse ||
           command == CPellaxMessageHeader::kCommandKeepalive ||
           command == CPellaxMessageHeader::kCommandKeepaliveResponse;
}

// The host commands the trace library knows by name; null for the others.
const char* RequestLabel(uint32_t command)
{
    switch (command) {
    case 200: return "add device request";
    case 210: return "delete device request";
    case 220: return "modify device request";
    case 1000: return "message request";
    default: return nullptr;
    }
}

const char* ReceiveLabel(uint32_t command)
{
    switch (command) {
    case 200: return "receive add device request";
    case 210: return "receive delete device request";
    case 220: return "receive modify device request";
    case 1000: return "receive message request";
    default: return nullptr;
    }
}
}

CPellaxMessageHeader::CPellaxMessageHeader(uint32_t command, uint32_t bodyLength, uint32_t sequence, uint64_t,
                                           uint8_t flag, uint8_t reserved)
    : m_reserved1(reserved), m_sequence(sequence), m_command(command), m_bodyLength(bodyLength), m_flag(flag)
{
}

bool CPellaxMessageHeader::AddExtHeader(const CPellaxExtMessageHeader& entry)
{
    try {
        m_extHeaders.push_back(entry);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool CPellaxMessageHeader::GetExtHeaders(std::vector<CPellaxExtMessageHeader>& entries) const
{
    try {
        entries = m_extHeaders;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

uint64_t CPellaxMessageHeader::ExtTotal() const
{
    uint64_t total = 0;
    for (const CPellaxExtMessageHeader& entry : m_extHeaders) {
        total += entry.GetSize();
    }
    return total;
}

uint16_t CPellaxMessageHeader::GetExtLength()
{
    m_extLength = static_cast<uint16_t>(ExtTotal());
    return m_extLength;
}

uint32_t CPellaxMessageHeader::GetHeaderSize()
{
    return kFixedSize + GetExtLength();
}

int CPellaxMessageHeader::Encode(COrvMessageBlock* block, bool skipTrace)
{
    if (!HasValidExtLength()) {
        return kExtTooLong;
    }
    uint64_t timestamp = m_timestamp != 0 ? m_timestamp : ZOT_GetTimeTick64();
    char spanId[kTraceIdSize] = {};
    char traceId[kTraceIdSize] = {};
    TraceEncode(skipTrace, traceId, spanId);
    // The tracer promises at most 32 characters; the last byte stays the terminator regardless.
    spanId[kTraceIdSize - 1] = '\0';
    traceId[kTraceIdSize - 1] = '\0';

    // Laid out here and written in one piece; the reserved fields stay zero.
    uint8_t fixed[kFixedSize] = {};
    uint8_t* out = fixed;
    *out++ = m_version;
    *out++ = m_reserved1;
    *out++ = m_reserved2;
    *out++ = m_flag;
    out = PutBig(out, m_sequence);
    out = PutBig(out, timestamp);
    out = PutBig(out, m_command);
    out = PutBig(out, m_bodyLength);
    out = PutBig(out, GetExtLength());
    out += kReservedAfterLengths;
    std::memcpy(out, spanId, kTraceIdSize);
    out += kTraceIdSize + kReservedAfterSpan;
    std::memcpy(out, traceId, kTraceIdSize);
    if (block != nullptr) {
        block->Write(fixed, sizeof(fixed));
    }

    for (const CPellaxExtMessageHeader& entry : m_extHeaders) {
        entry.Encode(block);
    }
    return 0;
}

void CPellaxMessageHeader::TraceEncode(bool skipTrace, char* traceId, char* spanId) const
{
    if (IsControl(m_command)) {
        return;
    }
    if ((m_command & 1u) != 0) {
        TraceEvent(1, nullptr, "recv sucessed");
        TraceInjectResponse(traceId, spanId);
        return;
    }
    if (const char* label = RequestLabel(m_command)) {
        TraceRequestLabel(label);
    }
    if (skipTrace) {
        return;
    }
    TraceInjectRequest(traceId, spanId);
    traceId[kTraceIdSize - 1] = '\0';
    spanId[kTraceIdSize - 1] = '\0';
    if (traceId[0] == '\0') {
        return;
    }
    if (CMessageHeaderMgr* manager = COrvSingletonT<CMessageHeaderMgr>::Instance()) {
        manager->Add(spanId, TraceCurrentSpan());
    }
}

int CPellaxMessageHeader::Decode(COrvMessageBlock* block)
{
    if (block == nullptr) {
        return kResultNotStarted;
    }
    if (block->GetLength() < kFixedSize) {
        return kShortFrame;
    }
    const uint8_t* in = block->GetReadPtr();
    m_version = *in++;
    m_reserved1 = *in++;
    m_reserved2 = *in++;
    m_flag = *in++;
    in = GetBig(in, m_sequence);
    in = GetBig(in, m_timestamp);
    in = GetBig(in, m_command);
    in = GetBig(in, m_bodyLength);
    in = GetBig(in, m_extLength);
    in += kReservedAfterLengths;
    char spanId[kTraceIdSize + 1] = {};
    char traceId[kTraceIdSize + 1] = {};
    std::memcpy(spanId, in, kTraceIdSize);
    in += kTraceIdSize + kReservedAfterSpan;
    std::memcpy(traceId, in, kTraceIdSize);
    block->SetReadPos(block->GetReadPos() + kFixedSize);
    // Checked before anything is allocated, in 64 bits so the sum cannot wrap.
    if (static_cast<uint64_t>(m_extLength) + m_bodyLength > block->GetLength()) {
        return kShortFrame;
    }
    int result = DecodeExtHeaders(block);
    if (result != 0) {
        return result;
    }
    TraceDecode(traceId, spanId);
    return 0;
}

int CPellaxMessageHeader::DecodeExtHeaders(COrvMessageBlock* block)
{
    m_extHeaders.clear();
    uint64_t remaining = m_extLength;
    while (remaining > 0) {
        CPellaxExtMessageHeader entry;
        int result = entry.Decode(block, remaining);
        if (result != 0) {
            return result;
        }
        remaining -= entry.GetSize();
        if (!AddExtHeader(entry)) {
            return kNoMemory;
        }
    }
    return 0;
}

void CPellaxMessageHeader::TraceDecode(const char* traceId, const char* spanId) const
{
    if (IsControl(m_command)) {
        return;
    }
    if ((m_command & 1u) != 0) {
        if (traceId[0] == '\0') {
            return;
        }
        CMessageHeaderMgr* manager = COrvSingletonT<CMessageHeaderMgr>::Instance();
        uint64_t span = manager != nullptr ? manager->Take(spanId) : 0;
        if (span == 0) {
            return;
        }
        TraceResumeSpan(&span);
        TraceSetIds(traceId, spanId);
        TraceFinish(1, nullptr, nullptr);
        return;
    }
    TraceExtract(traceId, spanId);
    if (const char* label = ReceiveLabel(m_command)) {
        TraceReceiveLabel(label);
    }
}

}  // namespace PELLAX
}  // namespace ORV
