// Written send runs of one event thread's connections, kept for the next ones: a stream of small
// frames then allocates nothing, and what is kept is bounded per thread, not per connection, so a
// connection that stopped sending holds no run.
#ifndef PELLAX_PLATFORM_ORV_RUN_POOL_H
#define PELLAX_PLATFORM_ORV_RUN_POOL_H

#include <cstddef>
#include <mutex>
#include <vector>

#include "platform/OrvMessageBlock.h"

class COrvRunPool {
public:
    static constexpr size_t kRunBytes = 16 * 1024;

    explicit COrvRunPool(size_t keep) : m_nKeep(keep) {}

    // Any thread: an empty run, reused or new; empty pointer without memory.
    MessageBlockPtr Take();
    // Any thread: a run whose bytes were all written.
    void Give(MessageBlockPtr run);

private:
    std::mutex m_mutex;
    std::vector<MessageBlockPtr> m_runs;
    size_t m_nKeep;
};

#endif
