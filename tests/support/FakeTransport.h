// A transport made of fakes and a clock the caller moves, for tests and fuzzers alike.
//
// The library's sessions run on top as they would on TCP (SetSessionManagerForTest puts the fakes in),
// but the caller decides when peers join, what frames arrive, when a peer leaves, and what time it is: keepalive scans run when the caller calls the session's timer sink, at the tick the
// caller set. Transport callbacks run on one event thread, as the real transport's do.
#ifndef PELLAX_TESTS_SUPPORT_FAKE_TRANSPORT_H
#define PELLAX_TESTS_SUPPORT_FAKE_TRANSPORT_H

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/OrvSessionManager.h"
#include "platform/OrvThread.h"
#include "platform/OrvTimer.h"
#include "platform/Zot.h"
#include "protocol/FrameCodec.h"
#include "support/EventThreadHelper.h"

namespace pellax_fake {

using namespace ORV::PELLAX;

constexpr size_t kSlots = 4;  // connections a fake server holds at once

inline void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fake transport: %s\n", what);
        std::abort();
    }
}

// The clock the library reads once InstallFakeTransport has run, in milliseconds.
inline std::atomic<uint64_t> g_tick{1000000};
inline IOrvThread* g_thread = nullptr;  // the transport's event thread
// Guards every fake's state; never held while a sink runs, because sinks send.
inline std::mutex g_mutex;
// Frames the peer sends back at once for a frame the library sent (a fuzzer's answers to synchronous
// requests); set while no session runs.
inline std::function<std::vector<MessageBlockPtr>(const COrvMessageBlock& frame, const MessageHeaderPtr& header)>
    g_answer;

inline MessageBlockPtr Block(const std::vector<uint8_t>& bytes)
{
    return COrvMessageBlock::Create(bytes.data(), bytes.size());
}

// Runs the task on the event thread and waits for it; at once when already there.
inline void RunOnEventThread(const std::function<void()>& task)
{
    if (IOrvThreadManager::Instance()->GetCurrentThread() == g_thread) {
        task();
    } else {
        Check(pellax_test::RunOn(g_thread, task), "the event thread did not run a task in time");
    }
}

// One end of a connection, which takes every frame sent while it is open.
struct CPeer {
    bool live = false;     // joined and not yet left
    bool closing = false;  // Disconnect asked; the leave is still to come
    uint32_t reason = 0;

    // Under g_mutex; the answers are for the caller to deliver. The library hands the transport whole
    // frames: each decodes to exactly its header and body.
    int Take(COrvMessageBlock* frame, std::vector<MessageBlockPtr>* answers)
    {
        Check(frame != nullptr, "a null frame was sent");
        MessageBlockPtr copy = COrvMessageBlock::Create(frame->GetReadPtr(), frame->GetLength());
        MessageHeaderPtr header;
        if (copy) {
            Check(DecodeFrame(copy.Get(), &header) == 0, "a sent frame does not decode");
            Check(copy->GetLength() == header->GetBodyLength(), "a sent frame holds more than its header announces");
        }
        if (!live || closing) {
            return ORV_ERROR_CLOSED;
        }
        if (g_answer && header) {
            *answers = g_answer(*frame, header);
        }
        return 0;
    }
    bool Open() const { return live && !closing; }
};

class CFakeID : public IOrvID, public COrvReferenceControlT<COrvLockMutex> {
public:
    explicit CFakeID(uint32_t id) : m_id(id) {}

    uint32_t AddReference() override { return COrvReferenceControlT::AddReference(); }
    uint32_t RemoveReference() override { return COrvReferenceControlT::RemoveReference(); }
    uint32_t GetID() override { return m_id; }
    int GetOption(uint32_t option, void** value) override
    {
        return option == ORV_OPTION_USER_OBJECT && value != nullptr ? (*value = m_object, 0) : ORV_ERROR_INVALID;
    }
    int SetOption(uint32_t option, void* value) override
    {
        return option == ORV_OPTION_USER_OBJECT ? (m_object = value, 0) : ORV_ERROR_INVALID;
    }

    CPeer peer;

private:
    const uint32_t m_id;
    void* m_object = nullptr;
};

