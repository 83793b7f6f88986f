// Client identifiers 0..1023, handed out in rising order from a cursor that wraps.
#ifndef PELLAX_FRAME_ID_MGR_H
#define PELLAX_FRAME_ID_MGR_H

#include <cstdint>

#include "platform/Zot.h"

namespace ORV {
namespace PELLAX {

class CIDMgr {
public:
    static constexpr int32_t kMaxIds = 1024;

    CIDMgr();

    // A free identifier, or -1 when all are taken.
    int32_t AllocateID();
    bool ReleaseID(int32_t id);

private:
    ZOT_Mutex m_mutex;
    uint32_t m_aSlots[kMaxIds];
    int32_t m_nCursor = 0;
};

}  // namespace PELLAX
}  // namespace ORV

#endif
