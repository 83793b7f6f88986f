#include "protocol/PellaxMessageHeader.h"

#include <new>

#include "frame/Singleton.h"
#include "platform/Trace.h"
#include "platform/Zot.h"
#include "protocol/MessageHeaderMgr.h"
#include "protocol/OrvByteStream.h"

namespace ORV {
namespace PELLAX {

namespace {
constexpr size_t kReservedAfterSpan = 19;
constexpr size_t kReservedAfterTrace = 31;

using ByteStream = COrvByteStreamT<COrvMessageBlock>;

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
    ByteStream stream(block);
    uint64_t timestamp = m_timestamp != 0 ? m_timestamp : ZOT_GetTimeTick64();
    stream << m_version << m_reserved1 << m_reserved2 << m_flag << m_sequence << timestamp;
    stream << m_command << m_bodyLength << GetExtLength() << uint16_t{0} << uint32_t{0};

    char spanId[kTraceIdSize] = {};
    char reservedAfterSpan[kReservedAfterSpan] = {};
    char traceId[kTraceIdSize] = {};
    char reservedAfterTrace[kReservedAfterTrace] = {};
    TraceEncode(skipTrace, traceId, spanId);
    // The tracer promises at most 32 characters; the last byte stays the terminator regardless.
    spanId[kTraceIdSize - 1] = '\0';
    traceId[kTraceIdSize - 1] = '\0';
    stream.WriteBytes(spanId, sizeof(spanId));
    stream.WriteBytes(reservedAfterSpan, sizeof(reservedAfterSpan));
    stream.WriteBytes(traceId, sizeof(traceId));
    stream.WriteBytes(reservedAfterTrace, sizeof(reservedAfterTrace));
    stream << uint64_t{0};

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
        return ByteStream::kNoBlock;
    }
    ByteStream stream(block);
    uint16_t reserved16 = 0;
    uint32_t reserved32 = 0;
    stream >> m_version >> m_reserved1 >> m_reserved2 >> m_flag >> m_sequence >> m_timestamp;
    stream >> m_command >> m_bodyLength >> m_extLength >> reserved16 >> reserved32;

    char spanId[kTraceIdSize + 1] = {};
    char reservedAfterSpan[kReservedAfterSpan] = {};
    char traceId[kTraceIdSize + 1] = {};
    char reservedAfterTrace[kReservedAfterTrace] = {};
    uint64_t reserved64 = 0;
    stream.ReadBytes(spanId, kTraceIdSize);
    stream.ReadBytes(reservedAfterSpan, sizeof(reservedAfterSpan));
    stream.ReadBytes(traceId, kTraceIdSize);
    stream.ReadBytes(reservedAfterTrace, sizeof(reservedAfterTrace));
    stream >> reserved64;
    if (stream.GetResult() != 0) {
        return kShortFrame;
    }
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
