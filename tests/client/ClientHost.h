// The library (and its transport) running for one client test, with a recorder of every client
// notification and log line.
#ifndef PELLAX_TESTS_CLIENT_CLIENT_HOST_H
#define PELLAX_TESTS_CLIENT_CLIENT_HOST_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/HostRecorder.h"

namespace pellax_test {

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::unique_ptr<CHostRecorder> m_host;
};

inline std::vector<uint8_t> Bytes(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace pellax_test

#endif
