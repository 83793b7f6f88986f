// Arbitrary frame sequences fed into a server session and a client session through the fake transport, with the
// host's callbacks checking what reaches them. Both sessions run behind the PELLAX_* exports, as a host uses them.
//
// Input: operations of one byte each (low 5 bits the operation, high 3 bits a connection slot or client id) followed
// by their arguments; a frame or body is a 2-byte little-endian length and up to that many bytes. Host calls run on
// the fuzzer's thread. Time is the fake tick the input advances, and the keepalive scans run when the input asks for
// them, so an input replays the same way. The seeds come from fuzz/session_seeds.py.
#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <iterator>
#include <string>

#include "frame/SEQMgr.h"
#include "pellax.h"
#include "support/FakeTransport.h"

namespace {

using namespace pellax_fake;

constexpr uint32_t kMaxIds = 1024;
constexpr uint32_t kSyncTimeoutSeconds = 5;
constexpr size_t kSequenceOffset = 4;  // version, two reserved bytes and the flag come first

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
        m_pos += length;
        return std::vector<uint8_t>(m_data + m_pos - length, m_data + m_pos);
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

MessageBlockPtr Block(const std::vector<uint8_t>& bytes)
{
    return COrvMessageBlock::Create(bytes.data(), bytes.size());
}

// Every byte the host is shown is read, so a record pointing past its memory is caught here.
void TouchRecord(const PELLAX_Message* message)
{
    Check(message != nullptr, "a data notification without a record");
    Check(message->dataLength >= 0 && (message->dataLength == 0 || message->data != nullptr), "a record with bad data");
    volatile uint32_t sum = 0;
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
}

// What the hosts may be told. Server: a join for an id that is not joined, data and leaves only for a joined one,
// nothing once the session is destroyed. Client: one connect outcome per session, frames only while connected,
// nothing for a handle once its session is destroyed.
struct HostView {
    std::mutex mutex;
    bool bServerOpen = false;
    bool joined[kMaxIds] = {};
    int handle = -1;
    bool bJoinReported = false;
    bool bConnected = false;
};
HostView g_view;

int ServerNotify(unsigned int id, unsigned int type, PELLAX_Message* message, void*)
{
    std::lock_guard<std::mutex> lock(g_view.mutex);
    Check(g_view.bServerOpen, "a server notification after DestroySession returned");
    Check(id < kMaxIds, "a server notification for an id out of range");
    bool& joined = g_view.joined[id];
    Check(type == 1 ? !joined : joined, type == 1 ? "a join for an id that is joined" : "a notification for an id that is not joined");
    Check(type == 0 || type == 1 || type == 4 || type == 5 || type == 6, "an undocumented server notification");
    Check((type == 1 || type == 4) == (message == nullptr), "a join or leave with a record, or a frame without one");
    if (type == 1 || type == 4) {
        joined = type == 1;
    } else {
        TouchRecord(message);
    }
    return 0;
}

int ClientNotify(unsigned int handle, unsigned int type, PELLAX_Message* message, void*)
{
    std::lock_guard<std::mutex> lock(g_view.mutex);
    Check(static_cast<int>(handle) == g_view.handle, "a client notification for a destroyed handle");
    Check(type <= 6, "an undocumented client notification");
    if (type == 1 || type == 2) {
        Check(!g_view.bJoinReported, "a second connect outcome");
        g_view.bJoinReported = true;
        g_view.bConnected = type == 1;
    } else if (type == 3) {
        Check(g_view.bConnected, "a leave without a connection");
        g_view.bConnected = false;
    } else if (type != 4) {
        Check(g_view.bConnected, "a frame notification without a connection");
        TouchRecord(message);
    }
    return 0;
}

// The first are the options every input starts with; the others only come with a re-creation.
const char* const kServerOptions[] = {
    R"({"keepalive-interval":1,"keepalive-timeout":1})", nullptr, R"({"keepalive-interval":2,"keepalive-timeout":3})", "{}"};

// Starting the server session starts and stops a thread, which would cost more than most inputs: it stays
// open from one input to the next unless an input re-creates it, and every input ends with all its
// connections gone, each reported to the host.
int g_serverOptions = -1;

void SetServer(int options)
{
    if (g_serverOptions >= 0) {
        PELLAX_SERVER_DestroySession();
    }
    std::lock_guard<std::mutex> lock(g_view.mutex);
    g_view.bServerOpen = options >= 0;
    std::fill(std::begin(g_view.joined), std::end(g_view.joined), false);
    g_serverOptions = options;
    Check(options < 0 || PELLAX_SERVER_CreateSession("127.0.0.1", 0, kServerOptions[options]) == 0, "server create failed");
}

void SetClient(bool open)
{
    if (g_view.handle >= 0) {
        PELLAX_CLIENT_DestroySession(static_cast<unsigned int>(g_view.handle));
    }
    std::lock_guard<std::mutex> lock(g_view.mutex);
    g_view.handle = open ? PELLAX_CLIENT_CreateSession("127.0.0.1", 1, nullptr) : -1;
    Check(!open || g_view.handle >= 0, "client create failed");
    g_view.bJoinReported = false;
    g_view.bConnected = false;
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
            ext = PELLAX_MessageExt{message.command, static_cast<uint32_t>(extLength), body.data(), nullptr};
            message.ext = &ext;
        }
    }
};

