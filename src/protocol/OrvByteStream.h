// Writes and reads integers in network byte order over one message block, for one encode or decode.
#ifndef PELLAX_PROTOCOL_ORV_BYTE_STREAM_H
#define PELLAX_PROTOCOL_ORV_BYTE_STREAM_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include "frame/ResultCodes.h"

template <class BlockT>
class COrvByteStreamT {
public:
    static constexpr int kNoBlock = ORV::PELLAX::kResultNotStarted;

    explicit COrvByteStreamT(BlockT* block) : m_mode(IsBigEndianHost() ? 1u : 0u), m_block(block) {}
    virtual ~COrvByteStreamT() = default;
    COrvByteStreamT(const COrvByteStreamT&) = delete;
    COrvByteStreamT& operator=(const COrvByteStreamT&) = delete;

    // Typed operations: 0, kNoBlock, or the block's own refusal. A refused read leaves the value 0.
    int WriteUint16(uint16_t value) { return WriteInteger(value); }
    int WriteUint32(uint32_t value) { return WriteInteger(value); }
    int WriteUint64(uint64_t value) { return WriteInteger(value); }
    int ReadUint16(uint16_t& value) { return ReadInteger(value); }
    int ReadUint32(uint32_t& value) { return ReadInteger(value); }
    int ReadUint64(uint64_t& value) { return ReadInteger(value); }
    int WriteBytes(const void* data, size_t n) { return Note(m_block == nullptr ? kNoBlock : m_block->Write(data, n)); }
    int ReadBytes(void* data, size_t n) { return Note(m_block == nullptr ? kNoBlock : m_block->Read(data, n)); }

    // Chaining forms: results are not passed on, but the first failure is kept for GetResult.
    COrvByteStreamT& operator<<(uint8_t value)
    {
        WriteBytes(&value, 1);
        return *this;
    }
    COrvByteStreamT& operator<<(uint16_t value)
    {
        WriteUint16(value);
        return *this;
    }
    COrvByteStreamT& operator<<(uint32_t value)
    {
        WriteUint32(value);
        return *this;
    }
    COrvByteStreamT& operator<<(uint64_t value)
    {
        WriteUint64(value);
        return *this;
    }
    COrvByteStreamT& operator>>(uint8_t& value)
    {
        value = 0;
        ReadBytes(&value, 1);
        return *this;
    }
    COrvByteStreamT& operator>>(uint16_t& value)
    {
        ReadUint16(value);
        return *this;
    }
    COrvByteStreamT& operator>>(uint32_t& value)
    {
        ReadUint32(value);
        return *this;
    }
    COrvByteStreamT& operator>>(uint64_t& value)
    {
        ReadUint64(value);
        return *this;
    }

    // The first non-zero result of any operation so far, 0 when all succeeded.
    int GetResult() const { return m_nResult; }

private:
    static bool IsBigEndianHost()
    {
        const uint16_t probe = 0x0102;
        uint8_t first = 0;
        std::memcpy(&first, &probe, 1);
        return first == 0x01;
    }

    int Note(int result)
    {
        if (m_nResult == 0) {
            m_nResult = result;
        }
        return result;
    }

    template <class T>
    int WriteInteger(T value)
    {
        uint8_t bytes[sizeof(T)];
        if (m_mode == 1) {
            std::memcpy(bytes, &value, sizeof(T));
        } else {
            for (size_t i = 0; i < sizeof(T); ++i) {
                bytes[sizeof(T) - 1 - i] = static_cast<uint8_t>(value >> (8 * i));
            }
        }
        return WriteBytes(bytes, sizeof(T));
    }

    template <class T>
    int ReadInteger(T& value)
    {
        value = 0;
        uint8_t bytes[sizeof(T)] = {};
        int result = ReadBytes(bytes, sizeof(T));
        if (result != 0) {
            return result;
        }
        if (m_mode == 1) {
            std::memcpy(&value, bytes, sizeof(T));
            return 0;
        }
        for (size_t i = 0; i < sizeof(T); ++i) {
            value = static_cast<T>((value << 8) | bytes[i]);
        }
        return 0;
    }

    uint32_t m_mode;   // 1: host is big-endian, bytes go as they are; 0: bytes are reversed
    BlockT* m_block;   // not owned
    int m_nResult = 0;
};

#endif
