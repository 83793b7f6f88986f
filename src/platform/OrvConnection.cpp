#include "platform/OrvConnection.h"

#include <asio/post.hpp>
#include <thread>

#include "platform/OrvSessionManager.h"

namespace {
constexpr size_t kChunkBytes = 64 * 1024;
// Enough for a typical frame; its pages are touched only as far as frames reach, so an idle
// connection costs little more than its first page.
constexpr size_t kWaitBytes = 8 * 1024;
// Reads and writes per turn before yielding the thread to the other connections on it.
constexpr int kReadRounds = 16;
constexpr int kFlushRounds = 16;
constexpr size_t kMaxSlices = 512;
// A Send that follows the previous one this closely is part of a burst: queueing it lets the event
// thread gather the burst into few writes, where writing each at once would cost a system call apiece.
// `pellax bench stream --size 64` on the 2-core build machine: about 620 000 messages/s with the window,
// 190 000 without it (the plain socket's one write per message: 210 000), 2026-12-07.
constexpr std::chrono::microseconds kBurstWindow{3};
// Large frames gain nothing from gathering and lose the host thread's own write: they go at once.
// `pellax bench stream --size 65536`: median 3 800 MB/s with this limit, 1 400 without (2026-12-07).
constexpr uint32_t kBurstFrameLimit = 16 * 1024;
// Queued frames this small are copied, prefix and all, into a shared run block: the
// sender frees its own block at once on its own thread, and the event thread writes and recycles one
// run per 16 KiB (COrvRunPool) instead of freeing a block per frame on the wrong thread.
constexpr size_t kRunFrameLimit = 2 * 1024;
// A sender sharing the event thread's CPU hands it over each time this much more is queued. Pinned
// to one CPU (`taskset -c 0 pellax bench stream --size 64`, medians of 3, 2026-12-07), in messages/s:
// 16 KiB 0.78 M, 32 KiB 1.06 M, 128 KiB 1.74 M, 256 KiB 1.51 M, 512 KiB 1.10 M; without handing over,
// writes of about 1.5 MiB left cold from the cache: 0.95 M. Unpinned it rarely yields: 2.8 M.
constexpr size_t kHandOverBytes = 128 * 1024;

std::atomic<uint32_t> g_nextConnectionId{1};

uint8_t* ThreadChunk()
{
    // One read buffer per event thread: a frame is copied out of it before the next read.
    thread_local std::unique_ptr<uint8_t[]> chunk(new uint8_t[kChunkBytes]);
    return chunk.get();
}
}

COrvConnection::COrvConnection(COrvEventThread* thread, asio::ip::tcp::socket socket, IOrvConnectionOwner* owner)
    : m_pThread(thread),
      m_pOwner(owner),
      m_pSocket(std::make_unique<asio::ip::tcp::socket>(std::move(socket))),
      m_nFd(m_pSocket->native_handle()),
      m_nId(g_nextConnectionId.fetch_add(1, std::memory_order_relaxed)),
      m_decoder(&thread->GetSpareFrame()),
      m_pWaitBuffer(new uint8_t[kWaitBytes])
{
    asio::error_code ignored;
    m_pSocket->set_option(asio::ip::tcp::no_delay(true), ignored);
    OrvPrepareConnection(*m_pSocket);
}

int COrvConnection::GetOption(uint32_t option, void** value)
{
    if (option != ORV_OPTION_USER_OBJECT || value == nullptr) {
        return ORV_ERROR_INVALID;
    }
    *value = m_pUserObject.load(std::memory_order_acquire);
    return 0;
}

int COrvConnection::SetOption(uint32_t option, void* value)
{
    if (option != ORV_OPTION_USER_OBJECT) {
        return ORV_ERROR_INVALID;
    }
    m_pUserObject.store(value, std::memory_order_release);
    return 0;
}

