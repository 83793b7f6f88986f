// The demo scenario, step by step.
#ifndef PELLAX_TOOL_DEMO_H
#define PELLAX_TOOL_DEMO_H

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "EventBook.h"
#include "RawClient.h"
#include "pellax.h"

namespace pellax_tool {

class Demo {
public:
    // True when every step behaved as expected.
    bool Run();

    // The host callbacks.
    static int OnServer(unsigned int id, unsigned int type, PELLAX_Message* message, void* user);
    static int OnClient(unsigned int handle, unsigned int type, PELLAX_Message* message, void* user);

private:
    bool Step(const char* title, bool (Demo::*step)());
    bool StartServer();
    bool ConnectClients();
    bool Register();
    bool KeepAlive();
    bool CallServer();
    bool CallClient();
    bool SendWithExtensions();
    bool SendEncrypted();
    bool DropSilentClient();
    bool DisconnectClient();
    bool ShutDown();

    void AnswerOnServer(unsigned int id, const PELLAX_Message& request);
    void AnswerOnClient(unsigned int handle, const PELLAX_Message& request);
    // The server's id for the client whose registration carried this name.
    bool FindServerId(const char* name, unsigned int& id);
    std::string ServerName(unsigned int id);
    std::string ClientName(unsigned int handle) const;

    EventBook m_book;
    std::mutex m_namesMutex;
    std::map<unsigned int, std::string> m_serverNames;  // server id -> registered name
    RawClient m_silent;
    int m_port = 0;
    std::atomic<int> m_alpha{-1};  // read by the callbacks, which may run before creation returns
    std::atomic<int> m_beta{-1};
    unsigned int m_alphaId = 0;
    unsigned int m_betaId = 0;
    unsigned int m_gammaId = 0;
    unsigned char m_key[16] = {};
    int m_passed = 0;
    int m_failed = 0;
};

}  // namespace pellax_tool

#endif
