#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <string>

#include "support/HostRecorder.h"
#include "support/RawSocket.h"

namespace pellax_test {

size_t CountThreads()
{
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    size_t count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == ::GetCurrentProcessId() ? 1 : 0;
    }
    ::CloseHandle(snapshot);
    return count;
}

// Handles stand in for descriptors: sockets, events and threads all count.
size_t CountOpenFds()
{
    DWORD count = 0;
    return ::GetProcessHandleCount(::GetCurrentProcess(), &count) ? count : 0;
}

std::string DescribeOpenFds()
{
    return std::to_string(CountOpenFds()) + " handles";
}

size_t ResidentBytes()
{
    PROCESS_MEMORY_COUNTERS counters{};
    return ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters)) ? counters.WorkingSetSize : 0;
}

// Windows has no per-process socket limit to raise.
size_t RaiseFdLimit(size_t wanted)
{
    return wanted;
}

}  // namespace pellax_test
