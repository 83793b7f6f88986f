// Sequence numbers from one process-wide counter; bit 31 marks synchronous requests and answers.
#ifndef PELLAX_FRAME_SEQ_MGR_H
#define PELLAX_FRAME_SEQ_MGR_H

#include <atomic>
#include <cstdint>

namespace ORV {
namespace PELLAX {

class CSEQMgr {
public:
    static constexpr uint32_t kSyncBit = 0x80000000u;

    CSEQMgr();

    // flag 0: bit 31 clear; flag 1: bit 31 set.
    uint32_t GenerateSequence(int flag);
    void SetCounterForTest(uint32_t value) { m_nCounter.store(value); }

private:
    std::atomic<uint32_t> m_nCounter;
};

inline bool IsSyncResponse(uint32_t command, uint32_t sequence)
{
    return (command & 1u) != 0 && (sequence & CSEQMgr::kSyncBit) != 0;
}

}  // namespace PELLAX
}  // namespace ORV

#endif
