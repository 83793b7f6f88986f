// A library server in this process with one well-behaved library client that keeps doing synchronous
// round trips, so each hostile load can be measured against the same client's quiet figure.
#ifndef PELLAX_TESTS_HOSTILE_HOSTILE_FIXTURE_H
#define PELLAX_TESTS_HOSTILE_HOSTILE_FIXTURE_H

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "support/HostRecorder.h"

namespace pellax_test {

struct ProbeFigures {
    size_t calls = 0;
    size_t failures = 0;  // an error code, or an answer that was not this call's
    double medianUs = 0;
};

class HostileTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Round trips of the well-behaved client for the window, while load(stop) runs on its own thread
    // (started first, told to stop afterwards and joined). No load measures the quiet figure.
    ProbeFigures Measure(std::chrono::milliseconds window, std::function<void(std::atomic<bool>&)> load = nullptr);
    // Measures quiet, then under the load; checks every call succeeded and the generous bound, and
    // prints both figures.
    void ExpectServedDuring(const char* name, std::function<void(std::atomic<bool>&)> load);
    // Once the hostile connections are gone: only the probe client is left and no descriptor leaked.
    void ExpectBackToIdle();

    // The window of each load, PELLAX_HOSTILE_SECONDS (default 1).
    static std::chrono::milliseconds LoadWindow();

    std::unique_ptr<CHostRecorder> m_server;
    std::unique_ptr<CHostRecorder> m_client;
    uint16_t m_nPort = 0;
    int m_nProbe = -1;
    size_t m_nFdsAtStart = 0;
    std::string m_fdsAtStart;  // what they were, for the message when some stay open
};

}  // namespace pellax_test

#endif
