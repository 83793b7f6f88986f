// Arbitrary frame sequences fed into a server session and a client session through a fake transport, with the host's
// callbacks checking what reaches them. Both sessions run behind the PELLAX_* exports, as a host uses them; only the
// transport under them is replaced (SetSessionManagerForTest).
//
// Input: operations of one byte each (low 5 bits the operation, high 3 bits a connection slot or client id) followed
// by their arguments; a frame or body is a 2-byte little-endian length and up to that many bytes. Transport callbacks
// run on one event thread, as the real transport's do; host calls run on the fuzzer's thread. Time is a tick source
// the input advances, and the keepalive scans run when the input asks for them, so an input replays the same way.
// The seeds come from fuzz/session_seeds.py.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "frame/SEQMgr.h"
#include "pellax.h"
#include "platform/OrvSessionManager.h"
#include "platform/OrvThread.h"
#include "platform/OrvTimer.h"
#include "platform/Zot.h"
#include "protocol/FrameCodec.h"

using namespace ORV::PELLAX;

namespace {

constexpr size_t kSlots = 4;
constexpr uint32_t kMaxIds = 1024;
constexpr size_t kMaxQueuedFrames = 32;
constexpr size_t kMaxQueuedBytes = 256 * 1024;
constexpr uint32_t kSyncTimeoutSeconds = 5;
constexpr size_t kSequenceOffset = 4;  // version, two reserved bytes and the flag come first

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "session fuzzer: %s\n", what);
        std::abort();
    }
}

std::atomic<uint64_t> g_tick{1000000};

uint64_t FakeTick()
{
    return g_tick.load();
}

int DropLog(int, const char*, const char* format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    return 0;
}

class CInput {
public:
    CInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool Empty() const { return m_pos >= m_size; }
    uint8_t Peek() const { return Empty() ? 0 : m_data[m_pos]; }
    uint8_t Byte() { return Empty() ? 0 : m_data[m_pos++]; }

    std::vector<uint8_t> Bytes(size_t wanted)
    {
        size_t length = std::min(wanted, m_size - m_pos);
        std::vector<uint8_t> bytes(m_data + m_pos, m_data + m_pos + length);
        m_pos += length;
        return bytes;
    }

    std::vector<uint8_t> Chunk16()
    {
        size_t low = Byte();
        return Bytes(low | static_cast<size_t>(Byte()) << 8);
    }

