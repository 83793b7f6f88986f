// The pellax tool run as a child process, as a user runs it.
#include <gtest/gtest.h>

#include <string>

#include "support/ChildProcess.h"
#include "support/RawSocket.h"

namespace pellax_test {
namespace {

constexpr std::chrono::seconds kToolLimit{120};

// Before the server is up, a send to its port fails with a clear message.
TEST(PellaxTool, ServeEchoAnswersCallAndStopsCleanlyOnCtrlC)
{
    std::string endpoint = "127.0.0.1:" + std::to_string(PickFreePort());
    CChildProcess send(PELLAX_TOOL_PATH, {"send", "--connect", endpoint, "--command", "1000", "--data", "x"});
    EXPECT_NE(send.Wait(kToolLimit), 0);
    EXPECT_NE(send.Output().find("cannot connect"), std::string::npos) << send.Output();

    CChildProcess serve(PELLAX_TOOL_PATH, {"serve", "--listen", endpoint, "--echo", "--quiet"});
    ASSERT_TRUE(WaitUntil([&] { return serve.Output().find("listening on " + endpoint) != std::string::npos; }));
    CChildProcess call(PELLAX_TOOL_PATH, {"call", "--connect", endpoint, "--command", "1000", "--data",
                                          "hello-there", "--ext", "7=meta", "--timeout", "5"});
    EXPECT_EQ(call.Wait(kToolLimit), 0) << call.Output();
    EXPECT_NE(call.Output().find("cmd=1001"), std::string::npos) << call.Output();
    EXPECT_NE(call.Output().find("\"hello-there\""), std::string::npos) << call.Output();
    serve.Interrupt();
    int status = serve.Wait();
    if (CChildProcess::kCtrlC) {
        EXPECT_EQ(status, 0) << serve.Output();
        EXPECT_NE(serve.Output().find("server stopped"), std::string::npos) << serve.Output();
    }
}

TEST(PellaxTool, DemoRunsEveryStepToACleanExit)
{
    CChildProcess demo(PELLAX_TOOL_PATH, {"demo"});
    EXPECT_EQ(demo.Wait(kToolLimit), 0) << demo.Output();
    EXPECT_NE(demo.Output().find(", 0 did not"), std::string::npos) << demo.Output();
}

}  // namespace
}  // namespace pellax_test
