// A counted byte buffer with a read and a write position; frames and bodies travel in it.
#ifndef PELLAX_PLATFORM_ORV_MESSAGE_BLOCK_H
#define PELLAX_PLATFORM_ORV_MESSAGE_BLOCK_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/OrvReferenceControl.h"
#include "platform/RefPtr.h"

enum MESSAGEBLOCK_ATTR { MESSAGEBLOCK_ATTR_NONE = 0 };

// Layout: [0, read) consumed, [read, write) held bytes, [write, capacity) free room.
// The first buffer lives in the same allocation as the block, right behind it: a frame or body costs
// one allocation, not two. Growing beyond it moves the bytes to a buffer of their own.
class COrvMessageBlock : public COrvReferenceControlT<COrvLockMutex> {
public:
    // Blocks come from here: an empty pointer means the memory could not be had.
    static CRefPtr<COrvMessageBlock> Create(size_t capacity);
    static CRefPtr<COrvMessageBlock> Create(const void* data, size_t length);
    // The bytes held by head, then length bytes of body, in one new block.
    static CRefPtr<COrvMessageBlock> Join(const COrvMessageBlock& head, const void* body, size_t length);

    // Appends n bytes at the write position, growing the buffer when needed; 0 on success.
    int Write(const void* data, size_t n);
    // Copies n bytes from the read position and advances it; refuses (non-zero, nothing read)
    // when fewer than n bytes are held.
    int Read(void* buffer, size_t n);
    // Appends the bytes held by another block.
    int Append(const COrvMessageBlock* other, int attribute = 1);

    int SetReadPos(size_t position);
    int SetWritePos(size_t position);
    size_t GetReadPos() const { return m_nReadPos; }
    size_t GetWritePos() const { return m_nWritePos; }
    size_t GetCapacity() const { return m_nCapacity; }
    // Bytes held between the read and the write position.
    size_t GetLength() const { return m_nWritePos - m_nReadPos; }

    const uint8_t* GetReadPtr() const { return m_pData + m_nReadPos; }
    uint8_t* GetWritePtr() { return m_pData + m_nWritePos; }
    // Makes room for at least n more bytes after the write position; 0 on success.
    int Reserve(size_t n);

    // Blocks are made by Create with their first buffer behind them, and released as one.
    static void operator delete(void* memory) { ::operator delete(memory); }

private:
    explicit COrvMessageBlock(size_t capacity);

    uint8_t* m_pData;                     // the buffer in use: the inline one, or m_pGrown
    std::unique_ptr<uint8_t[]> m_pGrown;  // the buffer once the inline one was outgrown
    size_t m_nCapacity = 0;
    size_t m_nReadPos = 0;
    size_t m_nWritePos = 0;
};

using MessageBlockPtr = CRefPtr<COrvMessageBlock>;

#endif
