// A transport made of fakes and a clock the caller moves, for tests and fuzzers alike.
//
// The library's sessions run on top as they would on TCP (SetSessionManagerForTest puts the fakes in),
// but the caller decides when peers join, what frames arrive, when a peer leaves or reads its queue, and
// what time it is: keepalive scans run when the caller calls the session's timer sink, at the tick the
// caller set. Transport callbacks run on one event thread, as the real transport's do.
#ifndef PELLAX_TESTS_SUPPORT_FAKE_TRANSPORT_H
#define PELLAX_TESTS_SUPPORT_FAKE_TRANSPORT_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

#include "frame/SEQMgr.h"
#include "platform/OrvSessionManager.h"
#include "platform/OrvThread.h"
#include "platform/OrvTimer.h"
#include "platform/Zot.h"
#include "protocol/FrameCodec.h"

namespace pellax_fake {

using namespace ORV::PELLAX;

constexpr size_t kSlots = 4;  // connections a fake server holds at once
constexpr size_t kMaxQueuedFrames = 32;
constexpr size_t kMaxQueuedBytes = 256 * 1024;
constexpr size_t kSequenceOffset = 4;  // version, two reserved bytes and the flag come first

inline void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fake transport: %s\n", what);
        std::abort();
    }
}

// The clock the library reads once InstallFakeTransport has run, in milliseconds.
inline std::atomic<uint64_t> g_tick{1000000};

inline uint64_t FakeTick()
{
    return g_tick.load();
}

class CTaskEvent : public IOrvCustomizeEvent {
public:
    explicit CTaskEvent(std::function<void()> task) : m_task(std::move(task)) {}
    int OnEvent() override
    {
        m_task();
        return 0;
    }

private:
    std::function<void()> m_task;
};

inline IOrvThread* g_thread = nullptr;  // the transport's event thread

inline bool OnEventThread()
{
    return IOrvThreadManager::Instance()->GetCurrentThread() == g_thread;
}

inline void PostToEventThread(std::function<void()> task)
{
    CTaskEvent* event = new CTaskEvent(std::move(task));
    if (g_thread->PostEvent(event) != 0) {
        delete event;
    }
}

// Runs the task on the event thread and waits for it; at once when already there.
inline void RunOnEventThread(const std::function<void()>& task)
{
    if (OnEventThread()) {
        task();
        return;
    }
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    PostToEventThread([&] {
        task();
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
        done.notify_one();
    });
    std::unique_lock<std::mutex> lock(mutex);
    done.wait(lock, [&] {
        return finished;
    });
}

// The library hands the transport whole frames: each decodes to exactly its header and body.
inline MessageHeaderPtr CheckSentFrame(const COrvMessageBlock* frame)
{
    Check(frame != nullptr, "a null frame was sent");
    MessageBlockPtr copy = COrvMessageBlock::Create(frame->GetReadPtr(), frame->GetLength());
    MessageHeaderPtr header;
    if (!copy) {
        return header;
    }
    Check(DecodeFrame(copy.Get(), &header) == 0, "a sent frame does not decode");
    Check(copy->GetLength() == header->GetBodyLength(), "a sent frame holds more than its header announces");
    return header;
}

// The answer a synchronous request gets when the input arms one: the input's frame with the request's sequence
// written over its own, then a well-formed answer, so the call never waits out its time-out. Armed on the host
// thread; the event thread sends too, so it sits behind a lock.
class CSyncAnswer {
public:
    void Arm(std::vector<uint8_t> frame)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_frame = std::move(frame);
        m_bArmed = true;
        m_bAnswered = false;
    }

    // True when a request took the answer.
    bool Disarm()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bArmed = false;
        return m_bAnswered;
    }

    // The answers to a sent frame; none unless armed and the frame is a synchronous request.
    std::vector<MessageBlockPtr> Take(const COrvMessageBlock& request, const MessageHeaderPtr& header)
    {
        std::vector<MessageBlockPtr> frames;
        // Odd commands too: the library sends whatever command the host gives a synchronous call.
        bool syncRequest = header && (header->GetSequence() & CSEQMgr::kSyncBit) != 0;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bArmed || !syncRequest) {
            return frames;
        }
        m_bArmed = false;
        m_bAnswered = true;
        if (m_frame.size() >= kSequenceOffset + 4) {
            std::memcpy(m_frame.data() + kSequenceOffset, request.GetReadPtr() + kSequenceOffset, 4);
            frames.push_back(COrvMessageBlock::Create(m_frame.data(), m_frame.size()));
        }
        CPellaxMessageHeader answer(header->GetCommand() | 1u, 0, header->GetSequence(), 0, 0, 0);
        MessageBlockPtr encoded;
        if (EncodeFrame(&answer, nullptr, 0, true, &encoded) == 0) {
            frames.push_back(encoded);
        }
        return frames;
    }

