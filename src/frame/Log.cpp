#include "frame/Log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace ORV {
namespace PELLAX {

namespace {
// Read once per line; a line being written keeps the callback it read.
std::atomic<PELLAX_LogCallBack> g_logCallBack{nullptr};
constexpr int kLineBufferSize = 256;
}

void SetLogCallBack(PELLAX_LogCallBack callback)
{
    g_logCallBack.store(callback, std::memory_order_release);
}

int WriteLog(int level, const char* module, const char* format, ...)
{
    char line[kLineBufferSize] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof(line), format, args);
    va_end(args);

    PELLAX_LogCallBack callback = g_logCallBack.load(std::memory_order_acquire);
    if (callback != nullptr) {
        return callback(level, module, "%s", line);
    }
    std::printf("%s\r\n", line);
    return 0;
}

}  // namespace PELLAX
}  // namespace ORV
