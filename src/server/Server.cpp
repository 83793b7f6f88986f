#include "server/Server.h"

#include <new>
#include <rapidjson/document.h>

#include "frame/Log.h"
#include "frame/LogCodes.h"
#include "server/ServerSession.h"
#include "frame/ResultCodes.h"

namespace ORV {
namespace PELLAX {

namespace {

// A keepalive setting is used only when it is a JSON integer of at least 1 second: an interval of
// 0 would spin the heartbeat timer and a time-out below 1 would drop every client at once.
int32_t ReadKeepaliveOption(const rapidjson::Value& options, const char* key, int32_t fallback)
{
    if (!options.IsObject()) {
        return fallback;
    }
    auto member = options.FindMember(key);
    if (member == options.MemberEnd() || !member->value.IsInt() || member->value.GetInt() < 1) {
        return fallback;
    }
    return member->value.GetInt();
}
}  // namespace

CServer::~CServer()
{
    m_pServerSession.Reset();
    m_pfnNotify.store(nullptr);
    m_pUser.store(nullptr);
}

int CServer::SetNotifyCallBack(PELLAX_NotifyCallBack callback, void* user)
{
    m_pfnNotify.store(callback);
    m_pUser.store(user);
    return 0;
}

int CServer::CreateSessionServer(const char* address, int port, const char* options)
{
    CRefPtr<IServerSession> session;
    {
        CWriteGuard guard(m_rwLock, 0);
        if (m_pServerSession) {
            PELLAX_LOG_FAIL(4, kCodeExists, "serverSession has been created");
            return PELLAX_E_STATE;
        }
        session = new (std::nothrow) CServerSession;
        if (!session) {
            PELLAX_LOG_FAIL(5, kCodeNoMemory, "New ServerSession Failed!");
            return PELLAX_E_STATE;
        }
        m_pServerSession = session;
    }
    int32_t interval = kDefaultKeepaliveInterval;
    int32_t timeout = kDefaultKeepaliveTimeout;
    if (options != nullptr) {
        rapidjson::Document document;
        // Iterative parsing accepts the same texts without recursing on deeply nested input.
        document.Parse<rapidjson::kParseIterativeFlag>(options);
        if (document.HasParseError()) {
            PELLAX_LOG_FAIL(5, kCodeParse, "[rsp=%s]parse json failed", options);
            DropSession(session);
            return PELLAX_E_INVALID;
        }
        interval = ReadKeepaliveOption(document, "keepalive-interval", interval);
        timeout = ReadKeepaliveOption(document, "keepalive-timeout", timeout);
    }
    if (session->Initialize(interval, timeout, 0) == 0) {
        COrvInetAddress listen(address, static_cast<uint16_t>(port));
        if (session->Open(this, listen) == 0) {
            if (IsCurrent(session)) {
                PELLAX_LOG_INFO(3, "init ServerSession succ.");
                return 0;
            }
            // Destroyed from another thread while opening: nothing of it may stay listening.
            session->Close();
        }
        session->Finalize();
    }
    PELLAX_LOG_FAIL(5, kCodeOpen, "init ServerSession failed.");
    DropSession(session);
    return PELLAX_E_STATE;
}

bool CServer::IsCurrent(const CRefPtr<IServerSession>& session)
{
    CReadGuard guard(m_rwLock, 0);
    return m_pServerSession.Get() == session.Get();
}

void CServer::DropSession(const CRefPtr<IServerSession>& session)
{
    CRefPtr<IServerSession> kept;
    CWriteGuard guard(m_rwLock, 0);
    if (m_pServerSession.Get() == session.Get()) {
        kept = std::move(m_pServerSession);
    }
}

int CServer::DestroySessionServer()
{
    CRefPtr<IServerSession> session;
    {
        CWriteGuard guard(m_rwLock, 0);
        if (!m_pServerSession) {
            PELLAX_LOG_FAIL(4, kCodeNoSession, "ServerSession has not been created!");
            return PELLAX_E_STATE;
        }
        session = std::move(m_pServerSession);
    }
    session->Close();
    session->Finalize();
    return 0;
}

CRefPtr<IServerSession> CServer::GetSession(const char* caller, int line, uint32_t clientId)
{
    CRefPtr<IServerSession> session;
    {
        CReadGuard guard(m_rwLock, 0);
        session = m_pServerSession;
    }
    if (!session) {
        WriteLog(4, "PELLAX", "[%s::%s(%d)] [0x%08x] - [session=%d]ServerSession has not been created!", kLogScope,
                 caller, line, kCodeNoSession, static_cast<int>(clientId));
    }
    return session;
}

int CServer::Leave(uint32_t clientId)
{
    CRefPtr<IServerSession> session;
    {
        CWriteGuard guard(m_rwLock, 0);
        session = m_pServerSession;
    }
    if (!session) {
        PELLAX_LOG_FAIL(4, kCodeNoSession, "[session=%d]ServerSession has not been created!", static_cast<int>(clientId));
        return PELLAX_E_STATE;
    }
    return session->Leave(clientId);
}

int CServer::Send(uint32_t clientId, PELLAX_Message* message)
{
    if (message == nullptr || message->data == nullptr) {
        return PELLAX_E_INVALID;
    }
    CRefPtr<IServerSession> session = GetSession(__func__, __LINE__, clientId);
    return session ? session->AsyncSend(clientId, message) : PELLAX_E_STATE;
}

int CServer::SyncSend(uint32_t clientId, PELLAX_Message* request, PELLAX_Message* response, uint32_t timeout)
{
    if (request == nullptr || request->data == nullptr || response == nullptr) {
        return PELLAX_E_INVALID;
    }
    // The shared lock is gone before the wait: a long call blocks neither sends nor a destroy.
    CRefPtr<IServerSession> session = GetSession(__func__, __LINE__, clientId);
    return session ? session->SyncSend(clientId, request, response, timeout) : PELLAX_E_STATE;
}

int CServer::SetUserData(uint32_t clientId, uint32_t type, const char* text)
{
    CRefPtr<IServerSession> session = GetSession(__func__, __LINE__, clientId);
    return session ? session->SetUserData(clientId, type, text) : PELLAX_E_STATE;
}

uint16_t CServer::GetListenPort()
{
    CReadGuard guard(m_rwLock, 0);
    return m_pServerSession ? m_pServerSession->GetListenPort() : 0;
}

}  // namespace PELLAX
}  // namespace ORV
