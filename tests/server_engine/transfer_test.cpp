// One transfer driven packet by packet from a raw client on loopback: the
// answers to a request, options, retries, time-outs, the notifications, and
// the faults mended (names leaving the folder, strangers, block sizes).
#include "engine_harness.h"

#include "tests/support/file_size_limit.h"

#include <algorithm>
#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using tests::EngineHarness;
using tests::RawClient;
using Datagram = tests::RawClient::Datagram;

namespace {

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(h.Start()); }

    // Sends a request and returns the first answer (from the transfer port).
    Datagram Ask(const std::string& request) {
        client.Send(request, h.listenAt);
        Datagram reply;
        EXPECT_TRUE(client.Next(reply)) << "no answer to the request";
        return reply;
    }
    Datagram Reply(const std::string& packet, const platform::PeerAddress& to) {
        client.Send(packet, to);
        Datagram reply;
        EXPECT_TRUE(client.Next(reply)) << "no answer";
        return reply;
    }
    // The one transfer in the list.
    int Number() const { return h.app.transferCounter; }

    EngineHarness h;
    RawClient client;
};

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}

std::string Z(const char* text) { return std::string(text) + '\0'; }

// Names in a folder, hidden ones included.
std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Opens the other end of a FIFO after a while, should an open of it still
// wait by then; says whether it had to.
class FifoRescue {
public:
    explicit FifoRescue(std::string path)
        : thread_([this, path = std::move(path)] {
              std::unique_lock<std::mutex> hold(lock_);
              if (changed_.wait_for(hold, std::chrono::seconds(3), [this] { return done_; })) return;
              rescued_ = true;
              const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
              changed_.wait(hold, [this] { return done_; });
              if (fd >= 0) ::close(fd);
          }) {}
    ~FifoRescue() { Finish(); }
    bool Finish() {
        {
            std::lock_guard<std::mutex> hold(lock_);
            done_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
        return rescued_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool done_ = false;
    bool rescued_ = false;
    std::thread thread_;
};

}  // namespace

// ---- names -----------------------------------------------------------------

TEST_F(TransferTest, NamesLeavingTheFolderAreRefusedAndNothingOutsideIsTouched) {
    tests::TempDir root;  // plays the folder above both
    h.settings.OutPath = root.Path() + "/out/";
    h.settings.InPath = root.Path() + "/in/";
    std::filesystem::create_directories(root.Path() + "/out");
    std::filesystem::create_directories(root.Path() + "/in");
    tests::WriteFile(root.File("secret.txt"), "secret");

    for (const std::string& name : {std::string("../secret.txt"), std::string("x/../../secret.txt")}) {
        Datagram reply = Ask(tests::Request(tftp::kRrq, name, "octet"));
        EXPECT_EQ(reply.bytes, tests::ErrorPacket(1, "File not found")) << name;
    }
    for (const std::string& name : {std::string("../secret.txt"), std::string("../new.txt")}) {
        Datagram reply = Ask(tests::Request(tftp::kWrq, name, "octet"));
        EXPECT_EQ(reply.bytes, tests::ErrorPacket(2, "Access violation")) << name;
    }
    // With empty folder settings (the working folder) an absolute name still
    // means a file below that folder.
    h.settings.OutPath.clear();
    h.settings.InPath.clear();
    tests::WriteFile(root.File("s"), "secret");
    const std::string absolute = root.File("s");
    EXPECT_EQ(Ask(tests::Request(tftp::kRrq, absolute, "octet")).bytes, tests::ErrorPacket(1, "File not found"));
    EXPECT_EQ(Ask(tests::Request(tftp::kWrq, absolute, "octet")).bytes, tests::ErrorPacket(2, "Access violation"));
    EXPECT_EQ(Ask(tests::Request(tftp::kWrq, root.File("n"), "octet")).bytes,
              tests::ErrorPacket(2, "Access violation"));
    EXPECT_EQ(tests::ReadFile(root.File("secret.txt")), "secret");
    EXPECT_EQ(tests::ReadFile(root.File("s")), "secret");
    EXPECT_FALSE(tests::FileExists(root.File("new.txt")));
    EXPECT_FALSE(tests::FileExists(root.File("n")));
    h.Sweep();
    EXPECT_EQ(h.view.Of(WM_TRANSFER_RESULT).front().text, "File not found : Sending");
    EXPECT_EQ(h.view.Of(WM_TRANSFER_RESULT).back().text, "Access violation : Receiving");
}

TEST_F(TransferTest, NamesAsBootLoadersSendThemAreServedFromTheFolderAndNeverLeaveIt) {
    tests::TempDir root;  // plays the folder above both, and a sibling of each
    h.settings.OutPath = root.File("out/");
    h.settings.InPath = root.File("in/");
    const std::string longest(255, 'n');  // as long as a name in a folder may be
    const std::string tooLong(256, 'n');
    const std::string long200(200, 'l');
    const std::string deep = std::string(240, 'd') + "/" + std::string(240, 'e');
    for (const char* folder : {"out", "in", "out-other", "in-other"}) {
        for (const char* sub : {"", "/boot", "/etc", "/pxelinux.cfg", "/debian-installer/amd64/boot-screens"})
            std::filesystem::create_directories(root.File(std::string(folder) + sub));
        std::filesystem::create_directories(root.File(std::string(folder) + "/" + std::string(240, 'd')));
    }
    tests::WriteFile(root.File("secret"), "secret");
    tests::WriteFile(root.File("out-other/x"), "other");
    std::filesystem::create_symlink("../secret", root.File("out/link"));
    std::filesystem::create_symlink("../secret", root.File("in/link"));
    const auto served = [&](const std::string& relative) {
        const std::string content = "served " + std::to_string(relative.size());
        tests::WriteFile(root.File("out/" + relative), content);
        return content;
    };

    struct Case {
        std::string name;      // as the client asks for it
        std::string relative;  // the file it means inside the folders; "" = refused
    };
    const Case cases[] = {
        {"pxelinux.0", "pxelinux.0"},
        {"/pxelinux.0", "pxelinux.0"},
        {"//boot/x", "boot/x"},
        {"boot\\x", "boot/x"},
        {"\\boot\\\\x", "boot/x"},
        {"/etc/passwd", "etc/passwd"},
        {"pxelinux.cfg/01-52-54-00-12-34-56", "pxelinux.cfg/01-52-54-00-12-34-56"},
        {"debian-installer/amd64/boot-screens/vesamenu.c32", "debian-installer/amd64/boot-screens/vesamenu.c32"},
        {long200, long200},
        {longest, longest},
        {"/" + deep, deep},
        {"../secret", ""},
        {"..\\secret", ""},
        {"/../secret", ""},
        {"boot/../../secret", ""},
        {"boot\\..\\..\\secret", ""},
        {"boot/..", ""},
        {"../out-other/x", ""},
        {"../in-other/x", ""},
        {"link", ""},  // leads out of the folder: never read (an upload replaces the link)
        {tooLong, ""},  // more than the file system holds in one name
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.size() > 60 ? std::to_string(c.name.size()) + " characters" : c.name);
        const bool inside = !c.relative.empty();
        const std::string content = inside ? served(c.relative) : std::string();
        Datagram answer = Ask(tests::Request(tftp::kRrq, c.name, "octet"));
        ++number;
        if (inside) {
            EXPECT_EQ(answer.bytes, tests::Data(1, content));
            client.Send(tests::Ack(1), answer.from);
            ASSERT_TRUE(h.WaitReported(number));
            EXPECT_EQ(h.view.ResultOf(number), "Finished : Sending");
            EXPECT_EQ(h.view.Of(WM_TRANSFER_FILE).back().text, root.File("out/" + c.relative));
        } else {
            EXPECT_EQ(answer.bytes, tests::ErrorPacket(1, "File not found"));
            ASSERT_TRUE(h.WaitReported(number));
        }

        const bool landsAsLink = c.name == "link";
        answer = Ask(tests::Request(tftp::kWrq, c.name, "octet"));
        ++number;
        if (inside || landsAsLink) {
            const std::string stored = inside ? root.File("in/" + c.relative) : root.File("in/link");
            EXPECT_EQ(answer.bytes, tests::Ack(0));
            EXPECT_EQ(Reply(tests::Data(1, "upload of " + c.name), answer.from).bytes, tests::Ack(1));
            ASSERT_TRUE(h.WaitReported(number));
            EXPECT_EQ(h.view.ResultOf(number), "Finished : Receiving");
            EXPECT_EQ(tests::ReadFile(stored), "upload of " + c.name);
        } else {
            EXPECT_EQ(answer.bytes, tests::ErrorPacket(2, "Access violation"));
            ASSERT_TRUE(h.WaitReported(number));
            EXPECT_EQ(h.view.ResultOf(number), "Access violation : Receiving");
        }
    }
    // Nothing outside either folder was read into an answer or written.
    EXPECT_EQ(tests::ReadFile(root.File("secret")), "secret");
    EXPECT_EQ(tests::ReadFile(root.File("out-other/x")), "other");
    EXPECT_EQ(Entries(root.File("in-other")).size(), 5u);  // the folders made above, nothing else
    EXPECT_EQ(Entries(root.Path()), (std::vector<std::string>{"in", "in-other", "out", "out-other", "secret"}));
}