// Sends a frame to the peer, and posts the peer's answers back to be delivered on the event thread.
template <class Session, class Deliver>
int SendToPeer(Session* session, CPeer& peer, COrvMessageBlock* frame, Deliver deliver)
{
    std::vector<MessageBlockPtr> answers;
    std::lock_guard<std::mutex> lock(g_mutex);
    int result = peer.Take(frame, &answers);
    if (!answers.empty()) {
        CRefPtr<Session> self(session);
        pellax_test::Post(g_thread, [self, answers, deliver] {
            for (const MessageBlockPtr& answer : answers) {
                deliver(self.Get(), answer);
            }
        });
    }
    return result;
}

class CFakeServerSession : public IOrvServerSession, public COrvReferenceControlT<COrvLockMutex> {
public:
    uint32_t AddReference() override { return COrvReferenceControlT::AddReference(); }
    uint32_t RemoveReference() override { return COrvReferenceControlT::RemoveReference(); }
    uint16_t GetListenPort() override { return 1; }

    int Open(IOrvServerSessionSink* sink, const COrvInetAddress&) override
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (sink == nullptr || m_pSink != nullptr || m_bClosed) {
            return ORV_ERROR_INVALID;
        }
        m_pSink = sink;
        return 0;
    }
    int Close(uint32_t reason) override
    {
        RunOnEventThread([&] {
            EndAll(reason);
            std::lock_guard<std::mutex> lock(g_mutex);
            m_pSink = nullptr;
            m_bClosed = true;
        });
        return 0;
    }
    int Send(IOrvID* client, COrvMessageBlock* frame) override
    {
        CRefPtr<CFakeID> id(static_cast<CFakeID*>(client));
        return SendToPeer(this, id->peer, frame,
                          [id](CFakeServerSession* self, const MessageBlockPtr& answer) { self->Deliver(id, answer); });
    }
    int Accept(IOrvID* client, int) override
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!m_joining || m_joining.Get() != client) {
            return ORV_ERROR_INVALID;
        }
        m_joining->peer.live = true;
        return 0;
    }
    int Disconnect(IOrvID* client, uint32_t reason) override
    {
        CRefPtr<CFakeID> id(static_cast<CFakeID*>(client));
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            if (!id->peer.Open()) {
                return ORV_ERROR_CLOSED;
            }
            id->peer.closing = true;
            id->peer.reason = reason;
        }
        CRefPtr<CFakeServerSession> self(this);
        pellax_test::Post(g_thread, [self, id] { self->End(id, 0); });
        return 0;
    }

    // The input's side, always on the event thread.
    void Join(size_t slot)
    {
        CRefPtr<IOrvID> id;
        IOrvServerSessionSink* sink = nullptr;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            if (m_pSink == nullptr || (m_slots[slot] && m_slots[slot]->peer.live)) {
                return;
            }
            m_slots[slot] = m_joining = new CFakeID(++m_nextId);
            id = m_joining.Get();
            sink = m_pSink;
        }
        sink->OnJoin(this, id);
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!m_joining->peer.live && m_slots[slot] == m_joining) {
            m_slots[slot].Reset();
        }
        m_joining.Reset();
    }

    void Receive(size_t slot, const MessageBlockPtr& frame) { Deliver(Slot(slot), frame); }

    void Leave(size_t slot, uint32_t reason) { End(Slot(slot), reason); }

    // The connection ends, if open; one being disconnected leaves with the host's reason.
    void End(const CRefPtr<CFakeID>& id, uint32_t reason)
    {
        IOrvServerSessionSink* sink = nullptr;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            if (m_pSink == nullptr || !id || !id->peer.live) {
                return;
            }
            id->peer.live = false;
            reason = id->peer.closing ? id->peer.reason : reason;
            sink = m_pSink;
        }
        sink->OnLeave(this, id.Get(), reason);
    }

    IOrvTimerSink* TimerSink() { return dynamic_cast<IOrvTimerSink*>(m_pSink.load()); }

    // Every connection still open leaves, and the slots are emptied.
    void EndAll(uint32_t reason = ORV_REASON_PEER_CLOSED)
    {
        for (size_t slot = 0; slot < kSlots; ++slot) {
            Leave(slot, reason);
            std::lock_guard<std::mutex> lock(g_mutex);
            m_slots[slot].Reset();
        }
    }

