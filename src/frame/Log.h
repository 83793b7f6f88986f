// The library's one log output: a line to the host callback, or to standard output.
#ifndef PELLAX_FRAME_LOG_H
#define PELLAX_FRAME_LOG_H

#include "OrvPrintfFormat.h"
#include "pellax.h"

namespace ORV {
namespace PELLAX {

int WriteLog(int level, const char* module, const char* format, ...) ORV_PRINTF_FORMAT(3, 4);
void SetLogCallBack(PELLAX_LogCallBack callback);

}  // namespace PELLAX
}  // namespace ORV

// Each logging class declares `static constexpr const char* kLogScope = "ORV::PELLAX::CName";`, so a
// line names the member function as "ORV::PELLAX::CName::Function" without building strings.
#define PELLAX_LOG_FAIL(level, code, message, ...)                                                            \
    ::ORV::PELLAX::WriteLog(level, "PELLAX", "[%s::%s(%d)] [0x%08x] - " message, kLogScope, __func__, __LINE__, \
                            static_cast<unsigned int>(code), ##__VA_ARGS__)
#define PELLAX_LOG_INFO(level, message, ...) \
    ::ORV::PELLAX::WriteLog(level, "PELLAX", "[%s::%s(%d)] - " message, kLogScope, __func__, __LINE__, ##__VA_ARGS__)
// For the one information line that has no " - " after its prefix.
#define PELLAX_LOG_BARE(level, message, ...) \
    ::ORV::PELLAX::WriteLog(level, "PELLAX", "[%s::%s(%d)] " message, kLogScope, __func__, __LINE__, ##__VA_ARGS__)

#endif
