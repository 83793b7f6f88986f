// One block kept for its owner's next frame, taken and given back from any thread without a lock: a
// stream of frames then allocates nothing, while a frame someone still holds is never handed out again.
#ifndef PELLAX_PLATFORM_ORV_SPARE_BLOCK_H
#define PELLAX_PLATFORM_ORV_SPARE_BLOCK_H

#include <atomic>
#include <cstddef>

#include "platform/OrvMessageBlock.h"

class COrvSpareBlock {
public:
    // Larger blocks are not kept: the spare must not hold a large frame's memory for good.
    static constexpr size_t kMaxBytes = 16 * 1024;

    COrvSpareBlock() = default;
    COrvSpareBlock(const COrvSpareBlock&) = delete;
    COrvSpareBlock& operator=(const COrvSpareBlock&) = delete;
    ~COrvSpareBlock() { MessageBlockPtr::Adopt(m_pBlock.exchange(nullptr)); }

    // An empty block of at least capacity bytes: the spare when it is large enough, else a new one
    // (empty pointer without memory).
    MessageBlockPtr Take(size_t capacity);
    // Keeps the block for the next Take when nobody else holds it any more.
    void Give(MessageBlockPtr block);

private:
    std::atomic<COrvMessageBlock*> m_pBlock{nullptr};  // holds one reference
};

#endif
