// The server with every transfer on a thread of its own, driven from outside
// at once: many clients together, a transfer removed while its last datagram
// arrives, every client dropped while they run, and resends sent by the
// transfers' own threads while the main thread does nothing for them.
#include "engine_harness.h"

#include "common/retransmit_timer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include "tests/support/event_loop.h"
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

using tests::EngineHarness;

namespace {

// A lock-step client of its own, blocking, on a thread of the test's: it
// does not need the main thread's event loop, which serves the listener.
class BlockingClient {
public:
    explicit BlockingClient(int recvTimeoutMs) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&any), sizeof any);
        timeval tv{recvTimeoutMs / 1000, (recvTimeoutMs % 1000) * 1000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~BlockingClient() { ::close(fd_); }

    // Fetches name; true with the whole file in data. progress counts blocks.
    bool Get(int port, const std::string& name, std::string& data, std::atomic<int>* progress = nullptr,
             int pauseUs = 0) {
        SendTo(tests::Request(tftp::kRrq, name, "octet"), port);
        std::uint16_t expected = 1;
        for (;;) {
            std::string in;
            if (!Receive(in) || in.size() < 4 || Op(in) != tftp::kData) return false;
            if (Block(in) == expected) {
                data.append(in, 4);
                if (progress) ++*progress;
                if (pauseUs) std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
                Reply(tests::Ack(expected));
                if (in.size() < 4 + 512) return true;
                ++expected;
            }
        }
    }
    // Sends data as name; true once the last block is acknowledged.
    bool Put(int port, const std::string& name, const std::string& data, std::atomic<int>* progress = nullptr,
             int pauseUs = 0) {
        SendTo(tests::Request(tftp::kWrq, name, "octet"), port);
        std::string in;
        if (!Receive(in) || Op(in) != tftp::kAck || Block(in) != 0) return false;
        for (std::size_t off = 0, block = 1;; off += 512, ++block) {
            const std::string payload = data.substr(std::min(off, data.size()), 512);
            Reply(tests::Data(static_cast<std::uint16_t>(block), payload));
            if (!Receive(in) || Op(in) != tftp::kAck || Block(in) != static_cast<std::uint16_t>(block)) return false;
            if (progress) ++*progress;
            if (pauseUs) std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
            if (payload.size() < 512) return true;
        }
    }

private:
    static std::uint16_t Op(const std::string& s) { return static_cast<std::uint16_t>((std::uint8_t(s[0]) << 8) | std::uint8_t(s[1])); }
    static std::uint16_t Block(const std::string& s) { return static_cast<std::uint16_t>((std::uint8_t(s[2]) << 8) | std::uint8_t(s[3])); }
    void SendTo(const std::string& bytes, int port) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(static_cast<std::uint16_t>(port));
        ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    void Reply(const std::string& bytes) {
        ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&peer_), sizeof peer_);
    }
    bool Receive(std::string& out) {
        char buf[1024];
        socklen_t len = sizeof peer_;
        const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&peer_), &len);
        if (n < 0) return false;
        out.assign(buf, static_cast<std::size_t>(n));
        return true;
    }
    int fd_ = -1;
    sockaddr_in peer_{};
};

std::string Pattern(int seed, std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + static_cast<std::size_t>(seed) * 7) % 251);
    return s;
}

// Names in a folder, hidden ones (a partial upload's) included.
std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

class ThreadsTest : public ::testing::Test {
protected:
    void SetUp() override {
        h.app.resendOnTransferThreads = true;
        ASSERT_TRUE(h.Start());
    }
    int Port() const { return h.listenAt.port; }
    // Runs the event loop (and the periodic check) until every thread ended.
    bool Join(std::vector<std::thread>& threads, std::atomic<int>& done, int timeoutMs) {
        const bool ok = tests::WaitFor([&] { return done.load() == static_cast<int>(threads.size()); }, timeoutMs);
        for (auto& t : threads) t.join();
        return ok;
    }
    EngineHarness h;
};