TEST_F(TransferTest, OptionsAfterALongNameAreReadAsAfterAShortOne) {
    // tsize, then blksize: the 200-character name with both gets an OACK
    // carrying both, as a short name does.
    const std::string long200(200, 'k');
    tests::WriteFile(h.OutFile(long200), std::string(3000, 'x'));
    tests::WriteFile(h.OutFile("k"), std::string(3000, 'x'));
    for (const std::string& name : {std::string("k"), long200}) {
        SCOPED_TRACE(name.size());
        const Datagram answer =
            Ask(tests::Request(tftp::kRrq, name, "octet", {{"tsize", "0"}, {"blksize", "1024"}}));
        EXPECT_EQ(answer.bytes, Bytes({0, 6}) + Z("tsize") + Z("3000") + Z("blksize") + Z("1024"));
        EXPECT_EQ(Reply(tests::Ack(0), answer.from).bytes, tests::Data(1, std::string(1024, 'x')));
        client.Send(tests::ErrorPacket(0, "enough"), answer.from);
    }

    // The option budget counts option names and digits only: after a name of
    // 300 characters, eight unknown options of 11 leave room for blksize,
    // and nothing after it is read.
    std::filesystem::create_directory(h.OutFile(std::string(150, 'd')));
    const std::string long300 = std::string(150, 'd') + "/" + std::string(149, 'f');
    tests::WriteFile(h.OutFile(long300), "x");
    std::vector<std::pair<std::string, std::string>> options(8, {"abcdefghij", "1"});
    options.push_back({"blksize", "1024"});
    options.push_back({"timeout", "3"});
    for (const std::string& name : {std::string("k"), long300}) {
        SCOPED_TRACE(name.size());
        const std::string request = tests::Request(tftp::kRrq, name, "octet", options);
        ASSERT_LE(request.size(), 512u);
        const Datagram answer = Ask(request);
        EXPECT_EQ(answer.bytes, Bytes({0, 6}) + Z("blksize") + Z("1024"));
        client.Send(tests::ErrorPacket(0, "enough"), answer.from);
    }
}

TEST_F(TransferTest, ModesInAnyCaseOtherModesRefused) {
    tests::WriteFile(h.OutFile("a.txt"), "A\r\nB");
    EXPECT_EQ(Ask(tests::Request(tftp::kRrq, "a.txt", "OCTET")).bytes, tests::Data(1, "A\r\nB"));
    EXPECT_EQ(Ask(tests::Request(tftp::kRrq, "a.txt", "NetAscii")).bytes, tests::Data(1, "A\nB"));
    EXPECT_EQ(Ask(tests::Request(tftp::kRrq, "a.txt", "binary")).bytes,
              tests::ErrorPacket(4, "Unknown TFTP Operation"));
    EXPECT_EQ(Ask(tests::Request(tftp::kWrq, "b.txt", "mail")).bytes,
              tests::ErrorPacket(4, "Unknown TFTP Operation"));
}

TEST_F(TransferTest, MissingFileGetsErrorOneAndTheResultSaysSo) {
    Datagram reply = Ask(tests::Request(tftp::kRrq, "nothere.bin", "octet"));
    EXPECT_EQ(reply.bytes, tests::ErrorPacket(1, "File not found"));
    EXPECT_NE(reply.from, h.listenAt);  // from the transfer's own port
    ASSERT_TRUE(h.WaitReported(Number()));
    const auto files = h.view.Of(WM_TRANSFER_FILE);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].text, h.OutFile("nothere.bin"));
    EXPECT_EQ(h.view.ResultOf(Number()), "File not found : Sending");
    EXPECT_EQ(h.view.Of(WM_TRANSFER_ENDED)[0].failed, 0);
}

TEST_F(TransferTest, ForcedFileServesEveryReadButNotWrites) {
    tests::WriteFile(h.OutFile("forced.bin"), "forced");
    h.settings.bForce = 1;
    h.settings.ForceFile = "forced.bin";
    EXPECT_EQ(Ask(tests::Request(tftp::kRrq, "anything", "octet")).bytes, tests::Data(1, "forced"));
    EXPECT_EQ(h.view.Of(WM_TRANSFER_FILE).back().text, h.OutFile("forced.bin"));
    Datagram ack = Ask(tests::Request(tftp::kWrq, "up.bin", "octet"));
    EXPECT_EQ(ack.bytes, tests::Ack(0));
    EXPECT_EQ(h.view.Of(WM_TRANSFER_FILE).back().text, h.InFile("up.bin"));
}

// ---- downloads ---------------------------------------------------------------

TEST_F(TransferTest, DownloadNotificationsInOrder) {
    const std::string content = tests::PatternBytes(1300, 7);
    tests::WriteFile(h.OutFile("d.bin"), content);
    Datagram d = Ask(tests::Request(tftp::kRrq, "d.bin", "octet"));
    std::string got;
    while (true) {
        ASSERT_EQ(d.Opcode(), tftp::kData);
        got += d.bytes.substr(4);
        const bool last = d.bytes.size() < 516;
        if (last) {
            client.Send(tests::Ack(d.Block()), d.from);
            break;
        }
        d = Reply(tests::Ack(d.Block()), d.from);
    }
    EXPECT_EQ(got, content);
    ASSERT_TRUE(h.WaitReported(1));

    std::vector<int> order;
    for (const auto& s : h.view.seen) order.push_back(s.message);
    EXPECT_EQ(order, (std::vector<int>{WM_TRANSFER_STARTED, WM_TRANSFER_FILE, WM_TRANSFER_STATUS,
                                       WM_TRANSFER_STATUS, WM_TRANSFER_STATUS, WM_TRANSFER_ENDED,
                                       WM_TRANSFER_RESULT}));
    const auto& seen = h.view.seen;
    EXPECT_EQ(seen[0].text, "127.0.0.1");
    EXPECT_EQ(seen[1].text, h.OutFile("d.bin"));
    // Progress after each ACK: what has been sent, of the file's size.
    EXPECT_EQ(seen[2].done, 1024);
    EXPECT_EQ(seen[3].done, 1300);
    EXPECT_EQ(seen[4].done, 1300);
    for (int i = 2; i <= 4; ++i) EXPECT_EQ(seen[static_cast<std::size_t>(i)].total, 1300);
    EXPECT_EQ(seen[6].text, "Finished : Sending");
    EXPECT_EQ(seen[5].failed, 0);
    for (const auto& s : seen) EXPECT_EQ(s.number, 1);
    EXPECT_EQ(h.listener->TransferCount(), 0);
}

TEST_F(TransferTest, EmptyFileIsOneEmptyBlockAndExactMultipleEndsWithOne) {
    tests::WriteFile(h.OutFile("empty"), "");
    Datagram d = Ask(tests::Request(tftp::kRrq, "empty", "octet"));
    EXPECT_EQ(d.bytes, tests::Data(1, ""));

    tests::WriteFile(h.OutFile("k"), std::string(1024, 'k'));
    d = Ask(tests::Request(tftp::kRrq, "k", "octet"));
    EXPECT_EQ(d.bytes.size(), 516u);
    d = Reply(tests::Ack(1), d.from);
    EXPECT_EQ(d.Block(), 2);
    EXPECT_EQ(d.bytes.size(), 516u);
    d = Reply(tests::Ack(2), d.from);
    EXPECT_EQ(d.bytes, tests::Data(3, ""));
}

