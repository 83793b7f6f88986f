#include "server/ServerSession.h"

#include <new>

#include "context/ContextMgr.h"
#include "context/MessageResponse.h"
#include "frame/Log.h"
#include "frame/LogCodes.h"
#include "frame/SEQMgr.h"
#include "frame/Singleton.h"
#include "protocol/FrameCodec.h"
#include "protocol/MessageHeaderMgr.h"
#include "server/CloseSessionEvent.h"
#include "server/RemoveUserEvent.h"
#include "frame/ResultCodes.h"

namespace ORV {
namespace PELLAX {

namespace {
// The disconnect reason of a join refused while closing or out of ids: the session is not open to it.
constexpr uint32_t kReasonRefused = kResultNotOpen;
}

int CServerSession::Initialize(int32_t interval, int32_t timeout, uint32_t options)
{
    std::lock_guard<std::mutex> life(m_lifeMutex);
    if (m_bShut) {
        return PELLAX_E_STATE;
    }
    m_keepaliveInterval = interval;
    m_keepaliveTimeout = timeout;
    m_keepaliveTimeoutMs = static_cast<uint64_t>(static_cast<int64_t>(timeout) * 1000);
    uint32_t type = (options & 1u) != 0 ? ORV_SESSION_TYPE_TCP_ALT : ORV_SESSION_TYPE_TCP;
    if (IOrvSessionManager::Instance()->CreateServerSession(type, m_session) != 0) {
        PELLAX_LOG_INFO(3, "Init server session failed.");
        return PELLAX_E_STATE;
    }
    CMessageHeaderMgr* headers = COrvSingletonT<CMessageHeaderMgr>::Instance();
    if (headers == nullptr || headers->Start() != 0) {
        PELLAX_LOG_INFO(5, "Init message mgr failed.");
        return PELLAX_E_STATE;
    }
    PELLAX_LOG_INFO(3, "Init server session succ.");
    return 0;
}

void CServerSession::Finalize()
{
    {
        std::lock_guard<std::mutex> life(m_lifeMutex);
        if (m_bFinalized) {
            return;
        }
        m_bFinalized = true;
        m_bShut = true;
    }
    CMessageHeaderMgr* headers = COrvSingletonT<CMessageHeaderMgr>::Peek();
    if (headers != nullptr) {
        headers->Stop();
    }
    PELLAX_LOG_INFO(3, "Fini server session succ.");
    std::map<int32_t, CRefPtr<CClientObject>> released;
    {
        ZOT_Guard guard(m_clientsMutex);
        released.swap(m_clients);
    }
    PELLAX_LOG_INFO(3, "Fini client manager succ.");
}

int CServerSession::Open(IClientObjectMgrSink* sink, const COrvInetAddress& address)
{
    if (sink == nullptr) {
        return PELLAX_E_INVALID;
    }
    CRefPtr<IOrvServerSession> session;
    {
        // A session closed from another thread meanwhile stays closed: it must not start listening.
        std::lock_guard<std::mutex> life(m_lifeMutex);
        if (m_bShut) {
            return PELLAX_E_STATE;
        }
        session = m_session;
    }
    if (!session) {
        return kResultNotOpen;
    }
    {
        std::lock_guard<std::recursive_mutex> lock(m_sinkMutex);
        m_pSink = sink;
    }
    m_state.exchange(kStateOpen);
    // A Close from here on reaches the transport session, whose own state refuses a late open.
    if (session->Open(this, address) != 0) {
        {
            std::lock_guard<std::recursive_mutex> lock(m_sinkMutex);
            m_pSink = nullptr;
        }
        m_state.exchange(kStateClosed);
        PELLAX_LOG_FAIL(4, kCodeListen, "[port=%d]Open server session failed", address.GetPort());
        return PELLAX_E_STATE;
    }
    PELLAX_LOG_INFO(3, "[port=%d]Open server session succ", address.GetPort());
    return 0;
}

void CServerSession::Close()
{
    CRefPtr<IOrvServerSession> session;
    {
        std::lock_guard<std::mutex> life(m_lifeMutex);
        m_bShut = true;
        session = m_session;
    }
    {
        ZOT_Guard guard(m_timerMutex);
        m_state.exchange(kStateClosing);
    }
    StopHeartbeatTimer();
    m_bSinkClosed.store(true);
    // No notification starts after this. A host thread also waits for one in progress on the event
    // thread; another library thread must not, since that notification may be waiting for it.
    if (IOrvThreadManager::Instance()->GetCurrentThread() == nullptr || IsOnEventThread()) {
        std::lock_guard<std::recursive_mutex> lock(m_sinkMutex);
        m_pSink = nullptr;
    }
    if (session) {
        // The event keeps this sink alive until the transport session is closed on its thread.
        CRefPtr<IOrvReferenceControl> owner(static_cast<IServerSession*>(this));
        IOrvCustomizeEvent* event = new (std::nothrow) CCloseSessionEvent(session, 0, owner);
        if (event != nullptr) {
            RunOnEventThread(event);
        }
        // Closing again from here waits for the close posted above, which runs first, and for every
        // connection's drain: from a host thread the port is free when Close returns. The transport
        // takes Close from any thread, so this also closes it when the event could not be posted.
        session->Close(0);
    }
    PELLAX_LOG_BARE(3, "Close client manager succ.");
}

uint16_t CServerSession::GetListenPort()
{
    return m_session && m_state.load() == kStateOpen ? m_session->GetListenPort() : 0;
}

bool CServerSession::IsOnEventThread() const
{
    IOrvThread* thread = m_eventThread.load();
    return thread != nullptr && thread == IOrvThreadManager::Instance()->GetCurrentThread();
}

bool CServerSession::RunOnEventThread(IOrvCustomizeEvent* event)
{
    IOrvThread* thread = m_eventThread.load();
    if (thread == nullptr || IsOnEventThread()) {
        event->OnEvent();
        event->OnDestroy();
        return true;
    }
    if (thread->PostEvent(event) != 0) {
        event->OnDestroy();
        return false;
    }
    return true;
}

bool CServerSession::HasSink()
{
    std::lock_guard<std::recursive_mutex> lock(m_sinkMutex);
    return m_pSink != nullptr && !m_bSinkClosed.load();
}

void CServerSession::OnJoin(IOrvServerSession* server, CRefPtr<IOrvID>& client)
{
    if (server == nullptr || !client) {
        return;
    }
    CRefPtr<IServerSession> self(this);
    bool open = false;
    int timerResult = 0;
    {
        ZOT_Guard guard(m_timerMutex);
        open = m_state.load() == kStateOpen;
        if (open && !m_timerStarted) {
            m_eventThread.store(IOrvThreadManager::Instance()->GetCurrentThread());
            timerResult = StartHeartbeatTimer();
            m_timerStarted = timerResult == 0;
        }
    }
    if (!open) {
        server->Disconnect(client.Get(), kReasonRefused);
        return;
    }
    if (timerResult != 0) {
        PELLAX_LOG_FAIL(4, kCodeHeartbeatTimer, "Start Heartbeat Timer fail");
        return;
    }
    CRefPtr<CClientObject> object(new (std::nothrow) CClientObject(client));
    if (!object) {
        return;
    }
    if (object->GetClientID() < 0) {
        // Every id is taken: an object with id -1 would collide with the next refused one.
        PELLAX_LOG_FAIL(4, kCodeInvalid, "No free client id, join refused.");
        server->Disconnect(client.Get(), kReasonRefused);
        return;
    }
    if (server->Accept(client.Get(), 0) != 0) {
        return;
    }
    Attach(object);
    PELLAX_LOG_INFO(3, "[clientID=%d]Add client succ", object->GetClientID());
    Notify([&](IClientObjectMgrSink* sink) { sink->OnClientChange(object, IClientObjectMgrSink::kChangeJoin); });
}

void CServerSession::OnLeave(IOrvServerSession* server, IOrvID* client, uint32_t reason)
{
    if (server == nullptr || client == nullptr) {
        return;
    }
    CRefPtr<IServerSession> self(this);
    CRefPtr<CClientObject> object = Detach(client, nullptr);
    if (!object) {
        PELLAX_LOG_FAIL(4, kCodeInvalid, "IOrvID GetOption is null");
        return;
    }
    PELLAX_LOG_INFO(3, "[clientID=%d,reason=%d]Client leave", object->GetClientID(), static_cast<int>(reason));
    CRefPtr<CClientObject> taken = TakeClientBySession(client);
    if (!taken) {
        PELLAX_LOG_INFO(3, "Client has leave");
        return;
    }
    Notify([&](IClientObjectMgrSink* sink) { sink->OnClientChange(taken, IClientObjectMgrSink::kChangeLeave); });
}

void CServerSession::OnReceive(IOrvServerSession* server, IOrvID* client, COrvMessageBlock* frame)
{
    if (server == nullptr || client == nullptr || frame == nullptr) {
        return;
    }
    CRefPtr<IServerSession> self(this);
    CRefPtr<CClientObject> object = PeekAttached(client);
    if (!object) {
        PELLAX_LOG_FAIL(4, kCodeInvalid, "IOrvID GetOption is null");
        return;
    }
    CRefPtr<COrvMessageBlock> held(frame);
    MessageHeaderPtr header;
    int result = DecodeFrame(frame, &header, &object->GetSpareHeader());
    if (result != 0) {
        // A frame shorter than its header says must reach nobody: not the host, not a waiter.
        PELLAX_LOG_FAIL(4, kCodeInvalid, "[clientID=%d,result=%d]Decode frame failed, dropped.", object->GetClientID(),
                        result);
        return;
    }
    object->UpdateActiveTime();
    Dispatch(object, header, held);
    object->GetSpareHeader().Give(std::move(header));
}

void CServerSession::Dispatch(const CRefPtr<CClientObject>& client, const CRefPtr<CPellaxMessageHeader>& header,
                              const CRefPtr<COrvMessageBlock>& frame)
{
    uint32_t command = header->GetCommand();
    if (command == CPellaxMessageHeader::kCommandKeepalive) {
        OnHearbeat(client, header, frame.Get());
        return;
    }
    if (command == CPellaxMessageHeader::kCommandRegister) {
        OnRegister(client, header, frame.Get());
        return;
    }
    if (IsSyncResponse(command, header->GetSequence())) {
        DeliverResponse(header, frame.Get());
        return;
    }
    Notify([&](IClientObjectMgrSink* sink) { sink->OnReceive(client, header, frame); });
}

void CServerSession::DeliverResponse(const CRefPtr<CPellaxMessageHeader>& header, COrvMessageBlock* frame)
{
    CRefPtr<CMessageResponse> response(new (std::nothrow) CMessageResponse(header, CRefPtr<COrvMessageBlock>(frame)));
    CContextMgr* contexts = COrvSingletonT<CContextMgr>::Instance();
    if (response && contexts != nullptr) {
        contexts->QueryContext(response);
    }
}

void CServerSession::OnCanSendAgain(IOrvServerSession* server, IOrvID* client, uint32_t)
{
    if (server == nullptr || client == nullptr) {
        return;
    }
    CRefPtr<CClientObject> object = PeekAttached(client);
    if (!object) {
        PELLAX_LOG_FAIL(4, kCodeInvalid, "IOrvID GetOption is null");
        return;
    }
    PELLAX_LOG_INFO(3, "[clientID=%d]Recv can-send-again notify", static_cast<int>(client->GetID()));
    object->GetSendReady().Signal();
}

int CServerSession::Leave(uint32_t clientId)
{
    CRefPtr<CClientObject> client = TakeClient(clientId);
    if (!client) {
        PELLAX_LOG_FAIL(4, kCodeNoClient, "[session=%d]Cannot find clientSession handle.", static_cast<int>(clientId));
        return PELLAX_E_STATE;
    }
    CRefPtr<IOrvID> id = client->GetSession();
    if (m_session) {
        // The transport takes a disconnect from any thread: it stands in when the event cannot go.
        IOrvCustomizeEvent* event = new (std::nothrow) CRemoveUserEvent(m_session, id, 0);
        if (event == nullptr || !RunOnEventThread(event)) {
            m_session->Disconnect(id.Get(), 0);
        }
    }
    // A disconnect run here may already have reported the leave and cleared the option itself.
    Detach(id.Get(), client.Get());
    return 0;
}

}  // namespace PELLAX
}  // namespace ORV
