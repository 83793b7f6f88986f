// One typed extension entry of a frame: u32 type, u32 length, then the data bytes.
#ifndef PELLAX_PROTOCOL_PELLAX_EXT_MESSAGE_HEADER_H
#define PELLAX_PROTOCOL_PELLAX_EXT_MESSAGE_HEADER_H

#include <cstdint>

#include "platform/OrvMessageBlock.h"
#include "platform/OrvReferenceControl.h"
#include "platform/RefPtr.h"
#include "frame/ResultCodes.h"

namespace ORV {
namespace PELLAX {

class CPellaxExtMessageHeader : public COrvReferenceControlT<COrvLockMutex> {
public:
    static constexpr uint32_t kFixedSize = 8;
    // Decode: the block holds fewer bytes than the entry announces.
    static constexpr int kShortEntry = kResultShortEntry;

    CPellaxExtMessageHeader() = default;
    // Copies length bytes from data; HasData tells whether the copy could be made.
    CPellaxExtMessageHeader(uint32_t type, uint32_t length, const void* data);
    // Shares the data block.
    CPellaxExtMessageHeader(const CPellaxExtMessageHeader& other);
    CPellaxExtMessageHeader& operator=(const CPellaxExtMessageHeader& other);

    uint32_t GetType() const { return m_type; }
    uint32_t GetLength() const { return m_length; }
    // Encoded size; 64-bit because a 32-bit length plus 8 does not fit 32 bits.
    uint64_t GetSize() const { return kFixedSize + static_cast<uint64_t>(m_length); }
    // False when the entry announces bytes it does not hold.
    bool HasData() const { return m_length == 0 || (m_data && m_data->GetLength() == m_length); }
    // The data without consuming it. Zero-length entries give nothing to view.
    const uint8_t* GetDataPtr() const { return m_data ? m_data->GetReadPtr() : nullptr; }

    // A fresh new[] copy of the data (free with delete[]); false when it cannot be allocated.
    bool GetData(uint8_t** data, uint32_t* length) const;

    int Encode(COrvMessageBlock* block) const;
    // Reads at most limit bytes (the rest of the extension area); kShortEntry when the entry runs
    // past limit or past the block. Nothing is allocated before the length has been checked.
    int Decode(COrvMessageBlock* block, uint64_t limit);

private:
    uint32_t m_type = 0;
    uint32_t m_length = 0;
    MessageBlockPtr m_data;
};

}  // namespace PELLAX
}  // namespace ORV

#endif
