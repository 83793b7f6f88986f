#include "frame/Library.h"

#include <atomic>
#include <mutex>

#include "context/ContextMgr.h"
#include "frame/Log.h"
#include "frame/Singleton.h"
#include "platform/OrvCleanupBase.h"
#include "platform/OrvSession.h"

namespace ORV {
namespace PELLAX {

namespace {
std::atomic<bool> g_started{false};

void TransportLog(int level, const char* line)
{
    WriteLog(level, "PELLAX", "[ORV::OrvUtilitySession] - %s", line);
}

// Init and Uninit from several host threads at once must not interleave their steps.
std::mutex& LifecycleMutex()
{
    static std::mutex mutex;
    return mutex;
}
}

int StartLibrary(PELLAX_LogCallBack callback)
{
    std::lock_guard<std::mutex> lock(LifecycleMutex());
    SetLogCallBack(callback);
    // A second start only replaces the log callback: one set of threads serves the process.
    if (g_started.load()) {
        return 0;
    }
    SetSessionLog(TransportLog);
    InitializeSessionEx(0, 10);
    CContextMgr* contexts = COrvSingletonT<CContextMgr>::Instance();
    if (contexts != nullptr) {
        contexts->Initialize();
    }
    g_started.store(true);
    return 0;
}

int StopLibrary()
{
    std::lock_guard<std::mutex> lock(LifecycleMutex());
    if (g_started.exchange(false)) {
        CContextMgr* contexts = COrvSingletonT<CContextMgr>::Peek();
        if (contexts != nullptr) {
            contexts->Finalize();
        }
        UnInitializeSession();
        UnInitialize();
    }
    SetLogCallBack(nullptr);
    return 0;
}

bool IsLibraryStarted()
{
    return g_started.load();
}

}  // namespace PELLAX
}  // namespace ORV
