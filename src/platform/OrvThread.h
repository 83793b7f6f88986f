// Event threads: each runs its own event loop; other threads post events to it.
#ifndef PELLAX_PLATFORM_ORV_THREAD_H
#define PELLAX_PLATFORM_ORV_THREAD_H

// Work posted to an event thread. Once posting succeeded the event belongs to that thread, which
// runs OnEvent and then OnDestroy; an event the thread never gets to run is only destroyed.
class IOrvCustomizeEvent {
public:
    virtual ~IOrvCustomizeEvent() = default;
    virtual int OnEvent() = 0;
    virtual void OnDestroy() { delete this; }
};

class IOrvThreadSink {
public:
    virtual ~IOrvThreadSink() = default;
    // Runs on the new thread before its first event.
    virtual void OnThreadStart() = 0;
    // Runs on the thread after its last event.
    virtual void OnThreadStop() = 0;
};

class IOrvThread {
public:
    virtual ~IOrvThread() = default;
    // 0 when accepted; otherwise the event is still the caller's.
    virtual int PostEvent(IOrvCustomizeEvent* event) = 0;
    // Like PostEvent, in the same order with posted events, but without waking the thread: the event
    // runs before the next posted one, at the thread's next timer tick, or once enough have gathered.
    // For bookkeeping nobody waits on, where a wake-up would cost more than the work.
    virtual int DeferEvent(IOrvCustomizeEvent* event) = 0;
};

class IOrvThreadManager {
public:
    static IOrvThreadManager* Instance();
    virtual ~IOrvThreadManager() = default;

    // Operation 0: starts a thread with its own event loop; the arguments flags and type are accepted
    // and carry no meaning here. 0 on success.
    virtual int CreateThread(int flags, int type, IOrvThreadSink* sink, IOrvThread** thread) = 0;
    // Operation 1: frees a stopped thread (stops it first if needed). Not from the thread itself.
    virtual int ReleaseThread(IOrvThread* thread) = 0;
    // Operation 2: runs the events already posted, ends the thread and returns once it has ended.
    // Called on the thread itself it only asks the loop to end.
    virtual int StopThread(IOrvThread* thread) = 0;
    // Operation 3: the calling thread's handle; null on a thread the manager did not create.
    virtual IOrvThread* GetCurrentThread() = 0;
};

#endif
