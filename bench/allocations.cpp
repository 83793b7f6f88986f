// Allocations per 64-byte message: a counting operator new under one client streaming to the
// server in the same process. The sending host thread's allocations are the send side's; those of the
// library's threads meanwhile are the receive side's (with the server host's callback doing nothing).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include "pellax.h"

namespace {
std::atomic<uint64_t> g_allAllocations{0};
thread_local uint64_t t_allocations = 0;
std::atomic<uint64_t> g_received{0};
std::atomic<bool> g_registered{false};

void Count()
{
    g_allAllocations.fetch_add(1, std::memory_order_relaxed);
    ++t_allocations;
}

int OnServer(unsigned int, unsigned int type, PELLAX_Message*, void*)
{
    if (type == PELLAX_SERVER_NOTIFY_DATA) {
        g_received.fetch_add(1, std::memory_order_relaxed);
    }
    return 0;
}

int OnClient(unsigned int, unsigned int type, PELLAX_Message*, void*)
{
    if (type == PELLAX_CLIENT_EVENT_REGISTERED) {
        g_registered.store(true);
    }
    return 0;
}
}  // namespace

void* operator new(size_t size)
{
    Count();
    if (void* memory = std::malloc(size > 0 ? size : 1)) {
        return memory;
    }
    throw std::bad_alloc();
}

void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    Count();
    return std::malloc(size > 0 ? size : 1);
}

void* operator new[](size_t size)
{
    return operator new(size);
}

void* operator new[](size_t size, const std::nothrow_t& tag) noexcept
{
    return operator new(size, tag);
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, size_t) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory, size_t) noexcept
{
    std::free(memory);
}

int main(int argc, char** argv)
{
    const uint64_t messages = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200000;
    PELLAX_Init(nullptr);
    PELLAX_SERVER_SetNotifyCallBack(OnServer, nullptr);
    PELLAX_CLIENT_SetNotifyCallBack(OnClient, nullptr);
    // A fixed high port keeps the probe short; the benchmark machine has nothing else there.
    const int port = 47123;
    if (PELLAX_SERVER_CreateSession("127.0.0.1", port, "{\"keepalive-interval\":60}") != 0) {
        std::fprintf(stderr, "allocations: the server could not start on port %d\n", port);
        return 1;
    }
    int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", port, nullptr);
    auto start = std::chrono::steady_clock::now();
    while (!g_registered.load() && std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    unsigned char body[64];
    std::memset(body, 'x', sizeof(body));
    PELLAX_Message message;
    std::memset(&message, 0, sizeof(message));
    message.command = 2001;
    message.data = body;
    message.dataLength = sizeof(body);

    uint64_t allBefore = g_allAllocations.load();
    uint64_t sendBefore = t_allocations;
    uint64_t sent = 0;
    while (sent < messages) {
        if (PELLAX_CLIENT_Send(static_cast<unsigned int>(handle), &message) == 0) {
            ++sent;
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    }
    uint64_t sendSide = t_allocations - sendBefore;
    start = std::chrono::steady_clock::now();
    while (g_received.load() < sent && std::chrono::steady_clock::now() - start < std::chrono::seconds(30)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    uint64_t receiveSide = g_allAllocations.load() - allBefore - sendSide;
    std::printf("allocations per 64-byte message: send side %.2f, receive side %.2f (%llu messages, %llu received)\n",
                static_cast<double>(sendSide) / static_cast<double>(sent),
                static_cast<double>(receiveSide) / static_cast<double>(sent), static_cast<unsigned long long>(sent),
                static_cast<unsigned long long>(g_received.load()));
    PELLAX_CLIENT_DestroySession(static_cast<unsigned int>(handle));
    PELLAX_SERVER_DestroySession();
    PELLAX_Uninit();
    return 0;
}
