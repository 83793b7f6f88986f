// The server front's notifications to the host: records are valid only during the callback.
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "frame/Log.h"
#include "server/Server.h"

namespace ORV {
namespace PELLAX {

namespace {
constexpr uint32_t kNotifyData = 0;
constexpr uint32_t kNotifyJoin = 1;
constexpr uint32_t kNotifyOther = 3;
constexpr uint32_t kNotifyLeave = 4;
constexpr uint32_t kNotifyRegister = 5;
constexpr uint32_t kNotifyKeepalive = 6;
constexpr uint32_t kNoCommand = 0xFFFFFFFFu;

// The extension list handed to the host, newest node first, freed with the record.
struct ExtensionList {
    std::vector<std::unique_ptr<PELLAX_MessageExt>> nodes;
    std::vector<std::unique_ptr<uint8_t[]>> data;
    PELLAX_MessageExt* head = nullptr;

    void Build(const CPellaxMessageHeader& header)
    {
        for (const CPellaxExtMessageHeader& entry : header.ExtHeaders()) {
            std::unique_ptr<PELLAX_MessageExt> node(new (std::nothrow) PELLAX_MessageExt());
            uint8_t* bytes = nullptr;
            uint32_t length = 0;
            if (!node || !entry.GetData(&bytes, &length)) {
                continue;
            }
            data.emplace_back(bytes);
            node->type = entry.GetType();
            node->length = length;
            node->data = bytes;
            node->next = head;
            head = node.get();
            nodes.push_back(std::move(node));
        }
    }
};

std::unique_ptr<unsigned char[]> CopyBytes(const uint8_t* source, size_t length)
{
    std::unique_ptr<unsigned char[]> copy(new (std::nothrow) unsigned char[length > 0 ? length : 1]);
    if (copy && length > 0) {
        std::memcpy(copy.get(), source, length);
    }
    return copy;
}
}  // namespace

void CServer::OnClientChange(const CRefPtr<CClientObject>& client, uint32_t change)
{
    if (change != kChangeJoin && change != kChangeOther && change != kChangeLeave) {
        return;
    }
    PELLAX_NotifyCallBack callback = m_pfnNotify.load();
    if (callback == nullptr || !client) {
        return;
    }
    uint32_t type = change == kChangeJoin ? kNotifyJoin : (change == kChangeOther ? kNotifyOther : kNotifyLeave);
    PELLAX_LOG_INFO(3, "[type=%d,clientID=%d]OnClient Change", static_cast<int>(type), client->GetClientID());
    callback(static_cast<unsigned int>(client->GetClientID()), type, nullptr, m_pUser.load());
}

void CServer::OnReceive(const CRefPtr<CClientObject>& client, const CRefPtr<CPellaxMessageHeader>& header,
                        const CRefPtr<COrvMessageBlock>& body)
{
    PELLAX_NotifyCallBack callback = m_pfnNotify.load();
    if (!client || !header || !body || callback == nullptr) {
        return;
    }
    PELLAX_Message record;
    std::memset(&record, 0, sizeof(record));
    record.command = header->GetCommand();
    record.dataLength = static_cast<int32_t>(header->GetBodyLength());
    record.sequence = header->GetSequence();
    record.timestamp = header->GetTimestamp();
    record.flag = header->GetFlag();
    ExtensionList extensions;
    extensions.Build(*header);
    record.ext = extensions.head;
    // The record is valid only during the callback, so it points into the received frame: no copy.
    record.data = const_cast<unsigned char*>(body->GetReadPtr());
    callback(static_cast<unsigned int>(client->GetClientID()), kNotifyData, &record, m_pUser.load());
}

void CServer::OnHeartBeatTimeOut(const CRefPtr<CClientObject>& client)
{
    PELLAX_NotifyCallBack callback = m_pfnNotify.load();
    if (callback != nullptr && client) {
        callback(static_cast<unsigned int>(client->GetClientID()), kNotifyLeave, nullptr, m_pUser.load());
    }
}

void CServer::OnHeartbeat(const CRefPtr<CClientObject>& client, const CRefPtr<CPellaxMessageHeader>& header,
                          const CRefPtr<COrvMessageBlock>& params)
{
    if (client && header && params) {
        NotifyParams(*client, kNotifyKeepalive, *header, params.Get());
    }
}

void CServer::OnRegister(const CRefPtr<CClientObject>& client, const CRefPtr<CPellaxMessageHeader>& header,
                         const CRefPtr<COrvMessageBlock>& params)
{
    if (!client || !header || !params || m_pfnNotify.load() == nullptr) {
        return;
    }
    PELLAX_LOG_INFO(3, "[clientID=%d]register success.", client->GetClientID());
    NotifyParams(*client, kNotifyRegister, *header, params.Get());
}

void CServer::NotifyParams(const CClientObject& client, uint32_t type, const CPellaxMessageHeader& header,
                           COrvMessageBlock* params)
{
    PELLAX_NotifyCallBack callback = m_pfnNotify.load();
    if (callback == nullptr) {
        return;
    }
    PELLAX_Message record;
    std::memset(&record, 0, sizeof(record));
    params->SetReadPos(0);
    record.dataLength = static_cast<int32_t>(params->GetLength());
    record.command = kNoCommand;
    record.sequence = kNoCommand;
    record.timestamp = header.GetTimestamp();
    std::unique_ptr<unsigned char[]> data = CopyBytes(params->GetReadPtr(), params->GetLength());
    if (!data) {
        return;
    }
    record.data = data.get();
    callback(static_cast<unsigned int>(client.GetClientID()), type, &record, m_pUser.load());
}

}  // namespace PELLAX
}  // namespace ORV
