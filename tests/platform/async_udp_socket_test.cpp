// The UDP socket on loopback: binding, notifications, oversized datagrams,
// bursts in and out, buffer sizes.
#include "platform/async_udp_socket.h"
#include "tests/support/event_loop.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

using platform::AsyncUdpSocket;
using platform::PeerAddress;

namespace {

class RecordingSocket : public AsyncUdpSocket {
public:
    int bufferSize = 64;
    bool ignore = false;  // take no datagram when notified
    // From this many receives on, read with laterSize bytes.
    int laterFrom = -1;
    int laterSize = 0;
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
        const bool later = laterFrom >= 0 && static_cast<int>(results.size()) >= laterFrom;
        const int size = later ? laterSize : bufferSize;
        std::vector<char> buf(static_cast<std::size_t>(size));
        PeerAddress from;
        const int n = ReceiveFrom(buf.data(), size, from);
        results.push_back(n);
        senders.push_back(from);
        data.emplace_back(buf.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
    }
};

// A datagram of the given size whose bytes tell its place in the burst.
std::string Numbered(int index, int size) {
    std::string s(static_cast<std::size_t>(size), '\0');
    for (int k = 0; k < size; ++k) s[static_cast<std::size_t>(k)] = static_cast<char>((index * 7 + k) % 251);
    return s;
}

PeerAddress Loopback(std::uint16_t port) { return PeerAddress{platform::InetAddr("127.0.0.1"), port}; }

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
    // A burst: some of it is taken from the system together with the first.
    const std::string burst[] = {"a", "b", "c", "d"};
    std::vector<platform::DatagramView> views;
    for (const std::string& d : burst) views.push_back({d.data(), static_cast<int>(d.size())});
    ASSERT_EQ(sender.SendBatch(views.data(), 4, Loopback(receiver.LocalPort())), 4);
    ASSERT_TRUE(tests::RunUntil([&] { return receiver.notifications == 1; }));
    tests::RunFor(100);
    EXPECT_EQ(receiver.notifications, 1);  // level-triggered input did not spin

    // A receive tried outside a notification takes the next in order and
    // re-arms them, for what was already taken from the system too.
    PeerAddress from;
    char buf[4];
    ASSERT_EQ(receiver.ReceiveFrom(buf, 4, from), 1);
    EXPECT_EQ(buf[0], 'a');
    receiver.ignore = false;
    ASSERT_TRUE(tests::RunUntil([&] { return receiver.results.size() == 3; }));
    EXPECT_EQ(receiver.data, (std::vector<std::string>{"b", "c", "d"}));
    // Ignored once more with nothing left: a new datagram is still announced.
    sender.SendTo("e", 1, "127.0.0.1", receiver.LocalPort());
    ASSERT_TRUE(tests::RunUntil([&] { return receiver.results.size() == 4; }));
    EXPECT_EQ(receiver.data[3], "e");
}

