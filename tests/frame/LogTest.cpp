#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <functional>
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
    const char* line = va_arg(args, const char*);
    va_end(args);
    g_lines.push_back({level, module, format, line});
    return g_callbackResult;
}

// Logs the way every library class does; each call returns the source line it logged from.
class CLogProbe {
public:
    static constexpr const char* kLogScope = "ORV::PELLAX::CLogProbe";

    int Send(int port) { PELLAX_LOG_FAIL(4, 0x01900017, "[port=%d]port is invalid.", port); return __LINE__; }
    int Open() { PELLAX_LOG_INFO(3, "init ServerSession succ."); return __LINE__; }
    int Close() { PELLAX_LOG_BARE(3, "Close client manager succ."); return __LINE__; }
    int Text(const std::string& text) { PELLAX_LOG_INFO(5, "%s", text.c_str()); return __LINE__; }
};

class Log : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_lines.clear();
        g_callbackResult = 0;
        ORV::PELLAX::SetLogCallBack(&RecordLine);
    }
    void TearDown() override { ORV::PELLAX::SetLogCallBack(nullptr); }

    static std::string Prefix(const char* function, int line)
    {
        return std::string("[ORV::PELLAX::CLogProbe::") + function + "(" + std::to_string(line) + ")]";
    }

    CLogProbe m_probe;
};

// Captures what the library prints while no callback is set.
std::string CaptureStdout(const std::function<void()>& action)
{
    testing::internal::CaptureStdout();
    action();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST_F(Log, LinesNameTheMemberFunctionAndLineAndOnlyFailuresCarryACode)
{
    int sendLine = m_probe.Send(-1);
    int openLine = m_probe.Open();
    int closeLine = m_probe.Close();
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

TEST_F(Log, ALongLineIsCutAt255CharactersForTheHostAndOnStdout)
{
    m_probe.Text(std::string(300, 'a'));
    ASSERT_EQ(g_lines.size(), 1u);
    ASSERT_EQ(g_lines[0].line.size(), 255u);
    EXPECT_EQ(g_lines[0].line.back(), 'a');

    ORV::PELLAX::SetLogCallBack(nullptr);
    std::string text(300, 'b');
    std::string out = CaptureStdout([&] { ORV::PELLAX::WriteLog(3, "PELLAX", "%s", text.c_str()); });
    EXPECT_EQ(out, std::string(255, 'b') + "\r\n");
}

TEST_F(Log, InitInstallsTheHostCallbackAndUninitSendsLinesBackToStdout)
{
    ORV::PELLAX::SetLogCallBack(nullptr);
    ASSERT_EQ(PELLAX_Init(&RecordLine), 0);
    ORV::PELLAX::WriteLog(3, "PELLAX", "to host");
    ASSERT_EQ(PELLAX_Uninit(), 0);
    int result = -1;
    std::string out = CaptureStdout([&] { result = ORV::PELLAX::WriteLog(3, "PELLAX", "[id=%d]gone", 7); });
    ASSERT_FALSE(g_lines.empty());
    EXPECT_EQ(g_lines.back().line, "to host");
    EXPECT_EQ(out, "[id=7]gone\r\n");
    EXPECT_EQ(result, 0);
}

}  // namespace
