// The session transport: listening and connecting sessions that carry whole frames over TCP/IPv4.
//
// Below the frame each message is a 4-byte big-endian length N and N bytes holding one frame
// (0 < N <= 64 MiB; anything else closes that connection).
//
// Threads: every callback of one server session runs on one event thread of the transport's pool,
// chosen at Open; every callback of one client session runs on one pool thread too. Those threads are
// IOrvThreadManager event threads, so GetCurrentThread, posted events and COrvTimer work on them.
#ifndef PELLAX_PLATFORM_ORV_SESSION_H
#define PELLAX_PLATFORM_ORV_SESSION_H

#include <cstddef>
#include <cstdint>

#include "platform/OrvInetAddress.h"
#include "platform/OrvMessageBlock.h"
#include "platform/OrvReferenceControl.h"
#include "platform/OrvTimeValue.h"
#include "platform/RefPtr.h"

constexpr uint32_t ORV_SESSION_TYPE_TCP = 0x10001;
constexpr uint32_t ORV_SESSION_TYPE_TCP_ALT = 0x30001;
// IOrvID option holding the server side's per-connection object.
constexpr uint32_t ORV_OPTION_USER_OBJECT = 302;
constexpr uint32_t ORV_MAX_FRAME_LENGTH = 64u * 1024u * 1024u;

// Leave reasons the transport gives itself (a reason passed to Close or Disconnect is handed on as is).
constexpr uint32_t ORV_REASON_PEER_CLOSED = 20001;   // the peer closed its end
constexpr uint32_t ORV_REASON_NETWORK_ERROR = 20002; // reset or another socket failure
constexpr uint32_t ORV_REASON_BAD_LENGTH = 20003;    // a length of 0 or above ORV_MAX_FRAME_LENGTH
constexpr uint32_t ORV_REASON_NO_MEMORY = 20004;     // a frame could not be stored (received or queued)
constexpr uint32_t ORV_REASON_SHUTDOWN = 20005;      // UnInitializeSession closed it
// Join results of a client session other than 0.
constexpr uint32_t ORV_JOIN_REFUSED = 20011;
constexpr uint32_t ORV_JOIN_UNREACHABLE = 20012;
constexpr uint32_t ORV_JOIN_TIMED_OUT = 20013;
constexpr uint32_t ORV_JOIN_FAILED = 20014;          // any other connect failure
constexpr uint32_t ORV_JOIN_CLOSED = 20015;          // Close came before the connect ended
// Non-zero results of the session operations.
constexpr int ORV_ERROR_INVALID = 20021;             // bad argument, or not valid in this state
constexpr int ORV_ERROR_CLOSED = 20022;              // the session or connection is closed
constexpr int ORV_ERROR_WOULD_BLOCK = 20023;         // send queue above its high-water mark
constexpr int ORV_ERROR_NOT_STARTED = 20024;         // the transport is not initialised
constexpr int ORV_ERROR_ADDRESS = 20025;             // the address cannot be bound or listened on
constexpr int ORV_ERROR_NO_MEMORY = 20026;           // a frame could not be copied for the queue
// Bodies at least this large are worth sending apart from their head (IOrvClientSession::SendSplit).
constexpr size_t ORV_SPLIT_BODY_BYTES = 16 * 1024;

class IOrvServerSession;
class IOrvClientSession;

// Handle of one accepted connection.
class IOrvID : public IOrvReferenceControl {
public:
    virtual uint32_t GetID() = 0;
    virtual int GetOption(uint32_t option, void** value) = 0;
    virtual int SetOption(uint32_t option, void* value) = 0;
};

class IOrvDataSink {
public:
    virtual ~IOrvDataSink() = default;
};

class IOrvServerSessionSink : public IOrvDataSink {
public:
    // One whole frame; the sink takes its own reference if it keeps it.
    virtual void OnReceive(IOrvServerSession* server, IOrvID* client, COrvMessageBlock* frame) = 0;
    // The connection's send queue drained below its low-water mark after a refused Send.
    virtual void OnCanSendAgain(IOrvServerSession* server, IOrvID* client, uint32_t value) = 0;
    // A new connection; it is kept only if the sink calls Accept before returning.
    virtual void OnJoin(IOrvServerSession* server, CRefPtr<IOrvID>& client) = 0;
    // Exactly once for every accepted connection, never before its OnJoin.
    virtual void OnLeave(IOrvServerSession* server, IOrvID* client, uint32_t reason) = 0;
};

