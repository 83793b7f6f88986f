#include "LibraryScope.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "pellax.h"

namespace pellax_tool {

namespace {
std::atomic<int> g_minimumLevel{0};

// Levels run 3 (progress) to 5 (failure); --log-level N shows N and above, 0 nothing.
int LogToStderr(int level, const char*, const char* format, ...)
{
    int lowest = g_minimumLevel.load();
    if (lowest <= 0 || level < lowest) {
        return 0;
    }
    va_list args;
    va_start(args, format);
    std::fprintf(stderr, "[pellax:%d] ", level);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    return 0;
}
}

int& LogLevelOption()
{
    static int level = 0;
    return level;
}

LibraryScope::LibraryScope(int logLevel)
{
    g_minimumLevel.store(logLevel);
    PELLAX_Init(LogToStderr);
}

LibraryScope::~LibraryScope()
{
    PELLAX_Uninit();
}

}  // namespace pellax_tool