// While a synchronous call is made, its request is answered at once: first with the input's frame carrying the
// request's sequence, then with a well-formed answer, so the call never waits out its time-out.
struct SyncAnswer {
    std::mutex mutex;
    std::vector<uint8_t> frame;
    bool bArmed = false;
    bool bAnswered = false;
};
SyncAnswer g_sync;

std::vector<MessageBlockPtr> AnswerSyncRequest(const COrvMessageBlock& request, const MessageHeaderPtr& header)
{
    std::vector<MessageBlockPtr> frames;
    std::lock_guard<std::mutex> lock(g_sync.mutex);
    // Odd commands too: the library sends whatever command the host gives a synchronous call.
    if (!g_sync.bArmed || (header->GetSequence() & CSEQMgr::kSyncBit) == 0) {
        return frames;
    }
    g_sync.bArmed = false;
    g_sync.bAnswered = true;
    if (g_sync.frame.size() >= kSequenceOffset + 4) {
        std::memcpy(g_sync.frame.data() + kSequenceOffset, request.GetReadPtr() + kSequenceOffset, 4);
        frames.push_back(Block(g_sync.frame));
    }
    CPellaxMessageHeader answer(header->GetCommand() | 1u, 0, header->GetSequence(), 0, 0, 0);
    MessageBlockPtr encoded;
    if (EncodeFrame(&answer, nullptr, 0, true, &encoded) == 0) {
        frames.push_back(encoded);
    }
    return frames;
}

// Makes the call with an answer armed, and checks that an answered call came back with its answer.
template <class Call> void SyncCall(CInput& in, Call call)
{
    HostMessage request(in);
    std::unique_lock<std::mutex> lock(g_sync.mutex);
    g_sync.frame = in.Chunk16();
    g_sync.bArmed = true;
    g_sync.bAnswered = false;
    lock.unlock();
    PELLAX_Message response{};
    int result = call(&request.message, &response);
    lock.lock();
    g_sync.bArmed = false;
    Check(!g_sync.bAnswered || result == 0, "an answered synchronous call failed");
    if (result == 0) {
        TouchRecord(&response);
        Check(response.sequence == request.message.sequence, "a response record with another call's sequence");
        for (PELLAX_MessageExt* node = response.ext; node != nullptr;) {
            PELLAX_FreeBuffer(node->data);
            PELLAX_FreeBuffer(std::exchange(node, node->next));
        }
        PELLAX_FreeBuffer(response.data);
    }
}

enum Operation : uint8_t {
    kServerJoin, kServerFrame, kServerPeerLeave, kServerCanSend, kServerDrain, kServerTick, kServerHostSend,
    kServerHostLeave, kServerHostUserData, kServerHostSyncSend, kServerRecreate, kClientJoin, kClientFrame,
    kClientPeerLeave, kClientCanSend, kClientDrain, kClientTick, kClientHostSend, kClientHostUserData,
    kClientHostSyncSend, kClientRecreate, kOperations,
};

Operation OperationOf(uint8_t op)
{
    return static_cast<Operation>((op & 0x1F) % kOperations);
}

bool IsTransportOperation(Operation operation)
{
    return operation <= kServerTick || (operation >= kClientJoin && operation <= kClientTick);
}

