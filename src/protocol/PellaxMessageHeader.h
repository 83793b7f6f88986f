// The frame header: a 156-byte big-endian fixed part, then the extension entries back to back.
//
//   0 version  1 reserved  2 reserved  3 flag  4 sequence(4)  8 timestamp(8)  16 command(4)
//   20 body length(4)  24 extension length(2)  26 reserved(2)  28 reserved(4)  32 span id(33)
//   65 reserved(19)  84 trace id(33)  117 reserved(31)  148 reserved(8)  156 extension area
//
// Encoding and decoding also carry request tracing: identifiers go out with even host commands
// and come back with their odd responses; the header manager remembers the spans in between.
#ifndef PELLAX_PROTOCOL_PELLAX_MESSAGE_HEADER_H
#define PELLAX_PROTOCOL_PELLAX_MESSAGE_HEADER_H

#include <cstdint>
#include <vector>

#include "platform/OrvMessageBlock.h"
#include "platform/OrvReferenceControl.h"
#include "protocol/PellaxExtMessageHeader.h"
#include "frame/ResultCodes.h"

namespace ORV {
namespace PELLAX {

class CPellaxMessageHeader : public COrvReferenceControlT<COrvLockMutex> {
public:
    static constexpr uint32_t kFixedSize = 156;
    static constexpr uint32_t kMaxExtLength = 0xFFFF;
    static constexpr uint32_t kCommandRegister = 0;
    static constexpr uint32_t kCommandRegisterResponse = 1;
    static constexpr uint32_t kCommandKeepalive = 10;
    static constexpr uint32_t kCommandKeepaliveResponse = 11;

    // Decode results besides 0 (a well-formed frame, its body fully held by the block):
    // the block is shorter than the frame announces (fixed part under 156 bytes, an extension area
    // or entry that does not fit, or fewer body bytes than the body length). The frame must be dropped.
    static constexpr int kShortFrame = CPellaxExtMessageHeader::kShortEntry;
    // Encode result when the extension entries total more than kMaxExtLength bytes; nothing is written.
    static constexpr int kExtTooLong = kResultExtTooLong;
    // An extension entry's data could not be allocated.
    static constexpr int kNoMemory = PELLAX_E_NO_RESOURCE;

    CPellaxMessageHeader() = default;
    // The timestamp is not kept: a frame always carries the tick of its encoding.
    CPellaxMessageHeader(uint32_t command, uint32_t bodyLength, uint32_t sequence, uint64_t timestamp, uint8_t flag,
                         uint8_t reserved);

    uint32_t GetCommand() const { return m_command; }
    uint32_t GetSequence() const { return m_sequence; }
    uint32_t GetBodyLength() const { return m_bodyLength; }
    uint64_t GetTimestamp() const { return m_timestamp; }
    uint8_t GetFlag() const { return m_flag; }
    void SetSequence(uint32_t sequence) { m_sequence = sequence; }

    bool AddExtHeader(const CPellaxExtMessageHeader& entry);
    bool GetExtHeaders(std::vector<CPellaxExtMessageHeader>& entries) const;
    const std::vector<CPellaxExtMessageHeader>& ExtHeaders() const { return m_extHeaders; }

    // Sum of the entries' encoded sizes, stored and returned modulo 65536 as the wire field holds it.
    uint16_t GetExtLength();
    // False when the entries cannot be framed: check before encoding, and refuse to send.
    bool HasValidExtLength() const { return ExtTotal() <= kMaxExtLength; }
    // 156 plus the extension length.
    uint32_t GetHeaderSize();

    // Writes the header at the block's write position: 0, or kExtTooLong with nothing written.
    int Encode(COrvMessageBlock* block, bool skipTrace);
    // Reads the header from the block's read position, which then stands at the first body byte.
    // 0, kShortFrame, kNoMemory, or kResultNotStarted without a block. A frame that is not 0 made no trace calls.
    int Decode(COrvMessageBlock* block);

private:
    uint64_t ExtTotal() const;
    void TraceEncode(bool skipTrace, char* traceId, char* spanId) const;
    void TraceDecode(const char* traceId, const char* spanId) const;
    int DecodeExtHeaders(COrvMessageBlock* block);

    uint8_t m_version = 1;
    uint8_t m_reserved1 = 0;
    uint8_t m_reserved2 = 0;
    uint32_t m_sequence = 0;
    uint64_t m_timestamp = 0;  // 0 until a frame is decoded into it
    uint32_t m_command = 0;
    uint32_t m_bodyLength = 0;
    uint16_t m_extLength = 0;
    uint8_t m_flag = 0;
    std::vector<CPellaxExtMessageHeader> m_extHeaders;
};

using MessageHeaderPtr = CRefPtr<CPellaxMessageHeader>;

}  // namespace PELLAX
}  // namespace ORV

#endif