TEST_F(TransferTest, OackCarriesOptionsInFixedOrderAndBlockOneWaitsForAckZero) {
    tests::WriteFile(h.OutFile("f2000"), tests::PatternBytes(2000, 3));
    Datagram oack = Ask(tests::Request(tftp::kRrq, "f2000", "octet",
                                       {{"blksize", "1024"}, {"tsize", "0"}, {"timeout", "3"}}));
    EXPECT_EQ(oack.bytes, Bytes({0, 6}) + Z("tsize") + Z("2000") + Z("timeout") + Z("3") +
                              Z("blksize") + Z("1024"));
    EXPECT_TRUE(client.Quiet(150));  // nothing before ACK 0
    Datagram d = Reply(tests::Ack(0), oack.from);
    EXPECT_EQ(d.Block(), 1);
    EXPECT_EQ(d.bytes.size(), 1028u);
    // A second ACK 0 after block 1 is ignored: no fresh data under block 1.
    client.Send(tests::Ack(0), oack.from);
    EXPECT_TRUE(client.Quiet(200));
    d = Reply(tests::Ack(1), oack.from);
    EXPECT_EQ(d.Block(), 2);
    EXPECT_EQ(d.bytes.substr(4), tests::PatternBytes(2000, 3).substr(1024));
}

TEST_F(TransferTest, AWindowGoesOutBackToBackAndAnAckInsideItResendsFromThere) {
    const std::string content = tests::PatternBytes(9 * 512 + 100, 5);
    tests::WriteFile(h.OutFile("w"), content);
    const Datagram oack = Ask(tests::Request(tftp::kRrq, "w", "octet", {{"windowsize", "4"}, {"tsize", "0"}}));
    EXPECT_EQ(oack.bytes, Bytes({0, 6}) + Z("tsize") + Z("4708") + Z("windowsize") + Z("4"));
    // Each ACK is answered by the window that follows the block it names.
    const struct {
        int ack;
        std::vector<int> blocks;
    } steps[] = {{0, {1, 2, 3, 4}}, {2, {3, 4, 5, 6}}, {6, {7, 8, 9, 10}}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.ack);
        client.Send(tests::Ack(static_cast<std::uint16_t>(step.ack)), oack.from);
        for (const int block : step.blocks) {
            Datagram d;
            ASSERT_TRUE(client.Next(d));
            EXPECT_EQ(d.Block(), block);
            EXPECT_EQ(d.bytes.substr(4), content.substr(static_cast<std::size_t>(block - 1) * 512, 512));
        }
        EXPECT_TRUE(client.Quiet(100));
    }
    client.Send(tests::Ack(10), oack.from);
    ASSERT_TRUE(h.WaitReported(1));
    EXPECT_EQ(h.view.seen.back().text, "Finished : Sending");
}

TEST_F(TransferTest, ADownloadsWindowIsWhatAnUntouchedReceiveBufferHolds) {
    h.settings.nMaxWindowsize = 1000;
    tests::WriteFile(h.OutFile("big"), tests::PatternBytes(70000, 9));
    const struct {
        const char* block;
        const char* asked;
        const char* granted;
    } cases[] = {{"8192", "16", "11"}, {"65464", "8", "1"}, {"1428", "64", "64"}, {"512", "300", "138"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.block);
        const Datagram oack =
            Ask(tests::Request(tftp::kRrq, "big", "octet", {{"blksize", c.block}, {"windowsize", c.asked}}));
        EXPECT_EQ(oack.bytes, Bytes({0, 6}) + Z("blksize") + Z(c.block) + Z("windowsize") + Z(c.granted));
        client.Send(tests::ErrorPacket(0, "enough"), oack.from);
    }
}

TEST_F(TransferTest, AnUploadWithAWindowIsAcknowledgedPerWindowAndAtAGapAtOnce) {
    h.settings.nMaxWindowsize = 3;
    EXPECT_EQ(Ask(tests::Request(tftp::kWrq, "w0", "octet", {{"windowsize", "0"}})).bytes, tests::Ack(0));
    const std::string content = tests::PatternBytes(6 * 512 + 7, 6);
    const auto block = [&](int n) {
        return tests::Data(static_cast<std::uint16_t>(n), content.substr(static_cast<std::size_t>(n - 1) * 512, 512));
    };
    // Past the 16-bit range the maximum is the answer.
    const Datagram oack = Ask(tests::Request(tftp::kWrq, "w", "octet", {{"windowsize", "70000"}}));
    EXPECT_EQ(oack.bytes, Bytes({0, 6}) + Z("windowsize") + Z("3"));
    const struct {
        std::vector<int> sent;
        int ack;  // -1: no answer
    } steps[] = {
        {{1, 2}, -1}, {{3}, 3},      // one ACK per window
        {{5}, 3}, {{6}, -1},         // block 4 lost: reported once, later blocks dropped
        {{4, 5, 6}, 6}, {{7}, 7},    // the last block ends the upload
    };
    for (const auto& step : steps) {
        for (const int n : step.sent) client.Send(block(n), oack.from);
        if (step.ack < 0) {
            EXPECT_TRUE(client.Quiet(100));
            continue;
        }
        Datagram d;
        ASSERT_TRUE(client.Next(d));
        EXPECT_EQ(d.bytes, tests::Ack(static_cast<std::uint16_t>(step.ack)));
    }
    ASSERT_TRUE(h.WaitReported(2));
    EXPECT_TRUE(tests::ReadFile(h.InFile("w")) == content);
}

TEST_F(TransferTest, SwitchesDecideWhatIsEchoed) {
    tests::WriteFile(h.OutFile("f"), "abc");
    h.settings.bAllowTsize = 0;
    // tsize before blksize, not echoed; blksize still is.
    Datagram oack = Ask(tests::Request(tftp::kRrq, "f", "octet", {{"tsize", "0"}, {"blksize", "512"}}));
    EXPECT_EQ(oack.bytes, Bytes({0, 6}) + Z("blksize") + Z("512"));
    // Only an unechoed tsize: answered as if there were no options.
    EXPECT_EQ(Ask(tests::Request(tftp::kRrq, "f", "octet", {{"tsize", "0"}})).bytes, tests::Data(1, "abc"));

    h.settings.bAllowTsize = 1;
    h.settings.bAllowTimeout = 0;
    oack = Ask(tests::Request(tftp::kRrq, "f", "octet", {{"TIMEOUT", "4"}, {"TSize", "0"}}));
    EXPECT_EQ(oack.bytes, Bytes({0, 6}) + Z("tsize") + Z("3"));
    // Unknown options are skipped, and so is windowsize when switched off.
    EXPECT_EQ(Ask(tests::Request(tftp::kRrq, "f", "octet", {{"rollover", "0"}})).bytes,
              tests::Data(1, "abc"));
    h.settings.bAllowWindowsize = 0;
    EXPECT_EQ(Ask(tests::Request(tftp::kRrq, "f", "octet", {{"windowsize", "8"}})).bytes,
              tests::Data(1, "abc"));
}

TEST_F(TransferTest, WriteRequestNeverEchoesTsize) {
    EXPECT_EQ(Ask(tests::Request(tftp::kWrq, "w1", "octet", {{"tsize", "100"}})).bytes, tests::Ack(0));
    EXPECT_EQ(Ask(tests::Request(tftp::kWrq, "w2", "octet", {{"tsize", "100"}, {"blksize", "1000"}})).bytes,
              Bytes({0, 6}) + Z("blksize") + Z("1000"));
    EXPECT_EQ(Ask(tests::Request(tftp::kWrq, "w3", "octet", {{"timeout", "7"}, {"blksize", "600"}})).bytes,
              Bytes({0, 6}) + Z("timeout") + Z("7") + Z("blksize") + Z("600"));
}

