#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "support/HostRecorder.h"
#include "support/RawSocket.h"

namespace pellax_test {

namespace {
size_t CountDirectory(const char* path)
{
    DIR* directory = ::opendir(path);
    if (directory == nullptr) {
        return 0;
    }
    size_t count = 0;
    while (dirent* entry = ::readdir(directory)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    ::closedir(directory);
    return count;
}
}  // namespace

size_t CountThreads()
{
    return CountDirectory("/proc/self/task");
}

size_t CountOpenFds()
{
    return CountDirectory("/proc/self/fd");
}

std::string DescribeOpenFds()
{
    std::string text;
    DIR* directory = ::opendir("/proc/self/fd");
    if (directory == nullptr) {
        return text;
    }
    while (dirent* entry = ::readdir(directory)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        std::string path = std::string("/proc/self/fd/") + entry->d_name;
        char target[256];
        ssize_t length = ::readlink(path.c_str(), target, sizeof(target) - 1);
        target[length > 0 ? length : 0] = '\0';
        text += std::string(entry->d_name) + ":" + target + " ";
    }
    ::closedir(directory);
    return text;
}

size_t ResidentBytes()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            size_t kib = 0;
            status >> kib;
            return kib * 1024;
        }
        status.ignore(1 << 16, '\n');
    }
    return 0;
}

size_t RaiseFdLimit(size_t wanted)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 0;
    }
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur = std::min<rlim_t>(wanted, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    return static_cast<size_t>(limit.rlim_cur);
}

}  // namespace pellax_test
