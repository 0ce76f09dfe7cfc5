// The impairment relay between two plain sockets playing client and server
// (the server answering from a second port, as a TFTP server does): transfer
// IDs mirrored to both sides, and each fate applied to exactly the datagrams
// its rule names, with the counts to match.
#include "platform/async_udp_socket.h"
#include "tests/support/event_loop.h"
#include "tests/support/impairment_relay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

using platform::AsyncUdpSocket;
using platform::PeerAddress;
using tests::Fate;
using tests::ImpairmentRelay;
using tests::Toward;

namespace {

constexpr std::uint16_t kRrq = 1, kData = 3, kAck = 4, kOack = 6;

std::vector<unsigned char> Packet(std::uint16_t opcode, std::uint16_t block, int payload = 0) {
    std::vector<unsigned char> p{static_cast<unsigned char>(opcode >> 8), static_cast<unsigned char>(opcode),
                                 static_cast<unsigned char>(block >> 8), static_cast<unsigned char>(block)};
    p.resize(4 + static_cast<std::size_t>(payload), 0x5a);
    return p;
}

struct Received {
    PeerAddress from;
    std::uint16_t opcode, block;
};

// Everything queued on a socket now.
void Drain(AsyncUdpSocket& s, std::vector<Received>& into) {
    unsigned char buf[2048];
    PeerAddress from;
    for (int n; (n = s.ReceiveFrom(buf, sizeof buf, from)) != AsyncUdpSocket::kWouldBlock;)
        if (n >= 4)
            into.push_back({from, static_cast<std::uint16_t>(buf[0] << 8 | buf[1]),
                            static_cast<std::uint16_t>(buf[2] << 8 | buf[3])});
}

std::vector<std::uint16_t> Blocks(const std::vector<Received>& r) {
    std::vector<std::uint16_t> out;
    for (const auto& x : r) out.push_back(x.block);
    return out;
}

struct Case {
    const char* name;
    std::vector<tests::Rule> rules;
    std::vector<std::uint16_t> dataBlocks;  // DATA the server sends, in order
    std::vector<std::uint16_t> ackBlocks;   // ACKs the client sends, in order
    std::vector<std::uint16_t> clientGets;  // DATA blocks the client receives, in order
    std::vector<std::uint16_t> serverGets;  // ACK blocks the server receives, in order
    int dropped = 0, duplicated = 0;        // toward the client + toward the server
    bool release = false;                   // release what waits once the rest has arrived
};

tests::Rule On(Toward t, std::uint16_t opcode, std::optional<std::uint16_t> block, int nth, int count, Fate fate,
               int delayMs = 0) {
    return tests::Rule{tests::Match{t, opcode, block, nth, count}, fate, delayMs};
}

}  // namespace

