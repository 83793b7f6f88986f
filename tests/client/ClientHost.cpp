#include "ClientHost.h"

#include "platform/OrvSession.h"

namespace pellax_test {

void ClientTest::SetUp()
{
    StartLibrary();
    InitializeSessionEx(0, 10);
    m_host = std::make_unique<CHostRecorder>(CHostRecorder::kClient, true);
}

void ClientTest::TearDown()
{
    // The transport first: after it stops no callback of any session runs.
    UnInitializeSession();
    m_host.reset();
    PELLAX_Uninit();
}

}  // namespace pellax_test
