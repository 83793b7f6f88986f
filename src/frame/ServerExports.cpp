// The PELLAX_SERVER_* exports: argument checks at the boundary, then the server front.
#include "frame/Singleton.h"
#include "pellax.h"
#include "server/Server.h"

namespace {
constexpr int kFailed = -1;
constexpr int kInvalidArgument = -4;

ORV::PELLAX::CServer* Front()
{
    return COrvSingletonT<ORV::PELLAX::CServer>::Instance();
}
}

extern "C" {

PELLAX_API int PELLAX_SERVER_SetNotifyCallBack(PELLAX_NotifyCallBack callback, void* user)
{
    ORV::PELLAX::CServer* server = Front();
    return server != nullptr ? server->SetNotifyCallBack(callback, user) : kFailed;
}

PELLAX_API int PELLAX_SERVER_CreateSession(const char* address, int port, const char* options)
{
    if (address == nullptr || port < 0) {
        return kInvalidArgument;
    }
    ORV::PELLAX::CServer* server = Front();
    return server != nullptr ? server->CreateSessionServer(address, port, options) : kFailed;
}

PELLAX_API int PELLAX_SERVER_DestroySession(void)
{
    ORV::PELLAX::CServer* server = Front();
    return server != nullptr ? server->DestroySessionServer() : kFailed;
}

PELLAX_API int PELLAX_SERVER_DestroyClientSession(unsigned int id)
{
    ORV::PELLAX::CServer* server = Front();
    return server != nullptr ? server->Leave(id) : kFailed;
}

PELLAX_API int PELLAX_SERVER_Send(unsigned int id, PELLAX_Message* message)
{
    ORV::PELLAX::CServer* server = Front();
    return server != nullptr ? server->Send(id, message) : kFailed;
}

PELLAX_API int PELLAX_SERVER_SynSend(unsigned int id, PELLAX_Message* request, PELLAX_Message* response,
                                     unsigned int timeoutSeconds)
{
    ORV::PELLAX::CServer* server = Front();
    return server != nullptr ? server->SyncSend(id, request, response, timeoutSeconds) : kFailed;
}

PELLAX_API int PELLAX_SERVER_SetUserData(unsigned int id, unsigned int type, const char* data)
{
    ORV::PELLAX::CServer* server = Front();
    return server != nullptr ? server->SetUserData(id, type, data) : kFailed;
}

}  // extern "C"