int COrvConnection::Send(COrvMessageBlock* frame)
{
    if (frame == nullptr || frame->GetLength() == 0 || frame->GetLength() > ORV_MAX_FRAME_LENGTH) {
        return ORV_ERROR_INVALID;
    }
    // The item takes its own reference only if it joins the queue as it is: a frame written at once
    // or copied into a run is done with before Send returns.
    QueuedFrame item = NewItem(frame->GetLength(), frame->GetReadPtr(), frame->GetLength());
    bool handOver = false;
    int result = 0;
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        result = SendLocked(item, frame, &handOver);
    }
    // A sender that shares its CPU with the event thread would otherwise run its whole time slice,
    // queueing megabytes that then leave cold from the cache; handing over at each mark keeps the
    // writes about that size.
    if (handOver) {
        std::this_thread::yield();
    }
    return result;
}

// A frame of frameLength bytes behind its prefix; data holds the first length of them.
COrvConnection::QueuedFrame COrvConnection::NewItem(size_t frameLength, const uint8_t* data, size_t length)
{
    uint32_t n = static_cast<uint32_t>(frameLength);
    return QueuedFrame{{uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)}, 4, nullptr, data, length, 0};
}

int COrvConnection::SendLocked(QueuedFrame& item, COrvMessageBlock* frame, bool* handOver)
{
    if (m_bSendClosed) {
        return ORV_ERROR_CLOSED;
    }
    if (m_nQueuedBytes > kHighWaterBytes) {
        m_bRefused = true;
        return ORV_ERROR_WOULD_BLOCK;
    }
    // While a flush is pending every frame joins the queue: a stream of small frames reads no clock
    // per frame (Flush stamps the end of the burst it drained instead).
    if (m_bWriting) {
        size_t before = m_nQueuedBytes;
        QueueLocked(item, frame);
        *handOver = before / kHandOverBytes != m_nQueuedBytes / kHandOverBytes;
        return 0;
    }
    Clock::time_point now = Clock::now();
    bool burst = item.length < kBurstFrameLimit && now - m_lastSend < kBurstWindow;
    m_lastSend = now;
    // Only answers given on the reading thread wait for the read's end; others are not held up.
    // The cork flags belong to that thread, so they are read only there.
    bool corked = m_pThread->IsCurrent() && m_bCorked;
    if (!burst && !corked) {
        int result = WriteDirect(item);
        m_lastSend = Clock::now();
        if (result != 0 || item.Remaining() == 0) {
            return result;
        }
    }
    QueueLocked(item, frame);
    m_bWriting = true;
    if (corked) {
        m_bFlushAfterRead = true;
        return 0;
    }
    PostFlush();
    return 0;
}

int COrvConnection::SendSplit(COrvMessageBlock* head, const void* body, size_t bodyLength)
{
    if (head == nullptr || head->GetLength() == 0 || head->GetLength() > ORV_MAX_FRAME_LENGTH ||
        (body == nullptr && bodyLength > 0) || bodyLength > ORV_MAX_FRAME_LENGTH - head->GetLength()) {
        return ORV_ERROR_INVALID;
    }
    QueuedFrame item = NewItem(head->GetLength() + bodyLength, head->GetReadPtr(), head->GetLength());
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        if (m_bSendClosed) {
            return ORV_ERROR_CLOSED;
        }
        bool corked = m_pThread->IsCurrent() && m_bCorked;
        if (!m_bWriting && !corked) {
            return WriteSplitLocked(item, *head, static_cast<const uint8_t*>(body), bodyLength);
        }
    }
    MessageBlockPtr frame = COrvMessageBlock::Join(*head, body, bodyLength);
    return frame ? Send(frame.Get()) : ORV_ERROR_NO_MEMORY;
}