// Many downloads and uploads at once: every file arrives whole and every row
// is reported with its own direction's result.
TEST_F(ThreadsTest, ManyTransfersAtOnceAllArriveWholeAndEveryRowIsReported) {
    struct Case {
        int downloads, uploads;
        std::size_t size;
    };
    const Case cases[] = {{25, 25, 40 * 512 + 17}, {10, 10, 512 * 64}};
    int numberBase = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.downloads) + " down, " + std::to_string(c.uploads) + " up");
        for (int i = 0; i < c.downloads; ++i) tests::WriteFile(h.OutFile("d" + std::to_string(i)), Pattern(i, c.size));
        std::vector<std::thread> threads;
        std::atomic<int> done{0};
        std::vector<std::string> got(static_cast<std::size_t>(c.downloads));
        std::vector<char> ok(static_cast<std::size_t>(c.downloads + c.uploads), 0);
        for (int i = 0; i < c.downloads; ++i)
            threads.emplace_back([&, i] {
                BlockingClient client(3000);
                ok[static_cast<std::size_t>(i)] = client.Get(Port(), "d" + std::to_string(i), got[static_cast<std::size_t>(i)]);
                ++done;
            });
        for (int i = 0; i < c.uploads; ++i)
            threads.emplace_back([&, i] {
                BlockingClient client(3000);
                ok[static_cast<std::size_t>(c.downloads + i)] =
                    client.Put(Port(), "u" + std::to_string(numberBase) + "_" + std::to_string(i), Pattern(100 + i, c.size));
                ++done;
            });
        ASSERT_TRUE(Join(threads, done, 60000)) << "clients still running";
        for (int i = 0; i < c.downloads; ++i) {
            ASSERT_TRUE(ok[static_cast<std::size_t>(i)]) << "download " << i;
            ASSERT_EQ(got[static_cast<std::size_t>(i)], Pattern(i, c.size)) << "download " << i;
        }
        for (int i = 0; i < c.uploads; ++i) {
            ASSERT_TRUE(ok[static_cast<std::size_t>(c.downloads + i)]) << "upload " << i;
            ASSERT_EQ(tests::ReadFile(h.InFile("u" + std::to_string(numberBase) + "_" + std::to_string(i))),
                      Pattern(100 + i, c.size))
                << "upload " << i;
        }
        const int total = c.downloads + c.uploads;
        ASSERT_TRUE(tests::WaitFor([&] {
            h.Sweep();
            for (int n = numberBase + 1; n <= numberBase + total; ++n)
                if (!h.view.Reported(n)) return false;
            return true;
        }));
        int sending = 0, receiving = 0;
        for (int n = numberBase + 1; n <= numberBase + total; ++n) {
            const std::string result = h.view.ResultOf(n);
            sending += result == "Finished : Sending";
            receiving += result == "Finished : Receiving";
        }
        EXPECT_EQ(sending, c.downloads);
        EXPECT_EQ(receiving, c.uploads);
        EXPECT_EQ(h.listener->TransferCount(), 0);
        numberBase += total;
    }
}

// The periodic check times a transfer out in the very moment its last
// datagram reaches its thread: whichever wins, the row is reported once, and
// what it says matches what is on disk.
TEST_F(ThreadsTest, ATransferSweptWhileItsLastDatagramArrivesEndsOneWayOnly) {
    const std::string content = Pattern(7, 300);  // one block
    tests::WriteFile(h.OutFile("one"), content);
    struct Case {
        const char* name;
        bool upload;
    };
    const Case cases[] = {{"download", false}, {"upload", true}};
    int number = 0;
    for (const Case& c : cases) {
        for (int round = 0; round < 8; ++round) {
            SCOPED_TRACE(std::string(c.name) + " round " + std::to_string(round));
            tests::RawClient client;
            const std::string target = "up" + std::to_string(round);
            client.Send(c.upload ? tests::Request(tftp::kWrq, target, "octet") : tests::Request(tftp::kRrq, "one", "octet"),
                        h.listenAt);
            tests::RawClient::Datagram first;
            ASSERT_TRUE(client.Next(first));
            ++number;
            // Five silent spells: five retries, and the next check times it out.
            for (int retry = 0; retry < 5; ++retry) {
                h.clock.Advance(10);
                h.Sweep();
            }
            ASSERT_FALSE(h.view.Reported(number));
            h.clock.Advance(10);
            client.Send(c.upload ? tests::Data(1, content) : tests::Ack(1), first.from);
            // A little later each round, so that both orders are met.
            const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(round * 40);
            while (std::chrono::steady_clock::now() < until) {
            }
            h.Sweep();
            ASSERT_TRUE(h.WaitReported(number, 5000));
            const std::string result = h.view.ResultOf(number);
            const std::string way = c.upload ? " : Receiving" : " : Sending";
            ASSERT_TRUE(result == "Finished" + way || result == "TimedOut" + way) << result;
            int results = 0;
            for (const tests::Seen& s : h.view.Of(WM_TRANSFER_RESULT)) results += s.number == number;
            EXPECT_EQ(results, 1);
            if (c.upload) {
                const bool landed = std::filesystem::exists(h.InFile(target));
                EXPECT_EQ(landed, result == "Finished" + way) << result;
                if (landed) {
                    EXPECT_EQ(tests::ReadFile(h.InFile(target)), content);
                }
            }
            EXPECT_EQ(h.listener->TransferCount(), 0);
        }
    }
    // No partial upload is left behind, whichever way each ended.
    for (const std::string& name : Entries(h.inDir.Path())) EXPECT_EQ(name.rfind("up", 0), 0u) << name;
}