TEST_F(TransferTest, BlockSizeBelowEightGetsTheOptionFailurePacket) {
    tests::WriteFile(h.OutFile("f"), "abc");
    const std::string failure = Bytes({0, 8, 0, 0}) + Z("Inconclusive system error");
    for (const char* value : {"0", "7", "", "x"}) {
        Datagram reply = Ask(tests::Request(tftp::kRrq, "f", "octet", {{"blksize", value}}));
        EXPECT_EQ(reply.bytes, failure) << value;
        EXPECT_EQ(reply.bytes.size(), 30u);
    }
    EXPECT_EQ(Ask(tests::Request(tftp::kWrq, "g", "octet", {{"blksize", "4"}})).bytes, failure);
    ASSERT_TRUE(h.WaitReported(Number()));
    EXPECT_EQ(h.view.ResultOf(Number()), "Inconclusive system error : Receiving");
    EXPECT_FALSE(tests::FileExists(h.InFile("g")));

    // Eight is the smallest that works.
    Datagram oack = Ask(tests::Request(tftp::kRrq, "f", "octet", {{"blksize", "8"}}));
    EXPECT_EQ(oack.bytes, Bytes({0, 6}) + Z("blksize") + Z("8"));
    EXPECT_EQ(Reply(tests::Ack(0), oack.from).bytes, tests::Data(1, "abc"));
}

TEST_F(TransferTest, BlockSizeAboveTheMaximumUsesTheMaximum) {
    const std::string content = tests::PatternBytes(70000, 11);
    tests::WriteFile(h.OutFile("big"), content);
    for (const char* asked : {"65465", "70000", "99999999999999999999999"}) {
        Datagram oack = Ask(tests::Request(tftp::kRrq, "big", "octet", {{"blksize", asked}}));
        EXPECT_EQ(oack.bytes, Bytes({0, 6}) + Z("blksize") + Z("65464")) << asked;
        Datagram d = Reply(tests::Ack(0), oack.from);
        EXPECT_EQ(d.bytes.size(), 65468u);
        d = Reply(tests::Ack(1), oack.from);
        EXPECT_EQ(d.bytes, tests::Data(2, content.substr(65464)));
    }
}

TEST_F(TransferTest, SocketGrantOfDoubleReadBackKeepsTheBlockSize) {
    // Linux reads back twice what it grants (and at least its minimum): a
    // rule comparing the read-back with the request would change the size.
    tests::WriteFile(h.OutFile("f"), tests::PatternBytes(20000, 5));
    for (int size : {9, 1428, 8192, 65464}) {
        Datagram oack = Ask(tests::Request(tftp::kRrq, "f", "octet", {{"blksize", std::to_string(size)}}));
        EXPECT_EQ(oack.bytes, Bytes({0, 6}) + Z("blksize") + Z(std::to_string(size).c_str()));
        Datagram d = Reply(tests::Ack(0), oack.from);
        EXPECT_EQ(d.bytes.size(), static_cast<std::size_t>(std::min(size, 20000) + 4));
    }
    for (int size : {1428, 65464}) {
        Datagram oack = Ask(tests::Request(tftp::kWrq, "w", "octet", {{"blksize", std::to_string(size)}}));
        EXPECT_EQ(oack.bytes, Bytes({0, 6}) + Z("blksize") + Z(std::to_string(size).c_str()));
    }
}

TEST_F(TransferTest, DuplicateAckResendsTheBlockAndShowsRetrying) {
    const std::string content = tests::PatternBytes(1500, 9);
    tests::WriteFile(h.OutFile("f"), content);
    Datagram d1 = Ask(tests::Request(tftp::kRrq, "f", "octet"));
    Datagram d2 = Reply(tests::Ack(1), d1.from);
    ASSERT_EQ(d2.Block(), 2);
    // A copy of ACK 1 right behind the first is the network's: no resend.
    client.Send(tests::Ack(1), d1.from);
    EXPECT_TRUE(client.Quiet(100));
    // ACK 1 again a while later: the client timed out waiting for block 2.
    h.clock.AdvanceMs(300);
    Datagram again = Reply(tests::Ack(1), d1.from);
    EXPECT_EQ(again.bytes, d2.bytes);
    EXPECT_EQ(h.view.Of(WM_TRANSFER_STATUS).back().text, "Retrying");
    // An ACK further back is ignored.
    client.Send(tests::Ack(0), d1.from);
    client.Send(tests::Ack(65000), d1.from);
    EXPECT_TRUE(client.Quiet(200));
    Datagram d3 = Reply(tests::Ack(2), d1.from);
    EXPECT_EQ(d3.bytes, tests::Data(3, content.substr(1024)));
    client.Send(tests::Ack(3), d1.from);
    ASSERT_TRUE(h.WaitReported(1));
    EXPECT_EQ(h.view.ResultOf(1), "Finished : Sending");
}

TEST_F(TransferTest, ProgressReachesTheRowAtMostEveryIntervalAndAlwaysBeforeItsEnd) {
    h.app.SetProgressEveryMs(ServerContext::kProgressEveryMs);
    const std::string content = tests::PatternBytes(200 * 512 + 11, 5);
    tests::WriteFile(h.OutFile("p.bin"), content);
    Datagram d = Ask(tests::Request(tftp::kRrq, "p.bin", "octet"));
    while (d.bytes.size() == 516) d = Reply(tests::Ack(d.Block()), d.from);
    client.Send(tests::Ack(d.Block()), d.from);
    ASSERT_TRUE(h.WaitReported(1));
    const auto status = h.view.Of(WM_TRANSFER_STATUS);
    ASSERT_FALSE(status.empty());
    EXPECT_LT(status.size(), 20u) << "201 blocks, a few events";
    EXPECT_EQ(status.back().done, static_cast<std::int64_t>(content.size()));
    std::vector<int> order;
    for (const auto& s : h.view.seen) order.push_back(s.message);
    const auto ended = std::find(order.begin(), order.end(), WM_TRANSFER_ENDED);
    ASSERT_NE(ended, order.end());
    EXPECT_EQ(*(ended - 1), WM_TRANSFER_STATUS) << "the last progress comes before the end";
}

TEST_F(TransferTest, NetasciiDownloadSendsLfAndEndsWithDoneEqualTotal) {
    // 600 CR LF lines: the wire holds LF only and is shorter than the file.
    std::string file, wire;
    for (int i = 0; i < 600; ++i) {
        file += "line\r\n";
        wire += "line\n";
    }
    tests::WriteFile(h.OutFile("t.txt"), file);
    Datagram d = Ask(tests::Request(tftp::kRrq, "t.txt", "netascii", {{"tsize", "0"}}));
    EXPECT_EQ(d.bytes, Bytes({0, 6}) + Z("tsize") + Z(std::to_string(file.size()).c_str()));
    std::string got;
    d = Reply(tests::Ack(0), d.from);
    while (true) {
        got += d.bytes.substr(4);
        if (d.bytes.size() < 516) break;
        d = Reply(tests::Ack(d.Block()), d.from);
    }
    client.Send(tests::Ack(d.Block()), d.from);
    ASSERT_TRUE(h.WaitReported(1));
    EXPECT_EQ(got, wire);
    const auto status = h.view.Of(WM_TRANSFER_STATUS);
    EXPECT_EQ(status.back().done, static_cast<std::int64_t>(wire.size()));
    EXPECT_EQ(status.back().total, static_cast<std::int64_t>(wire.size()));
    EXPECT_EQ(status.front().total, static_cast<std::int64_t>(file.size()));
}

TEST_F(TransferTest, TsizeOfFilesBeyondFourGigabytesIsRight) {
    // A sparse file: its length is what matters, not its blocks.
    const std::int64_t size = (std::int64_t{5} << 30) + 3;
    const std::string path = h.OutFile("huge.bin");
    tests::WriteFile(path, "");
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
    Datagram oack = Ask(tests::Request(tftp::kRrq, "huge.bin", "octet", {{"tsize", "0"}}));
    EXPECT_EQ(oack.bytes, Bytes({0, 6}) + Z("tsize") + Z("5368709123"));
    Datagram d = Reply(tests::Ack(0), oack.from);
    EXPECT_EQ(d.bytes, tests::Data(1, std::string(512, '\0')));
    const auto status = h.view.Of(WM_TRANSFER_STATUS);
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0].total, size);
    EXPECT_EQ(status[0].done, 512);
}

// ---- uploads -------------------------------------------------------------------