private:
    std::mutex m_mutex;
    bool m_bArmed = false;
    bool m_bAnswered = false;
    std::vector<uint8_t> m_frame;
};

inline CSyncAnswer g_answer;

// What a peer that never reads leaves behind: refused once full, emptied when the input says so.
class CSendQueue {
public:
    int Push(COrvMessageBlock* frame)
    {
        if (m_frames.size() >= kMaxQueuedFrames || m_bytes + frame->GetLength() > kMaxQueuedBytes) {
            m_bRefused = true;
            return ORV_ERROR_WOULD_BLOCK;
        }
        m_bytes += frame->GetLength();
        m_frames.emplace_back(frame);
        return 0;
    }

    std::vector<MessageBlockPtr> Frames() const { return m_frames; }

    // True when a send was refused since the last drain.
    bool Drain()
    {
        m_frames.clear();
        m_bytes = 0;
        bool refused = m_bRefused;
        m_bRefused = false;
        return refused;
    }

private:
    std::vector<MessageBlockPtr> m_frames;
    size_t m_bytes = 0;
    bool m_bRefused = false;
};

class CFakeID : public IOrvID, public COrvReferenceControlT<COrvLockMutex> {
public:
    explicit CFakeID(uint32_t id) : m_id(id) {}

    uint32_t AddReference() override { return COrvReferenceControlT::AddReference(); }
    uint32_t RemoveReference() override { return COrvReferenceControlT::RemoveReference(); }
    uint32_t GetID() override { return m_id; }

    int GetOption(uint32_t option, void** value) override
    {
        if (option != ORV_OPTION_USER_OBJECT || value == nullptr) {
            return ORV_ERROR_INVALID;
        }
        *value = m_object;
        return 0;
    }

    int SetOption(uint32_t option, void* value) override
    {
        if (option != ORV_OPTION_USER_OBJECT) {
            return ORV_ERROR_INVALID;
        }
        m_object = value;
        return 0;
    }

    // Guarded by the server session's mutex.
    bool bAccepted = false;
    bool bLeft = false;
    bool bClosing = false;  // Disconnect asked; the leave is still to come
    uint32_t nCloseReason = 0;
    CSendQueue queue;

private:
    const uint32_t m_id;
    void* m_object = nullptr;
};

class CFakeServerSession : public IOrvServerSession, public COrvReferenceControlT<COrvLockMutex> {
public:
    uint32_t AddReference() override { return COrvReferenceControlT::AddReference(); }
    uint32_t RemoveReference() override { return COrvReferenceControlT::RemoveReference(); }

