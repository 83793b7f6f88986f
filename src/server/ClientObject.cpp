#include "server/ClientObject.h"

#include "frame/IDMgr.h"
#include "frame/ResultCodes.h"
#include "frame/Singleton.h"

namespace ORV {
namespace PELLAX {

CClientObject::CClientObject(const CRefPtr<IOrvID>& id) : m_pID(id), m_clientID(-1)
{
    CIDMgr* ids = COrvSingletonT<CIDMgr>::Instance();
    if (ids != nullptr) {
        m_clientID = ids->AllocateID();
    }
    UpdateActiveTime();
}

CClientObject::~CClientObject()
{
    // The id goes back only now, so it is never reused while a send or notification holds the object.
    CIDMgr* ids = COrvSingletonT<CIDMgr>::Instance();
    if (ids != nullptr) {
        ids->ReleaseID(m_clientID);
    }
}

void CClientObject::UpdateActiveTime()
{
    m_lastActive.store(ZOT_GetCoarseTimeTick64(), std::memory_order_relaxed);
}

int32_t CClientObject::SetUserData(uint32_t type, const char* text)
{
    if (type != kRegisterUserData && type != kKeepaliveUserData) {
        return PELLAX_E_INVALID;
    }
    ZOT_Guard guard(m_userDataMutex);
    std::string& target = type == kRegisterUserData ? m_strRegisterUserData : m_strKeepaliveUserData;
    target = text != nullptr ? text : "";
    return 0;
}

std::string CClientObject::GetUserData(uint32_t type) const
{
    ZOT_Guard guard(m_userDataMutex);
    if (type == kRegisterUserData) {
        return m_strRegisterUserData;
    }
    if (type == kKeepaliveUserData) {
        return m_strKeepaliveUserData;
    }
    return std::string();
}

}  // namespace PELLAX
}  // namespace ORV