TEST_F(TransferTest, UploadNotificationsInOrderAndDuplicateDataGetsOneAck) {
    const std::string content = tests::PatternBytes(1100, 4);
    Datagram ack = Ask(tests::Request(tftp::kWrq, "u.bin", "octet"));
    EXPECT_EQ(ack.bytes, tests::Ack(0));
    const platform::PeerAddress port = ack.from;
    EXPECT_EQ(Reply(tests::Data(1, content.substr(0, 512)), port).bytes, tests::Ack(1));
    // Block 1 again: no second ACK, nothing written twice.
    client.Send(tests::Data(1, content.substr(0, 512)), port);
    EXPECT_TRUE(client.Quiet(200));
    EXPECT_EQ(Reply(tests::Data(2, content.substr(512, 512)), port).bytes, tests::Ack(2));
    // A block from the future is ignored too.
    client.Send(tests::Data(9, "zz"), port);
    EXPECT_TRUE(client.Quiet(150));
    EXPECT_EQ(Reply(tests::Data(3, content.substr(1024)), port).bytes, tests::Ack(3));
    ASSERT_TRUE(h.WaitReported(1));
    EXPECT_EQ(tests::ReadFile(h.InFile("u.bin")), content);

    std::vector<int> order;
    for (const auto& s : h.view.seen) order.push_back(s.message);
    EXPECT_EQ(order, (std::vector<int>{WM_TRANSFER_STARTED, WM_TRANSFER_FILE, WM_TRANSFER_STATUS,
                                       WM_TRANSFER_STATUS, WM_TRANSFER_STATUS, WM_TRANSFER_ENDED,
                                       WM_TRANSFER_RESULT}));
    EXPECT_EQ(h.view.seen[1].text, h.InFile("u.bin"));
    EXPECT_EQ(h.view.seen[2].text, "Receiving");
    EXPECT_EQ(h.view.seen[4].done, 1100);
    EXPECT_EQ(h.view.seen[6].text, "Finished : Receiving");
}

TEST_F(TransferTest, UploadOverwritesAnExistingFileAndEmptyUploadEmptiesIt) {
    tests::WriteFile(h.InFile("x"), "old contents that are longer");
    Datagram ack = Ask(tests::Request(tftp::kWrq, "x", "octet"));
    EXPECT_EQ(Reply(tests::Data(1, "new"), ack.from).bytes, tests::Ack(1));
    ASSERT_TRUE(h.WaitReported(1));
    EXPECT_EQ(tests::ReadFile(h.InFile("x")), "new");

    ack = Ask(tests::Request(tftp::kWrq, "x", "octet"));
    EXPECT_EQ(Reply(tests::Data(1, ""), ack.from).bytes, tests::Ack(1));
    ASSERT_TRUE(h.WaitReported(2));
    EXPECT_EQ(tests::ReadFile(h.InFile("x")), "");
    EXPECT_EQ(h.view.ResultOf(2), "Finished : Receiving");
}

TEST_F(TransferTest, NetasciiUploadStoresCrLfOnceWhateverThePeerSends) {
    // Bare LF (as our own client sends) and CR LF (as RFC peers
    // send), the pair split over two blocks.
    Datagram ack = Ask(tests::Request(tftp::kWrq, "n.txt", "netascii", {{"blksize", "8"}}));
    const platform::PeerAddress port = ack.from;
    EXPECT_EQ(Reply(tests::Data(1, "A\nB\r\nCD\r"), port).bytes, tests::Ack(1));
    EXPECT_EQ(Reply(tests::Data(2, "\nE\r"), port).bytes, tests::Ack(2));
    ASSERT_TRUE(h.WaitReported(1));
    EXPECT_EQ(tests::ReadFile(h.InFile("n.txt")), "A\r\nB\r\nCD\r\nE\r");
    // Progress counts the bytes on disk.
    EXPECT_EQ(h.view.Of(WM_TRANSFER_STATUS).back().done, 12);
}

TEST_F(TransferTest, WriteFailureOfAFullBlockEndsTheUploadWithDiskFullBeforeAnyLaterAck) {
    // Full blocks are acknowledged and go to the file 64 KiB at a time; when
    // that write fails, the client is told at once and the result says why.
    const std::string content = tests::PatternBytes(200 * 512, 5);
    tests::FileSizeLimit limit(700);
    ASSERT_TRUE(limit.Ok());
    Datagram ack = Ask(tests::Request(tftp::kWrq, "full.bin", "octet"));
    const platform::PeerAddress port = ack.from;
    int block = 1;
    Datagram answer;
    for (; block <= 200; ++block) {
        answer = Reply(tests::Data(static_cast<std::uint16_t>(block), content.substr((block - 1) * 512u, 512)), port);
        if (answer.bytes != tests::Ack(static_cast<std::uint16_t>(block))) break;
        // The block that finds no room is acknowledged first, then refused.
        Datagram error;
        if (client.Next(error, 0)) {
            answer = error;
            break;
        }
    }
    EXPECT_EQ(answer.bytes, tests::ErrorPacket(3, "Disk full")) << "at block " << block;
    EXPECT_LE(block, 130) << "found once the first 64 KiB go to the file";
    ASSERT_TRUE(h.WaitReported(1));
    EXPECT_EQ(h.view.ResultOf(1), "Disk full : Receiving");
    // The next block finds the transfer ended: no answer.
    client.Send(tests::Data(static_cast<std::uint16_t>(block + 1), "end"), port);
    EXPECT_TRUE(client.Quiet(200));
}

TEST_F(TransferTest, WriteFailureOfTheLastBlockIsNeverAcknowledged) {
    // The ACK of the last block tells the client its file arrived whole.
    const std::string content = tests::PatternBytes(712, 6);
    tests::FileSizeLimit limit(600);
    ASSERT_TRUE(limit.Ok());
    Datagram ack = Ask(tests::Request(tftp::kWrq, "last.bin", "octet"));
    const platform::PeerAddress port = ack.from;
    EXPECT_EQ(Reply(tests::Data(1, content.substr(0, 512)), port).bytes, tests::Ack(1));
    EXPECT_EQ(Reply(tests::Data(2, content.substr(512)), port).bytes, tests::ErrorPacket(3, "Disk full"));
    EXPECT_TRUE(client.Quiet(200));
    ASSERT_TRUE(h.WaitReported(1));
    EXPECT_EQ(h.view.ResultOf(1), "Disk full : Receiving");
}

TEST_F(TransferTest, UploadIntoAFolderThatIsMissingIsAnAccessViolation) {
    h.settings.InPath = h.inDir.Path() + "/no/such/folder/";
    EXPECT_EQ(Ask(tests::Request(tftp::kWrq, "x", "octet")).bytes, tests::ErrorPacket(2, "Access violation"));
    ASSERT_TRUE(h.WaitReported(1));
    EXPECT_EQ(h.view.ResultOf(1), "Access violation : Receiving");
}

TEST_F(TransferTest, ErrorFromTheClientEndsTheTransferWithItsText) {
    tests::WriteFile(h.OutFile("f"), std::string(2000, 'f'));
    Datagram d = Ask(tests::Request(tftp::kRrq, "f", "octet"));
    client.Send(tests::ErrorPacket(0, "User cancelled"), d.from);
    ASSERT_TRUE(h.WaitReported(1));
    EXPECT_EQ(h.view.ResultOf(1), "User cancelled : Sending");
    EXPECT_TRUE(client.Quiet(100));  // an ERROR is never answered

    tests::WriteFile(h.InFile("g"), "old");
    Datagram ack = Ask(tests::Request(tftp::kWrq, "g", "octet"));
    EXPECT_EQ(Reply(tests::Data(1, std::string(512, 'g')), ack.from).bytes, tests::Ack(1));
    client.Send(tests::ErrorPacket(3, "Disk full"), ack.from);
    ASSERT_TRUE(h.WaitReported(2));
    EXPECT_EQ(h.view.ResultOf(2), "Disk full : Receiving");
    // The upload cut short leaves the old file as it was, and nothing else.
    EXPECT_EQ(tests::ReadFile(h.InFile("g")), "old");
    EXPECT_EQ(Entries(h.inDir.Path()), std::vector<std::string>{"g"});
}

