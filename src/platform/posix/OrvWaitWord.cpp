#include "platform/OrvWaitWord.h"

#if defined(__linux__)

#include <climits>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "a futex word is a plain 32-bit word");

void OrvWaitWord(std::atomic<uint32_t>& word, uint32_t expected, std::chrono::microseconds timeout)
{
    timespec relative{static_cast<time_t>(timeout.count() / 1000000), static_cast<long>(timeout.count() % 1000000) * 1000};
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT_PRIVATE, expected, &relative, nullptr, 0);
}

void OrvWakeWord(std::atomic<uint32_t>& word)
{
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

#else

#include <condition_variable>
#include <functional>
#include <mutex>

namespace {
struct Bucket {
    std::mutex mutex;
    std::condition_variable cond;
};

Bucket& BucketOf(const void* word)
{
    static Bucket buckets[64];
    return buckets[std::hash<const void*>()(word) % 64];
}
}

void OrvWaitWord(std::atomic<uint32_t>& word, uint32_t expected, std::chrono::microseconds timeout)
{
    Bucket& bucket = BucketOf(&word);
    std::unique_lock<std::mutex> lock(bucket.mutex);
    if (word.load() == expected) {
        bucket.cond.wait_for(lock, timeout);
    }
}

void OrvWakeWord(std::atomic<uint32_t>& word)
{
    Bucket& bucket = BucketOf(&word);
    // Taking the lock orders this wake after any sleeper's check of the word.
    { std::lock_guard<std::mutex> lock(bucket.mutex); }
    bucket.cond.notify_all();
}

#endif
