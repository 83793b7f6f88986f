#include "PlainSocketBaseline.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "PlainSocket.h"

namespace pellax_tool {

namespace {
using Clock = std::chrono::steady_clock;
constexpr size_t kHeaderSize = 156;

void PutBigEndian(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

// Length prefix, header and body in one buffer, so each message is one write.
std::vector<uint8_t> MakeFrame(int size)
{
    std::vector<uint8_t> frame(4 + kHeaderSize + static_cast<size_t>(size), 0);
    PutBigEndian(frame.data(), static_cast<uint32_t>(kHeaderSize + static_cast<size_t>(size)));
    frame[4] = 1;
    PutBigEndian(frame.data() + 4 + 20, static_cast<uint32_t>(size));
    return frame;
}

void EchoLoop(Socket connection)
{
    std::vector<uint8_t> frame;
    std::vector<uint8_t> out;
    while (ReadFrame(connection.Fd(), frame)) {
        out.resize(4 + frame.size());
        PutBigEndian(out.data(), static_cast<uint32_t>(frame.size()));
        std::memcpy(out.data() + 4, frame.data(), frame.size());
        if (!WriteAll(connection.Fd(), out.data(), out.size())) {
            return;
        }
    }
}

double Seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}
}

BenchFigures RunPlainRoundTrip(const BaselineSettings& settings)
{
    uint16_t port = 0;
    Socket listener = Listen(port);
    Socket client = Connect(port);
    std::thread server(EchoLoop, Accept(listener));

    std::vector<uint8_t> frame = MakeFrame(settings.size);
    std::vector<uint8_t> answer;
    std::vector<double> samples;
    auto start = Clock::now();
    while (Seconds(start) < settings.seconds) {
        auto sent = Clock::now();
        if (!WriteAll(client.Fd(), frame.data(), frame.size()) || !ReadFrame(client.Fd(), answer)) {
            break;
        }
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
    }
    double elapsed = Seconds(start);
    Shutdown(client.Fd(), true);
    server.join();

    BenchFigures figures;
    SummariseLatency(samples, figures);
    SetThroughput(samples.size(), samples.size() * static_cast<uint64_t>(settings.size), elapsed, figures);
    return figures;
}

BenchFigures RunPlainStream(const BaselineSettings& settings)
{
    uint16_t port = 0;
    Socket listener = Listen(port);
    Socket client = Connect(port);
    std::atomic<uint64_t> received{0};
    std::thread server([&received, connection = Accept(listener)]() {
        std::vector<uint8_t> frame;
        while (ReadFrame(connection.Fd(), frame)) {
            received.fetch_add(1, std::memory_order_relaxed);
        }
    });

    std::vector<uint8_t> frame = MakeFrame(settings.size);
    uint64_t sent = 0;
    auto start = Clock::now();
    while ((sent & 255) != 0 || Seconds(start) < settings.seconds) {
        if (!WriteAll(client.Fd(), frame.data(), frame.size())) {
            break;
        }
        ++sent;
    }
    Shutdown(client.Fd(), false);
    server.join();
    double elapsed = Seconds(start);

    BenchFigures figures;
    SetThroughput(received.load(), received.load() * static_cast<uint64_t>(settings.size), elapsed, figures);
    return figures;
}

BenchFigures RunPlainFanIn(const BaselineSettings& settings)
{
    uint16_t port = 0;
    Socket listener = Listen(port);
    std::vector<Socket> clients;
    std::vector<Socket> served;
    for (int i = 0; i < settings.clients; ++i) {
        clients.push_back(Connect(port));
        served.push_back(Accept(listener));
    }
    std::atomic<bool> running{true};
    std::thread server([&served, &running] {
        std::vector<SocketFd> fds;
        for (const Socket& connection : served) {
            fds.push_back(connection.Fd());
        }
        std::vector<uint8_t> frame;
        std::vector<uint8_t> out;
        while (running.load()) {
            for (size_t index : WaitReadable(fds, 50)) {
                if (!ReadFrame(fds[index], frame)) {
                    continue;
                }
                out.resize(4 + frame.size());
                PutBigEndian(out.data(), static_cast<uint32_t>(frame.size()));
                std::memcpy(out.data() + 4, frame.data(), frame.size());
                WriteAll(fds[index], out.data(), out.size());
            }
        }
    });

    int workers = std::min(settings.clients, 8);
    std::vector<std::vector<double>> samples(static_cast<size_t>(workers));
    std::vector<std::thread> threads;
    auto start = Clock::now();
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            std::vector<uint8_t> frame = MakeFrame(settings.size);
            std::vector<uint8_t> answer;
            // Each worker takes every workers-th connection, round robin.
            size_t i = static_cast<size_t>(w);
            while (Seconds(start) < settings.seconds) {
                auto sent = Clock::now();
                if (!WriteAll(clients[i].Fd(), frame.data(), frame.size()) || !ReadFrame(clients[i].Fd(), answer)) {
                    return;
                }
                samples[static_cast<size_t>(w)].push_back(
                    std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
                i += static_cast<size_t>(workers);
                if (i >= clients.size()) {
                    i = static_cast<size_t>(w);
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    double elapsed = Seconds(start);
    running.store(false);
    server.join();

    std::vector<double> all;
    for (const auto& part : samples) {
        all.insert(all.end(), part.begin(), part.end());
    }
    BenchFigures figures;
    uint64_t calls = all.size();
    SummariseLatency(all, figures);
    SetThroughput(calls, calls * static_cast<uint64_t>(settings.size), elapsed, figures);
    return figures;
}

}  // namespace pellax_tool