// On the event thread, as the transport would call; the argument picks the connection slot.
void RunTransportOperation(Operation operation, size_t slot, CInput& in)
{
    CFakeServerSession* server = g_manager->server.Get();
    CFakeClientSession* client = g_manager->client.Get();
    static const uint32_t kJoinResults[] = {0, ORV_JOIN_REFUSED, ORV_JOIN_TIMED_OUT, ORV_JOIN_UNREACHABLE};
    switch (operation) {
    case kServerJoin:
        return server->Join(slot);
    case kServerFrame:
        return server->Receive(slot, Block(in.Chunk16()));
    case kServerPeerLeave:
        return server->Leave(slot, ORV_REASON_PEER_CLOSED + in.Byte() % 5);
    case kServerCanSend:
    case kServerDrain:
        return server->CanSendAgain(slot, operation == kServerDrain);
    case kClientJoin:
        return client->Join(kJoinResults[in.Byte() % 4]);
    case kClientFrame:
        return client->Receive(Block(in.Chunk16()));
    case kClientPeerLeave:
        return client->PeerLeave(ORV_REASON_PEER_CLOSED + in.Byte() % 5);
    case kClientCanSend:
    case kClientDrain:
        return client->CanSendAgain(operation == kClientDrain);
    default: {
        g_tick.fetch_add(static_cast<uint64_t>(in.Byte()) * 1000u);
        IOrvTimerSink* sink = operation == kServerTick ? server->TimerSink() : client->TimerSink();
        if (sink != nullptr) {
            sink->OnTimer(nullptr);
        }
    }
    }
}

// On the fuzzer's thread, as a host would call; the argument is the client id.
void RunHostOperation(Operation operation, uint32_t id, CInput& in)
{
    unsigned int handle = static_cast<unsigned int>(g_view.handle);
    if (operation == kServerHostSend || operation == kClientHostSend) {
        HostMessage message(in);
        operation == kServerHostSend ? PELLAX_SERVER_Send(id, &message.message) : PELLAX_CLIENT_Send(handle, &message.message);
    } else if (operation == kServerHostLeave && PELLAX_SERVER_DestroyClientSession(id) == 0) {
        std::lock_guard<std::mutex> lock(g_view.mutex);
        g_view.joined[id] = false;
    } else if (operation == kServerHostUserData) {
        PELLAX_SERVER_SetUserData(id, in.Byte() % 3, in.Text().c_str());
    } else if (operation == kClientHostUserData) {
        PELLAX_CLIENT_SetUserData(handle, in.Byte() % 3, in.Text().c_str());
    } else if (operation == kServerHostSyncSend) {
        SyncCall(in, [&](PELLAX_Message* request, PELLAX_Message* response) {
            return PELLAX_SERVER_SynSend(id, request, response, kSyncTimeoutSeconds);
        });
    } else if (operation == kClientHostSyncSend) {
        SyncCall(in, [&](PELLAX_Message* request, PELLAX_Message* response) {
            return PELLAX_CLIENT_SynSend(handle, request, response, kSyncTimeoutSeconds);
        });
    } else if (operation == kServerRecreate && id == 0) {  // rarely: each one starts and stops a thread
        SetServer(in.Byte() % 4);
    } else if (operation == kClientRecreate) {
        SetClient(true);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    PELLAX_Init(DropLog);
    InstallFakeTransport();
    g_answer = AnswerSyncRequest;
    PELLAX_SERVER_SetNotifyCallBack(ServerNotify, nullptr);
    PELLAX_CLIENT_SetNotifyCallBack(ClientNotify, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CInput in(data, size);
    if (g_serverOptions != 0) {
        SetServer(0);
    }
    SetClient(true);
    while (!in.Empty()) {
        // Transport calls in a row run in one visit to the event thread: hopping threads per call would
        // cost more than the calls.
        RunOnEventThread([&] {
            while (!in.Empty() && IsTransportOperation(OperationOf(in.Peek()))) {
                uint8_t op = in.Byte();
                RunTransportOperation(OperationOf(op), (op >> 5) % kSlots, in);
            }
        });
        if (!in.Empty()) {
            uint8_t op = in.Byte();
            RunHostOperation(OperationOf(op), op >> 5, in);
        }
    }
    SetClient(false);
    RunOnEventThread([] { g_manager->server->EndAll(); });
    {
        std::lock_guard<std::mutex> lock(g_view.mutex);
        Check(std::none_of(std::begin(g_view.joined), std::end(g_view.joined), [](bool joined) { return joined; }),
              "a client whose connection ended was never reported gone");
    }
    // Closes, timer deletions and answers still queued on the event thread finish before the next input.
    RunOnEventThread([] {});
    g_manager->client.Reset();
    return 0;
}
