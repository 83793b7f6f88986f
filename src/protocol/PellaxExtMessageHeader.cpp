#include "protocol/PellaxExtMessageHeader.h"

#include <cstring>
#include <new>

#include "protocol/OrvByteStream.h"
#include "frame/ResultCodes.h"

namespace ORV {
namespace PELLAX {

CPellaxExtMessageHeader::CPellaxExtMessageHeader(uint32_t type, uint32_t length, const void* data)
    : m_type(type), m_length(length)
{
    if (length > 0 && data != nullptr) {
        m_data = COrvMessageBlock::Create(data, length);
    }
}

CPellaxExtMessageHeader::CPellaxExtMessageHeader(const CPellaxExtMessageHeader& other)
    : COrvReferenceControlT<COrvLockMutex>(other), m_type(other.m_type), m_length(other.m_length), m_data(other.m_data)
{
}

CPellaxExtMessageHeader& CPellaxExtMessageHeader::operator=(const CPellaxExtMessageHeader& other)
{
    m_type = other.m_type;
    m_length = other.m_length;
    m_data = other.m_data;
    return *this;
}

bool CPellaxExtMessageHeader::GetData(uint8_t** data, uint32_t* length) const
{
    if (data == nullptr || length == nullptr) {
        return false;
    }
    uint32_t held = m_data ? static_cast<uint32_t>(m_data->GetLength()) : 0;
    *length = held;
    *data = new (std::nothrow) uint8_t[held > 0 ? held : 1];
    if (*data == nullptr) {
        return false;
    }
    if (held > 0) {
        std::memcpy(*data, m_data->GetReadPtr(), held);
    }
    return true;
}

int CPellaxExtMessageHeader::Encode(COrvMessageBlock* block) const
{
    COrvByteStreamT<COrvMessageBlock> stream(block);
    stream << m_type << m_length;
    if (m_data && block != nullptr) {
        block->Append(m_data.Get(), 1);
    }
    return 0;
}

int CPellaxExtMessageHeader::Decode(COrvMessageBlock* block, uint64_t limit)
{
    if (block == nullptr) {
        return COrvByteStreamT<COrvMessageBlock>::kNoBlock;
    }
    if (limit < kFixedSize) {
        return kShortEntry;
    }
    COrvByteStreamT<COrvMessageBlock> stream(block);
    stream >> m_type >> m_length;
    if (stream.GetResult() != 0 || GetSize() > limit || m_length > block->GetLength()) {
        return kShortEntry;
    }
    m_data = COrvMessageBlock::Create(block->GetReadPtr(), m_length);
    if (!m_data) {
        return PELLAX_E_NO_RESOURCE;
    }
    block->SetReadPos(block->GetReadPos() + m_length);
    return 0;
}

}  // namespace PELLAX
}  // namespace ORV
