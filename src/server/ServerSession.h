// The one listening session of the server side: accepts clients into a table keyed by client id,
// dispatches their frames, answers Register and Keepalive, drops silent clients and sends to them.
//
//   transport event thread:  OnJoin / OnReceive / OnLeave / OnTimer  --(m_sinkMutex)-->  m_pSink
//   host threads:            Leave, sends, Close  --post-->  event thread (disconnect, close, timer)
//
// Every call into the sink happens under m_sinkMutex and re-checks m_pSink, so once Close has
// cleared it no notification starts any more; a Close from inside a notification re-enters the
// (recursive) mutex instead of waiting for itself.
#ifndef PELLAX_SERVER_SERVER_SESSION_H
#define PELLAX_SERVER_SERVER_SESSION_H

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/OrvReferenceControl.h"
#include "platform/OrvSession.h"
#include "platform/OrvThread.h"
#include "platform/OrvTimer.h"
#include "platform/RefPtr.h"
#include "platform/Zot.h"
#include "protocol/PellaxMessageHeader.h"
#include "server/ClientObject.h"
#include "server/IClientObjectMgrSink.h"
#include "server/IServerSession.h"

namespace ORV {
namespace PELLAX {

class CServerSession : public IOrvServerSessionSink,
                       public IServerSession,
                       public IOrvTimerSink,
                       public COrvReferenceControlT<COrvLockMutex> {
public:
    static constexpr int32_t kStateClosed = 100;
    static constexpr int32_t kStateOpen = 101;
    static constexpr int32_t kStateClosing = 102;

    static constexpr const char* kLogScope = "ORV::PELLAX::CServerSession";

    CServerSession() = default;
    ~CServerSession() override = default;
    CServerSession(const CServerSession&) = delete;
    CServerSession& operator=(const CServerSession&) = delete;

    uint32_t AddReference() override { return COrvReferenceControlT::AddReference(); }
    uint32_t RemoveReference() override { return COrvReferenceControlT::RemoveReference(); }

    // IServerSession
    int Initialize(int32_t interval, int32_t timeout, uint32_t options) override;
    void Finalize() override;
    int Open(IClientObjectMgrSink* sink, const COrvInetAddress& address) override;
    void Close() override;
    int Leave(uint32_t clientId) override;
    int AsyncSend(uint32_t clientId, const PELLAX_Message* message) override;
    int SyncSend(uint32_t clientId, const PELLAX_Message* request, PELLAX_Message* response,
                 uint32_t timeout) override;
    int SetUserData(uint32_t clientId, uint32_t type, const char* text) override;
    uint16_t GetListenPort() override;

    // IOrvServerSessionSink
    void OnReceive(IOrvServerSession* server, IOrvID* client, COrvMessageBlock* frame) override;
    void OnCanSendAgain(IOrvServerSession* server, IOrvID* client, uint32_t value) override;
    void OnJoin(IOrvServerSession* server, CRefPtr<IOrvID>& client) override;
    void OnLeave(IOrvServerSession* server, IOrvID* client, uint32_t reason) override;

    // IOrvTimerSink: the liveness scan.
    void OnTimer(COrvTimer* timer) override;

    // Frames to one client (also used by the Register and Keepalive answers).
    int SendFrame(const CRefPtr<CClientObject>& client, COrvMessageBlock* frame);


private:
    void OnRegister(const CRefPtr<CClientObject>& client, const CRefPtr<CPellaxMessageHeader>& header,
                    COrvMessageBlock* body);
    void OnHearbeat(const CRefPtr<CClientObject>& client, const CRefPtr<CPellaxMessageHeader>& header,
                    COrvMessageBlock* body);
    void Dispatch(const CRefPtr<CClientObject>& client, const CRefPtr<CPellaxMessageHeader>& header,
                  const CRefPtr<COrvMessageBlock>& frame);
    void DeliverResponse(const CRefPtr<CPellaxMessageHeader>& header, COrvMessageBlock* frame);

    int StartHeartbeatTimer();
    int StopHeartbeatTimer();
    bool IsOnEventThread() const;
    // Posts the event to the event thread, or runs it here when there is none yet or when already on
    // it. False when the thread takes no more events: the event is then disposed of unrun.
    bool RunOnEventThread(IOrvCustomizeEvent* event);

    // Calls the sink under m_sinkMutex when there is one; false when there was none.
    template <class Call>
    bool Notify(Call call)
    {
        std::lock_guard<std::recursive_mutex> lock(m_sinkMutex);
        if (m_pSink == nullptr || m_bSinkClosed.load()) {
            return false;
        }
        call(m_pSink);
        return true;
    }
    bool HasSink();

    CRefPtr<CClientObject> FindClient(uint32_t clientId);
    CRefPtr<CClientObject> TakeClient(uint32_t clientId);
    CRefPtr<CClientObject> TakeClientBySession(IOrvID* id);
    // Option 302 of a connection holds a counted reference to its client object; it is read,
    // set and cleared only under m_clientsMutex, so a reader never sees an object being freed.
    CRefPtr<CClientObject> PeekAttached(IOrvID* id);
    // Clears the option (only when it holds `only`, if given) and hands over its reference.
    CRefPtr<CClientObject> Detach(IOrvID* id, const CClientObject* only);
    void Attach(const CRefPtr<CClientObject>& client);

    std::mutex m_lifeMutex;                                // Initialize and Open against a Close from another thread
    bool m_bShut = false;                                  // closed or finalized: never opens again
    bool m_bFinalized = false;
    ZOT_Mutex m_clientsMutex;
    std::map<int32_t, CRefPtr<CClientObject>> m_clients;  // by client id
    std::recursive_mutex m_sinkMutex;                      // held around every call into m_pSink
    IClientObjectMgrSink* m_pSink = nullptr;               // the server front, not owned
    std::atomic<bool> m_bSinkClosed{false};                // set by Close before it clears m_pSink
    std::atomic<int32_t> m_state{kStateClosed};
    CRefPtr<IOrvServerSession> m_session;
    ZOT_Mutex m_timerMutex;                                // the timer against a Close racing the first join
    bool m_timerStarted = false;
    std::unique_ptr<COrvTimer> m_heartbeatTimer;
    std::atomic<IOrvThread*> m_eventThread{nullptr};       // where the transport delivered the first join
    int32_t m_keepaliveInterval = 0;
    int32_t m_keepaliveTimeout = 0;
    uint64_t m_keepaliveTimeoutMs = 30000;
};

}  // namespace PELLAX
}  // namespace ORV

#endif
