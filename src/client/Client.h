// The client front behind the PELLAX_CLIENT_* functions: a table of 1024 client sessions indexed by
// handle, host records turned into frames, and session reports turned into host notifications.
//
// Handles are reused at once (lowest free slot), so the front notifies only for a session that still
// holds its slot, and a destroyed session's sink is detached before its slot is freed: once
// DestroySessionClient returns, no notification for that session runs or starts.
#ifndef PELLAX_CLIENT_CLIENT_H
#define PELLAX_CLIENT_CLIENT_H

#include <atomic>
#include <cstdint>

#include "client/IClientSession.h"
#include "client/IClientSessionSink.h"
#include "pellax.h"
#include "platform/RefPtr.h"
#include "platform/Zot.h"

namespace ORV {
namespace PELLAX {

class CClient : public IClientSessionSink {
public:
    static constexpr uint32_t kMaxSessions = 1024;
    static constexpr int64_t kDefaultConnectTimeout = 5;

    enum Event : uint32_t {
        kEventData = 0,
        kEventJoined = 1,
        kEventJoinFailed = 2,
        kEventLeft = 3,
        kEventSilent = 4,
        kEventRegistered = 5,
        kEventKeepalive = 6,
    };

    CClient() = default;
    ~CClient() override;
    CClient(const CClient&) = delete;
    CClient& operator=(const CClient&) = delete;

    int SetNotifyCallBack(PELLAX_NotifyCallBack callback, void* user);
    // The address and port were checked by the export. The new handle, or PELLAX_E_INVALID (options not
    // JSON), PELLAX_E_NO_RESOURCE (table full, no memory) or PELLAX_E_STATE (open failed).
    int CreateSessionClient(const char* address, int port, const char* options);
    int SetUserData(uint32_t handle, uint32_t kind, const char* text);
    int DestroySessionClient(uint32_t handle);
    int Send(uint32_t handle, const PELLAX_Message* request);
    int SyncSend(uint32_t handle, const PELLAX_Message* request, PELLAX_Message* response, uint32_t timeoutSeconds);

    int GetDataKey(char* key, int length);
    int Encrypt(const unsigned char* key, int keyLength, const unsigned char* data, int dataLength, char* out,
                int* outLength);
    int Decrypt(const unsigned char* key, int keyLength, const char* text, int textLength, unsigned char* out,
                int* outLength);

    void OnJoin(IClientSession* session, uint32_t result) override;
    void OnLeave(IClientSession* session, uint32_t reason) override;
    void OnReceive(IClientSession* session, const MessageHeaderPtr& header, COrvMessageBlock* block) override;
    void OnCanSendAgain(IClientSession* session, uint32_t value) override;
    void OnHeartBeatTimeOut(IClientSession* session) override;
    void OnHeartbeat(IClientSession* session, const MessageHeaderPtr& header, COrvMessageBlock* block) override;
    void OnRegister(IClientSession* session, const MessageHeaderPtr& header, COrvMessageBlock* block) override;

private:
    static constexpr const char* kLogScope = "ORV::PELLAX::CClient";

    // Puts a new session into the lowest free slot, under that slot's lock; its handle, or -1 when
    // the table is full and -2 when memory ran out.
    int FillFreeSlot(CRefPtr<IClientSession>* created);
    // The session in a slot (empty when the slot is).
    CRefPtr<IClientSession> GetSlot(uint32_t handle);
    // Empties the slot and hands over what it held: of two destroys of one handle only one gets it.
    CRefPtr<IClientSession> TakeSlot(uint32_t handle);
    // Empties the slot only if it still holds this session.
    void ReleaseSlot(uint32_t handle, IClientSession* session);
    bool HoldsSlot(IClientSession* session);
    // The host callback when one is set and the session still holds its slot.
    PELLAX_NotifyCallBack CallbackFor(IClientSession* session);
    void NotifyControl(IClientSession* session, uint32_t event, const CPellaxMessageHeader& header,
                       COrvMessageBlock* block);

    std::atomic<PELLAX_NotifyCallBack> m_pfnNotify{nullptr};
    std::atomic<void*> m_pUser{nullptr};
    ZOT_Mutex m_locks[kMaxSessions];
    CRefPtr<IClientSession> m_sessions[kMaxSessions];
};

}  // namespace PELLAX
}  // namespace ORV

#endif
