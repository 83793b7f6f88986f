#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "transport/TransportSinks.h"

using namespace transport_test;
using pellax_test::PatternBytes;

namespace {

class RaceTest : public TransportTest {};

// Senders on several threads keep going while other threads disconnect connections, close client
// sessions and finally close the server: every join still ends in exactly one leave, nothing crashes.
TEST_F(RaceTest, SendsRacingDisconnectAndCloseFromOtherThreadsStaySafe)
{
    constexpr int kClients = 8;
    for (int round = 0; round < 3; ++round) {
        CServerSink& serverSink = ServerSink();
        std::vector<CClientSink*> sinks;
        std::vector<CRefPtr<IOrvClientSession>> clients;
        auto server = OpenWithClients(serverSink, &sinks, &clients, kClients);
        ASSERT_TRUE(server && !HasFailure());
        auto handles = serverSink.Clients();
        auto frame = Block(PatternBytes(512, round));

        std::atomic<bool> stop{false};
        std::vector<std::thread> senders;
        for (int t = 0; t < 3; ++t) {
            senders.emplace_back([&, t] {
                for (int n = 0; n < 2000 && !stop; ++n) {
                    for (size_t i = t; i < handles.size(); i += 3) {
                        server->Send(handles[i].Get(), frame.Get());
                        clients[i]->Send(0, frame.Get());
                    }
                }
            });
        }
        std::thread disconnector([&] {
            for (size_t i = 0; i < handles.size(); i += 2) {
                server->Disconnect(handles[i].Get(), 3);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        std::thread closer([&] {
            for (size_t i = 1; i < clients.size(); i += 4) {
                clients[i]->Close(4);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        disconnector.join();
        closer.join();
        std::thread serverCloser([&] { server->Close(9); });
        serverCloser.join();
        stop = true;
        for (auto& sender : senders) {
            sender.join();
        }

        EXPECT_EQ(size_t(kClients), serverSink.Count(Kind::kLeave));
        for (auto* sink : sinks) {
            ASSERT_TRUE(sink->WaitCount(Kind::kLeave, 1));
            EXPECT_TRUE(sink->Faults().empty());
        }
        EXPECT_TRUE(serverSink.Faults().empty());
        for (auto& client : clients) {
            client->Close(0);
        }
    }
}

}  // namespace