TEST_F(TransferTest, UploadsOfOneNameLandWholeOrNotAtAll) {
    tests::WriteFile(h.InFile("same.bin"), "old");
    ::chmod(h.InFile("same.bin").c_str(), 0640);
    const std::string a = tests::PatternBytes(2000, 11);  // 4 blocks
    const std::string b = tests::PatternBytes(1500, 12);  // 3 blocks
    RawClient other;
    const platform::PeerAddress portA = Ask(tests::Request(tftp::kWrq, "same.bin", "octet")).from;
    other.Send(tests::Request(tftp::kWrq, "same.bin", "octet"), h.listenAt);
    Datagram d;
    ASSERT_TRUE(other.Next(d));
    const platform::PeerAddress portB = d.from;
    // Block by block in turn; until one is complete the old file stays.
    for (int block = 1; block <= 3; ++block) {
        const std::size_t at = static_cast<std::size_t>(block - 1) * 512;
        EXPECT_EQ(Reply(tests::Data(block, a.substr(at, 512)), portA).bytes, tests::Ack(block));
        if (block < 3) {
            EXPECT_EQ(tests::ReadFile(h.InFile("same.bin")), "old");
        }
        other.Send(tests::Data(block, b.substr(at, 512)), portB);
        ASSERT_TRUE(other.Next(d));
        EXPECT_EQ(d.bytes, tests::Ack(block));
    }
    EXPECT_EQ(tests::ReadFile(h.InFile("same.bin")), b);
    EXPECT_EQ(Reply(tests::Data(4, a.substr(1536)), portA).bytes, tests::Ack(4));
    EXPECT_EQ(tests::ReadFile(h.InFile("same.bin")), a);
    struct stat st {};
    ASSERT_EQ(::stat(h.InFile("same.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // the permissions of the file it replaced
    ASSERT_TRUE(h.WaitReported(2));
    EXPECT_EQ(h.view.ResultOf(1), "Finished : Receiving");
    EXPECT_EQ(h.view.ResultOf(2), "Finished : Receiving");
    EXPECT_EQ(Entries(h.inDir.Path()), std::vector<std::string>{"same.bin"});
}

TEST_F(TransferTest, OnlyRegularFilesInsideTheFolderAreReadOrWritten) {
    tests::TempDir outside;
    tests::WriteFile(outside.File("secret"), "secret");
    std::filesystem::create_directory(outside.File("sub"));
    tests::WriteFile(outside.File("sub/f"), "secret");
    std::vector<int> sockets;
    const auto bindSocket = [&](const std::string& path) {
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un sa{};
        sa.sun_family = AF_UNIX;
        std::snprintf(sa.sun_path, sizeof sa.sun_path, "%s", path.c_str());
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0) << path;
        sockets.push_back(fd);
    };
    struct Kind {
        const char* name;           // what the client asks for
        std::function<void(const std::string& folder)> make;
        bool readServed;            // a read gets the file "inside" in the folder
        bool writeTaken;            // an upload lands, as a regular file, in the folder
    };
    const Kind kinds[] = {
        {"fifo", [](const std::string& f) { ::mkfifo((f + "/fifo").c_str(), 0644); }, false, false},
        {"sock", [&](const std::string& f) { bindSocket(f + "/sock"); }, false, false},
        {"dir", [](const std::string& f) { std::filesystem::create_directory(f + "/dir"); }, false, false},
        {"out", [&](const std::string& f) { std::filesystem::create_symlink(outside.File("secret"), f + "/out"); },
         false, true},
        {"sub/f", [&](const std::string& f) { std::filesystem::create_directory_symlink(outside.File("sub"), f + "/sub"); },
         false, false},
        {"in", [](const std::string& f) {
             tests::WriteFile(f + "/target", "inside");
             std::filesystem::create_symlink("target", f + "/in");
         }, true, true},
    };
    int number = 0;
    for (const Kind& k : kinds) {
        k.make(h.outDir.Path());
        k.make(h.inDir.Path());
        const std::string name = k.name;
        {
            FifoRescue rescue(h.OutFile(name));
            EXPECT_EQ(Ask(tests::Request(tftp::kRrq, name, "octet")).bytes,
                      k.readServed ? tests::Data(1, "inside") : tests::ErrorPacket(1, "File not found"))
                << name;
            EXPECT_FALSE(rescue.Finish()) << name << ": the read waited for the other end";
        }
        ++number;
        {
            FifoRescue rescue(h.InFile(name));
            Datagram answer = Ask(tests::Request(tftp::kWrq, name, "octet"));
            EXPECT_FALSE(rescue.Finish()) << name << ": the write waited for the other end";
            if (k.writeTaken) {
                EXPECT_EQ(answer.bytes, tests::Ack(0)) << name;
                EXPECT_EQ(Reply(tests::Data(1, "upload"), answer.from).bytes, tests::Ack(1)) << name;
                EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(h.InFile(name))));
                EXPECT_EQ(tests::ReadFile(h.InFile(name)), "upload") << name;
            } else {
                EXPECT_EQ(answer.bytes, tests::ErrorPacket(2, "Access violation")) << name;
            }
        }
        ++number;
        ASSERT_TRUE(h.WaitReported(number));
    }
    // Nothing outside was written, and what an upload replaced inside was
    // the link, not its target.
    EXPECT_EQ(tests::ReadFile(outside.File("secret")), "secret");
    EXPECT_EQ(tests::ReadFile(outside.File("sub/f")), "secret");
    EXPECT_EQ(Entries(outside.File("sub")), std::vector<std::string>{"f"});
    EXPECT_EQ(tests::ReadFile(h.InFile("target")), "inside");
    for (int fd : sockets) ::close(fd);
}

// ---- time-outs ---------------------------------------------------------------

TEST_F(TransferTest, RetryAfterAnUnansweredOackOffersTheOackAgain) {
    tests::WriteFile(h.OutFile("f"), "abc");
    Datagram oack = Ask(tests::Request(tftp::kRrq, "f", "octet", {{"blksize", "1024"}}));
    h.clock.Advance(31);
    h.Sweep();
    Datagram again;
    ASSERT_TRUE(client.Next(again));
    EXPECT_EQ(again.bytes, oack.bytes);
    EXPECT_EQ(Reply(tests::Ack(0), oack.from).bytes, tests::Data(1, "abc"));
}

TEST_F(TransferTest, RetryOfTheEmptyLastBlock) {
    tests::WriteFile(h.OutFile("e"), "");
    Datagram d = Ask(tests::Request(tftp::kRrq, "e", "octet"));
    h.clock.Advance(31);
    h.Sweep();
    Datagram again;
    ASSERT_TRUE(client.Next(again));
    EXPECT_EQ(again.bytes, tests::Data(1, ""));
    client.Send(tests::Ack(1), d.from);
    ASSERT_TRUE(h.WaitReported(1));
    EXPECT_EQ(h.view.ResultOf(1), "Finished : Sending");
}

TEST_F(TransferTest, NetasciiRetrySendsTheSameConvertedBlock) {
    std::string file;
    for (int i = 0; i < 500; ++i) file += "ab\r\n";
    tests::WriteFile(h.OutFile("t"), file);
    Datagram d1 = Ask(tests::Request(tftp::kRrq, "t", "netascii"));
    Datagram d2 = Reply(tests::Ack(1), d1.from);
    h.clock.Advance(31);
    h.Sweep();
    Datagram again;
    ASSERT_TRUE(client.Next(again));
    EXPECT_EQ(again.bytes, d2.bytes);
    Datagram d3 = Reply(tests::Ack(2), d1.from);
    std::string wire = d1.bytes.substr(4) + d2.bytes.substr(4) + d3.bytes.substr(4);
    std::string expected;
    for (int i = 0; i < 500; ++i) expected += "ab\n";
    EXPECT_EQ(wire, expected);
}