// "Drop Clients" ends the listener, and with it every transfer, while they
// run; a new listener then serves at once. No upload lands half-written.
TEST_F(ThreadsTest, DroppingEveryClientWhileTheyRunLeavesNoPartialFile) {
    const std::size_t size = 512 * 400;
    for (int i = 0; i < 6; ++i) tests::WriteFile(h.OutFile("d" + std::to_string(i)), Pattern(i, size));
    std::vector<std::thread> threads;
    std::atomic<int> done{0}, blocks{0};
    std::atomic<int> finished{0};
    for (int i = 0; i < 12; ++i)
        threads.emplace_back([&, i] {
            BlockingClient client(300);
            std::string got;
            const bool ok = i < 6 ? client.Get(Port(), "d" + std::to_string(i), got, &blocks, 2000)
                                  : client.Put(Port(), "u" + std::to_string(i), Pattern(i, size), &blocks, 2000);
            finished += ok;
            ++done;
        });
    // Every client well under way, none near its end.
    ASSERT_TRUE(tests::WaitFor([&] { return blocks.load() >= 12 * 20; }, 30000));
    ASSERT_EQ(h.listener->TransferCount(), 12);
    h.listener.reset();
    ASSERT_TRUE(h.Start()) << "the port is not free again";
    ASSERT_TRUE(Join(threads, done, 30000));
    EXPECT_EQ(finished.load(), 0) << "a transfer went on after it was dropped";
    EXPECT_TRUE(Entries(h.inDir.Path()).empty()) << "an upload was left behind";
    // The new listener serves.
    BlockingClient after(3000);
    std::string got;
    std::atomic<int> one{0};
    std::thread fetch([&] {
        after.Get(Port(), "d0", got);
        ++one;
    });
    ASSERT_TRUE(tests::WaitFor([&] { return one.load() == 1; }, 20000));
    fetch.join();
    EXPECT_EQ(got, Pattern(0, size));
}

// With the transfers' own resends on, a lost datagram is sent again by the
// transfer's thread: the main thread runs only its event loop (no resend
// pass, no periodic check).
TEST_F(ThreadsTest, ATransfersOwnThreadResendsWhatWasNotAnswered) {
    tests::WriteFile(h.OutFile("f"), Pattern(3, 2000));
    struct Case {
        const char* name;
        std::string request;
        std::uint16_t opcode, block;
    };
    const Case cases[] = {
        {"DATA 1 of a download", tests::Request(tftp::kRrq, "f", "octet"), tftp::kData, 1},
        {"the OACK", tests::Request(tftp::kRrq, "f", "octet", {{"blksize", "1024"}}), tftp::kOack, 0},
        {"ACK 0 of an upload", tests::Request(tftp::kWrq, "g", "octet"), tftp::kAck, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tests::RawClient client;
        client.Send(c.request, h.listenAt);
        tests::RawClient::Datagram first, again;
        ASSERT_TRUE(client.Next(first));
        ASSERT_EQ(first.Opcode(), c.opcode);
        // Not yet due: nothing comes.
        ASSERT_TRUE(client.Quiet(150));
        h.clock.AdvanceMs(tftp::RetransmitTimer::kInitialMs + 50);
        ASSERT_TRUE(client.Next(again, 3000)) << "no resend from the transfer's thread";
        EXPECT_EQ(again.bytes, first.bytes);
        EXPECT_EQ(again.from, first.from);
    }
}


TEST_F(ThreadsTest, ACopyOfTheRequestReadAfterTheClientWasHeardStartsNoSecondTransfer) {
    // The client sent its request twice (its first answer was slow); the
    // transfer's thread hears the client's ACK before the listener, on the
    // main thread, reads the copy.
    tests::WriteFile(h.OutFile("f"), Pattern(3, 2000));
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self), 0);
    timeval tv{0, 300 * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in listener = self, transfer{};
    listener.sin_port = htons(static_cast<std::uint16_t>(Port()));
    const auto send = [&](const std::string& bytes, const sockaddr_in& to) {
        ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    };
    const auto receive = [&](std::string& out) {
        char buf[1024];
        socklen_t len = sizeof transfer;
        const ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&transfer), &len);
        out.assign(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
        return n > 0;
    };
    const std::string request = tests::Request(tftp::kRrq, "f", "octet");
    send(request, listener);
    ASSERT_TRUE(tests::WaitFor([&] { return h.listener->TransferCount() == 1; }));
    std::string in;
    ASSERT_TRUE(receive(in));
    EXPECT_EQ(in, tests::Data(1, Pattern(3, 2000).substr(0, 512)));
    // The copy waits at the listener (nothing runs the main thread's loop)
    // while the transfer goes on.
    send(request, listener);
    send(tests::Ack(1), transfer);
    ASSERT_TRUE(receive(in));
    EXPECT_EQ(in, tests::Data(2, Pattern(3, 2000).substr(512, 512)));
    tests::RunFor(100);  // the listener reads the copy now
    EXPECT_EQ(h.listener->TransferCount(), 1);
    EXPECT_FALSE(receive(in)) << "answered again, opcode " << (in.size() > 1 ? int(in[1]) : -1);
    ::close(fd);
}

}  // namespace
