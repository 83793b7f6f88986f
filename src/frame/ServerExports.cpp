// The PELLAX_SERVER_* exports: argument checks at the boundary, then the server front.
#include "frame/Singleton.h"
#include "pellax.h"
#include "server/Server.h"

namespace {

ORV::PELLAX::CServer* Front()
{
    return COrvSingletonT<ORV::PELLAX::CServer>::Instance();
}
}

extern "C" {

PELLAX_API int PELLAX_SERVER_SetNotifyCallBack(PELLAX_NotifyCallBack callback, void* user)
{
    ORV::PELLAX::CServer* server = Front();
    return server != nullptr ? server->SetNotifyCallBack(callback, user) : PELLAX_E_STATE;
}

PELLAX_API int PELLAX_SERVER_CreateSession(const char* address, int port, const char* options)
{
    if (address == nullptr || port < 0) {
        return PELLAX_E_INVALID;
    }
    ORV::PELLAX::CServer* server = Front();
    return server != nullptr ? server->CreateSessionServer(address, port, options) : PELLAX_E_STATE;
}

PELLAX_API int PELLAX_SERVER_DestroySession(void)
{
    ORV::PELLAX::CServer* server = Front();
    return server != nullptr ? server->DestroySessionServer() : PELLAX_E_STATE;
}

PELLAX_API int PELLAX_SERVER_DestroyClientSession(unsigned int id)
{
    ORV::PELLAX::CServer* server = Front();
    return server != nullptr ? server->Leave(id) : PELLAX_E_STATE;
}

PELLAX_API int PELLAX_SERVER_Send(unsigned int id, PELLAX_Message* message)
{
    ORV::PELLAX::CServer* server = Front();
    return server != nullptr ? server->Send(id, message) : PELLAX_E_STATE;
}

PELLAX_API int PELLAX_SERVER_SynSend(unsigned int id, PELLAX_Message* request, PELLAX_Message* response,
                                     unsigned int timeoutSeconds)
{
    ORV::PELLAX::CServer* server = Front();
    return server != nullptr ? server->SyncSend(id, request, response, timeoutSeconds) : PELLAX_E_STATE;
}

PELLAX_API int PELLAX_SERVER_SetUserData(unsigned int id, unsigned int type, const char* data)
{
    ORV::PELLAX::CServer* server = Front();
    return server != nullptr ? server->SetUserData(id, type, data) : PELLAX_E_STATE;
}

}  // extern "C"
