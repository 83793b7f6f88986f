#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>

#include "support/FreePort.h"
#include "support/Wait.h"

namespace {

struct RunResult {
    int status = -1;
    std::string output;
};

// Runs the tool with a hard time limit, capturing standard output and standard error together.
RunResult RunTool(const std::string& arguments, int limitSeconds = 60)
{
    std::string command = "timeout " + std::to_string(limitSeconds) + " " PELLAX_TOOL_PATH " " + arguments + " 2>&1";
    RunResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    std::array<char, 4096> buffer{};
    size_t got = 0;
    while ((got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        result.output.append(buffer.data(), got);
    }
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// `pellax serve` in a child process, stopped with Ctrl-C (SIGINT) at the end.
class ServeProcess {
public:
    explicit ServeProcess(int port)
    {
        std::string listen = "127.0.0.1:" + std::to_string(port);
        m_pid = fork();
        if (m_pid == 0) {
            execl(PELLAX_TOOL_PATH, PELLAX_TOOL_PATH, "serve", "--listen", listen.c_str(), "--echo", "--quiet",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~ServeProcess() { Stop(); }

    // The exit status after SIGINT; -1 when it did not end by itself within the limit.
    int Stop()
    {
        if (m_pid <= 0) {
            return m_status;
        }
        kill(m_pid, SIGINT);
        int status = 0;
        if (!pellax_test::WaitUntil([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; })) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        } else if (WIFEXITED(status)) {
            m_status = WEXITSTATUS(status);
        }
        m_pid = -1;
        return m_status;
    }

private:
    pid_t m_pid = -1;
    int m_status = -1;
};

TEST(PellaxTool, ServeEchoAnswersCallAndStopsCleanlyOnCtrlC)
{
    uint16_t port = pellax_test::PickFreePort();
    ServeProcess serve(port);
    ASSERT_TRUE(pellax_test::WaitUntil([&] { return pellax_test::IsListening(port); }));

    RunResult call = RunTool("call --connect 127.0.0.1:" + std::to_string(port) +
                             " --command 1000 --data hello-there --ext 7=meta --timeout 5");
    EXPECT_EQ(call.status, 0) << call.output;
    EXPECT_NE(call.output.find("cmd=1001"), std::string::npos) << call.output;
    EXPECT_NE(call.output.find("\"hello-there\""), std::string::npos) << call.output;

    EXPECT_EQ(serve.Stop(), 0);
}

TEST(PellaxTool, SendToAClosedPortFailsWithAClearMessage)
{
    uint16_t port = pellax_test::PickFreePort();
    RunResult send = RunTool("send --connect 127.0.0.1:" + std::to_string(port) + " --command 1000 --data x");
    EXPECT_NE(send.status, 0);
    EXPECT_NE(send.output.find("cannot connect"), std::string::npos) << send.output;
}

TEST(PellaxTool, DemoRunsEveryStepToACleanExit)
{
    RunResult demo = RunTool("demo", 120);
    EXPECT_EQ(demo.status, 0) << demo.output;
    EXPECT_NE(demo.output.find("did not"), std::string::npos);
    EXPECT_NE(demo.output.find(", 0 did not"), std::string::npos) << demo.output;
}

}  // namespace
