#include <new>

#include "platform/OrvEventThread.h"

namespace {
class COrvThreadManager final : public IOrvThreadManager {
public:
    int CreateThread(int, int, IOrvThreadSink* sink, IOrvThread** thread) override
    {
        if (thread == nullptr) {
            return -1;
        }
        *thread = nullptr;
        auto* created = new (std::nothrow) COrvEventThread(sink);
        if (created == nullptr) {
            return -1;
        }
        if (created->Start() != 0) {
            delete created;
            return -1;
        }
        *thread = created;
        return 0;
    }

    int ReleaseThread(IOrvThread* thread) override
    {
        auto* eventThread = static_cast<COrvEventThread*>(thread);
        if (eventThread == nullptr || eventThread->IsCurrent()) {
            return -1;
        }
        delete eventThread;
        return 0;
    }

    int StopThread(IOrvThread* thread) override
    {
        if (thread == nullptr) {
            return -1;
        }
        static_cast<COrvEventThread*>(thread)->Stop();
        return 0;
    }

    IOrvThread* GetCurrentThread() override { return COrvEventThread::Current(); }
};
}

IOrvThreadManager* IOrvThreadManager::Instance()
{
    // Stateless, so a function-local instance serves every start and stop of the library.
    static COrvThreadManager manager;
    return &manager;
}
