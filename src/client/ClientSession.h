// One connection to a server: connects through the transport, registers until answered, then keeps
// the connection alive, notices a silent server, and sends host frames asynchronously or synchronously.
//
// Threads: the front calls in from host threads; the transport calls the IOrvClientSessionSink side
// on the session's event thread, and the timer ticks on that same thread (the one that delivered the
// join). Everything both sides touch is an atomic or sits behind one of the locks below.
#ifndef PELLAX_CLIENT_CLIENT_SESSION_H
#define PELLAX_CLIENT_CLIENT_SESSION_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "client/IClientSession.h"
#include "client/IClientSessionSink.h"
#include "platform/OrvSession.h"
#include "platform/OrvSpare.h"
#include "platform/OrvThread.h"
#include "platform/OrvTimer.h"
#include "platform/Zot.h"
#include "protocol/PellaxMessageHeader.h"
#include "frame/ResultCodes.h"

namespace ORV {
namespace PELLAX {

class CClientSession : public IClientSession,
                       public IOrvClientSessionSink,
                       public IOrvTimerSink,
                       public COrvReferenceControlT<COrvLockMutex> {
public:
    static constexpr int64_t kDefaultKeepaliveInterval = 5;
    static constexpr uint64_t kDefaultKeepaliveTimeoutMs = 30000;

    explicit CClientSession(uint32_t handle);
    ~CClientSession() override;

    uint32_t AddReference() override { return COrvReferenceControlT::AddReference(); }
    uint32_t RemoveReference() override { return COrvReferenceControlT::RemoveReference(); }

    int SetOption(uint32_t option) override;
    int Finalize() override;
    uint32_t GetHandle() const override { return m_nHandle; }
    int Open(IClientSessionSink* sink, const COrvInetAddress* server, const COrvTimeValue* timeout,
             const COrvInetAddress* local) override;
    void Close(uint32_t reason) override;
    int AsyncSend(CPellaxMessageHeader& header, const void* body, size_t length) override;
    int SyncSend(CPellaxMessageHeader& header, const void* body, size_t length, CRefPtr<CMessageResponse>& response,
                 uint32_t timeoutSeconds) override;
    int SetUserData(uint32_t kind, const char* text) override;
    void DetachSink() override;

    void OnJoin(IOrvClientSession* session, uint32_t result) override;
    void OnLeave(IOrvClientSession* session, uint32_t reason) override;
    void OnReceive(IOrvClientSession* session, COrvMessageBlock* frame) override;
    void OnCanSendAgain(IOrvClientSession* session, uint32_t value) override;

    void OnTimer(COrvTimer* timer) override;

    int StartTimer();
    int StopTimer();

private:
    static constexpr const char* kLogScope = "ORV::PELLAX::CClientSession";

    IOrvClientSession* GetSession() const { return m_pTransport.load(std::memory_order_acquire); }
    bool HasSink();
    int SendBlock(COrvMessageBlock* block);
    int SendSplit(CPellaxMessageHeader& header, const void* body, size_t length);
    std::string BuildControlBody(bool registered);
    bool IsSilent() const;
    // Host requests and responses go to the sink; answers to synchronous requests to their waiter.
    void OnDataFrame(const MessageHeaderPtr& header, COrvMessageBlock* frame);
    void OnControlData(bool isRegister, const MessageHeaderPtr& header, const std::string& json);
    bool IsOwnThread() const;

    // Each runs the sink's operation under m_sinkLock, and only while a sink is attached.
    template <class Call>
    bool Notify(Call call);

    uint32_t m_nOption = 0;
    IClientSessionSink* m_pSink = nullptr;             // the client front; guarded by m_sinkLock
    std::recursive_mutex m_sinkLock;                   // held across every sink call; recursive so a
                                                       // host callback may destroy its own session
    std::atomic<int64_t> m_nKeepaliveInterval{kDefaultKeepaliveInterval};     // timer period, seconds
    std::atomic<uint64_t> m_nKeepaliveTimeout{kDefaultKeepaliveTimeoutMs};    // milliseconds
    COrvInetAddress m_addrServer;
    COrvInetAddress m_addrLocal;
    std::unique_ptr<COrvTimer> m_pTimer;               // guarded by m_timerLock
    ZOT_Mutex m_timerLock;
    // Set once by Open and kept until this session goes: senders read m_pTransport without a lock
    // or a reference of their own.
    std::atomic<bool> m_bOpened{false};
    CRefPtr<IOrvClientSession> m_pSession;
    std::atomic<IOrvClientSession*> m_pTransport{nullptr};
    COrvSpareT<COrvMessageBlock> m_spareFrame;         // the last sent frame's block, for the next one
    COrvSpareT<CPellaxMessageHeader> m_spareHeader;    // the last received frame's header, for the next one
    std::atomic<uint64_t> m_nLastRecvTick;             // last frame received, ms tick
    std::atomic<bool> m_bRegistered{false};
    std::atomic<bool> m_bClosed{false};                // set by Close or the leave: later ticks do nothing
    const uint32_t m_nHandle;
    std::atomic<IOrvThread*> m_pThread{nullptr};       // delivered the join; owns the timer
    ZOT_Mutex m_userDataLock;                          // host threads write, the timer reads
    std::string m_strRegisterUserData;
    std::string m_strKeepaliveUserData;
};

}  // namespace PELLAX
}  // namespace ORV

#endif
