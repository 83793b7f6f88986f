#include "ServerFixture.h"

#include "platform/OrvProcess.h"

#include "frame/Singleton.h"
#include "server/Server.h"

namespace pellax_test {

std::string OkAnswer(const std::string& moreData)
{
    return "{\"resultCode\":\"200\",\"message\":\"OK\",\"data\":{\"ppid\":" + std::to_string(OrvCurrentProcessId()) + moreData +
           "}}";
}

void ServerTest::SetUp()
{
    StartLibrary();
    m_host = std::make_unique<CHostRecorder>(CHostRecorder::kServer, true);
}

void ServerTest::TearDown()
{
    PELLAX_SERVER_DestroySession();
    m_host.reset();
    PELLAX_Uninit();
}

uint16_t ServerTest::StartServer(const char* options)
{
    if (PELLAX_SERVER_CreateSession("127.0.0.1", 0, options) != 0) {
        return 0;
    }
    m_port = COrvSingletonT<ORV::PELLAX::CServer>::Instance()->GetListenPort();
    return m_port;
}

int ServerTest::Join(CRawClientPeer& peer)
{
    size_t before = m_host->Count(1);
    if (!peer.Connect(m_port) || !m_host->WaitForCount(1, before + 1)) {
        return -1;
    }
    return static_cast<int>(m_host->Events(1)[before].id);
}

bool ServerTest::Register(CRawClientPeer& peer, uint32_t sequence, const std::string& params, WireFrame* answer)
{
    return peer.SendFrame(MakeRegister(sequence, params)) && peer.ReceiveFrame(answer);
}

}  // namespace pellax_test
