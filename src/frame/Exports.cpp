// The 20 exported functions: argument checks at the boundary, then the fronts and managers.
#include <cstddef>
#include <new>

#include "client/Client.h"
#include "frame/Library.h"
#include "frame/SEQMgr.h"
#include "frame/Singleton.h"
#include "pellax.h"

using namespace ORV::PELLAX;

static_assert(sizeof(PELLAX_Message) == 320, "PELLAX_Message is 320 bytes");
static_assert(offsetof(PELLAX_Message, command) == 0, "command at 0");
static_assert(offsetof(PELLAX_Message, data) == 8, "data at 8");
static_assert(offsetof(PELLAX_Message, dataLength) == 16, "dataLength at 16");
static_assert(offsetof(PELLAX_Message, ext) == 24, "ext at 24");
static_assert(offsetof(PELLAX_Message, sequence) == 32, "sequence at 32");
static_assert(offsetof(PELLAX_Message, timestamp) == 40, "timestamp at 40");
static_assert(offsetof(PELLAX_Message, allocator) == 48, "allocator at 48");
static_assert(offsetof(PELLAX_Message, flag) == 56, "flag at 56");
static_assert(offsetof(PELLAX_Message, reserved) == 60, "reserved at 60");
static_assert(sizeof(PELLAX_MessageExt) == 24, "PELLAX_MessageExt is 24 bytes");

extern "C" {

PELLAX_API int PELLAX_Init(PELLAX_LogCallBack callback)
{
    return StartLibrary(callback);
}

PELLAX_API int PELLAX_Uninit(void)
{
    return StopLibrary();
}

PELLAX_API int PELLAX_GenerateSequence(void)
{
    CSEQMgr* manager = COrvSingletonT<CSEQMgr>::Instance();
    return manager != nullptr ? static_cast<int>(manager->GenerateSequence(0)) : 0;
}

PELLAX_API void PELLAX_FreeBuffer(void* buffer)
{
    delete[] static_cast<unsigned char*>(buffer);
}

PELLAX_API int PELLAX_CLIENT_GetDataKey(char* key, int length)
{
    if (key == nullptr || length < 0) {
        return PELLAX_E_INVALID;
    }
    return COrvSingletonT<CClient>::Instance()->GetDataKey(key, length);
}

PELLAX_API int PELLAX_CLIENT_Encrypt(const unsigned char* key, int keyLength, const unsigned char* data,
                                     int dataLength, char* output, int* outputLength)
{
    if (key == nullptr || data == nullptr || output == nullptr || outputLength == nullptr || keyLength < 0 ||
        dataLength < 0 || *outputLength < 0) {
        return PELLAX_E_INVALID;
    }
    return COrvSingletonT<CClient>::Instance()->Encrypt(key, keyLength, data, dataLength, output, outputLength);
}

PELLAX_API int PELLAX_CLIENT_Decrypt(const unsigned char* key, int keyLength, const char* text, int textLength,
                                     unsigned char* output, int* outputLength)
{
    if (key == nullptr || text == nullptr || output == nullptr || outputLength == nullptr || keyLength < 0 ||
        textLength < 0 || *outputLength < 0) {
        return PELLAX_E_INVALID;
    }
    return COrvSingletonT<CClient>::Instance()->Decrypt(key, keyLength, text, textLength, output, outputLength);
}

}  // extern "C"