class IOrvClientSessionSink {
public:
    virtual ~IOrvClientSessionSink() = default;
    // Exactly once per Connect: 0 connected, otherwise the failure (refused, unreachable, timed out).
    virtual void OnJoin(IOrvClientSession* session, uint32_t result) = 0;
    // Exactly once after a successful join.
    virtual void OnLeave(IOrvClientSession* session, uint32_t reason) = 0;
    virtual void OnReceive(IOrvClientSession* session, COrvMessageBlock* frame) = 0;
    virtual void OnCanSendAgain(IOrvClientSession* session, uint32_t value) = 0;
};

class IOrvServerSession : public IOrvReferenceControl {
public:
    // Binds and listens; non-zero for a port in use or an address that is not IPv4.
    virtual int Open(IOrvServerSessionSink* sink, const COrvInetAddress& address) = 0;
    // Closes the listener and every connection (their OnLeave runs first); each connection writes out
    // the frames it had accepted, for at most a short linger. From any thread; when it returns no
    // callback of this session runs any more (on the event thread: after the current one), and on a
    // thread outside the library the port is free and every socket closed.
    virtual int Close(uint32_t reason) = 0;
    // From any thread, ordered per connection; the frame is sent whole or refused (non-zero) whole.
    virtual int Send(IOrvID* client, COrvMessageBlock* frame) = 0;
    // Keeps a joining connection; only valid inside OnJoin.
    virtual int Accept(IOrvID* client, int flags) = 0;
    // Closes one connection from any thread, once it has written out what it had accepted (bounded by
    // a short linger); its OnLeave follows on the event thread.
    virtual int Disconnect(IOrvID* client, uint32_t reason) = 0;
    // The port actually listened on (useful with port 0).
    virtual uint16_t GetListenPort() = 0;
};

class IOrvClientSession : public IOrvReferenceControl {
public:
    // Asynchronous: ends in exactly one OnJoin. Non-zero only when it cannot even start.
    virtual int Connect(IOrvClientSessionSink* sink, const COrvInetAddress& remote, const COrvTimeValue& timeout,
                        const COrvInetAddress* local) = 0;
    // From any thread; when it returns no callback of this session runs any more (on its own event
    // thread: after the current one). A joined connection gets its OnLeave before that, then writes
    // out the frames it had accepted, for at most a short linger; on a thread outside the library
    // Close returns once the socket is closed.
    virtual int Close(uint32_t reason) = 0;
    virtual int Send(int flags, COrvMessageBlock* frame) = 0;
    // A frame whose body is still the caller's bytes, behind its encoded head: written straight from
    // them when the socket takes the frame at once, copied otherwise. Outcomes as Send's.
    virtual int SendSplit(COrvMessageBlock* head, const void* body, size_t length)
    {
        MessageBlockPtr frame = COrvMessageBlock::Join(*head, body, length);
        return frame ? Send(0, frame.Get()) : ORV_ERROR_NO_MEMORY;
    }
};

class IOrvSessionManager {
public:
    static IOrvSessionManager* Instance();
    virtual ~IOrvSessionManager() = default;

    // Types ORV_SESSION_TYPE_TCP and ORV_SESSION_TYPE_TCP_ALT are both plain TCP. Non-zero when the
    // transport is not started.
    virtual int CreateServerSession(uint32_t type, CRefPtr<IOrvServerSession>& session) = 0;
    virtual int CreateClientSession(uint32_t type, CRefPtr<IOrvClientSession>& session) = 0;
};

// Where the transport writes the few lines no owner can report (a linger that ran out); none by default.
using OrvSessionLogFn = void (*)(int level, const char* line);
void SetSessionLog(OrvSessionLogFn log);

// Starts the transport's pool of event threads (sized from threads and the machine). 0 on success.
int InitializeSessionEx(int flags, int threads);
// Closes every session and connection and stops the pool; no callback runs after it returns.
int UnInitializeSession();

#endif