// Straight from the caller's bytes; what the socket does not take now is copied while still locked,
// since it must be the next bytes on the wire.
int COrvConnection::WriteSplitLocked(QueuedFrame& item, const COrvMessageBlock& head, const uint8_t* body,
                                     size_t bodyLength)
{
    OrvIoSlice slices[3] = {{item.prefix, sizeof(item.prefix)}, {item.data, item.length}, {body, bodyLength}};
    long written = OrvSendGather(m_nFd, slices, 3);
    m_lastSend = Clock::now();
    if (written < 0 && written != kOrvIoWouldBlock) {
        CloseLater(ORV_REASON_NETWORK_ERROR);
        return ORV_ERROR_CLOSED;
    }
    size_t sent = written > 0 ? static_cast<size_t>(written) : 0;
    if (sent == sizeof(item.prefix) + item.length + bodyLength) {
        return 0;
    }
    MessageBlockPtr frame = COrvMessageBlock::Join(head, body, bodyLength);
    if (!frame && sent == 0) {
        return ORV_ERROR_NO_MEMORY;
    }
    if (!frame) {
        // Part of the frame is on the wire and the rest cannot follow it: the stream is broken.
        CloseLater(ORV_REASON_NO_MEMORY);
        return ORV_ERROR_CLOSED;
    }
    item.data = frame->GetReadPtr();
    item.length = frame->GetLength();
    item.sent = sent;
    QueueLocked(item, frame.Get());
    m_bWriting = true;
    PostFlush();
    return 0;
}

// The event thread gives the CPU back once before it gathers: a burst's sender on the same CPU then
// queues up to a mark instead of a frame per wake-up.
void COrvConnection::PostFlush()
{
    CRefPtr<COrvConnection> self(this);
    asio::post(m_pThread->GetContext(), [self] {
        std::this_thread::yield();
        self->Flush();
    });
}

void COrvConnection::QueueLocked(QueuedFrame& item, COrvMessageBlock* frame)
{
    m_nQueuedBytes += item.Remaining();
    if (item.sent == 0 && item.length <= kRunFrameLimit && AppendToRunLocked(item)) {
        return;
    }
    item.block = frame;
    m_queue.push_back(std::move(item));
}

// The event thread may be writing the run's earlier bytes meanwhile: appending only ever writes
// behind them, into room the block already has, so they never move.
bool COrvConnection::AppendToRunLocked(const QueuedFrame& item)
{
    size_t needed = sizeof(item.prefix) + item.length;
    // A frame queued alone (an answer, a burst's first) keeps its own block: an idle connection
    // then never holds a run.
    if (m_queue.empty()) {
        return false;
    }
    if (m_queue.back().prefixLength != 0 ||
        m_queue.back().block->GetCapacity() - m_queue.back().block->GetWritePos() < needed) {
        MessageBlockPtr run = m_pThread->GetRunPool().Take();
        if (!run) {
            return false;
        }
        m_queue.push_back(QueuedFrame{{}, 0, run, run->GetReadPtr(), 0, 0});
    }
    QueuedFrame& run = m_queue.back();
    run.block->Write(item.prefix, sizeof(item.prefix));
    run.block->Write(item.data, item.length);
    run.length += needed;
    return true;
}

int COrvConnection::WriteDirect(QueuedFrame& item)
{
    OrvIoSlice slices[2] = {{item.prefix, sizeof(item.prefix)}, {item.data, item.length}};
    long written = OrvSendGather(m_nFd, slices, 2);
    if (written >= 0) {
        item.sent = static_cast<size_t>(written);
        return 0;
    }
    if (written == kOrvIoWouldBlock) {
        return 0;
    }
    // The frame did not go; the reader side may not notice a broken socket, so close it here.
    CloseLater(ORV_REASON_NETWORK_ERROR);
    return ORV_ERROR_CLOSED;
}

void COrvConnection::CloseLater(uint32_t reason)
{
    CRefPtr<COrvConnection> self(this);
    asio::post(m_pThread->GetContext(), [self, reason] { self->Close(reason); });
}

void COrvConnection::CloseAfterDrainLater(uint32_t reason)
{
    CRefPtr<COrvConnection> self(this);
    asio::post(m_pThread->GetContext(), [self, reason] { self->CloseAfterDrain(reason); });
}

