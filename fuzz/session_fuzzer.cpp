// Arbitrary frame sequences fed into a server session and a client session through the fake transport, with the
// host's callbacks checking what reaches them. Both sessions run behind the PELLAX_* exports, as a host uses them.
//
// Input: operations of one byte each (low 5 bits the operation, high 3 bits a connection slot or client id) followed
// by their arguments; a frame or body is a 2-byte little-endian length and up to that many bytes. Host calls run on
// the fuzzer's thread. Time is the fake tick the input advances, and the keepalive scans run when the input asks for
// them, so an input replays the same way. The seeds come from fuzz/session_seeds.py.
#include <algorithm>
#include <cstdarg>
#include <string>

#include "pellax.h"
#include "support/FakeTransport.h"

namespace {

using namespace pellax_fake;

constexpr uint32_t kMaxIds = 1024;
constexpr uint32_t kSyncTimeoutSeconds = 5;

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
    PELLAX_Init(DropLog);
    InstallFakeTransport();
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
