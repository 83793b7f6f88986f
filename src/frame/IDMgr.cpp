#include "frame/IDMgr.h"

namespace ORV {
namespace PELLAX {

CIDMgr::CIDMgr() : m_aSlots{} {}

int32_t CIDMgr::AllocateID()
{
    ZOT_Guard guard(m_mutex);
    // From the cursor upward, then round from 0: an id is found whenever one is free, and a released
    // id is still reused only when the cursor comes round to it.
    for (int32_t step = 0; step < kMaxIds; ++step) {
        int32_t index = (m_nCursor + step) % kMaxIds;
        if (m_aSlots[index] == 0) {
            m_aSlots[index] = 1;
            m_nCursor = (index + 1) % kMaxIds;
            return index;
        }
    }
    return -1;
}

bool CIDMgr::ReleaseID(int32_t id)
{
    if (id < 0 || id >= kMaxIds) {
        return false;
    }
    ZOT_Guard guard(m_mutex);
    m_aSlots[id] = 0;
    return true;
}

}  // namespace PELLAX
}  // namespace ORV
