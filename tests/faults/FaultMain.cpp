// The fault tests' program doubles as their helper process: run with --pellax-fault-role it plays a
// client host instead of running tests, so a test can kill or freeze a real peer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "support/HostRecorder.h"

namespace {

constexpr std::chrono::seconds kRoleLifetime{120};

// Connects, registers, says so on standard output and stays until killed; a mute client never answers.
int RunClientRole(int port, bool answering)
{
    pellax_test::StartLibrary();
    int handle = -1;
    {
        pellax_test::CHostRecorder host(pellax_test::CHostRecorder::kClient);
        if (answering) {
            host.AnswerRequests();
        }
        handle = PELLAX_CLIENT_CreateSession("127.0.0.1", port, nullptr);
        if (handle < 0 || !host.WaitFor(5, handle)) {
            std::printf("failed\n");
            std::fflush(stdout);
            return 1;
        }
        std::printf("registered %d\n", static_cast<int>(getpid()));
        std::fflush(stdout);
        std::this_thread::sleep_for(kRoleLifetime);
        PELLAX_CLIENT_DestroySession(static_cast<unsigned int>(handle));
    }
    PELLAX_Uninit();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "--pellax-fault-role") == 0) {
        std::string role = argv[2];
        int port = std::atoi(argv[3]);
        if (role == "client" || role == "mute-client") {
            return RunClientRole(port, role == "client");
        }
        return 2;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
