#include "platform/OrvSpareBlock.h"

MessageBlockPtr COrvSpareBlock::Take(size_t capacity)
{
    MessageBlockPtr spare = MessageBlockPtr::Adopt(m_pBlock.exchange(nullptr, std::memory_order_acq_rel));
    if (spare && spare->GetCapacity() >= capacity) {
        return spare;
    }
    return COrvMessageBlock::Create(capacity);
}

void COrvSpareBlock::Give(MessageBlockPtr block)
{
    // A count of one cannot rise again from elsewhere: nobody else holds the block to copy it from.
    if (!block || block->GetReference() != 1 || block->GetCapacity() > kMaxBytes) {
        return;
    }
    block->SetReadPos(0);
    block->SetWritePos(0);
    MessageBlockPtr::Adopt(m_pBlock.exchange(block.Release(), std::memory_order_acq_rel));
}
