#include "platform/OrvMessageBlock.h"

#include <cstdint>
#include <cstring>
#include <new>

COrvMessageBlock::COrvMessageBlock(size_t capacity)
    : m_pData(reinterpret_cast<uint8_t*>(this) + sizeof(COrvMessageBlock)), m_nCapacity(capacity)
{
}

CRefPtr<COrvMessageBlock> COrvMessageBlock::Create(size_t capacity)
{
    if (capacity > SIZE_MAX - sizeof(COrvMessageBlock)) {
        return {};
    }
    void* memory = ::operator new(sizeof(COrvMessageBlock) + capacity, std::nothrow);
    if (memory == nullptr) {
        return {};
    }
    return CRefPtr<COrvMessageBlock>(new (memory) COrvMessageBlock(capacity));
}

CRefPtr<COrvMessageBlock> COrvMessageBlock::Create(const void* data, size_t length)
{
    CRefPtr<COrvMessageBlock> block = Create(length);
    if (!block || block->Write(data, length) != 0) {
        return {};
    }
    return block;
}

CRefPtr<COrvMessageBlock> COrvMessageBlock::Join(const COrvMessageBlock& head, const void* body, size_t length)
{
    CRefPtr<COrvMessageBlock> block = Create(head.GetLength() + length);
    if (!block || block->Write(head.GetReadPtr(), head.GetLength()) != 0 || block->Write(body, length) != 0) {
        return {};
    }
    return block;
}

int COrvMessageBlock::Reserve(size_t n)
{
    if (n <= m_nCapacity - m_nWritePos) {
        return 0;
    }
    size_t needed = m_nWritePos + n;
    if (needed < n) {
        return -1;
    }
    size_t capacity = m_nCapacity * 2 > needed ? m_nCapacity * 2 : needed;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[capacity > 0 ? capacity : 1]);
    if (!buffer) {
        return -1;
    }
    if (m_nWritePos > 0) {
        std::memcpy(buffer.get(), m_pData, m_nWritePos);
    }
    m_pGrown = std::move(buffer);
    m_pData = m_pGrown.get();
    m_nCapacity = capacity;
    return 0;
}

int COrvMessageBlock::Write(const void* data, size_t n)
{
    if (n == 0) {
        return 0;
    }
    if (data == nullptr || Reserve(n) != 0) {
        return -1;
    }
    std::memcpy(m_pData + m_nWritePos, data, n);
    m_nWritePos += n;
    return 0;
}

int COrvMessageBlock::Read(void* buffer, size_t n)
{
    if (n == 0) {
        return 0;
    }
    if (buffer == nullptr || n > GetLength()) {
        return -1;
    }
    std::memcpy(buffer, m_pData + m_nReadPos, n);
    m_nReadPos += n;
    return 0;
}

int COrvMessageBlock::Append(const COrvMessageBlock* other, int)
{
    if (other == nullptr) {
        return -1;
    }
    // Growing moves the buffer: make room first so a block appended to itself copies from the new one.
    size_t length = other->GetLength();
    if (Reserve(length) != 0) {
        return -1;
    }
    return Write(other->GetReadPtr(), length);
}

int COrvMessageBlock::SetReadPos(size_t position)
{
    if (position > m_nWritePos) {
        return -1;
    }
    m_nReadPos = position;
    return 0;
}

int COrvMessageBlock::SetWritePos(size_t position)
{
    if (position > m_nCapacity || position < m_nReadPos) {
        return -1;
    }
    // Bytes exposed by moving forward were never written: make them zero, not garbage.
    if (position > m_nWritePos) {
        std::memset(m_pData + m_nWritePos, 0, position - m_nWritePos);
    }
    m_nWritePos = position;
    return 0;
}