TEST_F(TransferTest, FiveRetriesPerSilenceInEitherDirectionThenTimedOut) {
    // Each silence longer than the limit gets the last datagram again; any
    // progress starts the count anew; six silences in a row end the transfer.
    h.settings.Timeout = "5";
    const std::string content = tests::PatternBytes(2000, 4);
    tests::WriteFile(h.OutFile("r"), content);
    struct Case { bool read; const char* result; };
    int number = 0;
    for (const Case& c : {Case{true, "TimedOut : Sending"}, Case{false, "TimedOut : Receiving"}}) {
        SCOPED_TRACE(c.read ? "read" : "write");
        Datagram first = Ask(c.read ? tests::Request(tftp::kRrq, "r", "octet")
                                    : tests::Request(tftp::kWrq, "w", "octet"));
        ++number;
        const platform::PeerAddress port = first.from;
        // The last datagram: block 1 (read) or ACK 0 (write).
        std::string last = first.bytes;
        // Not yet silent: five seconds are the limit, not past it.
        h.clock.Advance(5);
        h.Sweep();
        EXPECT_TRUE(client.Quiet(50));
        h.clock.Advance(1);
        for (int round = 0; round < 2; ++round) {
            for (int retry = 0; retry < 5; ++retry) {
                if (round > 0 || retry > 0) h.clock.Advance(6);
                h.Sweep();
                Datagram again;
                ASSERT_TRUE(client.Next(again)) << "retry " << retry;
                EXPECT_EQ(again.bytes, last);
                EXPECT_EQ(h.view.Of(WM_TRANSFER_STATUS).back().text, "Retrying");
            }
            if (round == 1) break;
            // Progress: the budget is whole again.
            Datagram next = Reply(c.read ? tests::Ack(1) : tests::Data(1, content.substr(0, 512)), port);
            EXPECT_EQ(next.Opcode(), c.read ? tftp::kData : tftp::kAck);
            last = next.bytes;
        }
        h.clock.Advance(6);
        h.Sweep();
        ASSERT_TRUE(h.view.Reported(number));
        EXPECT_EQ(h.view.ResultOf(number), c.result);
        EXPECT_EQ(h.view.Of(WM_TRANSFER_ENDED).back().failed, 1);
    }
}

TEST_F(TransferTest, ClientTimeoutOptionSetsTheLimitEvenWhenNotEchoed) {
    h.settings.bAllowTimeout = 0;
    h.settings.Timeout = "100";
    tests::WriteFile(h.OutFile("f"), std::string(600, 'f'));
    Datagram d = Ask(tests::Request(tftp::kRrq, "f", "octet", {{"timeout", "3"}}));
    EXPECT_EQ(d.Opcode(), tftp::kData);  // nothing echoed: block 1 at once
    h.clock.Advance(3);
    h.Sweep();
    EXPECT_TRUE(client.Quiet(100));
    h.clock.Advance(1);
    h.Sweep();
    Datagram again;
    ASSERT_TRUE(client.Next(again));
    EXPECT_EQ(again.bytes, d.bytes);
}

// ---- recovery -------------------------------------------------------------------

TEST_F(TransferTest, ARepeatedRequestBeforeAnyAnswerGetsTheFirstAnswerAgain) {
    // With a limit of one client the repeat must not count as a second.
    h.settings.nMaxClients = 0;
    tests::WriteFile(h.OutFile("f"), tests::PatternBytes(1500, 3));
    // A request far longer than a short name makes it is kept whole too.
    const std::string longName(240, 'f');
    tests::WriteFile(h.OutFile(longName), tests::PatternBytes(1500, 3));
    struct Case {
        std::uint16_t opcode;
        std::string name;
        std::vector<std::pair<std::string, std::string>> options;
        std::uint16_t answer;
    };
    const Case cases[] = {{tftp::kRrq, "f", {}, tftp::kData},
                          {tftp::kRrq, "f", {{"blksize", "1024"}}, tftp::kOack},
                          {tftp::kWrq, "w", {}, tftp::kAck},
                          {tftp::kWrq, "w", {{"blksize", "1024"}}, tftp::kOack},
                          {tftp::kRrq, longName, {{"tsize", "0"}, {"blksize", "1024"}}, tftp::kOack},
                          {tftp::kWrq, longName, {{"blksize", "1024"}}, tftp::kOack}};
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "opcode " << c.opcode << " name " << c.name.size() << " options "
                                        << c.options.size());
        RawClient peer;
        const std::string request = tests::Request(c.opcode, c.name, "octet", c.options);
        peer.Send(request, h.listenAt);
        Datagram first, again;
        ASSERT_TRUE(peer.Next(first));
        ++number;
        EXPECT_EQ(first.Opcode(), c.answer);
        peer.Send(request, h.listenAt);
        ASSERT_TRUE(peer.Next(again));
        EXPECT_EQ(again.bytes, first.bytes);
        EXPECT_EQ(again.from, first.from);
        EXPECT_EQ(h.listener->TransferCount(), 1);
        // Once the client has answered, the same request is a new client.
        peer.Send(c.answer == tftp::kData ? tests::Ack(1)
                  : c.opcode == tftp::kRrq ? tests::Ack(0)
                                           : tests::Data(1, std::string(c.options.empty() ? 512 : 1024, 'w')),
                  first.from);
        ASSERT_TRUE(peer.Next(again));
        peer.Send(request, h.listenAt);
        ASSERT_TRUE(peer.Next(again));
        EXPECT_EQ(again.bytes, tests::ErrorPacket(0, "Too Many Clients"));
        // End it, and let the check remove it.
        peer.Send(tests::ErrorPacket(0, "done"), first.from);
        ASSERT_TRUE(h.WaitReported(number));
    }
}

TEST_F(TransferTest, AnUploadAnswersARepeatOfItsLastBlockWithItsAckAgain) {
    const std::string content = tests::PatternBytes(700, 5);
    Datagram ack0 = Ask(tests::Request(tftp::kWrq, "u", "octet"));
    const std::string block1 = tests::Data(1, content.substr(0, 512));
    const std::string block2 = tests::Data(2, content.substr(512));
    EXPECT_EQ(Reply(block1, ack0.from).bytes, tests::Ack(1));
    // A copy right behind the block is the network's: not answered.
    client.Send(block1, ack0.from);
    EXPECT_TRUE(client.Quiet(100));
    // The same block a while later: the client did not hear our ACK.
    h.clock.AdvanceMs(300);
    EXPECT_EQ(Reply(block1, ack0.from).bytes, tests::Ack(1));
    EXPECT_EQ(Reply(block2, ack0.from).bytes, tests::Ack(2));
    // Finished, and still answering a repeat of the last block: before the
    // check reports it, and after, for longer than a client without a
    // time-out option waits to send it again (5 s), though the row ended.
    h.clock.AdvanceMs(300);
    EXPECT_EQ(Reply(block2, ack0.from).bytes, tests::Ack(2));
    EXPECT_EQ(tests::ReadFile(h.InFile("u")), content);
    h.Sweep();
    EXPECT_EQ(h.view.ResultOf(Number()), "Finished : Receiving");
    EXPECT_EQ(h.listener->TransferCount(), 0);
    const int reported = h.view.CountOf(WM_TRANSFER_RESULT);
    h.clock.AdvanceMs(5500);
    h.Sweep();
    EXPECT_EQ(Reply(block2, ack0.from).bytes, tests::Ack(2));
    EXPECT_EQ(h.view.CountOf(WM_TRANSFER_RESULT), reported);  // reported once
    // Then it ends, and the repeat goes unanswered.
    h.clock.AdvanceMs(1000);
    h.Sweep();
    EXPECT_EQ(h.listener->LingeringCount(), 0);
    client.Send(block2, ack0.from);
    EXPECT_TRUE(client.Quiet(100));
}

TEST_F(TransferTest, SilentTransfersResendTheirLastDatagramBetweenChecksQuietly) {
    // A client that never repeats its ACK (curl) relies on the server: the
    // block goes out again after about a second, then more slowly, without
    // waiting for the check and without a "Retrying" on the row. An upload's
    // ACK goes again once: its client resends its own blocks.
    tests::WriteFile(h.OutFile("f"), tests::PatternBytes(1500, 3));
    const std::string huge = "1000000";  // a time-out offer far out of range: not echoed
    struct Case { std::string request; std::uint16_t answer; };
    const Case cases[] = {{tests::Request(tftp::kRrq, "f", "octet", {{"timeout", huge}}), tftp::kData},
                          {tests::Request(tftp::kRrq, "f", "octet", {{"tsize", "0"}}), tftp::kOack},
                          {tests::Request(tftp::kWrq, "w", "octet"), tftp::kAck}};
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        Datagram first = Ask(c.request);
        ++number;
        EXPECT_EQ(first.Opcode(), c.answer);
        const int statuses = h.view.CountOf(WM_TRANSFER_STATUS);
        h.clock.AdvanceMs(999);
        h.listener->ResendSilent();
        EXPECT_TRUE(client.Quiet(50));
        h.clock.AdvanceMs(1);
        h.listener->ResendSilent();
        Datagram again;
        ASSERT_TRUE(client.Next(again));
        EXPECT_EQ(again.bytes, first.bytes);
        EXPECT_EQ(h.view.CountOf(WM_TRANSFER_STATUS), statuses);
        // The next one waits twice as long; an upload's never comes.
        h.clock.AdvanceMs(1999);
        h.listener->ResendSilent();
        EXPECT_TRUE(client.Quiet(50));
        h.clock.AdvanceMs(1);
        h.listener->ResendSilent();
        if (c.answer == tftp::kAck) {
            h.clock.AdvanceMs(10000);
            h.listener->ResendSilent();
            EXPECT_TRUE(client.Quiet(50));
        } else {
            ASSERT_TRUE(client.Next(again));
        }
        client.Send(tests::ErrorPacket(0, "done"), first.from);
        ASSERT_TRUE(h.WaitReported(number));
    }
}

