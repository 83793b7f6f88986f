// Register and Keepalive answers, and the heartbeat scan that drops silent clients.
#include <new>
#include <string>

#include "frame/Log.h"
#include "frame/LogCodes.h"
#include "platform/OrvCleanupBase.h"
#include "protocol/ControlMessage.h"
#include "protocol/FrameCodec.h"
#include "server/HeartbeatTimerDelEvent.h"
#include "server/ServerSession.h"
#include "frame/ResultCodes.h"

namespace ORV {
namespace PELLAX {

namespace {

std::string BodyText(COrvMessageBlock* body, uint32_t length)
{
    return std::string(reinterpret_cast<const char*>(body->GetReadPtr()), length);
}
}

void CServerSession::OnRegister(const CRefPtr<CClientObject>& client, const CRefPtr<CPellaxMessageHeader>& header,
                                COrvMessageBlock* body)
{
    if (!HasSink()) {
        PELLAX_LOG_FAIL(4, kCodeInvalid, "pSink is null");
        return;
    }
    // Registration is never refused: the answer goes out before the request is even read.
    std::string answer = BuildRegisterResponse(OS::GetProcessID(), m_keepaliveInterval, m_keepaliveTimeout,
                                               client->GetUserData(CClientObject::kRegisterUserData));
    MessageBlockPtr frame;
    ControlFrameResult built =
        BuildControlFrame(CPellaxMessageHeader::kCommandRegisterResponse, header->GetSequence(), answer, &frame);
    if (built == ControlFrameResult::kNoHeader) {
        PELLAX_LOG_FAIL(5, kCodeNoMemory, "Send Register failed, new CPellaxMessageHeader fail");
        return;
    }
    if (built == ControlFrameResult::kNoBlock) {
        PELLAX_LOG_FAIL(5, kCodeNoMemory, "Send Register failed, new COrvMessageBlock fail");
        return;
    }
    if (SendFrame(client, frame.Get()) != 0) {
        PELLAX_LOG_FAIL(4, kCodeSend, "Send Register Response failed");
        return;
    }
    std::string params;
    ControlReadResult result = ReadParams(body->GetReadPtr(), header->GetBodyLength(), &params);
    if (result == ControlReadResult::kParseError) {
        PELLAX_LOG_FAIL(5, kCodeParse, "[rsp=%s]parse json failed", BodyText(body, header->GetBodyLength()).c_str());
        return;
    }
    if (result == ControlReadResult::kNotObject) {
        PELLAX_LOG_FAIL(5, kCodeInvalid, "[message=%s]not found params",
                        BodyText(body, header->GetBodyLength()).c_str());
        return;
    }
    MessageBlockPtr block = result == ControlReadResult::kOk ? COrvMessageBlock::Create(params.data(), params.size())
                                                             : MessageBlockPtr();
    if (block) {
        Notify([&](IClientObjectMgrSink* sink) { sink->OnRegister(client, header, block); });
    }
}

void CServerSession::OnHearbeat(const CRefPtr<CClientObject>& client, const CRefPtr<CPellaxMessageHeader>& header,
                                COrvMessageBlock* body)
{
    if (!HasSink()) {
        PELLAX_LOG_FAIL(4, kCodeInvalid, "pSink is null");
        return;
    }
    std::string params;
    ControlReadResult result = ReadParams(body->GetReadPtr(), header->GetBodyLength(), &params);
    if (result == ControlReadResult::kNoMemory) {
        return;
    }
    if (result == ControlReadResult::kParseError) {
        PELLAX_LOG_FAIL(5, kCodeParse, "[rsp=%s]parse json failed", BodyText(body, header->GetBodyLength()).c_str());
        return;
    }
    if (result == ControlReadResult::kOk) {
        MessageBlockPtr block = COrvMessageBlock::Create(params.data(), params.size());
        client->UpdateActiveTime();
        if (block) {
            Notify([&](IClientObjectMgrSink* sink) { sink->OnHeartbeat(client, header, block); });
        }
    }
    std::string answer =
        BuildKeepaliveResponse(OS::GetProcessID(), client->GetUserData(CClientObject::kKeepaliveUserData));
    MessageBlockPtr frame;
    ControlFrameResult built =
        BuildControlFrame(CPellaxMessageHeader::kCommandKeepaliveResponse, header->GetSequence(), answer, &frame);
    if (built == ControlFrameResult::kNoHeader) {
        PELLAX_LOG_FAIL(5, kCodeNoMemory, "Send Heartbeat failed, new CPellaxMessageHeader fail");
        return;
    }
    if (built == ControlFrameResult::kNoBlock) {
        PELLAX_LOG_FAIL(5, kCodeSend, "Send Heartbeat failed, new COrvMessageBlock fail");
        return;
    }
    if (SendFrame(client, frame.Get()) != 0) {
        PELLAX_LOG_FAIL(4, kCodeSend, "Send Heartbeat failed");
    }
}

void CServerSession::OnTimer(COrvTimer*)
{
    CRefPtr<IServerSession> self(this);
    std::map<int32_t, CRefPtr<CClientObject>> clients;
    {
        ZOT_Guard guard(m_clientsMutex);
        if (m_clients.empty()) {
            return;
        }
        clients = m_clients;
    }
    uint64_t now = ZOT_GetTimeTick64();
    if (!HasSink()) {
        return;
    }
    for (const auto& entry : clients) {
        uint64_t lastActive = entry.second->GetActiveTime();
        if (lastActive > now || now - lastActive <= 2 * m_keepaliveTimeoutMs) {
            continue;
        }
        if (Leave(static_cast<uint32_t>(entry.first)) == 0) {
            Notify([&](IClientObjectMgrSink* sink) { sink->OnHeartBeatTimeOut(entry.second); });
        }
    }
}

int CServerSession::StartHeartbeatTimer()
{
    m_heartbeatTimer.reset();
    std::unique_ptr<COrvTimer> timer(new (std::nothrow) COrvTimer);
    if (!timer) {
        return PELLAX_E_NO_RESOURCE;
    }
    int result = timer->Schedule(this, COrvTimeValue(m_keepaliveInterval, 0), COrvTimeValue(1, 0), -1);
    if (result != 0) {
        return result;
    }
    m_heartbeatTimer = std::move(timer);
    return 0;
}

int CServerSession::StopHeartbeatTimer()
{
    std::unique_ptr<COrvTimer> timer;
    {
        ZOT_Guard guard(m_timerMutex);
        timer = std::move(m_heartbeatTimer);
    }
    if (!timer) {
        return kResultNotStarted;
    }
    if (IsOnEventThread()) {
        timer->Cancel();
        return 0;
    }
    // Silenced here first (this waits for a scan in progress): a tick queued before the deleting
    // event runs must not reach a session that may be gone by then. If the event cannot be posted
    // the timer is deleted here, which the runtime allows from any thread.
    timer->Cancel();
    IOrvThread* thread = m_eventThread.load();
    IOrvCustomizeEvent* event = new (std::nothrow) CHeartbeatTimerDelEvent(std::move(timer));
    if (event != nullptr && (thread == nullptr || thread->PostEvent(event) != 0)) {
        delete event;
    }
    return 0;
}

}  // namespace PELLAX
}  // namespace ORV
