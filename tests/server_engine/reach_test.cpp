// Reaching the server on every local address: each client is answered from
// the address it asked, IPv4 clients are known by their dotted address
// whichever socket heard them, refusals come from the asked address too, and
// the one-address mode still hears its address alone.
#include "engine_harness.h"

#include <gtest/gtest.h>

#include <fstream>

using tests::EngineHarness;
using tests::RawClient;

namespace {

platform::PeerAddress At(const std::string& text, std::uint16_t port) {
    platform::PeerAddress a;
    EXPECT_TRUE(platform::ParseAddress(text, a)) << text;
    a.port = port;
    return a;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Fetches name from the listener at asked, lock-step, checking that every
// DATA comes from asked's address; returns the bytes.
std::string FetchFrom(RawClient& client, const platform::PeerAddress& asked, const std::string& name,
                      bool& sameSource) {
    sameSource = true;
    client.Send(tests::Request(tftp::kRrq, name, "octet"), asked);
    std::string got;
    for (std::uint16_t block = 1;; ++block) {
        RawClient::Datagram d;
        if (!client.Next(d)) {
            ADD_FAILURE() << "no block " << block << " from " << asked.AddressText();
            return got;
        }
        if (!d.from.SameHost(asked)) sameSource = false;
        if (d.Opcode() != tftp::kData || d.Block() != block) {
            ADD_FAILURE() << "not DATA " << block << " from " << asked.AddressText();
            return got;
        }
        got += d.bytes.substr(4);
        client.Send(tests::Ack(block), d.from);
        if (d.bytes.size() < 4 + 512) return got;
    }
}

}  // namespace

TEST(Reach, EveryLocalAddressIsAnsweredFromTheAddressAsked) {
    EngineHarness h;
    h.settings.bListenAll = 1;
    ASSERT_TRUE(h.Start());
    EXPECT_TRUE(h.listener->ListeningOnAll());
    EXPECT_EQ(h.app.listenLabel, "All addresses." + h.settings.Port);
    EXPECT_EQ(h.listener->LocalAddress(), "All addresses");
    const std::string bytes(1300, 'r');
    WriteFile(h.OutFile("boot.bin"), bytes);

    struct Case {
        const char* client;
        const char* asked;
    };
    // 127.0.0.2 stands for a second link's address: local, but not the one
    // the host's name gives.
    const Case cases[] = {{"127.0.0.1", "127.0.0.1"}, {"127.0.0.1", "127.0.0.2"}, {"::1", "::1"}};
    int number = 0;
    for (const Case& c : cases) {
        RawClient client(c.client);
        ASSERT_TRUE(client.IsOpen()) << c.client;
        bool sameSource = false;
        EXPECT_EQ(FetchFrom(client, At(c.asked, h.listenAt.port), "boot.bin", sameSource), bytes) << c.asked;
        EXPECT_TRUE(sameSource) << "answers to a client that asked " << c.asked << " come from it";
        ++number;
        ASSERT_TRUE(h.WaitReported(number)) << c.asked;
        EXPECT_EQ(h.view.ResultOf(number), "Finished : Sending");
        const auto started = h.view.Of(WM_TRANSFER_STARTED);
        ASSERT_EQ(started.size(), static_cast<std::size_t>(number));
        EXPECT_EQ(started.back().text, c.client) << "the row names the client as plain text";
    }
}

TEST(Reach, UploadOverIPv6ArrivesWhole) {
    EngineHarness h;
    h.settings.bListenAll = 1;
    ASSERT_TRUE(h.Start());
    RawClient client("::1");
    const platform::PeerAddress server = At("::1", h.listenAt.port);
    client.Send(tests::Request(tftp::kWrq, "up.bin", "octet"), server);
    RawClient::Datagram d;
    ASSERT_TRUE(client.Next(d));
    ASSERT_EQ(d.Opcode(), tftp::kAck);
    EXPECT_TRUE(d.from.SameHost(server));
    const std::string first(512, 'a'), last = "tail";
    client.Send(tests::Data(1, first), d.from);
    ASSERT_TRUE(client.Next(d));
    client.Send(tests::Data(2, last), d.from);
    ASSERT_TRUE(client.Next(d));
    EXPECT_EQ(d.Opcode(), tftp::kAck);
    EXPECT_EQ(d.Block(), 2);
    ASSERT_TRUE(h.WaitReported(1));
    EXPECT_EQ(h.view.ResultOf(1), "Finished : Receiving");
    std::ifstream in(h.InFile("up.bin"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), first + last);
}

TEST(Reach, RefusalsComeFromTheAddressAskedAndListsTakeIPv6AndPrefixes) {
    EngineHarness h;
    h.settings.bListenAll = 1;
    h.settings.bDeny = 1;
    h.settings.Deny[0] = "::1";
    h.settings.Deny[1] = "127.0.0.0/30";  // .0 to .3
    ASSERT_TRUE(h.Start());
    const std::string refused = tests::ErrorPacket(0, "Service not available");
    for (const char* address : {"::1", "127.0.0.2"}) {
        RawClient client(address);
        const platform::PeerAddress server = At(address, h.listenAt.port);
        client.Send(tests::Request(tftp::kRrq, "x", "octet"), server);
        RawClient::Datagram d;
        ASSERT_TRUE(client.Next(d)) << address;
        EXPECT_EQ(d.bytes, refused) << address;
        EXPECT_EQ(d.from, server) << "from the listening port of the address asked";
    }
    // The allow list: an IPv4 client seen through the IPv6 socket matches
    // its dotted patterns.
    h.settings.bDeny = 0;
    h.settings.bAllow = 1;
    h.settings.Allow[0] = "127.0.0.5";
    RawClient allowed("127.0.0.5");
    WriteFile(h.OutFile("ok"), "ok");
    allowed.Send(tests::Request(tftp::kRrq, "ok", "octet"), At("127.0.0.1", h.listenAt.port));
    RawClient::Datagram d;
    ASSERT_TRUE(allowed.Next(d));
    EXPECT_EQ(d.Opcode(), tftp::kData);
    RawClient other("127.0.0.6");
    other.Send(tests::Request(tftp::kRrq, "ok", "octet"), At("127.0.0.1", h.listenAt.port));
    ASSERT_TRUE(other.Next(d));
    EXPECT_EQ(d.bytes, refused);
}

TEST(Reach, OneAddressHearsThatAddressAlone) {
    EngineHarness h;  // the one address 127.0.0.1
    h.settings.bListenAll = 0;
    ASSERT_TRUE(h.Start());
    EXPECT_FALSE(h.listener->ListeningOnAll());
    EXPECT_EQ(h.app.listenLabel, "127.0.0.1." + h.settings.Port);
    WriteFile(h.OutFile("f"), "f");
    for (const char* other : {"127.0.0.2", "::1"}) {
        RawClient client(other);
        client.Send(tests::Request(tftp::kRrq, "f", "octet"), At(other, h.listenAt.port));
        EXPECT_TRUE(client.Quiet(300)) << other << " is not listened on";
    }
    RawClient client("127.0.0.1");
    client.Send(tests::Request(tftp::kRrq, "f", "octet"), h.listenAt);
    RawClient::Datagram d;
    ASSERT_TRUE(client.Next(d));
    EXPECT_EQ(d.Opcode(), tftp::kData);
}
