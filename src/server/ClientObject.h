// The server's record of one accepted connection: client id, transport handle, last sign of life
// and the user-data texts that go into its Register and Keepalive responses.
#ifndef PELLAX_SERVER_CLIENT_OBJECT_H
#define PELLAX_SERVER_CLIENT_OBJECT_H

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/OrvLockEvent.h"
#include "platform/OrvReferenceControl.h"
#include "platform/OrvSession.h"
#include "platform/OrvSpare.h"
#include "platform/RefPtr.h"
#include "platform/Zot.h"
#include "protocol/PellaxMessageHeader.h"

namespace ORV {
namespace PELLAX {

class CClientObject : public COrvReferenceControlT<COrvLockMutex> {
public:
    static constexpr uint32_t kRegisterUserData = 0;
    static constexpr uint32_t kKeepaliveUserData = 1;

    // Takes a client id; -1 when all are taken (the session then refuses the join).
    explicit CClientObject(const CRefPtr<IOrvID>& id);
    ~CClientObject() override;
    CClientObject(const CClientObject&) = delete;
    CClientObject& operator=(const CClientObject&) = delete;

    int32_t GetClientID() const { return m_clientID; }
    CRefPtr<IOrvID> GetSession() const { return m_pID; }
    void UpdateActiveTime();
    uint64_t GetActiveTime() const { return m_lastActive.load(std::memory_order_relaxed); }

    // Type 0 or 1 stores the text (null stores ""), 0; any other type -4.
    int32_t SetUserData(uint32_t type, const char* text);
    std::string GetUserData(uint32_t type) const;

    // Reset when the transport refuses a frame, signalled when it can send again; nobody waits on it.
    COrvLockEvent& GetSendReady() { return m_sendReady; }
    // The header of this client's last received frame, for decoding the next one.
    COrvSpareT<CPellaxMessageHeader>& GetSpareHeader() { return m_spareHeader; }

private:
    COrvLockEvent m_sendReady{0, 1};
    std::atomic<uint64_t> m_lastActive{0};
    CRefPtr<IOrvID> m_pID;
    COrvSpareT<CPellaxMessageHeader> m_spareHeader;
    int32_t m_clientID;
    // Host threads write the texts while the event thread builds responses from them.
    mutable ZOT_Mutex m_userDataMutex;
    std::string m_strRegisterUserData;
    std::string m_strKeepaliveUserData;
};

}  // namespace PELLAX
}  // namespace ORV

#endif
