// The client table and the option 302 link between a connection and its client object.
#include "server/ServerSession.h"

namespace ORV {
namespace PELLAX {

namespace {
CClientObject* ReadOption(IOrvID* id)
{
    void* value = nullptr;
    if (id == nullptr || id->GetOption(ORV_OPTION_USER_OBJECT, &value) != 0) {
        return nullptr;
    }
    return static_cast<CClientObject*>(value);
}
}

CRefPtr<CClientObject> CServerSession::FindClient(uint32_t clientId)
{
    ZOT_Guard guard(m_clientsMutex);
    auto it = m_clients.find(static_cast<int32_t>(clientId));
    return it != m_clients.end() ? it->second : CRefPtr<CClientObject>();
}

CRefPtr<CClientObject> CServerSession::TakeClient(uint32_t clientId)
{
    CRefPtr<CClientObject> client;
    ZOT_Guard guard(m_clientsMutex);
    auto it = m_clients.find(static_cast<int32_t>(clientId));
    if (it != m_clients.end()) {
        client = std::move(it->second);
        m_clients.erase(it);
    }
    return client;
}

CRefPtr<CClientObject> CServerSession::TakeClientBySession(IOrvID* id)
{
    CRefPtr<CClientObject> client;
    ZOT_Guard guard(m_clientsMutex);
    for (auto it = m_clients.begin(); it != m_clients.end(); ++it) {
        if (it->second->GetSession().Get() == id) {
            client = std::move(it->second);
            m_clients.erase(it);
            break;
        }
    }
    return client;
}

CRefPtr<CClientObject> CServerSession::PeekAttached(IOrvID* id)
{
    ZOT_Guard guard(m_clientsMutex);
    return CRefPtr<CClientObject>(ReadOption(id));
}

CRefPtr<CClientObject> CServerSession::Detach(IOrvID* id, const CClientObject* only)
{
    ZOT_Guard guard(m_clientsMutex);
    CClientObject* object = ReadOption(id);
    if (object == nullptr || (only != nullptr && object != only)) {
        return CRefPtr<CClientObject>();
    }
    id->SetOption(ORV_OPTION_USER_OBJECT, nullptr);
    CRefPtr<CClientObject> client(object);
    object->RemoveReference();  // the option's own reference, now held by client
    return client;
}

void CServerSession::Attach(const CRefPtr<CClientObject>& client)
{
    CRefPtr<IOrvID> id = client->GetSession();
    ZOT_Guard guard(m_clientsMutex);
    client->AddReference();  // owned by the option until Detach
    id->SetOption(ORV_OPTION_USER_OBJECT, client.Get());
    m_clients[client->GetClientID()] = client;
}

}  // namespace PELLAX
}  // namespace ORV