TEST(ImpairmentRelay, MirrorsTransferIdsAndAppliesEachFateToTheDatagramsItsRuleNames) {
    const std::vector<Case> cases = {
        {"clean", {}, {1, 2, 3}, {1, 2}, {1, 2, 3}, {1, 2}},
        {"drop the 2nd DATA and the 1st ACK",
         {On(Toward::Client, kData, {}, 2, 1, Fate::Drop), On(Toward::Server, kAck, {}, 1, 1, Fate::Drop)},
         {1, 2, 3}, {1, 2}, {1, 3}, {2}, 2, 0},
        {"drop the first two DATA 2 only",
         {On(Toward::Client, kData, 2, 1, 2, Fate::Drop)}, {1, 2, 2, 2, 3}, {}, {1, 2, 3}, {}, 2, 0},
        {"duplicate ACK 1", {On(Toward::Server, kAck, 1, 1, 1, Fate::Duplicate)}, {}, {1, 2}, {}, {1, 1, 2}, 0, 1},
        {"reorder DATA 1 behind DATA 2",
         {On(Toward::Client, kData, {}, 1, 1, Fate::Reorder)}, {1, 2, 3}, {}, {2, 1, 3}, {}},
        {"a held datagram with no successor still goes",
         {On(Toward::Client, kData, {}, 1, 1, Fate::Reorder)}, {7}, {}, {7}, {}},
        {"delay DATA 1 past DATA 2",
         {On(Toward::Client, kData, {}, 1, 1, Fate::Delay, 60)}, {1, 2}, {}, {2, 1}, {}},
        {"a long delay ends when released",
         {On(Toward::Client, kData, 1, 1, 1, Fate::Delay, 60000)}, {1, 2}, {}, {2, 1}, {}, 0, 0, true},
        {"the first matching rule decides",
         {On(Toward::Server, kAck, {}, 2, 1, Fate::Duplicate), On(Toward::Server, kAck, {}, 1, 3, Fate::Drop)},
         {}, {1, 2, 3, 4}, {}, {2, 2, 4}, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AsyncUdpSocket client, listening, transfer;
        ASSERT_TRUE(client.Create("127.0.0.1", 0, false));
        ASSERT_TRUE(listening.Create("127.0.0.1", 0, false));
        ASSERT_TRUE(transfer.Create("127.0.0.1", 0, false));
        ImpairmentRelay relay("127.0.0.1", PeerAddress{platform::InetAddr("127.0.0.1"), listening.LocalPort()});
        ASSERT_TRUE(relay.ok());
        for (const auto& r : c.rules) relay.AddRule(r);

        // The request reaches the listening port from the relay, not from the client.
        const auto rrq = Packet(kRrq, 0, 8);
        ASSERT_GT(client.SendTo(rrq.data(), static_cast<int>(rrq.size()), relay.Front()), 0);
        std::vector<Received> atListening, atClient, atTransfer;
        ASSERT_TRUE(tests::RunUntil([&] { Drain(listening, atListening); return !atListening.empty(); }));
        const PeerAddress clientSeenByServer = atListening[0].from;
        EXPECT_NE(clientSeenByServer.port, client.LocalPort());

        // The answer from the transfer port reaches the client from a mirror port of its own.
        const auto oack = Packet(kOack, 0);
        transfer.SendTo(oack.data(), static_cast<int>(oack.size()), clientSeenByServer);
        ASSERT_TRUE(tests::RunUntil([&] { Drain(client, atClient); return !atClient.empty(); }));
        const PeerAddress serverSeenByClient = atClient[0].from;
        EXPECT_NE(serverSeenByClient.port, relay.Front().port);
        EXPECT_NE(serverSeenByClient.port, transfer.LocalPort());
        atClient.clear();

        for (std::uint16_t b : c.dataBlocks) {
            const auto p = Packet(kData, b, 100);
            transfer.SendTo(p.data(), static_cast<int>(p.size()), clientSeenByServer);
        }
        for (std::uint16_t b : c.ackBlocks) {
            const auto p = Packet(kAck, b);
            client.SendTo(p.data(), static_cast<int>(p.size()), serverSeenByClient);
        }
        if (c.release) {
            ASSERT_TRUE(tests::RunUntil([&] { Drain(client, atClient); return atClient.size() == 1; }));
            EXPECT_EQ(relay.Waiting(), 1);
            relay.ReleaseHeld();
            EXPECT_EQ(relay.Waiting(), 0);
        }
        tests::RunUntil([&] {
            Drain(client, atClient);
            Drain(transfer, atTransfer);
            return atClient.size() >= c.clientGets.size() && atTransfer.size() >= c.serverGets.size();
        });
        tests::RunFor(120);  // anything extra, late or held
        Drain(client, atClient);
        Drain(transfer, atTransfer);
        Drain(listening, atListening);

        EXPECT_EQ(Blocks(atClient), c.clientGets);
        EXPECT_EQ(Blocks(atTransfer), c.serverGets);
        for (const auto& r : atClient) EXPECT_EQ(r.from, serverSeenByClient);
        for (const auto& r : atTransfer) EXPECT_EQ(r.from, clientSeenByServer);
        EXPECT_EQ(atListening.size(), 1u);  // the ACKs went to the transfer port only
        EXPECT_EQ(relay.Count(Toward::Client, kData), static_cast<int>(c.dataBlocks.size()));
        EXPECT_EQ(relay.Count(Toward::Server, kAck), static_cast<int>(c.ackBlocks.size()));
        EXPECT_EQ(relay.Count(Toward::Server), 1 + static_cast<int>(c.ackBlocks.size()));
        EXPECT_EQ(relay.DataBytes(Toward::Client), 100 * static_cast<std::int64_t>(c.dataBlocks.size()));
        EXPECT_EQ(relay.Dropped(Toward::Client) + relay.Dropped(Toward::Server), c.dropped);
        EXPECT_EQ(relay.Duplicated(Toward::Client) + relay.Duplicated(Toward::Server), c.duplicated);
        EXPECT_EQ(relay.Log().size(), 2 + c.dataBlocks.size() + c.ackBlocks.size());
    }
}

// Random impairment is a function of the seed: the same seed drops and
// duplicates the same datagrams, and every datagram is accounted for.
TEST(ImpairmentRelay, RandomImpairmentIsSeededAndAccounted) {
    std::vector<std::vector<std::uint16_t>> runs;
    for (std::uint32_t seed : {11u, 11u, 12u}) {
        AsyncUdpSocket client, server;
        ASSERT_TRUE(client.Create("127.0.0.1", 0, false));
        ASSERT_TRUE(server.Create("127.0.0.1", 0, false));
        ImpairmentRelay relay("127.0.0.1", PeerAddress{platform::InetAddr("127.0.0.1"), server.LocalPort()});
        ASSERT_TRUE(relay.ok());
        relay.SetRandom({0.2, 0.2, 0.0, seed});
        for (std::uint16_t b = 1; b <= 60; ++b) {
            const auto p = Packet(kAck, b);
            client.SendTo(p.data(), static_cast<int>(p.size()), relay.Front());
        }
        std::vector<Received> got;
        tests::RunUntil([&] {
            Drain(server, got);
            return relay.Count(Toward::Server) == 60 &&
                   static_cast<int>(got.size()) == 60 - relay.Dropped(Toward::Server) + relay.Duplicated(Toward::Server);
        });
        EXPECT_EQ(relay.Count(Toward::Server), 60);
        EXPECT_GT(relay.Dropped(Toward::Server), 0);
        EXPECT_GT(relay.Duplicated(Toward::Server), 0);
        EXPECT_EQ(static_cast<int>(got.size()), 60 - relay.Dropped(Toward::Server) + relay.Duplicated(Toward::Server));
        runs.push_back(Blocks(got));
    }
    EXPECT_EQ(runs[0], runs[1]);
    EXPECT_NE(runs[0], runs[2]);
}

// A latency holds every datagram that long in each direction, in order: a
// round trip through the relay takes at least twice it, a burst keeps its
// order, and turning the latency off sends what still waits.
TEST(ImpairmentRelay, LatencyHoldsEveryDatagramInOrderBothWays) {
    struct LatencyCase {
        const char* name;
        int oneWayUs;
    };
    const std::vector<LatencyCase> cases = {{"none", 0}, {"a quarter millisecond", 250}, {"15 ms", 15000}};
    for (const LatencyCase& c : cases) {
        SCOPED_TRACE(c.name);
        AsyncUdpSocket client, server;
        ASSERT_TRUE(client.Create("127.0.0.1", 0, false));
        ASSERT_TRUE(server.Create("127.0.0.1", 0, false));
        ImpairmentRelay relay("127.0.0.1", PeerAddress{platform::InetAddr("127.0.0.1"), server.LocalPort()});
        ASSERT_TRUE(relay.ok());
        ASSERT_TRUE(relay.SetLatency(std::chrono::microseconds{c.oneWayUs}));

        const auto start = std::chrono::steady_clock::now();
        for (std::uint16_t b = 1; b <= 20; ++b) {
            const auto p = Packet(kAck, b);
            client.SendTo(p.data(), static_cast<int>(p.size()), relay.Front());
        }
        std::vector<Received> atServer, atClient;
        ASSERT_TRUE(tests::RunUntil([&] { Drain(server, atServer); return atServer.size() == 20; }));
        // The server answers each from its listening port; the client hears them through the front.
        for (const auto& r : atServer) {
            const auto p = Packet(kData, r.block, 10);
            server.SendTo(p.data(), static_cast<int>(p.size()), r.from);
        }
        ASSERT_TRUE(tests::RunUntil([&] { Drain(client, atClient); return atClient.size() == 20; }));
        const auto roundTrip = std::chrono::steady_clock::now() - start;

        std::vector<std::uint16_t> inOrder;
        for (std::uint16_t b = 1; b <= 20; ++b) inOrder.push_back(b);
        EXPECT_EQ(Blocks(atServer), inOrder);
        EXPECT_EQ(Blocks(atClient), inOrder);
        EXPECT_GE(roundTrip, std::chrono::microseconds{2 * c.oneWayUs});
        EXPECT_EQ(relay.Waiting(), 0);

        // Held datagrams go at once when the latency is turned off.
        ASSERT_TRUE(relay.SetLatency(std::chrono::seconds{10}));
        const auto late = Packet(kAck, 99);
        client.SendTo(late.data(), static_cast<int>(late.size()), relay.Front());
        ASSERT_TRUE(tests::RunUntil([&] { return relay.Waiting() == 1; }));
        ASSERT_TRUE(relay.SetLatency(std::chrono::microseconds{0}));
        EXPECT_EQ(relay.Waiting(), 0);
        atServer.clear();
        ASSERT_TRUE(tests::RunUntil([&] { Drain(server, atServer); return atServer.size() == 1; }));
        EXPECT_EQ(atServer[0].block, 99);
    }
}