TEST(AsyncUdpSocket, ABurstIsReadWholeInOrderBeforeTheEventLoopWaitsAgain) {
    struct Burst {
        const char* name;
        std::vector<int> sizes;
        int readSize;
        int laterFrom;   // receives from here on read with laterSize bytes
        int laterSize;
        int sent;        // how many of the burst go out
        int sendError;
        bool batches = true;  // false: one datagram per receive (lock-step)
    };
    const auto cycle = [](std::vector<int> pattern, int count) {
        std::vector<int> sizes;
        for (int i = 0; i < count; ++i) sizes.push_back(pattern[static_cast<std::size_t>(i) % pattern.size()]);
        return sizes;
    };
    const Burst cases[] = {
        {"requests at 100 bytes, some too long, one empty", cycle({4, 100, 101, 60, 0}, 64), 100, -1, 0, 64, 0},
        {"a window of 1428-byte blocks, then read at 516", cycle({1432, 1432, 600, 516, 4}, 48), 1432, 24, 516, 48, 0},
        {"the largest blocks", {65468, 65469, 4, 65468}, 65468, -1, 0, 4, 0},
        {"more than one turn's share", cycle({1}, 100), 100, -1, 0, 100, 0},
        {"a datagram too large to send ends the batch", {100, 65508, 100}, 100, -1, 0, 1, EMSGSIZE},
        {"read one at a time: all, in order, the too long ones as such", cycle({516, 517, 4, 0}, 12), 516, 6,
         4, 12, 0, false},
    };
    for (const Burst& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingSocket receiver;
        receiver.bufferSize = c.readSize;
        receiver.laterFrom = c.laterFrom;
        receiver.laterSize = c.laterSize;
        ASSERT_TRUE(receiver.Create("127.0.0.1", 0, true));
        receiver.SetReceiveBufferSize(1 << 20);
        receiver.ReadInBatches(c.batches);
        AsyncUdpSocket sender;
        ASSERT_TRUE(sender.Create("127.0.0.1", 0, false));
        const int count = static_cast<int>(c.sizes.size());
        std::vector<std::string> burst;
        for (int i = 0; i < count; ++i) burst.push_back(Numbered(i, c.sizes[static_cast<std::size_t>(i)]));
        std::vector<platform::DatagramView> views;
        for (const std::string& d : burst) views.push_back({d.data(), static_cast<int>(d.size())});

        ASSERT_EQ(sender.SendBatch(views.data(), count, Loopback(receiver.LocalPort())), c.sent);
        if (c.sendError != 0) {
            EXPECT_EQ(sender.LastError(), c.sendError);
        }
        // Loopback delivers at once; one pass of the event loop then reads
        // every datagram waiting, up to a turn's share.
        QThread::msleep(50);
        QCoreApplication::processEvents();
        if (c.batches) {
            EXPECT_GE(receiver.results.size(), static_cast<std::size_t>(std::min(c.sent, 64)));
        }
        ASSERT_TRUE(tests::RunUntil([&] { return receiver.results.size() >= static_cast<std::size_t>(c.sent); }));
        tests::RunFor(20);
        ASSERT_EQ(receiver.results.size(), static_cast<std::size_t>(c.sent));
        for (int i = 0; i < c.sent; ++i) {
            SCOPED_TRACE(i);
            const std::size_t k = static_cast<std::size_t>(i);
            const int len = c.laterFrom >= 0 && i >= c.laterFrom ? c.laterSize : c.readSize;
            const bool fits = c.sizes[k] <= len;
            EXPECT_EQ(receiver.results[k], fits ? c.sizes[k] : AsyncUdpSocket::kTooLong);
            if (fits) {
                EXPECT_EQ(receiver.data[k], burst[k]);
            }
            EXPECT_EQ(receiver.senders[k].port, sender.LocalPort());
        }
    }
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

TEST(AsyncUdpSocket, CloseInsideOnReceiveDropsTheRestOfABurst) {
    struct Closer : AsyncUdpSocket {
        int closeAt = 1;
        int calls = 0;
        std::string last;
        void OnReceive(int) override {
            ++calls;
            char buf[8];
            PeerAddress from;
            const int n = ReceiveFrom(buf, sizeof buf, from);
            last.assign(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
            if (calls == closeAt) Close();
        }
    };
    struct Case {
        int burst;
        int closeAt;
    };
    for (const Case c : {Case{1, 1}, Case{10, 1}, Case{10, 5}, Case{10, 10}}) {
        SCOPED_TRACE(testing::Message() << c.burst << " datagrams, closed at " << c.closeAt);
        Closer closer;
        closer.closeAt = c.closeAt;
        ASSERT_TRUE(closer.Create("127.0.0.1", 0, true));
        AsyncUdpSocket sender;
        ASSERT_TRUE(sender.Create("127.0.0.1", 0, false));
        std::vector<std::string> burst;
        for (int i = 0; i < c.burst; ++i) burst.push_back(std::to_string(i));
        std::vector<platform::DatagramView> views;
        for (const std::string& d : burst) views.push_back({d.data(), static_cast<int>(d.size())});
        ASSERT_EQ(sender.SendBatch(views.data(), c.burst, Loopback(closer.LocalPort())), c.burst);
        ASSERT_TRUE(tests::RunUntil([&] { return closer.calls == c.closeAt; }));
        tests::RunFor(50);
        EXPECT_FALSE(closer.IsOpen());
        EXPECT_EQ(closer.calls, c.closeAt);
        EXPECT_EQ(closer.last, std::to_string(c.closeAt - 1));

        // Opened again, it hears only what comes after.
        ASSERT_TRUE(closer.Create("127.0.0.1", 0, true));
        closer.closeAt = 0;
        sender.SendTo("new", 3, "127.0.0.1", closer.LocalPort());
        ASSERT_TRUE(tests::RunUntil([&] { return closer.calls == c.closeAt + 1; }));
        EXPECT_EQ(closer.last, "new");
    }
}

// A socket bound to every address hears both families on one socket, learns
// which local address each datagram was sent to, and answers from it.
TEST(AsyncUdpSocket, AllAddressesHearsBothFamiliesAndAnswersFromTheAddressAsked) {
    RecordingSocket listener;
    ASSERT_TRUE(listener.Create("::", 0, true)) << listener.LastError();
    ASSERT_TRUE(listener.ReceiveDestinations());
    const std::uint16_t port = listener.LocalPort();

    struct Case {
        const char* client;   // the client binds here
        const char* asked;    // and sends to this address of the listener
    };
    // 127.0.0.1 and 127.0.0.2 are both local in any network namespace.
    const Case cases[] = {{"127.0.0.1", "127.0.0.1"}, {"127.0.0.1", "127.0.0.2"}, {"::1", "::1"}};
    for (const Case& c : cases) {
        RecordingSocket client;
        ASSERT_TRUE(client.Create(c.client, 0, true)) << c.client;
        const std::size_t before = listener.results.size();
        ASSERT_EQ(client.SendTo("ask", 3, c.asked, port), 3) << c.asked;
        ASSERT_TRUE(tests::RunUntil([&] { return listener.results.size() == before + 1; })) << c.asked;
        const PeerAddress from = listener.senders.back();
        EXPECT_EQ(from.AddressText(), c.client) << "an IPv4 client is shown dotted, never mapped";
        EXPECT_EQ(from.port, client.LocalPort());
        EXPECT_EQ(listener.LastDestination().AddressText(), c.asked);

        ASSERT_EQ(listener.SendFrom("answer", 6, from, listener.LastDestination()), 6);
        ASSERT_TRUE(tests::RunUntil([&] { return client.results.size() == 1; })) << c.asked;
        EXPECT_EQ(client.data[0], "answer");
        EXPECT_EQ(client.senders[0].AddressText(), c.asked) << "the answer comes from the address asked";
        EXPECT_EQ(client.senders[0].port, port);
    }
}

TEST(AsyncUdpSocket, AnIPv6SocketTakesOneFamilyAndAnIPv4SocketCannotReachIPv6) {
    AsyncUdpSocket six, four;
    ASSERT_TRUE(six.Create("::1", 0, false));
    EXPECT_EQ(six.LocalName().AddressText(), "::1");
    ASSERT_TRUE(four.Create("127.0.0.1", 0, false));
    PeerAddress to;
    ASSERT_TRUE(platform::ParseAddress("::1", to));
    to.port = six.LocalPort();
    EXPECT_EQ(four.SendTo("x", 1, to), -1);
    EXPECT_EQ(four.LastError(), EAFNOSUPPORT);
    // An IPv6-only socket does not hear IPv4.
    RecordingSocket only6;
    ASSERT_TRUE(only6.Create("::1", 0, true));
    EXPECT_EQ(four.SendTo("y", 1, "127.0.0.1", only6.LocalPort()), 1);
    tests::RunFor(50);
    EXPECT_TRUE(only6.results.empty());
}