private:
    CRefPtr<CFakeID> Slot(size_t slot)
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        return m_slots[slot];
    }
    // The sink, while the connection is open.
    IOrvServerSessionSink* Sink(const CRefPtr<CFakeID>& id)
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        return id && id->peer.Open() ? m_pSink.load() : nullptr;
    }
    void Deliver(const CRefPtr<CFakeID>& id, const MessageBlockPtr& frame)
    {
        if (IOrvServerSessionSink* sink = Sink(id); sink != nullptr && frame) {
            sink->OnReceive(this, id.Get(), frame.Get());
        }
    }

    std::atomic<IOrvServerSessionSink*> m_pSink{nullptr};
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
        std::lock_guard<std::mutex> lock(g_mutex);
        if (sink == nullptr || m_pSink != nullptr || m_bEnded) {
            return ORV_ERROR_INVALID;
        }
        m_pSink = sink;
        return 0;
    }
    // Ends the connection, or the connect still under way.
    int Close(uint32_t reason) override
    {
        RunOnEventThread([&] {
            IOrvClientSessionSink* sink = nullptr;
            bool joined = false;
            {
                std::lock_guard<std::mutex> lock(g_mutex);
                sink = m_bEnded ? nullptr : m_pSink;
                joined = std::exchange(m_peer.live, false);
                m_bEnded = true;
            }
            if (sink != nullptr && joined) {
                sink->OnLeave(this, reason);
            } else if (sink != nullptr) {
                sink->OnJoin(this, ORV_JOIN_CLOSED);
            }
        });
        return 0;
    }
    int Send(int, COrvMessageBlock* frame) override
    {
        return SendToPeer(this, m_peer, frame,
                          [](CFakeClientSession* self, const MessageBlockPtr& answer) { self->Receive(answer); });
    }

    // The input's side, always on the event thread.
    void Join(uint32_t result)
    {
        IOrvClientSessionSink* sink = nullptr;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            if (m_pSink == nullptr || m_bEnded || m_peer.live) {
                return;
            }
            m_peer.live = result == 0;
            m_bEnded = result != 0;
            sink = m_pSink;
        }
        sink->OnJoin(this, result);
    }
    void Receive(const MessageBlockPtr& frame)
    {
        if (IOrvClientSessionSink* sink = Sink(); sink != nullptr && frame) {
            sink->OnReceive(this, frame.Get());
        }
    }
    void PeerLeave(uint32_t reason)
    {
        if (IOrvClientSessionSink* sink = Sink(true); sink != nullptr) {
            sink->OnLeave(this, reason);
        }
    }
    IOrvTimerSink* TimerSink() { return dynamic_cast<IOrvTimerSink*>(Sink()); }

private:
    // The sink while joined; ending the connection when asked.
    IOrvClientSessionSink* Sink(bool end = false)
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!m_peer.live) {
            return nullptr;
        }
        m_peer.live = !end;
        m_bEnded = end;
        return m_pSink;
    }

    IOrvClientSessionSink* m_pSink = nullptr;
    bool m_bEnded = false;
    CPeer m_peer;
};

// Hands the sessions fakes and keeps the latest of each for the input to drive.
class CFakeSessionManager : public IOrvSessionManager {
public:
    int CreateServerSession(uint32_t, CRefPtr<IOrvServerSession>& session) override
    {
        session = (server = new CFakeServerSession).Get();
        return 0;
    }
    int CreateClientSession(uint32_t, CRefPtr<IOrvClientSession>& session) override
    {
        session = (client = new CFakeClientSession).Get();
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
        ZOT_SetTickSource([] { return g_tick.load(); });
        g_manager = new CFakeSessionManager;
        SetSessionManagerForTest(g_manager);
        Check(IOrvThreadManager::Instance()->CreateThread(0, 0, nullptr, &g_thread) == 0, "no event thread");
    }
    return g_manager;
}

}  // namespace pellax_fake

#endif
