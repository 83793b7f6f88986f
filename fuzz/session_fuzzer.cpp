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
#include <numeric>
#include <string>

#include "frame/SEQMgr.h"
#include "pellax.h"
#include "support/FakeTransport.h"

namespace {

using namespace pellax_fake;

constexpr uint32_t kMaxIds = 1024;
constexpr size_t kSequenceOffset = 4;  // version, two reserved bytes and the flag come first

// Formats every line, so a format that does not match its arguments shows under the sanitizers.
int DropLog(int, const char*, const char* format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    return 0;
}

struct CInput {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;

    bool Empty() const { return pos >= size; }
    uint8_t Byte() { return Empty() ? 0 : data[pos++]; }
    std::vector<uint8_t> Bytes(size_t wanted)
    {
        size_t length = std::min(wanted, size - pos);
        pos += length;
        return std::vector<uint8_t>(data + pos - length, data + pos);
    }
    std::vector<uint8_t> Chunk16()
    {
        size_t low = Byte();
        return Bytes(low | size_t{Byte()} << 8);
    }
};

// Every byte the host is shown is read, so a record pointing past its memory is caught here.
void TouchRecord(const PELLAX_Message* message)
{
    Check(message != nullptr, "a data notification without a record");
    Check(message->dataLength >= 0 && (message->dataLength == 0 || message->data != nullptr), "a record with bad data");
    volatile uint32_t sum = std::accumulate(message->data, message->data + message->dataLength, 0u);
    size_t nodes = 0;
    for (const PELLAX_MessageExt* node = message->ext; node != nullptr; node = node->next) {
        Check(++nodes <= 65536 && (node->length == 0 || node->data != nullptr), "an extension list that does not end, or bad data");
        sum += std::accumulate(node->data, node->data + node->length, 0u);
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
} g_view;

int ServerNotify(unsigned int id, unsigned int type, PELLAX_Message* message, void*)
{
    std::lock_guard<std::mutex> lock(g_view.mutex);
    Check(g_view.bServerOpen && id < kMaxIds, "a server notification after DestroySession, or for an id out of range");
    bool& joined = g_view.joined[id];
    Check(type == 1 ? !joined : joined, type == 1 ? "a join for an id that is joined" : "a notification for an id that is not joined");
    Check(type == 0 || type == 1 || type == 4 || type == 5 || type == 6, "an undocumented server notification");
    Check((type == 1 || type == 4) == (message == nullptr), "a join or leave with a record, or a frame without one");
    (type == 1 || type == 4) ? void(joined = type == 1) : TouchRecord(message);
    return 0;
}

int ClientNotify(unsigned int handle, unsigned int type, PELLAX_Message* message, void*)
{
    std::lock_guard<std::mutex> lock(g_view.mutex);
    Check(static_cast<int>(handle) == g_view.handle, "a client notification for a destroyed handle");
    Check(type <= 6, "an undocumented client notification");
    if (type == 1 || type == 2) {
        Check(!std::exchange(g_view.bJoinReported, true), "a second connect outcome");
        g_view.bConnected = type == 1;
    } else if (type != 4) {
        Check(g_view.bConnected, "a leave or frame notification without a connection");
        g_view.bConnected = type != 3;
        type == 3 ? void() : TouchRecord(message);
    }
    return 0;
}

// The first are the options every input starts with; the others only come with a re-creation.
const char* const kServerOptions[] = {
    R"({"keepalive-interval":1,"keepalive-timeout":1})", nullptr, R"({"keepalive-interval":2,"keepalive-timeout":3})", "{}"};

// Starting the server session starts and stops a thread, costlier than most inputs: it stays open from one
// input to the next unless an input re-creates it; every input ends with all its connections reported gone.
int g_serverOptions = -1;

void SetServer(int options)
{
    if (g_serverOptions >= 0) {
        PELLAX_SERVER_DestroySession();
    }
    std::lock_guard<std::mutex> lock(g_view.mutex);
    g_view.bServerOpen = true;
    std::fill(std::begin(g_view.joined), std::end(g_view.joined), false);
    g_serverOptions = options;
    Check(PELLAX_SERVER_CreateSession("127.0.0.1", 0, kServerOptions[options]) == 0, "server create failed");
}

void SetClient(bool open)
{
    if (g_view.handle >= 0) {
        PELLAX_CLIENT_DestroySession(static_cast<unsigned int>(g_view.handle));
    }
    std::lock_guard<std::mutex> lock(g_view.mutex);
    g_view.handle = open ? PELLAX_CLIENT_CreateSession("127.0.0.1", 1, nullptr) : -1;
    Check(!open || g_view.handle >= 0, "client create failed");
    g_view.bJoinReported = g_view.bConnected = false;
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
        ext = PELLAX_MessageExt{message.command, static_cast<uint32_t>(extLength), body.data(), nullptr};
        message.ext = extLength > 0 && extLength <= body.size() ? &ext : nullptr;
    }
};

// While a synchronous call is made its request is answered at once: first with the input's frame carrying the
// request's sequence, then with a well-formed answer, so the call never waits out its time-out.
struct SyncAnswer {
    std::mutex mutex;
    std::vector<uint8_t> frame;
    bool bArmed = false;
    bool bAnswered = false;
} g_sync;

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
    int result = call(&request.message, &response, 5);
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

// Bit 4 of an operation byte sends it to the client side; the transport's operations come first.
enum Operation : uint8_t { kJoin, kFrame, kPeerLeave, kTick, kHostSend, kHostLeave, kHostUserData, kHostSyncSend, kRecreate };

Operation OperationOf(uint8_t op)
{
    return static_cast<Operation>((op & 0x0F) % (kRecreate + 1));
}

// On the event thread, as the transport would call; the argument picks the server's connection slot.
void RunTransportOperation(Operation operation, bool toClient, size_t slot, CInput& in)
{
    CFakeServerSession* server = g_manager->server.Get();
    CFakeClientSession* client = g_manager->client.Get();
    static const uint32_t kJoinResults[] = {0, ORV_JOIN_REFUSED, ORV_JOIN_TIMED_OUT, ORV_JOIN_UNREACHABLE};
    if (operation == kJoin) {
        toClient ? client->Join(kJoinResults[in.Byte() % 4]) : server->Join(slot);
    } else if (operation == kFrame) {
        MessageBlockPtr frame = Block(in.Chunk16());
        toClient ? client->Receive(frame) : server->Receive(slot, frame);
    } else if (operation == kPeerLeave) {
        uint32_t reason = ORV_REASON_PEER_CLOSED + in.Byte() % 5;
        toClient ? client->PeerLeave(reason) : server->Leave(slot, reason);
    } else if (IOrvTimerSink* sink = (g_tick += in.Byte() * 1000u, toClient ? client->TimerSink() : server->TimerSink())) {
        sink->OnTimer(nullptr);
    }
}

// On the fuzzer's thread, as a host would call; the argument is the client id.
void RunHostOperation(Operation operation, bool toClient, uint32_t id, CInput& in)
{
    unsigned int handle = static_cast<unsigned int>(g_view.handle);
    if (operation == kHostSend) {
        HostMessage message(in);
        toClient ? PELLAX_CLIENT_Send(handle, &message.message) : PELLAX_SERVER_Send(id, &message.message);
    } else if (operation == kHostLeave && !toClient && PELLAX_SERVER_DestroyClientSession(id) == 0) {
        std::lock_guard<std::mutex> lock(g_view.mutex);
        g_view.joined[id] = false;
    } else if (operation == kHostUserData) {
        uint32_t type = in.Byte() % 3;
        std::vector<uint8_t> text = in.Bytes(in.Byte());
        std::string data(text.begin(), text.end());  // up to its first NUL
        toClient ? PELLAX_CLIENT_SetUserData(handle, type, data.c_str()) : PELLAX_SERVER_SetUserData(id, type, data.c_str());
    } else if (operation == kHostSyncSend) {
        SyncCall(in, [&](PELLAX_Message* request, PELLAX_Message* response, int seconds) {
            return toClient ? PELLAX_CLIENT_SynSend(handle, request, response, seconds)
                            : PELLAX_SERVER_SynSend(id, request, response, seconds);
        });
    } else if (operation == kRecreate && toClient) {
        SetClient(true);
    } else if (operation == kRecreate && id == 0) {  // rarely: each one starts and stops a thread
        SetServer(in.Byte() % 4);
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
    CInput in{data, size};
    if (g_serverOptions != 0) {
        SetServer(0);
    }
    SetClient(true);
    while (!in.Empty()) {
        // Transport calls in a row run in one visit to the event thread: hopping threads per call would
        // cost more than the calls.
        RunOnEventThread([&] {
            while (!in.Empty() && OperationOf(in.data[in.pos]) < kHostSend) {
                uint8_t op = in.Byte();
                RunTransportOperation(OperationOf(op), op & 0x10, (op >> 5) % kSlots, in);
            }
        });
        if (!in.Empty()) {
            uint8_t op = in.Byte();
            RunHostOperation(OperationOf(op), op & 0x10, op >> 5, in);
        }
    }
    SetClient(false);
    RunOnEventThread([] { g_manager->server->EndAll(); });
    std::lock_guard<std::mutex> lock(g_view.mutex);
    Check(std::none_of(std::begin(g_view.joined), std::end(g_view.joined), [](bool joined) { return joined; }),
          "a client whose connection ended was never reported gone");
    // Closes, timer deletions and answers still queued on the event thread finish before the next input.
    RunOnEventThread([] {});
    g_manager->client.Reset();
    return 0;
}
