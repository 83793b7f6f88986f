// The transport's pool of network event threads and the register of working sessions.
//
// Sessions take a pool thread when they start working (Open, Connect), round robin, and stay in the
// register until they close, so UnInitializeSession can close whatever the owner left open before it
// stops the threads. The register holds a reference: a working session lives until it is closed.
#ifndef PELLAX_PLATFORM_ORV_SESSION_MANAGER_H
#define PELLAX_PLATFORM_ORV_SESSION_MANAGER_H

#include <mutex>
#include <unordered_map>
#include <vector>

#include "OrvPrintfFormat.h"

#include "platform/OrvEventThread.h"
#include "platform/OrvSession.h"

// What the register needs of a session at shut-down, from a thread outside the pool: every close is
// started before any is waited for, so the drains of all sessions run at once.
class IOrvClosableSession {
public:
    virtual ~IOrvClosableSession() = default;
    // Starts the close on the session's thread.
    virtual void StartClose(uint32_t reason) = 0;
    // Returns once the session is closed with its sockets, or its drain's bound has passed.
    virtual void WaitClosed() = 0;
};

class COrvSessionManager final : public IOrvSessionManager {
public:
    static COrvSessionManager& Get();

    int Start(int threads);
    int Stop();

    int CreateServerSession(uint32_t type, CRefPtr<IOrvServerSession>& session) override;
    int CreateClientSession(uint32_t type, CRefPtr<IOrvClientSession>& session) override;

    // Registers a session that starts working and gives it its pool thread; null when not running.
    COrvEventThread* Attach(IOrvClosableSession* session, IOrvReferenceControl* reference);
    // Drops a closed session from the register (its reference goes outside the lock).
    void Detach(IOrvClosableSession* session);

private:
    COrvSessionManager() = default;
    bool IsPoolThread() const;

    std::mutex m_lifeMutex;  // serialises Start and Stop
    mutable std::mutex m_mutex;  // guards everything below
    bool m_bRunning = false;
    std::vector<COrvEventThread*> m_threads;
    size_t m_nNextThread = 0;
    std::unordered_map<IOrvClosableSession*, CRefPtr<IOrvReferenceControl>> m_sessions;  // working sessions
};

// Formats a line for the log set with SetSessionLog, if any.
void OrvSessionLog(int level, const char* format, ...) ORV_PRINTF_FORMAT(2, 3);

// Puts another transport behind IOrvSessionManager::Instance() (tests and fuzzers feed the sessions
// through it); null restores the TCP transport. Not for use while sessions are being created.
void SetSessionManagerForTest(IOrvSessionManager* manager);

#endif
