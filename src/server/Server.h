// The server front behind the PELLAX_SERVER_* exports: owns at most one server session and turns
// its notifications into calls of the host's callback.
#ifndef PELLAX_SERVER_SERVER_H
#define PELLAX_SERVER_SERVER_H

#include <atomic>
#include <cstdint>

#include "frame/RWLock.h"
#include "pellax.h"
#include "platform/RefPtr.h"
#include "server/IClientObjectMgrSink.h"
#include "server/IServerSession.h"

namespace ORV {
namespace PELLAX {

class CServer : public IClientObjectMgrSink {
public:
    static constexpr const char* kLogScope = "ORV::PELLAX::CServer";
    static constexpr int32_t kDefaultKeepaliveInterval = 5;
    static constexpr int32_t kDefaultKeepaliveTimeout = 30;

    CServer() = default;
    ~CServer() override;
    CServer(const CServer&) = delete;
    CServer& operator=(const CServer&) = delete;

    int SetNotifyCallBack(PELLAX_NotifyCallBack callback, void* user);
    // The address and port were checked by the export; the records of the sends are checked here.
    int CreateSessionServer(const char* address, int port, const char* options);
    // From a host thread: once it returns no notification runs any more.
    int DestroySessionServer();
    int Leave(uint32_t clientId);
    int Send(uint32_t clientId, PELLAX_Message* message);
    int SyncSend(uint32_t clientId, PELLAX_Message* request, PELLAX_Message* response, uint32_t timeout);
    int SetUserData(uint32_t clientId, uint32_t type, const char* text);
    // The port actually listened on (for port 0), 0 without an open session.
    uint16_t GetListenPort();

    void OnClientChange(const CRefPtr<CClientObject>& client, uint32_t change) override;
    void OnReceive(const CRefPtr<CClientObject>& client, const CRefPtr<CPellaxMessageHeader>& header,
                   const CRefPtr<COrvMessageBlock>& body) override;
    void OnHeartBeatTimeOut(const CRefPtr<CClientObject>& client) override;
    void OnHeartbeat(const CRefPtr<CClientObject>& client, const CRefPtr<CPellaxMessageHeader>& header,
                     const CRefPtr<COrvMessageBlock>& params) override;
    void OnRegister(const CRefPtr<CClientObject>& client, const CRefPtr<CPellaxMessageHeader>& header,
                    const CRefPtr<COrvMessageBlock>& params) override;

private:
    // The session under the shared lock, or empty after logging "has not been created" for the caller.
    CRefPtr<IServerSession> GetSession(const char* caller, int line, uint32_t clientId);
    // Empties the slot only if it still holds this session.
    void DropSession(const CRefPtr<IServerSession>& session);
    bool IsCurrent(const CRefPtr<IServerSession>& session);
    void NotifyParams(const CClientObject& client, uint32_t type, const CPellaxMessageHeader& header,
                      COrvMessageBlock* params);

    CRWLock m_rwLock;                                     // around m_pServerSession only
    CRefPtr<IServerSession> m_pServerSession;
    std::atomic<PELLAX_NotifyCallBack> m_pfnNotify{nullptr};  // set without a lock, read per notification
    std::atomic<void*> m_pUser{nullptr};
};

}  // namespace PELLAX
}  // namespace ORV

#endif
