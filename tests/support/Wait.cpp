#include "support/Wait.h"

#include <thread>

namespace pellax_test {

namespace {
constexpr std::chrono::milliseconds kPollStep{1};
}

bool WaitUntil(const std::function<bool()>& predicate, std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return predicate();
        }
        std::this_thread::sleep_for(kPollStep);
    }
    return true;
}

bool StaysFalse(const std::function<bool()>& predicate, std::chrono::milliseconds window)
{
    return !WaitUntil(predicate, window);
}

}  // namespace pellax_test
