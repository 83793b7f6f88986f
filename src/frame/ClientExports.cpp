// The PELLAX_CLIENT_* exports: argument checks at the boundary, then the client front.
#include "pellax.h"

namespace {
// Until the front exists every operation answers as failed.
constexpr int kNotAvailable = -1;
}

extern "C" {

PELLAX_API int PELLAX_CLIENT_SetNotifyCallBack(PELLAX_NotifyCallBack, void*)
{
    return 0;
}

PELLAX_API int PELLAX_CLIENT_CreateSession(const char* address, int port, const char*)
{
    if (address == nullptr || port < 0) {
        return -4;
    }
    return kNotAvailable;
}

PELLAX_API int PELLAX_CLIENT_DestroySession(unsigned int)
{
    return kNotAvailable;
}

PELLAX_API int PELLAX_CLIENT_Send(unsigned int, PELLAX_Message*)
{
    return kNotAvailable;
}

PELLAX_API int PELLAX_CLIENT_SynSend(unsigned int, PELLAX_Message*, PELLAX_Message*, unsigned int)
{
    return kNotAvailable;
}

PELLAX_API int PELLAX_CLIENT_SetUserData(unsigned int, unsigned int, const char*)
{
    return kNotAvailable;
}

}  // extern "C"