TEST_F(TransferTest, ABurstOfBlocksFitsTheTransferSocketsReceiveBuffer) {
    // Blocks sent back to back (a duplicate, or a sender ahead of us) wait in
    // the socket's buffer: it has room for several, however small the block.
    const std::string content = tests::PatternBytes(40 * 1428 + 10, 6);
    Datagram oack = Ask(tests::Request(tftp::kWrq, "burst", "octet", {{"blksize", "1428"}}));
    ASSERT_EQ(oack.Opcode(), tftp::kOack);
    for (int b = 0; b <= 40; ++b)
        client.Send(tests::Data(static_cast<std::uint16_t>(b + 1), content.substr(static_cast<std::size_t>(b) * 1428, 1428)),
                    oack.from);
    int acks = 0;
    Datagram ack;
    while (acks < 41 && client.Next(ack, 2000)) ++acks;
    EXPECT_EQ(acks, 41);
    EXPECT_EQ(tests::ReadFile(h.InFile("burst")), content);
}

// ---- strangers and floods ------------------------------------------------------

TEST_F(TransferTest, StrangerGetsUnknownTransferIdAndChangesNothing) {
    const std::string content = tests::PatternBytes(1500, 8);
    Datagram ack = Ask(tests::Request(tftp::kWrq, "s.bin", "octet"));
    const platform::PeerAddress port = ack.from;
    EXPECT_EQ(Reply(tests::Data(1, content.substr(0, 512)), port).bytes, tests::Ack(1));

    h.clock.Advance(20);
    RawClient stranger;
    // The next block, with other data, from someone else.
    stranger.Send(tests::Data(2, std::string(512, 'X')), port);
    Datagram refusal;
    ASSERT_TRUE(stranger.Next(refusal));
    EXPECT_EQ(refusal.bytes, tests::ErrorPacket(5, "Unknown transfer ID"));
    EXPECT_EQ(refusal.from, port);
    stranger.Send(tests::ErrorPacket(0, "go away"), port);  // never answered
    EXPECT_TRUE(stranger.Quiet(150));
    EXPECT_TRUE(client.Quiet(50));

    // Nothing changed: not the file, and not the time of last activity (the
    // silence of the real client counts from before the stranger's data).
    const std::vector<std::string> entries = Entries(h.inDir.Path());
    ASSERT_EQ(entries.size(), 1u);  // the upload so far, not yet under its name
    h.clock.Advance(11);
    h.Sweep();
    Datagram retry;
    ASSERT_TRUE(client.Next(retry));
    EXPECT_EQ(retry.bytes, tests::Ack(1));
    EXPECT_EQ(h.view.Of(WM_TRANSFER_STATUS).back().text, "Retrying");
    // The real client goes on from block 2, and the file is what it sent.
    EXPECT_EQ(Reply(tests::Data(2, content.substr(512, 512)), port).bytes, tests::Ack(2));
    EXPECT_EQ(Reply(tests::Data(3, content.substr(1024)), port).bytes, tests::Ack(3));
    ASSERT_TRUE(h.WaitReported(1));
    EXPECT_EQ(tests::ReadFile(h.InFile("s.bin")), content);
}

TEST_F(TransferTest, StrangerCannotTakeOverADownload) {
    const std::string content = tests::PatternBytes(1500, 6);
    tests::WriteFile(h.OutFile("f"), content);
    Datagram d1 = Ask(tests::Request(tftp::kRrq, "f", "octet"));
    RawClient stranger;
    stranger.Send(tests::Ack(1), d1.from);
    Datagram refusal;
    ASSERT_TRUE(stranger.Next(refusal));
    EXPECT_EQ(refusal.bytes, tests::ErrorPacket(5, "Unknown transfer ID"));
    EXPECT_TRUE(stranger.Quiet(100));
    EXPECT_TRUE(client.Quiet(50));
    // The real client goes on as if nothing happened.
    Datagram d2 = Reply(tests::Ack(1), d1.from);
    EXPECT_EQ(d2.bytes, tests::Data(2, content.substr(512, 512)));
}

TEST_F(TransferTest, FloodAtTheListenerChangesNothing) {
    std::mt19937 random(12345);
    RawClient flooder;
    // Everything that is not a request: too short, too long, other opcodes.
    for (int i = 0; i < 3000; ++i) {
        std::string d(static_cast<std::size_t>(random() % 140), '\0');
        for (char& c : d) c = static_cast<char>(random());
        if (d.size() >= 2 && d.size() <= 100 && (d[0] == 0 && (d[1] == 1 || d[1] == 2))) d[0] = 1;
        flooder.Send(d, h.listenAt);
        if (i % 200 == 0) tests::Settle(1);
    }
    EXPECT_TRUE(flooder.Quiet(300));
    EXPECT_EQ(h.listener->TransferCount(), 0);
    EXPECT_TRUE(h.view.seen.empty());
    tests::WriteFile(h.OutFile("f"), "still here");
    EXPECT_EQ(Ask(tests::Request(tftp::kRrq, "f", "octet")).bytes, tests::Data(1, "still here"));
}

TEST_F(TransferTest, FloodAtATransferPortChangesNothing) {
    const std::string content = tests::PatternBytes(1200, 10);
    tests::WriteFile(h.OutFile("f"), content);
    Datagram d1 = Ask(tests::Request(tftp::kRrq, "f", "octet"));
    const platform::PeerAddress port = d1.from;
    std::mt19937 random(777);
    RawClient stranger;
    int strangerSent = 0;
    for (int i = 0; i < 2000; ++i) {
        std::string d(static_cast<std::size_t>(random() % 700), '\0');
        for (char& c : d) c = static_cast<char>(random());
        if (i % 2 == 0) {
            // From the client itself: anything but an ERROR or an ACK of
            // block 0 or 1 (those mean something).
            if (d.size() >= 2 && d[0] == 0 && (d[1] == 4 || d[1] == 5)) d[0] = 9;
            client.Send(d, port);
        } else {
            stranger.Send(d, port);
            strangerSent += !(d.size() >= 2 && d[0] == 0 && d[1] == 5);
        }
        if (i % 100 == 0) tests::Settle(1);
    }
    tests::Settle(300);
    EXPECT_TRUE(client.received.empty());
    for (const auto& r : stranger.received) EXPECT_EQ(r.bytes, tests::ErrorPacket(5, "Unknown transfer ID"));
    EXPECT_GT(stranger.received.size(), 0u);
    EXPECT_LE(static_cast<int>(stranger.received.size()), strangerSent);
    // The transfer is intact.
    Datagram d2 = Reply(tests::Ack(1), port);
    Datagram d3 = Reply(tests::Ack(2), port);
    EXPECT_EQ(d1.bytes.substr(4) + d2.bytes.substr(4) + d3.bytes.substr(4), content);
}

TEST_F(TransferTest, EndedTransferDoesNotSpinTheEventLoop) {
    tests::WriteFile(h.OutFile("f"), "x");
    Datagram d = Ask(tests::Request(tftp::kRrq, "f", "octet"));
    client.Send(tests::Ack(1), d.from);
    ASSERT_TRUE(tests::WaitFor([&] { return h.view.CountOf(WM_TRANSFER_STATUS) == 1; }));
    // Ended, not yet removed: a late datagram is not taken.
    client.Send(tests::Ack(1), d.from);
    tests::Settle(50);

    // Count how often the event loop wakes while nothing else happens.
    int wakes = 0;
    const QMetaObject::Connection counting = QObject::connect(
        QThread::currentThread()->eventDispatcher(), &QAbstractEventDispatcher::awake, [&] { ++wakes; });
    QEventLoop loop;
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_LT(wakes, 50);
    EXPECT_TRUE(client.Quiet(10));
    QObject::disconnect(counting);
}