void COrvConnection::CloseAfterDrain(uint32_t reason)
{
    if (m_bClosed || m_bDraining) {
        return;
    }
    bool writing = false;
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        m_bSendClosed = true;
        writing = m_bWriting;
    }
    if (!writing) {
        DiscardReceived();
        Close(reason);
        return;
    }
    m_bDraining = true;
    m_nDrainReason = reason;
    CRefPtr<COrvConnection> self(this);
    m_pLingerTimer = std::make_unique<asio::steady_timer>(m_pThread->GetContext(), kLinger);
    m_pLingerTimer->async_wait([self](const asio::error_code& error) {
        if (!error && !self->m_bClosed) {
            self->OnLingerEnd();
        }
    });
}

void COrvConnection::OnLingerEnd()
{
    size_t left = 0;
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        left = m_nQueuedBytes;
    }
    OrvSessionLog(4, "[connection=%u,bytes=%zu]The peer did not read within the linger: frames dropped at close.",
                  m_nId, left);
    Close(m_nDrainReason);
}

// Unread bytes at close make the kernel reset the connection and drop what it has not sent yet. The
// buffer is its own: a close may come from a callback while a read's bytes are still being decoded.
void COrvConnection::DiscardReceived()
{
    uint8_t discard[4096];
    asio::error_code error;
    m_pSocket->non_blocking(true, error);
    for (int round = 0; round < kReadRounds && !error; ++round) {
        m_pSocket->read_some(asio::buffer(discard), error);
    }
}

void COrvConnection::Flush()
{
    CRefPtr<COrvConnection> keep(this);
    for (int round = 0; round < kFlushRounds && !m_bClosed; ++round) {
        OrvIoSlice slices[kMaxSlices];
        size_t count = 0;
        {
            std::lock_guard<std::mutex> lock(m_sendMutex);
            count = GatherLocked(slices, kMaxSlices);
            if (count == 0) {
                m_bWriting = false;
                m_lastSend = Clock::now();
            }
        }
        if (count == 0) {
            if (m_bDraining) {
                DiscardReceived();
                Close(m_nDrainReason);
            }
            return;
        }
        // Unlocked: senders only append while m_bWriting is set, and the deque keeps its elements in place.
        long written = OrvSendGather(m_nFd, slices, count);
        if (written == kOrvIoWouldBlock) {
            WaitWritable();
            return;
        }
        if (written < 0) {
            Close(ORV_REASON_NETWORK_ERROR);
            return;
        }
        bool notify = false;
        {
            std::lock_guard<std::mutex> lock(m_sendMutex);
            notify = ConsumeLocked(static_cast<size_t>(written));
        }
        if (notify) {
            m_pOwner->OnConnectionCanSendAgain(this);
        }
    }
    if (!m_bClosed) {
        asio::post(m_pThread->GetContext(), [keep] { keep->Flush(); });
    }
}

size_t COrvConnection::GatherLocked(OrvIoSlice* slices, size_t capacity)
{
    size_t count = 0;
    for (auto it = m_queue.begin(); it != m_queue.end() && count + 2 <= capacity; ++it) {
        size_t skip = it->sent;
        if (skip < it->prefixLength) {
            slices[count++] = {it->prefix + skip, it->prefixLength - skip};
            skip = 0;
        } else {
            skip -= it->prefixLength;
        }
        slices[count++] = {it->data + skip, it->length - skip};
    }
    return count;
}

// Drops what was written; true when a refused sender should now hear that there is room again.
bool COrvConnection::ConsumeLocked(size_t written)
{
    m_nQueuedBytes -= written;
    while (written > 0) {
        QueuedFrame& front = m_queue.front();
        size_t part = std::min(written, front.Remaining());
        front.sent += part;
        written -= part;
        if (front.Remaining() == 0) {
            if (front.prefixLength == 0) {
                m_pThread->GetRunPool().Give(std::move(front.block));
            }
            m_queue.pop_front();
        }
    }
    if (!m_bRefused || m_nQueuedBytes >= kLowWaterBytes) {
        return false;
    }
    m_bRefused = false;
    return true;
}

