#include "client/ClientSession.h"

#include <cstring>
#include <new>

#include "client/TimerDelEvent.h"
#include "context/ContextMgr.h"
#include "frame/Log.h"
#include "frame/LogCodes.h"
#include "frame/SEQMgr.h"
#include "frame/Singleton.h"
#include "platform/OrvCleanupBase.h"
#include "protocol/ControlMessage.h"
#include "protocol/FrameCodec.h"

namespace ORV {
namespace PELLAX {

namespace {
constexpr uint32_t kRegisterKind = 0;
constexpr uint32_t kKeepaliveKind = 1;
constexpr int64_t kFirstTickSeconds = 1;

// What the timer sends before and after registration, and how its two build failures are logged.
struct TimerRequest {
    uint32_t command;
    const char* noHeader;
    const char* noBlock;
};
const TimerRequest kRegisterRequest{CPellaxMessageHeader::kCommandRegister,
                                    "Send Register failed, new CPellaxMessageHeader fail",
                                    "Send Register failed, new COrvMessageBlock fail"};
const TimerRequest kKeepaliveRequest{CPellaxMessageHeader::kCommandKeepalive,
                                     "Send Heartbeat failed, new CPellaxMessageHeader fail",
                                     "Send Heartbeat failed, new COrvMessageBlock fail"};

CContextMgr* Contexts()
{
    return COrvSingletonT<CContextMgr>::Instance();
}

void RemoveContext(uint32_t sequence)
{
    if (CContextMgr* contexts = Contexts()) {
        contexts->RemoveContext(sequence);
    }
}

// The body as the control reader sees it: text up to the body length, ending at a NUL if there is one.
std::string BodyText(const CPellaxMessageHeader& header, const COrvMessageBlock& frame)
{
    const char* body = reinterpret_cast<const char*>(frame.GetReadPtr());
    return std::string(body, strnlen(body, header.GetBodyLength()));
}
}  // namespace

CClientSession::CClientSession(uint32_t handle) : m_nLastRecvTick(ZOT_GetTimeTick64()), m_nHandle(handle) {}

CClientSession::~CClientSession() = default;

template <class Call>
bool CClientSession::Notify(Call call)
{
    std::lock_guard<std::recursive_mutex> guard(m_sinkLock);
    if (m_pSink == nullptr) {
        return false;
    }
    call(m_pSink);
    return true;
}

bool CClientSession::HasSink()
{
    std::lock_guard<std::recursive_mutex> guard(m_sinkLock);
    return m_pSink != nullptr;
}

int CClientSession::SetOption(uint32_t option)
{
    m_nOption = option;
    return 0;
}

int CClientSession::SetUserData(uint32_t kind, const char* text)
{
    if (kind != kRegisterKind && kind != kKeepaliveKind) {
        return PELLAX_E_INVALID;
    }
    ZOT_Guard guard(m_userDataLock);
    std::string& target = kind == kRegisterKind ? m_strRegisterUserData : m_strKeepaliveUserData;
    target = text != nullptr ? text : "";
    return 0;
}

void CClientSession::DetachSink()
{
    // Out of its slot the session reaches the host no more, as the front checks the slot. A host
    // thread also waits here for a notification in progress; a library thread must not, since that
    // notification's thread may be waiting for this one (two callbacks destroying each other's sessions).
    if (IOrvThreadManager::Instance()->GetCurrentThread() != nullptr) {
        return;
    }
    std::lock_guard<std::recursive_mutex> guard(m_sinkLock);
    m_pSink = nullptr;
}

int CClientSession::Open(IClientSessionSink* sink, const COrvInetAddress* server, const COrvTimeValue* timeout,
                         const COrvInetAddress* local)
{
    if (sink == nullptr) {
        return kResultNoSink;
    }
    if (server == nullptr || timeout == nullptr) {
        return PELLAX_E_INVALID;
    }
    if (m_bOpened.exchange(true)) {
        return PELLAX_E_STATE;
    }
    uint32_t type = (m_nOption & 1u) != 0 ? ORV_SESSION_TYPE_TCP_ALT : ORV_SESSION_TYPE_TCP;
    CRefPtr<IOrvClientSession> session;
    int result = IOrvSessionManager::Instance()->CreateClientSession(type, session);
    if (result != 0) {
        return result;
    }
    {
        std::lock_guard<std::recursive_mutex> guard(m_sinkLock);
        m_pSink = sink;
    }
    m_pSession = session;
    m_pTransport.store(session.Get(), std::memory_order_release);
    // Set before connecting: the join may be delivered before Connect returns.
    m_addrServer = *server;
    if (local != nullptr) {
        m_addrLocal = *local;
    }
    m_nLastRecvTick.store(ZOT_GetTimeTick64());
    result = session->Connect(this, *server, *timeout, local);
    if (result != 0) {
        DetachSink();
    }
    return result;
}

void CClientSession::Close(uint32_t reason)
{
    m_bClosed.store(true);
    IOrvClientSession* session = GetSession();
    if (session != nullptr) {
        session->Close(reason);
    }
}

int CClientSession::Finalize()
{
    int result = StopTimer();
    m_bRegistered.store(false);
    return result;
}

int CClientSession::SendBlock(COrvMessageBlock* block)
{
    IOrvClientSession* session = GetSession();
    if (session == nullptr) {
        return kResultNoTransport;
    }
    return session->Send(0, block);
}

int CClientSession::AsyncSend(CPellaxMessageHeader& header, const void* body, size_t length)
{
    if (length >= ORV_SPLIT_BODY_BYTES) {
        return SendSplit(header, body, length);
    }
    MessageBlockPtr frame;
    int result = EncodeFrame(&header, body, length, false, &frame, &m_spareFrame);
    if (result != 0) {
        return result;
    }
    result = SendBlock(frame.Get());
    // Written at once or copied into the transport's queue, the block is free for the next frame.
    KeepFrameBlock(std::move(frame), m_spareFrame);
    return result;
}

// A large body goes from the host's bytes when the socket takes it at once, sparing its copy.
int CClientSession::SendSplit(CPellaxMessageHeader& header, const void* body, size_t length)
{
    IOrvClientSession* session = GetSession();
    if (session == nullptr) {
        return kResultNoTransport;
    }
    MessageBlockPtr head;
    int result = EncodeFrameHead(&header, length, &head, &m_spareFrame);
    if (result != 0) {
        return result;
    }
    result = session->SendSplit(head.Get(), body, length);
    KeepFrameBlock(std::move(head), m_spareFrame);
    return result;
}

bool CClientSession::IsOwnThread() const
{
    IOrvThread* thread = m_pThread.load();
    return thread != nullptr && thread == IOrvThreadManager::Instance()->GetCurrentThread();
}

int CClientSession::SyncSend(CPellaxMessageHeader& header, const void* body, size_t length,
                             CRefPtr<CMessageResponse>& response, uint32_t timeoutSeconds)
{
    // The answer would arrive on this very thread, which is busy waiting for it.
    if (IsOwnThread()) {
        PELLAX_LOG_FAIL(4, kCodeInvalid, "[session=%u]SyncSend on the session's own thread.", m_nHandle);
        return kResultOwnThread;
    }
    CSEQMgr* sequences = COrvSingletonT<CSEQMgr>::Instance();
    uint32_t sequence = sequences != nullptr ? sequences->GenerateSequence(1) : CSEQMgr::kSyncBit;
    header.SetSequence(sequence);
    CRefPtr<CSyncContext> context(new (std::nothrow) CSyncContext(sequence));
    if (!context) {
        return PELLAX_E_STATE;
    }
    if (CContextMgr* contexts = Contexts()) {
        contexts->AddContext(context);
    }
    MessageBlockPtr frame;
    int result = EncodeFrame(&header, body, length, false, &frame);
    if (result != 0) {
        RemoveContext(sequence);
        return PELLAX_E_STATE;
    }
    result = SendBlock(frame.Get());
    if (result != 0) {
        RemoveContext(sequence);
        return result == kResultNoTransport ? kResultNoTransport : PELLAX_E_STATE;
    }
    if (context->Wait(timeoutSeconds) != 0) {
        RemoveContext(sequence);
        return PELLAX_E_STATE;
    }
    context->GetResponse(response);
    RemoveContext(sequence);
    return 0;
}

void CClientSession::OnJoin(IOrvClientSession*, uint32_t result)
{
    CRefPtr<CClientSession> self(this);
    if (result == 0) {
        m_pThread.store(IOrvThreadManager::Instance()->GetCurrentThread());
        result = static_cast<uint32_t>(StartTimer());
        m_bRegistered.store(false);
        if (result != 0) {
            PELLAX_LOG_FAIL(4, kCodeTimer, "[result=%d]schedule timer result", static_cast<int>(result));
            return;
        }
    }
    Notify([&](IClientSessionSink* sink) { sink->OnJoin(this, result); });
}

void CClientSession::OnLeave(IOrvClientSession*, uint32_t reason)
{
    CRefPtr<CClientSession> self(this);
    // Nothing more can be sent or heard on a connection that has left: the keepalives stop with it.
    m_bClosed.store(true);
    StopTimer();
    Notify([&](IClientSessionSink* sink) { sink->OnLeave(this, reason); });
}

void CClientSession::OnCanSendAgain(IOrvClientSession*, uint32_t value)
{
    CRefPtr<CClientSession> self(this);
    if (!Notify([&](IClientSessionSink* sink) { sink->OnCanSendAgain(this, value); })) {
        PELLAX_LOG_FAIL(4, kCodeInvalid, "m_pSink is null");
    }
}

void CClientSession::OnReceive(IOrvClientSession*, COrvMessageBlock* frame)
{
    CRefPtr<CClientSession> self(this);
    if (!HasSink()) {
        PELLAX_LOG_FAIL(4, kCodeInvalid, "m_pSink is null");
        return;
    }
    if (frame == nullptr) {
        return;
    }
    m_nLastRecvTick.store(ZOT_GetCoarseTimeTick64());
    MessageHeaderPtr header;
    int decoded = DecodeFrame(frame, &header, &m_spareHeader);
    if (decoded == CPellaxMessageHeader::kShortFrame) {
        // Never hand on what the frame does not hold: neither the host nor a waiting call sees it.
        PELLAX_LOG_FAIL(4, kCodeInvalid, "[result=%d,len=%zu]short frame dropped", decoded, frame->GetLength());
    }
    if (decoded != 0) {
        return;
    }
    uint32_t command = header->GetCommand();
    bool isRegister = command == CPellaxMessageHeader::kCommandRegisterResponse;
    if (!isRegister && command != CPellaxMessageHeader::kCommandKeepaliveResponse) {
        OnDataFrame(header, frame);
        m_spareHeader.Give(std::move(header));
        return;
    }
    std::string text = BodyText(*header, *frame);
    ControlResponseData data;
    ControlReadResult read = ReadData(text.data(), text.size(), &data);
    if (read == ControlReadResult::kParseError) {
        PELLAX_LOG_FAIL(5, kCodeParse, "[rsp=%s]parse json failed", text.c_str());
        return;
    }
    if (read == ControlReadResult::kNoMemory) {
        return;
    }
    // Below 1 the timer would spin or silence would be declared at once: such values are ignored.
    if (isRegister && data.bHasKeepaliveInterval && data.nKeepaliveInterval >= 1) {
        m_nKeepaliveInterval.store(data.nKeepaliveInterval);
        StartTimer();
        PELLAX_LOG_INFO(3, "[interval=%d]keepalive info", data.nKeepaliveInterval);
    }
    if (isRegister && data.bHasKeepaliveTimeout && data.nKeepaliveTimeout >= 1) {
        m_nKeepaliveTimeout.store(static_cast<uint64_t>(data.nKeepaliveTimeout) * 1000u);
        PELLAX_LOG_INFO(3, "[timeout=%ld]keepalive info", static_cast<long>(m_nKeepaliveTimeout.load()));
    }
    if (read == ControlReadResult::kNotObject) {
        if (isRegister) {
            PELLAX_LOG_FAIL(5, kCodeInvalid, "register data is not object");
        } else {
            PELLAX_LOG_FAIL(5, kCodeInvalid, "heartbeat data is not object");
        }
        return;
    }
    OnControlData(isRegister, header, data.strData);
}

void CClientSession::OnDataFrame(const MessageHeaderPtr& header, COrvMessageBlock* frame)
{
    if (!IsSyncResponse(header->GetCommand(), header->GetSequence())) {
        Notify([&](IClientSessionSink* sink) { sink->OnReceive(this, header, frame); });
        return;
    }
    CRefPtr<CMessageResponse> response(new (std::nothrow) CMessageResponse(header, MessageBlockPtr(frame)));
    CContextMgr* contexts = Contexts();
    if (response && contexts != nullptr) {
        contexts->QueryContext(response);
    }
}

void CClientSession::OnControlData(bool isRegister, const MessageHeaderPtr& header, const std::string& json)
{
    // The NUL stays behind the held bytes, for hosts that read the text as a C string.
    MessageBlockPtr block = COrvMessageBlock::Create(json.c_str(), json.size() + 1);
    if (!block || block->SetWritePos(json.size()) != 0) {
        return;
    }
    m_nLastRecvTick.store(ZOT_GetTimeTick64());
    m_bRegistered.store(true);
    Notify([&](IClientSessionSink* sink) {
        if (isRegister) {
            sink->OnRegister(this, header, block.Get());
        } else {
            sink->OnHeartbeat(this, header, block.Get());
        }
    });
}

int CClientSession::StartTimer()
{
    StopTimer();
    std::unique_ptr<COrvTimer> timer(new (std::nothrow) COrvTimer);
    if (!timer) {
        return PELLAX_E_STATE;
    }
    COrvTimeValue period(m_nKeepaliveInterval.load(), 0);
    int result = timer->Schedule(this, period, COrvTimeValue(kFirstTickSeconds, 0), -1);
    if (result != 0) {
        return result;
    }
    ZOT_Guard guard(m_timerLock);
    m_pTimer = std::move(timer);
    return 0;
}

int CClientSession::StopTimer()
{
    std::unique_ptr<COrvTimer> stopped;
    ZOT_Guard guard(m_timerLock);
    if (!m_pTimer) {
        return kResultNotStarted;
    }
    IOrvThread* thread = m_pThread.load();
    if (thread == nullptr) {
        return 0;
    }
    if (thread == IOrvThreadManager::Instance()->GetCurrentThread()) {
        stopped = std::move(m_pTimer);
        stopped->Cancel();
        return 0;
    }
    // A timer is cancelled only on its own thread; the event keeps this session alive until then.
    std::unique_ptr<CTimerDelEvent> event(new (std::nothrow) CTimerDelEvent(nullptr, this));
    if (!event) {
        return 0;
    }
    event->SetTimer(std::move(m_pTimer));
    if (thread->PostEvent(event.get()) != 0) {
        m_pTimer = event->TakeTimer();
        return 0;
    }
    event.release();
    return 0;
}

void CClientSession::OnTimer(COrvTimer*)
{
    if (m_bClosed.load()) {
        return;
    }
    CRefPtr<CClientSession> self(this);
    bool registered = m_bRegistered.load();
    const TimerRequest& request = registered ? kKeepaliveRequest : kRegisterRequest;
    CSEQMgr* sequences = COrvSingletonT<CSEQMgr>::Instance();
    uint32_t sequence = sequences != nullptr ? sequences->GenerateSequence(0) : 0;
    MessageBlockPtr frame;
    ControlFrameResult built = BuildControlFrame(request.command, sequence, BuildControlBody(registered), &frame);
    if (built != ControlFrameResult::kBuilt) {
        const char* line = built == ControlFrameResult::kNoHeader ? request.noHeader : request.noBlock;
        PELLAX_LOG_FAIL(5, kCodeNoMemory, "%s", line);
        return;
    }
    int result = SendBlock(frame.Get());
    if (result != 0 && !registered) {
        PELLAX_LOG_FAIL(4, kCodeSend, "Send Heartbeat failed");
        return;
    }
    if (result != 0) {
        PELLAX_LOG_FAIL(4, kCodeSend, "[time=%d,object=%x]Send Heartbeat failed", static_cast<int>(ZOT_GetTimeTick()),
                        static_cast<unsigned int>(reinterpret_cast<uintptr_t>(this)));
        return;
    }
    if (!registered || !IsSilent()) {
        return;
    }
    if (StopTimer() != kResultNotStarted) {
        PELLAX_LOG_INFO(3, "Long time no get heartbeat from server.");
    }
    std::lock_guard<std::recursive_mutex> guard(m_sinkLock);
    if (m_pSink != nullptr) {
        PELLAX_LOG_INFO(3, "OnHeartBeatTimeOut.");
        m_pSink->OnHeartBeatTimeOut(this);
    }
}

std::string CClientSession::BuildControlBody(bool registered)
{
    uint32_t pid = OS::GetProcessID();
    ZOT_Guard guard(m_userDataLock);
    return registered ? BuildKeepaliveRequest(pid, m_strKeepaliveUserData)
                      : BuildRegisterRequest(pid, m_strRegisterUserData);
}

bool CClientSession::IsSilent() const
{
    // Last before now: a frame stamped in between must not make the difference wrap.
    uint64_t last = m_nLastRecvTick.load();
    uint64_t now = ZOT_GetTimeTick64();
    return now > last && now - last > 2 * m_nKeepaliveTimeout.load();
}

}  // namespace PELLAX
}  // namespace ORV
