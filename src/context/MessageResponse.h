// One received answer to a synchronous request, on its way from a receive thread to its waiter.
#ifndef PELLAX_CONTEXT_MESSAGE_RESPONSE_H
#define PELLAX_CONTEXT_MESSAGE_RESPONSE_H

#include <cstdint>

#include "platform/OrvMessageBlock.h"
#include "platform/OrvReferenceControl.h"
#include "platform/RefPtr.h"
#include "protocol/PellaxMessageHeader.h"

namespace ORV {
namespace PELLAX {

class CMessageResponse : public COrvReferenceControlT<COrvLockMutex> {
public:
    CMessageResponse(const CRefPtr<CPellaxMessageHeader>& header, const CRefPtr<COrvMessageBlock>& body)
        : m_pHeader(header), m_pBody(body)
    {
    }

    uint32_t GetSequence() const { return m_pHeader ? m_pHeader->GetSequence() : 0; }
    const CRefPtr<CPellaxMessageHeader>& GetHeader() const { return m_pHeader; }
    const CRefPtr<COrvMessageBlock>& GetBody() const { return m_pBody; }

private:
    CRefPtr<CPellaxMessageHeader> m_pHeader;
    CRefPtr<COrvMessageBlock> m_pBody;
};

}  // namespace PELLAX
}  // namespace ORV

#endif
