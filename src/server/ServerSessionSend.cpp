// Frames from the host to one client: asynchronous, synchronous, and the per-client user data.
#include <cstring>
#include <new>

#include "context/ContextMgr.h"
#include "context/SyncContext.h"
#include "frame/Log.h"
#include "frame/LogCodes.h"
#include "frame/SEQMgr.h"
#include "frame/Singleton.h"
#include "platform/Trace.h"
#include "protocol/FrameCodec.h"
#include "server/ServerSession.h"
#include "frame/ResultCodes.h"

namespace ORV {
namespace PELLAX {

namespace {

// The body of a host message, encoded straight behind its header: no copy of its own on the way.
size_t BodyLength(const PELLAX_Message& message)
{
    return static_cast<size_t>(message.dataLength);
}

// The response record from the answer; the sequence stays the one the host put into its request.
int FillResponse(const PELLAX_Message& request, const CMessageResponse& answer, PELLAX_Message* response)
{
    const CPellaxMessageHeader& header = *answer.GetHeader();
    uint32_t length = header.GetBodyLength();
    response->sequence = request.sequence;
    response->dataLength = static_cast<int32_t>(length);
    response->command = header.GetCommand();
    response->timestamp = header.GetTimestamp();
    response->flag = header.GetFlag();
    response->data = nullptr;
    // An empty answer has no data to hand over: the allocator is not asked for zero bytes.
    if (length == 0) {
        return 0;
    }
    unsigned char* data = response->allocator != nullptr
                              ? static_cast<unsigned char*>(response->allocator(length))
                              : new (std::nothrow) unsigned char[length];
    response->data = data;
    if (data == nullptr) {
        return PELLAX_E_NO_RESOURCE;
    }
    std::memcpy(data, answer.GetBody()->GetReadPtr(), length);
    return 0;
}
}  // namespace

int CServerSession::SendFrame(const CRefPtr<CClientObject>& client, COrvMessageBlock* frame)
{
    if (frame == nullptr || !client) {
        return PELLAX_E_INVALID;
    }
    if (m_state.load() != kStateOpen) {
        return kResultNotOpen;
    }
    CRefPtr<IOrvID> id = client->GetSession();
    int result = m_session->Send(id.Get(), frame);
    if (result != 0) {
        client->GetSendReady().Reset();
    }
    return result;
}

int CServerSession::AsyncSend(uint32_t clientId, const PELLAX_Message* message)
{
    CRefPtr<CClientObject> client = FindClient(clientId);
    if (!client) {
        PELLAX_LOG_FAIL(4, kCodeNoClient, "[session=%d]Cannot find clientSession handle.", static_cast<int>(clientId));
        return PELLAX_E_INVALID;
    }
    CPellaxMessageHeader header;
    int result = FillMessageHeader(*message, &header);
    if (result == PELLAX_E_INVALID) {
        PELLAX_LOG_FAIL(4, kCodeInvalid, "[session=%d,len=%d]Message cannot be framed.", static_cast<int>(clientId),
                        message->dataLength);
    }
    if (result != 0) {
        return result;
    }
    MessageBlockPtr frame;
    result = EncodeFrame(&header, message->data, BodyLength(*message), false, &frame);
    if (result == 0) {
        result = SendFrame(client, frame.Get());
    }
    if (result == PELLAX_E_NO_RESOURCE) {
        return PELLAX_E_NO_RESOURCE;
    }
    if (result != 0) {
        PELLAX_LOG_FAIL(4, kCodeSend, "[session=%d,len=%d]Send Failed.", static_cast<int>(clientId),
                        message->dataLength);
        return PELLAX_E_NOT_DELIVERED;
    }
    return 0;
}

int CServerSession::SyncSend(uint32_t clientId, const PELLAX_Message* request, PELLAX_Message* response,
                             uint32_t timeout)
{
    if (IsOnEventThread()) {
        // The answer would arrive on this very thread, which would be blocked waiting for it.
        PELLAX_LOG_FAIL(4, kCodeInvalid, "[session=%d]SyncSend inside a notification cannot get its answer.",
                        static_cast<int>(clientId));
        return PELLAX_E_STATE;
    }
    CRefPtr<CClientObject> client = FindClient(clientId);
    if (!client) {
        PELLAX_LOG_FAIL(4, kCodeNoClient, "[session=%d]Cannot find clientSession handle.", static_cast<int>(clientId));
        return PELLAX_E_INVALID;
    }
    CPellaxMessageHeader header;
    int result = FillMessageHeader(*request, &header);
    if (result == PELLAX_E_INVALID) {
        PELLAX_LOG_FAIL(4, kCodeInvalid, "[session=%d,len=%d]Message cannot be framed.", static_cast<int>(clientId),
                        request->dataLength);
    }
    if (result != 0) {
        return result;
    }
    CSEQMgr* sequences = COrvSingletonT<CSEQMgr>::Instance();
    CContextMgr* contexts = COrvSingletonT<CContextMgr>::Instance();
    if (sequences == nullptr || contexts == nullptr) {
        return PELLAX_E_NO_RESOURCE;
    }
    uint32_t sequence = sequences->GenerateSequence(1);
    header.SetSequence(sequence);
    CRefPtr<CSyncContext> context(new (std::nothrow) CSyncContext(sequence));
    if (!context) {
        return PELLAX_E_NO_RESOURCE;
    }
    contexts->AddContext(context);
    MessageBlockPtr frame;
    result = EncodeFrame(&header, request->data, BodyLength(*request), true, &frame);
    if (result == 0) {
        result = SendFrame(client, frame.Get());
    }
    if (result != 0) {
        contexts->RemoveContext(sequence);
        TraceFinish(0, "-2", "network send fail");
        return result == PELLAX_E_NO_RESOURCE ? PELLAX_E_NO_RESOURCE : PELLAX_E_NOT_DELIVERED;
    }
    if (context->Wait(timeout) != 0) {
        contexts->RemoveContext(sequence);
        TraceFinish(0, "-5", "network timeout");
        return PELLAX_E_TIMEOUT;
    }
    CRefPtr<CMessageResponse> answer;
    context->GetResponse(answer);
    contexts->RemoveContext(sequence);
    if (!answer || !answer->GetHeader() || !answer->GetBody()) {
        TraceFinish(0, "-4", "response param error");
        return PELLAX_E_INVALID;
    }
    TraceFinish(1, nullptr, nullptr);
    return FillResponse(*request, *answer, response);
}

int CServerSession::SetUserData(uint32_t clientId, uint32_t type, const char* text)
{
    CRefPtr<CClientObject> client = FindClient(clientId);
    if (!client) {
        PELLAX_LOG_FAIL(4, kCodeNoClient, "[session=%d]Cannot find clientSession handle.", static_cast<int>(clientId));
        return PELLAX_E_INVALID;
    }
    return client->SetUserData(type, text);
}

}  // namespace PELLAX
}  // namespace ORV
