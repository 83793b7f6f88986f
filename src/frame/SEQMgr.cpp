#include "frame/SEQMgr.h"

#include "platform/Zot.h"

namespace ORV {
namespace PELLAX {

// Two runs start at different places.
CSEQMgr::CSEQMgr() : m_nCounter(ZOT_Rand()) {}

uint32_t CSEQMgr::GenerateSequence(int flag)
{
    uint32_t value = m_nCounter.fetch_add(1, std::memory_order_relaxed);
    return flag == 0 ? (value & ~kSyncBit) : (value | kSyncBit);
}

}  // namespace PELLAX
}  // namespace ORV