    int Open(IOrvServerSessionSink* sink, const COrvInetAddress&) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (sink == nullptr || m_pSink != nullptr || m_bClosed) {
            return ORV_ERROR_INVALID;
        }
        m_pSink = sink;
        return 0;
    }

    int Close(uint32_t reason) override
    {
        RunOnEventThread([&] {
            std::vector<CRefPtr<CFakeID>> open;
            IOrvServerSessionSink* sink = nullptr;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                for (CRefPtr<CFakeID>& slot : m_slots) {
                    if (slot && slot->bAccepted && !slot->bLeft) {
                        slot->bLeft = true;
                        open.push_back(slot);
                    }
                    slot.Reset();
                }
                sink = m_pSink;
                m_pSink = nullptr;
                m_bClosed = true;
            }
            for (CRefPtr<CFakeID>& id : open) {
                if (sink != nullptr) {
                    sink->OnLeave(this, id.Get(), reason);
                }
            }
        });
        return 0;
    }

    int Send(IOrvID* client, COrvMessageBlock* frame) override
    {
        MessageHeaderPtr header = CheckSentFrame(frame);
        std::lock_guard<std::mutex> lock(m_mutex);
        CRefPtr<CFakeID> id = FindLocked(client);
        if (m_bClosed || !id || !id->bAccepted || id->bLeft || id->bClosing) {
            return ORV_ERROR_CLOSED;
        }
        int result = id->queue.Push(frame);
        std::vector<MessageBlockPtr> answers =
            result == 0 ? g_answer.Take(*frame, header) : std::vector<MessageBlockPtr>();
        if (!answers.empty()) {
            CRefPtr<CFakeServerSession> self(this);
            PostToEventThread([self, id, answers] {
                for (const MessageBlockPtr& answer : answers) {
                    self->Deliver(id, answer);
                }
            });
        }
        return result;
    }

    int Accept(IOrvID* client, int) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_joining || m_joining.Get() != client) {
            return ORV_ERROR_INVALID;
        }
        m_joining->bAccepted = true;
        return 0;
    }

    int Disconnect(IOrvID* client, uint32_t reason) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            CRefPtr<CFakeID> id = FindLocked(client);
            if (!id || !id->bAccepted || id->bLeft || id->bClosing) {
                return ORV_ERROR_CLOSED;
            }
            id->bClosing = true;
            id->nCloseReason = reason;
        }
        CRefPtr<CFakeServerSession> self(this);
        PostToEventThread([self] {
            self->FlushLeaves();
        });
        return 0;
    }

    uint16_t GetListenPort() override { return 1; }

    // The input's side, always on the event thread.
    void Join(size_t slot)
    {
        IOrvServerSessionSink* sink = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_pSink == nullptr || (m_slots[slot] && !m_slots[slot]->bLeft)) {
                return;
            }
            m_slots[slot] = new CFakeID(++m_nextId);
            m_joining = m_slots[slot];
            sink = m_pSink;
        }
        CRefPtr<IOrvID> id(m_joining.Get());
        sink->OnJoin(this, id);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_joining && !m_joining->bAccepted && m_slots[slot] == m_joining) {
            m_slots[slot].Reset();
        }
        m_joining.Reset();
    }

    void Receive(size_t slot, const MessageBlockPtr& frame) { Deliver(Slot(slot), frame); }

    void PeerLeave(size_t slot, uint32_t reason)
    {
        CRefPtr<CFakeID> id;
        IOrvServerSessionSink* sink = Live(slot, &id);
        if (sink != nullptr) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                id->bLeft = true;
            }
            sink->OnLeave(this, id.Get(), reason);
        }
    }

    void CanSendAgain(size_t slot)
    {
        CRefPtr<CFakeID> id;
        if (IOrvServerSessionSink* sink = Live(slot, &id)) {
            sink->OnCanSendAgain(this, id.Get(), 0);
        }
    }

    void Drain()
    {
        for (size_t slot = 0; slot < kSlots; ++slot) {
            CRefPtr<CFakeID> id;
            IOrvServerSessionSink* sink = Live(slot, &id);
            bool refused = false;
            if (sink != nullptr) {
                std::lock_guard<std::mutex> lock(m_mutex);
                refused = id->queue.Drain();
            }
            if (refused) {
                sink->OnCanSendAgain(this, id.Get(), 0);
            }
        }
    }

    IOrvTimerSink* TimerSink()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return dynamic_cast<IOrvTimerSink*>(m_pSink);
    }

    // Every connection still open leaves (those being disconnected first), and the slots are emptied.
    void EndAll()
    {
        FlushLeaves();
        for (size_t slot = 0; slot < kSlots; ++slot) {
            PeerLeave(slot, ORV_REASON_PEER_CLOSED);
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        for (CRefPtr<CFakeID>& slot : m_slots) {
            slot.Reset();
        }
    }

private:
    CRefPtr<CFakeID> FindLocked(IOrvID* client)
    {
        for (CRefPtr<CFakeID>& slot : m_slots) {
            if (slot && slot.Get() == client) {
                return slot;
            }
        }
        return CRefPtr<CFakeID>();
    }

    CRefPtr<CFakeID> Slot(size_t slot)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_slots[slot];
    }

    // The sink when the slot holds a connection that frames may still arrive on.
    IOrvServerSessionSink* Live(size_t slot, CRefPtr<CFakeID>* id)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        *id = m_slots[slot];
        bool live = *id && (*id)->bAccepted && !(*id)->bLeft && !(*id)->bClosing;
        return live ? m_pSink : nullptr;
    }

    void Deliver(const CRefPtr<CFakeID>& id, const MessageBlockPtr& frame)
    {
        IOrvServerSessionSink* sink = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (id && id->bAccepted && !id->bLeft && !id->bClosing) {
                sink = m_pSink;
            }
        }
        if (sink != nullptr && frame) {
            sink->OnReceive(this, id.Get(), frame.Get());
        }
    }

    void FlushLeaves()
    {
        for (size_t slot = 0; slot < kSlots; ++slot) {
            IOrvServerSessionSink* sink = nullptr;
            CRefPtr<CFakeID> id;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                id = m_slots[slot];
                if (m_pSink == nullptr || !id || !id->bClosing || id->bLeft) {
                    continue;
                }
                id->bLeft = true;
                sink = m_pSink;
            }
            sink->OnLeave(this, id.Get(), id->nCloseReason);
        }
    }

    std::mutex m_mutex;
    IOrvServerSessionSink* m_pSink = nullptr;
    bool m_bClosed = false;
    CRefPtr<CFakeID> m_slots[kSlots];
    CRefPtr<CFakeID> m_joining;  // the connection inside OnJoin, the only one Accept takes
    uint32_t m_nextId = 0;
};

class CFakeClientSession : public IOrvClientSession, public COrvReferenceControlT<COrvLockMutex> {
public:
    uint32_t AddReference() override { return COrvReferenceControlT::AddReference(); }
    uint32_t RemoveReference() override { return COrvReferenceControlT::RemoveReference(); }