    // A length byte and up to that many bytes, for a C string parameter (read up to its first NUL).
    std::string Text()
    {
        std::vector<uint8_t> bytes = Bytes(Byte());
        return std::string(bytes.begin(), bytes.end());
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

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

IOrvThread* g_thread = nullptr;  // the transport's event thread

bool OnEventThread()
{
    return IOrvThreadManager::Instance()->GetCurrentThread() == g_thread;
}

void PostToEventThread(std::function<void()> task)
{
    CTaskEvent* event = new CTaskEvent(std::move(task));
    if (g_thread->PostEvent(event) != 0) {
        delete event;
    }
}

// Runs the task on the event thread and waits for it; at once when already there.
void RunOnEventThread(const std::function<void()>& task)
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
MessageHeaderPtr CheckSentFrame(const COrvMessageBlock* frame)
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

CSyncAnswer g_answer;

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

CFakeSessionManager* g_manager = nullptr;

// Every byte the host is shown is read, so a record pointing past its memory is caught here.
uint32_t TouchRecord(const PELLAX_Message* message)
{
    Check(message != nullptr, "a data notification without a record");
    Check(message->dataLength >= 0 && (message->dataLength == 0 || message->data != nullptr), "a record with bad data");
    uint32_t sum = 0;
    for (int32_t i = 0; i < message->dataLength; ++i) {
        sum += message->data[i];
    }
    size_t nodes = 0;
    for (const PELLAX_MessageExt* node = message->ext; node != nullptr; node = node->next) {
        Check(++nodes <= 65536, "an extension list that does not end");
        Check(node->length == 0 || node->data != nullptr, "an extension node with bad data");
        for (uint32_t i = 0; i < node->length; ++i) {
            sum += node->data[i];
        }
    }
    return sum;
}

// What the server host may be told: a join for an id that is not joined, data and leaves only for a joined one, and
// nothing at all once the session is destroyed.
struct ServerView {
    std::mutex mutex;
    bool bOpen = false;
    bool joined[kMaxIds] = {};
};
ServerView g_serverView;

int ServerNotify(unsigned int id, unsigned int type, PELLAX_Message* message, void*)
{
    std::lock_guard<std::mutex> lock(g_serverView.mutex);
    Check(g_serverView.bOpen, "a server notification after DestroySession returned");
    Check(id < kMaxIds, "a server notification for an id out of range");
    bool& joined = g_serverView.joined[id];
    switch (type) {
    case 1:
        Check(!joined && message == nullptr, "a join for an id that is joined");
        joined = true;
        break;
    case 4:
        Check(joined && message == nullptr, "a leave for an id that is not joined");
        joined = false;
        break;
    case 0:
    case 5:
    case 6:
        Check(joined, "a frame notification for an id that is not joined");
        TouchRecord(message);
        break;
    default:
        Check(false, "an undocumented server notification");
    }
    return 0;
}

// The client host: one connect outcome per session, frames only while connected, nothing for a handle once its
// session is destroyed.
struct ClientView {
    std::mutex mutex;
    int handle = -1;
    bool bJoinReported = false;
    bool bConnected = false;
};
ClientView g_clientView;

int ClientNotify(unsigned int handle, unsigned int type, PELLAX_Message* message, void*)
{
    std::lock_guard<std::mutex> lock(g_clientView.mutex);
    Check(static_cast<int>(handle) == g_clientView.handle, "a client notification for a destroyed handle");
    switch (type) {
    case 1:
    case 2:
        Check(!g_clientView.bJoinReported, "a second connect outcome");
        g_clientView.bJoinReported = true;
        g_clientView.bConnected = type == 1;
        break;
    case 3:
        Check(g_clientView.bConnected, "a leave without a connection");
        g_clientView.bConnected = false;
        break;
    case 4:
        break;
    case 0:
    case 5:
    case 6:
        Check(g_clientView.bConnected, "a frame notification without a connection");
        TouchRecord(message);
        break;
    default:
        Check(false, "an undocumented client notification");
    }
    return 0;
}

constexpr int kServerOptionCount = 4;
// The first are the options every input starts with; the others only come with a re-creation.
const char* const kServerOptions[kServerOptionCount] = {
    R"({"keepalive-interval":1,"keepalive-timeout":1})",
    nullptr,
    R"({"keepalive-interval":2,"keepalive-timeout":3})",
    "{}",
};

// Starting the server session starts and stops a thread, which would cost more than most inputs: it stays
// open from one input to the next unless an input re-creates it, and every input ends with all its
// connections gone, each reported to the host.
int g_serverOptions = -1;

void CreateServer(uint8_t options)
{
    g_serverOptions = options % kServerOptionCount;
    {
        std::lock_guard<std::mutex> lock(g_serverView.mutex);
        g_serverView.bOpen = true;
        std::memset(g_serverView.joined, 0, sizeof(g_serverView.joined));
    }
    Check(PELLAX_SERVER_CreateSession("127.0.0.1", 0, kServerOptions[g_serverOptions]) == 0, "server create failed");
}

void DestroyServer()
{
    PELLAX_SERVER_DestroySession();
    std::lock_guard<std::mutex> lock(g_serverView.mutex);
    g_serverView.bOpen = false;
}

void CreateClient()
{
    std::lock_guard<std::mutex> lock(g_clientView.mutex);
    g_clientView.handle = PELLAX_CLIENT_CreateSession("127.0.0.1", 1, nullptr);
    Check(g_clientView.handle >= 0, "client create failed");
    g_clientView.bJoinReported = false;
    g_clientView.bConnected = false;
}

void DestroyClient()
{
    int handle = g_clientView.handle;
    PELLAX_CLIENT_DestroySession(static_cast<unsigned int>(handle));
    std::lock_guard<std::mutex> lock(g_clientView.mutex);
    g_clientView.handle = -1;
}

MessageBlockPtr Block(const std::vector<uint8_t>& bytes)
{
    return COrvMessageBlock::Create(bytes.data(), bytes.size());
}

// A host record from the input: command and flag bytes, one extension node cut from the body's front.
struct HostMessage {
    PELLAX_Message message{};
    PELLAX_MessageExt ext{};
    std::vector<uint8_t> body;
    uint8_t empty = 0;

    explicit HostMessage(CInput& in)
    {
        message.command = 1000u + in.Byte();
        message.flag = in.Byte();
        size_t extLength = in.Byte() % 16;
        body = in.Chunk16();
        message.data = body.empty() ? &empty : body.data();
        message.dataLength = static_cast<int32_t>(body.size());
        if (extLength > 0 && extLength <= body.size()) {
            ext.type = message.command;
            ext.length = static_cast<uint32_t>(extLength);
            ext.data = body.data();
            message.ext = &ext;
        }
    }
};

void FreeResponse(PELLAX_Message* response)
{
    PELLAX_MessageExt* node = response->ext;
    while (node != nullptr) {
        PELLAX_MessageExt* next = node->next;
        PELLAX_FreeBuffer(node->data);
        PELLAX_FreeBuffer(node);
        node = next;
    }
    PELLAX_FreeBuffer(response->data);
}

// Arms the fake transport with the input's answer, makes the call, and checks that an answered call came back with
// its answer.
template <class Call> void SyncCall(CInput& in, Call call)
{
    HostMessage request(in);
    g_answer.Arm(in.Chunk16());
    PELLAX_Message response{};
    int result = call(&request.message, &response);
    bool answered = g_answer.Disarm();
    if (result == 0) {
        TouchRecord(&response);
        Check(response.sequence == request.message.sequence, "a response record with another call's sequence");
        FreeResponse(&response);
    }
    Check(!answered || result == 0, "an answered synchronous call failed");
}

void AdvanceClock(CInput& in)
{
    g_tick.fetch_add(static_cast<uint64_t>(in.Byte()) * 1000u);
}

uint32_t Reason(CInput& in)
{
    return ORV_REASON_PEER_CLOSED + in.Byte() % 5;
}

enum Operation : uint8_t {
    kServerJoin,
    kServerFrame,
    kServerPeerLeave,
    kServerCanSend,
    kServerDrain,
    kServerTick,
    kServerHostSend,
    kServerHostLeave,
    kServerHostUserData,
    kServerHostSyncSend,
    kServerRecreate,
    kClientJoin,
    kClientFrame,
    kClientPeerLeave,
    kClientCanSend,
    kClientDrain,
    kClientTick,
    kClientHostSend,
    kClientHostUserData,
    kClientHostSyncSend,
    kClientRecreate,
    kOperations,
};

Operation OperationOf(uint8_t op)
{
    return static_cast<Operation>((op & 0x1F) % kOperations);
}

uint8_t ArgumentOf(uint8_t op)
{
    return static_cast<uint8_t>(op >> 5);
}

bool IsTransportOperation(Operation operation)
{
    return operation <= kServerTick || (operation >= kClientJoin && operation <= kClientTick);
}

// On the event thread, as the transport would call.
void RunTransportOperation(Operation operation, size_t slot, CInput& in)
{
    CFakeServerSession* server = g_manager->server.Get();
    CFakeClientSession* client = g_manager->client.Get();
    switch (operation) {
    case kServerJoin:
        server->Join(slot);
        break;
    case kServerFrame:
        server->Receive(slot, Block(in.Chunk16()));
        break;
    case kServerPeerLeave:
        server->PeerLeave(slot, Reason(in));
        break;
    case kServerCanSend:
        server->CanSendAgain(slot);
        break;
    case kServerDrain:
        server->Drain();
        break;
    case kServerTick:
        AdvanceClock(in);
        if (IOrvTimerSink* sink = server->TimerSink()) {
            sink->OnTimer(nullptr);
        }
        break;
    case kClientJoin: {
        static const uint32_t kResults[] = {0, ORV_JOIN_REFUSED, ORV_JOIN_TIMED_OUT, ORV_JOIN_UNREACHABLE};
        client->Join(kResults[in.Byte() % 4]);
        break;
    }
    case kClientFrame:
        client->Receive(Block(in.Chunk16()));
        break;
    case kClientPeerLeave:
        client->PeerLeave(Reason(in));
        break;
    case kClientCanSend:
    case kClientDrain:
        client->CanSendAgain(operation == kClientDrain);
        break;
    case kClientTick:
        AdvanceClock(in);
        if (IOrvTimerSink* sink = client->TimerSink()) {
            sink->OnTimer(nullptr);
        }
        break;
    default:
        break;
    }
}

// On the fuzzer's thread, as a host would call.
void RunHostOperation(Operation operation, uint32_t id, CInput& in)
{
    unsigned int handle = static_cast<unsigned int>(g_clientView.handle);
    switch (operation) {
    case kServerHostSend: {
        HostMessage message(in);
        PELLAX_SERVER_Send(id, &message.message);
        break;
    }
    case kServerHostLeave:
        if (PELLAX_SERVER_DestroyClientSession(id) == 0) {
            std::lock_guard<std::mutex> lock(g_serverView.mutex);
            g_serverView.joined[id] = false;
        }
        break;
    case kServerHostUserData:
        PELLAX_SERVER_SetUserData(id, in.Byte() % 3, in.Text().c_str());
        break;
    case kServerHostSyncSend:
        SyncCall(in, [&](PELLAX_Message* request, PELLAX_Message* response) {
            return PELLAX_SERVER_SynSend(id, request, response, kSyncTimeoutSeconds);
        });
        break;
    case kServerRecreate:
        if (id != 0) {
            break;  // rarely: each one starts and stops a thread
        }
        DestroyServer();
        CreateServer(in.Byte());
        break;
    case kClientHostSend: {
        HostMessage message(in);
        PELLAX_CLIENT_Send(handle, &message.message);
        break;
    }
    case kClientHostUserData:
        PELLAX_CLIENT_SetUserData(handle, in.Byte() % 3, in.Text().c_str());
        break;
    case kClientHostSyncSend:
        SyncCall(in, [&](PELLAX_Message* request, PELLAX_Message* response) {
            return PELLAX_CLIENT_SynSend(handle, request, response, kSyncTimeoutSeconds);
        });
        break;
    case kClientRecreate:
        DestroyClient();
        CreateClient();
        break;
    default:
        break;
    }
}

void PrepareServer()
{
    if (g_serverOptions == 0) {
        return;
    }
    if (g_serverOptions > 0) {
        DestroyServer();
    }
    CreateServer(0);
}

void EndConnections()
{
    RunOnEventThread([] {
        g_manager->server->EndAll();
    });
    std::lock_guard<std::mutex> lock(g_serverView.mutex);
    for (bool joined : g_serverView.joined) {
        Check(!joined, "a client whose connection ended was never reported gone");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    ZOT_SetTickSource(FakeTick);
    PELLAX_Init(DropLog);
    g_manager = new CFakeSessionManager;
    SetSessionManagerForTest(g_manager);
    Check(IOrvThreadManager::Instance()->CreateThread(0, 0, nullptr, &g_thread) == 0, "no event thread");
    PELLAX_SERVER_SetNotifyCallBack(ServerNotify, nullptr);
    PELLAX_CLIENT_SetNotifyCallBack(ClientNotify, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CInput in(data, size);
    PrepareServer();
    CreateClient();
    while (!in.Empty()) {
        // Transport calls in a row run in one visit to the event thread: hopping threads per call would
        // cost more than the calls.
        RunOnEventThread([&] {
            while (!in.Empty() && IsTransportOperation(OperationOf(in.Peek()))) {
                uint8_t op = in.Byte();
                RunTransportOperation(OperationOf(op), ArgumentOf(op) % kSlots, in);
            }
        });
        if (!in.Empty()) {
            uint8_t op = in.Byte();
            RunHostOperation(OperationOf(op), ArgumentOf(op), in);
        }
    }
    DestroyClient();
    EndConnections();
    // Closes, timer deletions and answers still queued on the event thread finish before the next input.
    RunOnEventThread([] {});
    g_manager->client.Reset();
    return 0;
}
