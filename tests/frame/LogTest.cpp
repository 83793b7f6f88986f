#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "frame/Log.h"
#include "pellax.h"

namespace {

struct LoggedLine {
    int level;
    std::string module;
    std::string format;
    std::string line;
};

std::vector<LoggedLine> g_lines;
int g_callbackResult = 0;

int RecordLine(int level, const char* module, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    g_lines.push_back({level, module, format, va_arg(args, const char*)});
    va_end(args);
    return g_callbackResult;
}

// Logs the way every library class does; each call returns the source line it logged from.
struct CLogProbe {
    static constexpr const char* kLogScope = "ORV::PELLAX::CLogProbe";
    int Send(int port) { PELLAX_LOG_FAIL(4, 0x01900017, "[port=%d]port is invalid.", port); return __LINE__; }
    int Open() { PELLAX_LOG_INFO(3, "init ServerSession succ."); return __LINE__; }
    int Close() { PELLAX_LOG_BARE(3, "Close client manager succ."); return __LINE__; }
};

std::string Prefix(const char* function, int line)
{
    return std::string("[ORV::PELLAX::CLogProbe::") + function + "(" + std::to_string(line) + ")]";
}

class Log : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_lines.clear();
        g_callbackResult = 0;
        ORV::PELLAX::SetLogCallBack(&RecordLine);
    }
    void TearDown() override { ORV::PELLAX::SetLogCallBack(nullptr); }
};

TEST_F(Log, LinesNameTheMemberFunctionAndLineAndOnlyFailuresCarryACode)
{
    CLogProbe probe;
    int sendLine = probe.Send(-1);
    int openLine = probe.Open();
    int closeLine = probe.Close();
    ASSERT_EQ(g_lines.size(), 3u);
    EXPECT_EQ(g_lines[0].level, 4);
    EXPECT_EQ(g_lines[0].module, "PELLAX");
    EXPECT_EQ(g_lines[0].format, "%s");
    EXPECT_EQ(g_lines[0].line, Prefix("Send", sendLine) + " [0x01900017] - [port=-1]port is invalid.");
    EXPECT_EQ(g_lines[1].level, 3);
    EXPECT_EQ(g_lines[1].line, Prefix("Open", openLine) + " - init ServerSession succ.");
    EXPECT_EQ(g_lines[2].line, Prefix("Close", closeLine) + " Close client manager succ.");

    g_callbackResult = 77;
    EXPECT_EQ(ORV::PELLAX::WriteLog(9, "PELLAX", "%d-%s", 12, "x"), 77);
    EXPECT_EQ(g_lines.back().level, 9);
    EXPECT_EQ(g_lines.back().line, "12-x");
}

TEST_F(Log, InitSendsLinesToTheHostAndUninitBackToStdoutBothCutAt255Characters)
{
    ORV::PELLAX::SetLogCallBack(nullptr);
    ASSERT_EQ(PELLAX_Init(&RecordLine), 0);
    const std::string text(300, 'a');
    ORV::PELLAX::WriteLog(3, "PELLAX", "%s", text.c_str());
    ASSERT_EQ(PELLAX_Uninit(), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(ORV::PELLAX::WriteLog(3, "PELLAX", "[id=%d]%s", 7, text.c_str()), 0);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[id=7]" + text.substr(0, 249) + "\r\n");
    ASSERT_FALSE(g_lines.empty());
    EXPECT_EQ(g_lines.back().line, text.substr(0, 255));
}

}  // namespace