    int Connect(IOrvClientSessionSink* sink, const COrvInetAddress&, const COrvTimeValue&,
                const COrvInetAddress*) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (sink == nullptr || m_state != State::kIdle) {
            return ORV_ERROR_INVALID;
        }
        m_pSink = sink;
        m_state = State::kConnecting;
        return 0;
    }

    int Close(uint32_t reason) override
    {
        RunOnEventThread([&] {
            State state;
            IOrvClientSessionSink* sink = nullptr;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                state = m_state;
                sink = m_pSink;
                m_state = State::kEnded;
                m_pSink = nullptr;
            }
            if (sink != nullptr && state == State::kConnecting) {
                sink->OnJoin(this, ORV_JOIN_CLOSED);
            } else if (sink != nullptr && state == State::kJoined) {
                sink->OnLeave(this, reason);
            }
        });
        return 0;
    }

    int Send(int, COrvMessageBlock* frame) override
    {
        MessageHeaderPtr header = CheckSentFrame(frame);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_state != State::kJoined) {
            return ORV_ERROR_CLOSED;
        }
        int result = m_queue.Push(frame);
        std::vector<MessageBlockPtr> answers =
            result == 0 ? g_answer.Take(*frame, header) : std::vector<MessageBlockPtr>();
        if (!answers.empty()) {
            CRefPtr<CFakeClientSession> self(this);
            PostToEventThread([self, answers] {
                for (const MessageBlockPtr& answer : answers) {
                    self->Receive(answer);
                }
            });
        }
        return result;
    }

    // The input's side, always on the event thread.
    void Join(uint32_t result)
    {
        IOrvClientSessionSink* sink = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_state != State::kConnecting) {
                return;
            }
            m_state = result == 0 ? State::kJoined : State::kEnded;
            sink = m_pSink;
        }
        sink->OnJoin(this, result);
    }

    void Receive(const MessageBlockPtr& frame)
    {
        if (IOrvClientSessionSink* sink = Joined()) {
            if (frame) {
                sink->OnReceive(this, frame.Get());
            }
        }
    }

    void PeerLeave(uint32_t reason)
    {
        IOrvClientSessionSink* sink = Joined();
        if (sink == nullptr) {
            return;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_state = State::kEnded;
        }
        sink->OnLeave(this, reason);
    }

    void CanSendAgain(bool onlyAfterRefusal)
    {
        IOrvClientSessionSink* sink = Joined();
        bool refused = false;
        if (sink != nullptr) {
            std::lock_guard<std::mutex> lock(m_mutex);
            refused = m_queue.Drain();
        }
        if (sink != nullptr && (refused || !onlyAfterRefusal)) {
            sink->OnCanSendAgain(this, 0);
        }
    }

    IOrvTimerSink* TimerSink()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_state == State::kJoined ? dynamic_cast<IOrvTimerSink*>(m_pSink) : nullptr;
    }

    // What the library sent that the peer has not read yet.
    std::vector<MessageBlockPtr> Sent()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_queue.Frames();
    }

private:
    enum class State { kIdle, kConnecting, kJoined, kEnded };

    IOrvClientSessionSink* Joined()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_state == State::kJoined ? m_pSink : nullptr;
    }

    std::mutex m_mutex;
    IOrvClientSessionSink* m_pSink = nullptr;
    State m_state = State::kIdle;
    CSendQueue m_queue;
};

// Hands the sessions fakes and keeps the latest of each for the input to drive.
class CFakeSessionManager : public IOrvSessionManager {
public:
    int CreateServerSession(uint32_t, CRefPtr<IOrvServerSession>& session) override
    {
        CRefPtr<CFakeServerSession> fake(new CFakeServerSession);
        server = fake;
        session = fake.Get();
        return 0;
    }

    int CreateClientSession(uint32_t, CRefPtr<IOrvClientSession>& session) override
    {
        CRefPtr<CFakeClientSession> fake(new CFakeClientSession);
        client = fake;
        session = fake.Get();
        return 0;
    }

    CRefPtr<CFakeServerSession> server;
    CRefPtr<CFakeClientSession> client;
};

inline CFakeSessionManager* g_manager = nullptr;

// Puts the fakes and the fake clock in, with the transport's event thread; once per process.
inline CFakeSessionManager* InstallFakeTransport()
{
    if (g_manager == nullptr) {
        ZOT_SetTickSource(FakeTick);
        g_manager = new CFakeSessionManager;
        SetSessionManagerForTest(g_manager);
        Check(IOrvThreadManager::Instance()->CreateThread(0, 0, nullptr, &g_thread) == 0, "no event thread");
    }
    return g_manager;
}

}  // namespace pellax_fake

#endif
