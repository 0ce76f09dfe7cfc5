// The UDP socket on loopback: binding, notifications, oversized datagrams,
// buffer sizes.
#include "platform/async_udp_socket.h"
#include "tests/support/event_loop.h"

#include <QThread>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using platform::AsyncUdpSocket;
using platform::PeerAddress;

namespace {

class RecordingSocket : public AsyncUdpSocket {
public:
    int bufferSize = 64;
    bool ignore = false;  // take no datagram when notified
    std::vector<int> results;
    std::vector<std::string> data;
    std::vector<PeerAddress> senders;
    std::vector<QThread*> threads;
    int notifications = 0;

protected:
    void OnReceive(int error) override {
        EXPECT_EQ(error, 0);
        ++notifications;
        threads.push_back(QThread::currentThread());
        if (ignore) return;
        std::vector<char> buf(static_cast<std::size_t>(bufferSize));
        PeerAddress from;
        const int n = ReceiveFrom(buf.data(), bufferSize, from);
        results.push_back(n);
        senders.push_back(from);
        data.emplace_back(buf.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
    }
};

}  // namespace

TEST(AsyncUdpSocket, BindsToAnExplicitAddressAndSystemChosenPort) {
    AsyncUdpSocket s;
    ASSERT_TRUE(s.Create("127.0.0.1", 0, false));
    EXPECT_NE(s.LocalPort(), 0);
    AsyncUdpSocket bad;
    EXPECT_FALSE(bad.Create("255.255.255.255", 0, false));
    EXPECT_NE(bad.LastError(), 0);
    EXPECT_FALSE(bad.IsOpen());
}

TEST(AsyncUdpSocket, SamePortTwiceFails) {
    AsyncUdpSocket a, b;
    ASSERT_TRUE(a.Create("127.0.0.1", 0, false));
    EXPECT_FALSE(b.Create("127.0.0.1", a.LocalPort(), false));
}

TEST(AsyncUdpSocket, NotifiesOnTheCreatingThreadWithTheSender) {
    RecordingSocket receiver;
    ASSERT_TRUE(receiver.Create("127.0.0.1", 0, true));
    AsyncUdpSocket sender;
    ASSERT_TRUE(sender.Create("127.0.0.1", 0, false));
    ASSERT_EQ(sender.SendTo("hello", 5, "127.0.0.1", receiver.LocalPort()), 5);
    ASSERT_TRUE(tests::RunUntil([&] { return receiver.results.size() == 1; }));
    EXPECT_EQ(receiver.data[0], "hello");
    EXPECT_EQ(receiver.threads[0], QThread::currentThread());
    EXPECT_EQ(receiver.senders[0].port, sender.LocalPort());
    EXPECT_EQ(receiver.senders[0].AddressText(), "127.0.0.1");

    // Reply to the stored peer address.
    RecordingSocket back;
    ASSERT_TRUE(back.Create("127.0.0.1", 0, true));
    ASSERT_EQ(back.SendTo("x", 1, PeerAddress{platform::InetAddr("127.0.0.1"), receiver.LocalPort()}), 1);
    ASSERT_TRUE(tests::RunUntil([&] { return receiver.results.size() == 2; }));
    EXPECT_EQ(receiver.senders[1].port, back.LocalPort());
}

TEST(AsyncUdpSocket, OversizedDatagramIsDroppedAsSuchAndTheNextOneFits) {
    RecordingSocket receiver;
    receiver.bufferSize = 8;
    ASSERT_TRUE(receiver.Create("127.0.0.1", 0, true));
    AsyncUdpSocket sender;
    ASSERT_TRUE(sender.Create("127.0.0.1", 0, false));
    sender.SendTo("123456789", 9, "127.0.0.1", receiver.LocalPort());
    sender.SendTo("12345678", 8, "127.0.0.1", receiver.LocalPort());
    ASSERT_TRUE(tests::RunUntil([&] { return receiver.results.size() == 2; }));
    EXPECT_EQ(receiver.results[0], AsyncUdpSocket::kTooLong);
    EXPECT_EQ(receiver.results[1], 8);
    EXPECT_EQ(receiver.data[1], "12345678");
}

TEST(AsyncUdpSocket, AnIgnoredNotificationIsNotRepeatedUntilAReceiveIsTried) {
    RecordingSocket receiver;
    receiver.ignore = true;
    ASSERT_TRUE(receiver.Create("127.0.0.1", 0, true));
    AsyncUdpSocket sender;
    ASSERT_TRUE(sender.Create("127.0.0.1", 0, false));
    sender.SendTo("a", 1, "127.0.0.1", receiver.LocalPort());
    ASSERT_TRUE(tests::RunUntil([&] { return receiver.notifications == 1; }));
    tests::RunFor(100);
    EXPECT_EQ(receiver.notifications, 1);  // level-triggered input did not spin

    // A receive tried outside a notification re-arms them.
    PeerAddress from;
    char buf[4];
    EXPECT_EQ(receiver.ReceiveFrom(buf, 4, from), 1);
    receiver.ignore = false;
    sender.SendTo("b", 1, "127.0.0.1", receiver.LocalPort());
    ASSERT_TRUE(tests::RunUntil([&] { return receiver.results.size() == 1; }));
    EXPECT_EQ(receiver.data[0], "b");
}

TEST(AsyncUdpSocket, ReceiveWithNothingQueuedWouldBlock) {
    AsyncUdpSocket s;
    ASSERT_TRUE(s.Create("127.0.0.1", 0, false));
    char buf[4];
    PeerAddress from;
    EXPECT_EQ(s.ReceiveFrom(buf, 4, from), AsyncUdpSocket::kWouldBlock);
}

TEST(AsyncUdpSocket, BufferSizesAreSetAndReadBackDoubled) {
    AsyncUdpSocket s;
    ASSERT_TRUE(s.Create("127.0.0.1", 0, false));
    int size = 0;
    ASSERT_TRUE(s.SetSendBufferSize(65484));
    ASSERT_TRUE(s.GetSendBufferSize(size));
    EXPECT_EQ(size, 2 * 65484);
    ASSERT_TRUE(s.SetReceiveBufferSize(8212));
    ASSERT_TRUE(s.GetReceiveBufferSize(size));
    EXPECT_EQ(size, 2 * 8212);
    // Below the kernel's minimum the minimum is granted.
    ASSERT_TRUE(s.SetReceiveBufferSize(16));
    ASSERT_TRUE(s.GetReceiveBufferSize(size));
    EXPECT_GT(size, 2 * 16);
    AsyncUdpSocket closed;
    EXPECT_FALSE(closed.SetSendBufferSize(1000));
    EXPECT_FALSE(closed.GetSendBufferSize(size));
}

TEST(AsyncUdpSocket, CloseInsideOnReceiveIsSafe) {
    struct Closer : AsyncUdpSocket {
        int calls = 0;
        void OnReceive(int) override {
            ++calls;
            char buf[8];
            PeerAddress from;
            ReceiveFrom(buf, sizeof buf, from);
            Close();
        }
    } closer;
    ASSERT_TRUE(closer.Create("127.0.0.1", 0, true));
    const std::uint16_t port = closer.LocalPort();
    AsyncUdpSocket sender;
    ASSERT_TRUE(sender.Create("127.0.0.1", 0, false));
    sender.SendTo("a", 1, "127.0.0.1", port);
    ASSERT_TRUE(tests::RunUntil([&] { return closer.calls == 1; }));
    tests::RunFor(50);
    EXPECT_FALSE(closer.IsOpen());
    EXPECT_EQ(closer.calls, 1);
}
