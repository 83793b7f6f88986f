// Bounded waits: tests poll for a condition instead of sleeping for a guessed time.
#ifndef PELLAX_TEST_SUPPORT_WAIT_H
#define PELLAX_TEST_SUPPORT_WAIT_H

#include <chrono>
#include <functional>

namespace pellax_test {

// Generous by default: the machine is shared and slow at times.
constexpr std::chrono::milliseconds kWaitLimit{10000};
// How long a test watches for something that must not happen.
constexpr std::chrono::milliseconds kQuietWindow{100};

// True as soon as the predicate holds; false when the limit passed first.
bool WaitUntil(const std::function<bool()>& predicate, std::chrono::milliseconds limit = kWaitLimit);

// True when the predicate stayed false for the whole window.
bool StaysFalse(const std::function<bool()>& predicate, std::chrono::milliseconds window = kQuietWindow);

}  // namespace pellax_test

#endif
