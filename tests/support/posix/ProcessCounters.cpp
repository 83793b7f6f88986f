#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/HostRecorder.h"
#include "support/RawSocket.h"

namespace pellax_test {

namespace {
namespace fs = std::filesystem;

size_t CountDirectory(const char* path)
{
    std::error_code error;
    return static_cast<size_t>(std::distance(fs::directory_iterator(path, error), fs::directory_iterator()));
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
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc/self/fd", error)) {
        text += entry.path().filename().string() + ":" + fs::read_symlink(entry.path(), error).string() + " ";
    }
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
