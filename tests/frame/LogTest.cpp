#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "frame/Log.h"
#include "pellax.h"

namespace {

using LoggedLine = std::tuple<int, std::string, std::string, std::string>;  // level, module, format, line
std::vector<LoggedLine> g_lines;

int RecordLine(int level, const char* module, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    g_lines.emplace_back(level, module, format, va_arg(args, const char*));
    va_end(args);
    return 77;
}

// Logs the way every library class does; each call returns the source line it logged from.
struct CLogProbe {
    static constexpr const char* kLogScope = "ORV::PELLAX::CLogProbe";
    int Send(int port) { PELLAX_LOG_FAIL(4, 0x01900017, "[port=%d]port is invalid.", port); return __LINE__; }
    int Open() { PELLAX_LOG_INFO(3, "init ServerSession succ."); return __LINE__; }
};

TEST(Log, LinesNameTheMemberFunctionOnlyFailuresCarryACodeAndBothHostAndStdoutLinesAreCutAt255Characters)
{
    ASSERT_EQ(PELLAX_Init(&RecordLine), 0);
    CLogProbe probe;
    const std::string sendLine = std::to_string(probe.Send(-1));
    const std::string openLine = std::to_string(probe.Open());
    const std::string text(300, 'a');
    EXPECT_EQ(ORV::PELLAX::WriteLog(9, "HOST", "%d-%s", 12, text.c_str()), 77);
    ASSERT_EQ(PELLAX_Uninit(), 0);
    EXPECT_EQ(g_lines, (std::vector<LoggedLine>{
                           {4, "PELLAX", "%s",
                            "[ORV::PELLAX::CLogProbe::Send(" + sendLine + ")] [0x01900017] - [port=-1]port is invalid."},
                           {3, "PELLAX", "%s", "[ORV::PELLAX::CLogProbe::Open(" + openLine + ")] - init ServerSession succ."},
                           {9, "HOST", "%s", ("12-" + text).substr(0, 255)},
                       }));
    testing::internal::CaptureStdout();
    EXPECT_EQ(ORV::PELLAX::WriteLog(3, "PELLAX", "[id=%d]%s", 7, text.c_str()), 0);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[id=7]" + text.substr(0, 249) + "\r\n");
}

}  // namespace
