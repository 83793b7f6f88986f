#include "client/Client.h"

#include <cstring>
#include <new>
#include <rapidjson/document.h>
#include <vector>

#include "client/ClientMessage.h"
#include "client/ClientSession.h"
#include "crypto/PayloadCipher.h"
#include "frame/Log.h"
#include "frame/LogCodes.h"
#include "protocol/FrameCodec.h"
#include "frame/ResultCodes.h"

namespace ORV {
namespace PELLAX {

namespace {
constexpr uint32_t kControlMarker = 0xFFFFFFFFu;
constexpr int kSlotsFull = -1;
constexpr int kSlotNoMemory = -2;

// Reads "connect-timeout" when the options hold it as an integer; false when they are not JSON.
bool ReadConnectTimeout(const char* options, int64_t* seconds)
{
    *seconds = CClient::kDefaultConnectTimeout;
    if (options == nullptr) {
        return true;
    }
    rapidjson::Document document;
    // Iterative: options nested deeper than the stack allows are refused rather than crashing the host.
    document.Parse<rapidjson::kParseIterativeFlag>(options);
    if (document.HasParseError()) {
        return false;
    }
    if (!document.IsObject()) {
        return true;
    }
    auto member = document.FindMember("connect-timeout");
    if (member != document.MemberEnd() && member->value.IsInt()) {
        *seconds = member->value.GetInt();
    }
    return true;
}

bool IsValidRequest(const PELLAX_Message* request)
{
    return request != nullptr && request->dataLength >= 0;
}
}  // namespace

CClient::~CClient()
{
    for (CRefPtr<IClientSession>& session : m_sessions) {
        if (session) {
            session->DetachSink();
        }
    }
}

int CClient::SetNotifyCallBack(PELLAX_NotifyCallBack callback, void* user)
{
    m_pUser.store(user);
    m_pfnNotify.store(callback);
    return 0;
}

int CClient::FillFreeSlot(CRefPtr<IClientSession>* created)
{
    for (uint32_t index = 0; index < kMaxSessions; ++index) {
        ZOT_Guard guard(m_locks[index]);
        if (m_sessions[index]) {
            continue;
        }
        m_sessions[index] = new (std::nothrow) CClientSession(index);
        *created = m_sessions[index];
        return *created ? static_cast<int>(index) : kSlotNoMemory;
    }
    return kSlotsFull;
}

CRefPtr<IClientSession> CClient::GetSlot(uint32_t handle)
{
    ZOT_Guard guard(m_locks[handle]);
    return m_sessions[handle];
}

CRefPtr<IClientSession> CClient::TakeSlot(uint32_t handle)
{
    ZOT_Guard guard(m_locks[handle]);
    return std::move(m_sessions[handle]);
}

void CClient::ReleaseSlot(uint32_t handle, IClientSession* session)
{
    ZOT_Guard guard(m_locks[handle]);
    if (m_sessions[handle].Get() == session) {
        m_sessions[handle].Reset();
    }
}

int CClient::CreateSessionClient(const char* address, int port, const char* options)
{
    CRefPtr<IClientSession> session;
    int index = FillFreeSlot(&session);
    if (index == kSlotsFull) {
        PELLAX_LOG_FAIL(4, kCodeFull, "ClientSession exceeds max num.");
        return PELLAX_E_NO_RESOURCE;
    }
    if (index < 0) {
        PELLAX_LOG_FAIL(5, kCodeNoMemory, "new ClientSession failed.");
        return PELLAX_E_NO_RESOURCE;
    }
    uint32_t handle = static_cast<uint32_t>(index);

    int64_t connectTimeout = 0;
    if (!ReadConnectTimeout(options, &connectTimeout)) {
        PELLAX_LOG_FAIL(5, kCodeParse, "[rsp=%s]parse json failed", options);
        ReleaseSlot(handle, session.Get());
        return PELLAX_E_INVALID;
    }
    COrvInetAddress server(address, static_cast<uint16_t>(port));
    COrvTimeValue timeout(connectTimeout, 0);
    session->SetOption(0);
    if (session->Open(this, &server, &timeout, nullptr) != 0) {
        session->Finalize();
        ReleaseSlot(handle, session.Get());
        PELLAX_LOG_FAIL(5, kCodeOpen, "Init ClientSession failed.");
        return PELLAX_E_STATE;
    }
    return index;
}

int CClient::SetUserData(uint32_t handle, uint32_t kind, const char* text)
{
    if (handle >= kMaxSessions) {
        return PELLAX_E_INVALID;
    }
    CRefPtr<IClientSession> session = GetSlot(handle);
    if (!session) {
        PELLAX_LOG_FAIL(4, kCodeInvalid, "[session=%d]Session handle is invalid", static_cast<int>(handle));
        return PELLAX_E_INVALID;
    }
    return session->SetUserData(kind, text);
}

int CClient::DestroySessionClient(uint32_t handle)
{
    if (handle >= kMaxSessions) {
        return PELLAX_E_INVALID;
    }
    CRefPtr<IClientSession> session = TakeSlot(handle);
    if (!session) {
        PELLAX_LOG_FAIL(4, kCodeNoSession, "[session=%d]Session handle is invalid", static_cast<int>(handle));
        return PELLAX_E_INVALID;
    }
    // Detached once out of the slot: a notification in flight finishes first, and none of this
    // session reaches the host any more (HoldsSlot is false already).
    session->DetachSink();
    session->Close(0);
    session->Finalize();
    return 0;
}

int CClient::Send(uint32_t handle, const PELLAX_Message* request)
{
    if (!IsValidRequest(request) || request->data == nullptr) {
        return PELLAX_E_INVALID;
    }
    if (handle >= kMaxSessions) {
        return PELLAX_E_INVALID;
    }
    CRefPtr<IClientSession> session = GetSlot(handle);
    if (!session) {
        PELLAX_LOG_FAIL(4, kCodeInvalid, "[session=%d]Session handle is invalid", static_cast<int>(handle));
        return PELLAX_E_INVALID;
    }
    CPellaxMessageHeader header;
    int result = FillMessageHeader(*request, &header);
    if (result != 0) {
        return result;
    }
    result = session->AsyncSend(header, request->data, static_cast<size_t>(request->dataLength));
    if (result != 0) {
        PELLAX_LOG_FAIL(4, kCodeSend, "[ret=%d,len=%d]Senddata failed.", result, request->dataLength);
        return PELLAX_E_NOT_DELIVERED;
    }
    return 0;
}

int CClient::SyncSend(uint32_t handle, const PELLAX_Message* request, PELLAX_Message* response,
                      uint32_t timeoutSeconds)
{
    if (!IsValidRequest(request) || response == nullptr || (request->data == nullptr && request->dataLength != 0)) {
        return PELLAX_E_INVALID;
    }
    if (handle >= kMaxSessions) {
        return PELLAX_E_INVALID;
    }
    CRefPtr<IClientSession> session = GetSlot(handle);
    if (!session) {
        PELLAX_LOG_FAIL(4, kCodeNoSession, "[session=%d]ServerSession has not been created!", static_cast<int>(handle));
        return PELLAX_E_INVALID;
    }
    CPellaxMessageHeader header;
    int result = FillMessageHeader(*request, &header);
    if (result != 0) {
        return result;
    }
    CRefPtr<CMessageResponse> answer;
    if (session->SyncSend(header, request->data, static_cast<size_t>(request->dataLength), answer, timeoutSeconds) !=
        0) {
        PELLAX_LOG_FAIL(4, kCodeSend, "[session=%d,len=%d]Send Failed. ClientSession", static_cast<int>(handle),
                        request->dataLength);
        return PELLAX_E_NOT_DELIVERED;
    }
    if (!answer || !answer->GetHeader()) {
        return PELLAX_E_NOT_DELIVERED;
    }
    return FillResponseRecord(request->sequence, *answer, response);
}

int CClient::GetDataKey(char* key, int length)
{
    if (key == nullptr || length < 0) {
        return PELLAX_E_INVALID;
    }
    return CPayloadCipher::GetDataKey(key, length);
}

int CClient::Encrypt(const unsigned char* key, int keyLength, const unsigned char* data, int dataLength, char* out,
                     int* outLength)
{
    if (key == nullptr || data == nullptr || out == nullptr || outLength == nullptr || keyLength < 0 ||
        dataLength < 0 || *outLength < 0) {
        return PELLAX_E_INVALID;
    }
    return CPayloadCipher::Encrypt(key, keyLength, data, dataLength, out, outLength);
}

int CClient::Decrypt(const unsigned char* key, int keyLength, const char* text, int textLength, unsigned char* out,
                     int* outLength)
{
    if (key == nullptr || text == nullptr || out == nullptr || outLength == nullptr || keyLength < 0 ||
        textLength < 0 || *outLength < 0) {
        return PELLAX_E_INVALID;
    }
    return CPayloadCipher::Decrypt(key, keyLength, text, textLength, out, outLength);
}

bool CClient::HoldsSlot(IClientSession* session)
{
    uint32_t handle = session->GetHandle();
    if (handle >= kMaxSessions) {
        return false;
    }
    ZOT_Guard guard(m_locks[handle]);
    return m_sessions[handle].Get() == session;
}

PELLAX_NotifyCallBack CClient::CallbackFor(IClientSession* session)
{
    if (session == nullptr) {
        return nullptr;
    }
    PELLAX_NotifyCallBack callback = m_pfnNotify.load();
    if (callback == nullptr || !HoldsSlot(session)) {
        return nullptr;
    }
    return callback;
}

void CClient::OnJoin(IClientSession* session, uint32_t result)
{
    PELLAX_NotifyCallBack callback = CallbackFor(session);
    if (callback == nullptr) {
        return;
    }
    int handle = static_cast<int>(session->GetHandle());
    if (result == 0) {
        PELLAX_LOG_INFO(3, "[clientID=%d]Client join Session success.", handle);
    } else {
        PELLAX_LOG_INFO(3, "[clientID=%d]Client join Session failed.", handle);
    }
    callback(session->GetHandle(), result == 0 ? kEventJoined : kEventJoinFailed, nullptr, m_pUser.load());
}

void CClient::OnLeave(IClientSession* session, uint32_t)
{
    if (session == nullptr || !HoldsSlot(session)) {
        return;
    }
    PELLAX_LOG_INFO(3, "[clientID=%d]Client Leave Session", static_cast<int>(session->GetHandle()));
    PELLAX_NotifyCallBack callback = CallbackFor(session);
    if (callback != nullptr) {
        callback(session->GetHandle(), kEventLeft, nullptr, m_pUser.load());
    }
}

void CClient::OnReceive(IClientSession* session, const MessageHeaderPtr& header, COrvMessageBlock* block)
{
    PELLAX_NotifyCallBack callback = CallbackFor(session);
    if (callback == nullptr || !header || block == nullptr) {
        return;
    }
    PELLAX_Message record;
    std::vector<PELLAX_MessageExt> nodes;
    if (!FillNotifyRecord(*header, block, nodes, &record)) {
        return;
    }
    callback(session->GetHandle(), kEventData, &record, m_pUser.load());
}

void CClient::OnCanSendAgain(IClientSession*, uint32_t) {}

void CClient::OnHeartBeatTimeOut(IClientSession* session)
{
    PELLAX_NotifyCallBack callback = CallbackFor(session);
    if (callback != nullptr) {
        callback(session->GetHandle(), kEventSilent, nullptr, m_pUser.load());
    }
}

void CClient::OnHeartbeat(IClientSession* session, const MessageHeaderPtr& header, COrvMessageBlock* block)
{
    if (header && block != nullptr) {
        NotifyControl(session, kEventKeepalive, *header, block);
    }
}

void CClient::OnRegister(IClientSession* session, const MessageHeaderPtr& header, COrvMessageBlock* block)
{
    if (header && block != nullptr) {
        NotifyControl(session, kEventRegistered, *header, block);
    }
}

void CClient::NotifyControl(IClientSession* session, uint32_t event, const CPellaxMessageHeader& header,
                            COrvMessageBlock* block)
{
    PELLAX_NotifyCallBack callback = CallbackFor(session);
    if (callback == nullptr) {
        return;
    }
    PELLAX_Message record;
    std::memset(&record, 0, sizeof(record));
    record.command = kControlMarker;
    record.sequence = kControlMarker;
    record.timestamp = header.GetTimestamp();
    record.dataLength = static_cast<int32_t>(block->GetLength());
    // The block holds the "data" text followed by a NUL, so hosts may read it as a C string too.
    record.data = const_cast<unsigned char*>(block->GetReadPtr());
    callback(session->GetHandle(), event, &record, m_pUser.load());
}

}  // namespace PELLAX
}  // namespace ORV