void COrvConnection::WaitWritable()
{
    CRefPtr<COrvConnection> self(this);
    m_pSocket->async_wait(asio::ip::tcp::socket::wait_write, [self](const asio::error_code&) {
        if (!self->m_bClosed) {
            self->Flush();
        }
    });
}

void COrvConnection::Start()
{
    ReadAvailable();
}

void COrvConnection::ReadAvailable()
{
    CRefPtr<COrvConnection> keep(this);
    uint8_t* chunk = ThreadChunk();
    for (int round = 0; round < kReadRounds && !m_bClosed; ++round) {
        long received = OrvReceive(m_nFd, chunk, kChunkBytes);
        if (received < 0) {
            if (received == kOrvIoWouldBlock) {
                WaitReadable();
            } else {
                Close(ORV_REASON_NETWORK_ERROR);
            }
            return;
        }
        if (received == 0) {
            Close(ORV_REASON_PEER_CLOSED);
            return;
        }
        if (!FeedCorked(chunk, static_cast<size_t>(received))) {
            return;
        }
        // A short read drained the socket: any later byte raises a fresh readiness edge, so waiting
        // now loses nothing and spares the read that would only say "nothing more".
        if (static_cast<size_t>(received) < kChunkBytes) {
            WaitReadable();
            return;
        }
    }
    if (!m_bClosed) {
        asio::post(m_pThread->GetContext(), [keep] {
            if (!keep->m_bClosed) {
                keep->ReadAvailable();
            }
        });
    }
}

// Answers to the frames of one read leave together in one write once all of them were handed out,
// rather than a write apiece: a peer sending many small frames costs the thread far fewer calls.
bool COrvConnection::FeedCorked(const uint8_t* data, size_t length)
{
    m_bCorked = true;
    COrvFrameDecoder::Result result = m_decoder.Feed(data, length, this);
    m_bCorked = false;
    bool flush = m_bFlushAfterRead;
    m_bFlushAfterRead = false;
    if (result == COrvFrameDecoder::kBadLength) {
        Close(ORV_REASON_BAD_LENGTH);
    } else if (result == COrvFrameDecoder::kNoMemory) {
        Close(ORV_REASON_NO_MEMORY);
    }
    if (flush && !m_bClosed) {
        Flush();
    }
    return !m_bClosed;
}

// The loop reads for us once the socket is ready: a wait alone would re-register the socket with the
// poller each time, a system call per read that this spares.
void COrvConnection::WaitReadable()
{
    CRefPtr<COrvConnection> self(this);
    m_pSocket->async_read_some(asio::buffer(m_pWaitBuffer.get(), kWaitBytes),
                               [self](const asio::error_code& error, size_t received) {
                                   if (!self->m_bClosed) {
                                       self->OnWaitedRead(error, received);
                                   }
                               });
}

void COrvConnection::OnWaitedRead(const asio::error_code& error, size_t received)
{
    if (error == asio::error::eof) {
        Close(ORV_REASON_PEER_CLOSED);
        return;
    }
    if (error) {
        Close(ORV_REASON_NETWORK_ERROR);
        return;
    }
    CRefPtr<COrvConnection> keep(this);
    if (!FeedCorked(m_pWaitBuffer.get(), received)) {
        return;
    }
    if (received < kWaitBytes) {
        WaitReadable();
        return;
    }
    ReadAvailable();
}

bool COrvConnection::OnFrame(COrvMessageBlock* frame)
{
    // A draining connection hands nothing more up: its owner has let it go.
    if (!m_bDraining) {
        m_pOwner->OnConnectionReceive(this, frame);
    }
    return !m_bClosed;
}

void COrvConnection::Close(uint32_t reason)
{
    if (m_bClosed) {
        return;
    }
    CRefPtr<COrvConnection> keep(this);
    m_bClosed = true;
    m_pLingerTimer.reset();
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        m_bSendClosed = true;
        m_queue.clear();
        m_nQueuedBytes = 0;
    }
    asio::error_code ignored;
    m_pSocket->close(ignored);
    m_pSocket.reset();
    m_pOwner->OnConnectionClosed(this, reason);
}
