// The PELLAX_CLIENT_* session exports: argument checks at the boundary, then the client front.
#include "client/Client.h"
#include "frame/Singleton.h"
#include "pellax.h"

using ORV::PELLAX::CClient;

namespace {
// The runtime always has its cleanup mutex, so the front exists; answer as failed otherwise.

CClient* Front()
{
    return COrvSingletonT<CClient>::Instance();
}
}  // namespace

extern "C" {

PELLAX_API int PELLAX_CLIENT_SetNotifyCallBack(PELLAX_NotifyCallBack callback, void* user)
{
    CClient* front = Front();
    return front != nullptr ? front->SetNotifyCallBack(callback, user) : PELLAX_E_STATE;
}

PELLAX_API int PELLAX_CLIENT_CreateSession(const char* address, int port, const char* options)
{
    if (address == nullptr || port < 0) {
        return PELLAX_E_INVALID;
    }
    CClient* front = Front();
    return front != nullptr ? front->CreateSessionClient(address, port, options) : PELLAX_E_STATE;
}

PELLAX_API int PELLAX_CLIENT_DestroySession(unsigned int handle)
{
    CClient* front = Front();
    return front != nullptr ? front->DestroySessionClient(handle) : PELLAX_E_STATE;
}

PELLAX_API int PELLAX_CLIENT_Send(unsigned int handle, PELLAX_Message* message)
{
    CClient* front = Front();
    return front != nullptr ? front->Send(handle, message) : PELLAX_E_STATE;
}

PELLAX_API int PELLAX_CLIENT_SynSend(unsigned int handle, PELLAX_Message* request, PELLAX_Message* response,
                                     unsigned int timeoutSeconds)
{
    CClient* front = Front();
    return front != nullptr ? front->SyncSend(handle, request, response, timeoutSeconds) : PELLAX_E_STATE;
}

PELLAX_API int PELLAX_CLIENT_SetUserData(unsigned int handle, unsigned int type, const char* data)
{
    CClient* front = Front();
    return front != nullptr ? front->SetUserData(handle, type, data) : PELLAX_E_STATE;
}

}  // extern "C"
