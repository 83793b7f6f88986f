// Registry of traced requests awaiting their response: span handles by span identifier. A sweep on
// the manager's own thread finishes requests left unanswered for 45 s as timed out.
#ifndef PELLAX_PROTOCOL_MESSAGE_HEADER_MGR_H
#define PELLAX_PROTOCOL_MESSAGE_HEADER_MGR_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "platform/OrvThread.h"
#include "platform/OrvTimeValue.h"
#include "platform/OrvTimer.h"
#include "platform/Zot.h"
#include "frame/ResultCodes.h"

class CMessageHeaderMgr : public IOrvTimerSink, public IOrvThreadSink {
public:
    static constexpr int64_t kSweepPeriodSeconds = 30;
    static constexpr uint64_t kMaxAgeMs = 45000;
    static constexpr int kThreadRefused = ORV::PELLAX::kResultNotDone;

    CMessageHeaderMgr() = default;
    ~CMessageHeaderMgr() override;
    CMessageHeaderMgr(const CMessageHeaderMgr&) = delete;
    CMessageHeaderMgr& operator=(const CMessageHeaderMgr&) = delete;

    // Starts the sweeping thread (0, also when it runs already; kThreadRefused when it cannot).
    int Start();
    // Ends the sweeping thread; the entries stay. Not from the manager's own thread.
    void Stop();

    // Stores a span under its identifier; a span already stored there is released, not finished.
    void Add(const std::string& spanId, uint64_t span);
    // Removes and returns the span stored under the identifier, 0 if none.
    uint64_t Take(const std::string& spanId);

    // Finishes every entry stored kMaxAgeMs or longer ago as timed out. Runs on the manager's
    // thread every sweep period; tests call it directly with a controlled tick.
    void Sweep();
    size_t GetEntryCount();

    void OnTimer(COrvTimer* timer) override;
    void OnThreadStart() override;
    void OnThreadStop() override;

private:
    struct Entry {
        uint64_t m_nSpan;  // handle from the trace library
        uint64_t m_nTick;  // when it was stored
    };

    bool RemoveIfUnchanged(const std::string& spanId, const Entry& seen);

    std::map<std::string, Entry> m_entries;  // by span identifier
    ZOT_Mutex m_lock;                        // guards m_entries only
    COrvTimer m_timer;                       // the sweep; lives on m_thread
    COrvTimeValue m_interval;
    COrvTimeValue m_delay;
    IOrvThread* m_thread = nullptr;
    ZOT_Mutex m_threadLock;                  // serialises Start and Stop; never held with m_lock
};

#endif
