// Both sides of the library in one process, each with a recording host, and a fixed free port.
#ifndef PELLAX_TESTS_LIFECYCLE_LIBRARY_PAIR_H
#define PELLAX_TESTS_LIFECYCLE_LIBRARY_PAIR_H

#include <gtest/gtest.h>

#include <memory>

#include "support/FreePort.h"
#include "support/HostRecorder.h"
#include "pellax.h"

namespace pellax_test {

class LibraryPairTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartLibrary();
        m_server = std::make_unique<CHostRecorder>(CHostRecorder::kServer, true);
        m_client = std::make_unique<CHostRecorder>(CHostRecorder::kClient, true);
        m_nPort = PickFreePort();
        ASSERT_NE(m_nPort, 0);
    }

    void TearDown() override
    {
        for (unsigned int handle = 0; handle < 4; ++handle) {
            PELLAX_CLIENT_DestroySession(handle);
        }
        PELLAX_SERVER_DestroySession();
        PELLAX_Uninit();
        m_server.reset();
        m_client.reset();
    }

    std::unique_ptr<CHostRecorder> m_server;
    std::unique_ptr<CHostRecorder> m_client;
    uint16_t m_nPort = 0;
};

}  // namespace pellax_test

#endif
