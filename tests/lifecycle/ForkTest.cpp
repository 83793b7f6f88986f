// A child forked without exec sends its own process id, not its parent's.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/OrvCleanupBase.h"

namespace {

TEST(ProcessId, AChildForkedAfterFirstUseHasItsOwnId)
{
    ASSERT_EQ(OS::GetProcessID(), static_cast<unsigned int>(getpid()));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        _exit(OS::GetProcessID() == static_cast<unsigned int>(getpid()) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
