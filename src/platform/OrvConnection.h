// One TCP connection of the transport: frames in, frames out, and its IOrvID handle.
//
//   any thread ──Send──► [direct non-blocking write] ──────────────► socket
//                           │ busy, burst, partial, or answering while a read is handed out
//                           ▼
//                        send queue ──Flush (event thread, one gathered write for many frames)──► socket
//                        (small frames copied together into runs; a sender on the event thread's CPU
//                         hands it over at each 128 KiB queued)
//   socket ──first read (loop), then recv 64 KiB until short──► COrvFrameDecoder ──OnFrame──► owner
//
// Reading, closing and the owner's callbacks happen on the connection's event thread only; Send may
// come from any thread. m_sendMutex guards the queue and the socket descriptor for writers: closing
// marks the connection closed under it before the descriptor goes, so no writer touches a stale one.
#ifndef PELLAX_PLATFORM_ORV_CONNECTION_H
#define PELLAX_PLATFORM_ORV_CONNECTION_H

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/OrvEventThread.h"
#include "platform/OrvFrameDecoder.h"
#include "platform/OrvSession.h"
#include "platform/OrvSocketIo.h"

class COrvConnection;

// What a session hears from its connections, always on the connection's event thread.
class IOrvConnectionOwner {
public:
    virtual ~IOrvConnectionOwner() = default;
    virtual void OnConnectionReceive(COrvConnection* connection, COrvMessageBlock* frame) = 0;
    virtual void OnConnectionCanSendAgain(COrvConnection* connection) = 0;
    // Exactly once, when the connection closes for any reason.
    virtual void OnConnectionClosed(COrvConnection* connection, uint32_t reason) = 0;
};

class COrvConnection final : public COrvReferenceControlT<COrvLockMutex>, public IOrvID, private IOrvFrameSink {
public:
    // A queue holding more than this refuses further frames; below the low mark senders hear again.
    static constexpr size_t kHighWaterBytes = 8u * 1024u * 1024u;
    static constexpr size_t kLowWaterBytes = 1u * 1024u * 1024u;
    static constexpr std::chrono::seconds kLinger{2};

    COrvConnection(COrvEventThread* thread, asio::ip::tcp::socket socket, IOrvConnectionOwner* owner);

    uint32_t AddReference() override { return COrvReferenceControlT::AddReference(); }
    uint32_t RemoveReference() override { return COrvReferenceControlT::RemoveReference(); }
    uint32_t GetID() override { return m_nId; }
    int GetOption(uint32_t option, void** value) override;
    int SetOption(uint32_t option, void* value) override;

    // Any thread: queues or writes one frame behind its length prefix.
    int Send(COrvMessageBlock* frame);
    // Any thread: the frame head, then a body that is still the caller's (IOrvClientSession::SendSplit).
    int SendSplit(COrvMessageBlock* head, const void* body, size_t bodyLength);
    // Any thread, while the connection's event thread runs: closes it there.
    void CloseLater(uint32_t reason);
    // Any thread: an orderly close there (CloseAfterDrain).
    void CloseAfterDrainLater(uint32_t reason);

    // Event thread only.
    void Start();
    void Close(uint32_t reason);
    // Like a socket's orderly close: refuses new frames, writes out those already accepted (for at
    // most kLinger), then closes. What the peer sends meanwhile is read and dropped, so the close
    // ends in a FIN behind the data rather than a reset that would throw it away.
    void CloseAfterDrain(uint32_t reason);
    bool IsClosed() const { return m_bClosed; }
    bool IsAccepted() const { return m_bAccepted; }
    void SetAccepted() { m_bAccepted = true; }
    IOrvConnectionOwner* GetOwner() const { return m_pOwner; }

private:
    using Clock = std::chrono::steady_clock;

    // One queued piece: a frame kept in its own block behind its prefix, or a run of small frames
    // copied, prefixes and all, into a run from the thread's pool (prefixLength 0). A block is kept
    // alive until its last byte is written.
    struct QueuedFrame {
        uint8_t prefix[4];
        size_t prefixLength;
        CRefPtr<COrvMessageBlock> block;
        const uint8_t* data;
        size_t length;
        size_t sent;  // bytes of prefix + data already written
        size_t Remaining() const { return prefixLength + length - sent; }
    };

    static QueuedFrame NewItem(size_t frameLength, const uint8_t* data, size_t length);
    bool OnFrame(COrvMessageBlock* frame) override;
    void ReadAvailable();
    void OnLingerEnd();
    void DiscardReceived();
    bool FeedCorked(const uint8_t* data, size_t length);
    void WaitReadable();
    void OnWaitedRead(const asio::error_code& error, size_t received);
    int SendLocked(QueuedFrame& item, COrvMessageBlock* frame, bool* handOver);
    int WriteDirect(QueuedFrame& item);
    int WriteSplitLocked(QueuedFrame& item, const COrvMessageBlock& head, const uint8_t* body, size_t bodyLength);
    void PostFlush();
    void QueueLocked(QueuedFrame& item, COrvMessageBlock* frame);
    bool AppendToRunLocked(const QueuedFrame& item);
    void Flush();
    void WaitWritable();
    size_t GatherLocked(OrvIoSlice* slices, size_t capacity);
    bool ConsumeLocked(size_t written);

    COrvEventThread* m_pThread;                      // runs every read, close and callback
    IOrvConnectionOwner* m_pOwner;                   // the session; outlives the open connection
    std::unique_ptr<asio::ip::tcp::socket> m_pSocket;  // gone once closed
    OrvSocketHandle m_nFd;                           // the socket's handle, for writers on any thread
    uint32_t m_nId;
    std::atomic<void*> m_pUserObject{nullptr};       // option 302
    COrvFrameDecoder m_decoder;
    std::unique_ptr<uint8_t[]> m_pWaitBuffer;        // what the loop reads once the socket is ready
    bool m_bClosed = false;                          // event thread
    bool m_bAccepted = false;                        // event thread
    bool m_bCorked = false;                          // event thread: a read's frames are being handed out
    bool m_bFlushAfterRead = false;                  // event thread: its sends meanwhile go out at the end
    bool m_bDraining = false;                        // event thread: closing once the queue is written
    uint32_t m_nDrainReason = 0;                     // event thread: the close reason after the drain
    std::unique_ptr<asio::steady_timer> m_pLingerTimer;  // event thread: bounds the drain

    std::mutex m_sendMutex;
    std::deque<QueuedFrame> m_queue;                 // frames waiting for the event thread's Flush
    size_t m_nQueuedBytes = 0;
    bool m_bWriting = false;                         // a Flush is scheduled or waiting for room
    bool m_bRefused = false;                         // a Send was refused: tell the owner on drain
    bool m_bSendClosed = false;
    Clock::time_point m_lastSend{};                  // end of the previous direct Send or drained flush: bursts
};

#endif
