#include "platform/OrvProcess.h"

#include <atomic>

#include <pthread.h>
#include <unistd.h>

namespace {
// Every control frame carries it, and asking the kernel each time is a system call apiece; a child
// forked without exec forgets it, so it sends its own id rather than its parent's.
std::atomic<unsigned int> g_nProcessId{0};

void ForgetProcessID()
{
    g_nProcessId.store(0, std::memory_order_relaxed);
}
}

unsigned int OrvCurrentProcessId()
{
    unsigned int pid = g_nProcessId.load(std::memory_order_relaxed);
    if (pid != 0) {
        return pid;
    }
    static const int forgetInChild = pthread_atfork(nullptr, nullptr, ForgetProcessID);
    (void)forgetInChild;
    pid = static_cast<unsigned int>(getpid());
    g_nProcessId.store(pid, std::memory_order_relaxed);
    return pid;
}
