// The real peers through the impairment relay, in a network namespace of the
// test's own: Vantrel's engine serving tftp-hpa, atftp, curl and busybox, and
// Skerry's engine against tftpd-hpa and atftpd, each transfer losing its
// first answer, a DATA and an ACK and getting a DATA twice. Then windows of
// blocks: atftp asking Vantrel for them, Skerry asking atftpd (and tftpd-hpa,
// which knows none). Every file is compared byte for byte. The engines'
// clocks follow real time here, moved by the same timer that does what the
// programs' idle processing does.
#include "client/engine/transfer_socket.h"
#include "common/tftp_packet.h"
#include "platform/scripted_prompt_service.h"
#include "tests/loss/status_log.h"
#include "tests/client/peer_servers.h"
#include "tests/server_engine/engine_harness.h"
#include "tests/server_engine/peer_clients.h"
#include "tests/support/event_loop.h"
#include "tests/support/impairment_relay.h"
#include "tests/support/temp_dir.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>

using tests::Fate;
using tests::Match;
using tests::Rule;
using tests::Toward;

namespace {

// The namespace's test-only address: tftp-hpa refuses 127.0.0.1 on a host
// whose only interface is loopback (nothing is sent to it but our own).
const std::string kHost = "10.9.9.1";
constexpr int kHpaPort = 6969;
constexpr int kAtftpdPort = 6970;

// 40 blocks of 512 and a short one.
const std::string kContent = tests::PatternBytes(40 * 512 + 77, 21);

// The same four impairments for every transfer, on the side that receives
// the file (toReceiver) and the one that sends it.
void Impair(tests::ImpairmentRelay& relay, bool download, bool clientAsksOptions) {
    const Toward toReceiver = download ? Toward::Client : Toward::Server;
    const Toward toSender = download ? Toward::Server : Toward::Client;
    // The first answer: OACK, DATA 1 (download) or ACK 0 (upload).
    const std::uint16_t first = clientAsksOptions ? tftp::kOack : download ? tftp::kData : tftp::kAck;
    relay.AddRule(Rule{Match{Toward::Client, first, {}, 1, 1}, Fate::Drop});
    relay.AddRule(Rule{Match{toReceiver, tftp::kData, 3, 1, 1}, Fate::Drop});
    relay.AddRule(Rule{Match{toSender, tftp::kAck, 5, 1, 1}, Fate::Drop});
    relay.AddRule(Rule{Match{toReceiver, tftp::kData, 7, 1, 1}, Fate::Duplicate});
}

// Inside windows of `window` blocks: the first answer lost, the ACK of the
// second window lost, a block in the middle of the third window lost, and
// the first block of the fifth window doubled.
void ImpairWindows(tests::ImpairmentRelay& relay, bool download, int window) {
    const Toward toReceiver = download ? Toward::Client : Toward::Server;
    const Toward toSender = download ? Toward::Server : Toward::Client;
    const auto block = [](int b) { return static_cast<std::uint16_t>(b); };
    relay.AddRule(Rule{Match{Toward::Client, tftp::kOack, {}, 1, 1}, Fate::Drop});
    relay.AddRule(Rule{Match{toSender, tftp::kAck, block(2 * window), 1, 1}, Fate::Drop});
    relay.AddRule(Rule{Match{toReceiver, tftp::kData, block(2 * window + window / 2), 1, 1}, Fate::Drop});
    relay.AddRule(Rule{Match{toReceiver, tftp::kData, block(4 * window + 1), 1, 1}, Fate::Duplicate});
}

// What went through the relay, for a failure's message: one line a datagram.
std::string Trace(const tests::ImpairmentRelay& relay) {
    static const char* const kFates[] = {"", " DROPPED", " DUPLICATED", " REORDERED", " DELAYED"};
    std::string out;
    for (const auto& d : relay.Log()) {
        out += d.toward == Toward::Server ? "  -> " : "  <- ";
        out += std::to_string(d.opcode) + " " + std::to_string(d.block) + " (" + std::to_string(d.length) + ")";
        out += kFates[static_cast<int>(d.fate)];
        out += "\n";
    }
    return out;
}

// A text with CR LF line ends, and the same with LF ends.
std::string CrLfText(int lines) {
    std::string s;
    for (int i = 0; i < lines; ++i) s += "line " + std::to_string(i * 7919 % 1000) + " of the text\r\n";
    return s;
}
std::string WithoutCr(const std::string& text) {
    std::string s;
    for (char c : text)
        if (c != '\r') s.push_back(c);
    return s;
}

// Moves a manual clock along with real time and runs what the programs run
// from their idle processing and timers.
class Ticker {
public:
    Ticker(platform::ManualClock& clock, std::function<void()> everyTick, std::function<void()> everySecond)
        : clock_(clock), tick_(std::move(everyTick)), second_(std::move(everySecond)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            clock_.AdvanceMs(10);
            tick_();
            if (++ticks_ % 100 == 0 && second_) second_();
        });
        timer_.start(10);
    }

private:
    platform::ManualClock& clock_;
    std::function<void()> tick_, second_;
    QTimer timer_;
    int ticks_ = 0;
};

class Peers : public ::testing::Test {
protected:
    void SetUp() override {
        if (tests::FreePort(kHost) == 0) GTEST_SKIP() << "no test address " << kHost << ": run through in_netns.sh";
    }
};

TEST_F(Peers, VantrelServesEveryClientThroughLostAndDoubledDatagrams) {
    using tests::Direction;
    using tests::Peer;
    for (Peer peer : {Peer::TftpHpa, Peer::Atftp, Peer::Curl, Peer::Busybox}) {
        for (Direction dir : {Direction::Download, Direction::Upload}) {
            SCOPED_TRACE(std::string(tests::PeerName(peer)) + (dir == Direction::Download ? " get" : " put"));
            tests::EngineHarness h(kHost);
            h.settings.nMaxClients = 0;  // one client: a repeated request must not be refused
            ASSERT_TRUE(h.Start());
            tests::ImpairmentRelay relay(kHost, h.listenAt);
            ASSERT_TRUE(relay.ok());
            tests::PeerTransfer t;
            t.peer = peer;
            t.direction = dir;
            t.askTsize = true;
            t.remote = "f.bin";
            tests::TempDir clientDir;
            t.local = clientDir.File("f.bin");
            const bool download = dir == Direction::Download;
            if (download) tests::WriteFile(h.OutFile(t.remote), kContent);
            else tests::WriteFile(t.local, kContent);
            // Only tftp-hpa asks for no option; an upload's tsize is never
            // echoed, so of the uploads only curl's (timeout) gets an OACK.
            Impair(relay, download, download ? peer != Peer::TftpHpa : peer == Peer::Curl);
            Ticker ticker(h.clock, [&] { h.listener->ResendSilent(); },
                          [&] { h.listener->SweepTransfers(); });
            const tests::PeerRun run =
                tests::RunPeer(tests::CommandFor(t, kHost, relay.Front().port), clientDir.Path(), 60000);
            EXPECT_TRUE(run.finished) << run.output << Trace(relay);
            EXPECT_TRUE(tests::ReadFile(download ? t.local : h.InFile(t.remote)) == kContent) << run.output;
            ASSERT_TRUE(h.WaitReported(1, 10000));
            EXPECT_EQ(h.view.ResultOf(1), download ? "Finished : Sending" : "Finished : Receiving");
            EXPECT_EQ(h.app.transferCounter, 1) << "a repeated request is not a second client";
            EXPECT_GE(relay.Dropped(Toward::Client) + relay.Dropped(Toward::Server), 3);
            // None of them asks for a window, and none is offered one.
            for (const auto& d : relay.Log())
                EXPECT_EQ(d.text.find("windowsize"), std::string::npos) << d.text;
        }
    }
}

// A window in use: the OACK grants it, and the receiver answered about
// once a window (one ACK a block would be lock-step).
void ExpectWindow(const tests::ImpairmentRelay& relay, bool download, int granted, int extraAcks = 3) {
    const Toward toReceiver = download ? Toward::Client : Toward::Server;
    const Toward toSender = download ? Toward::Server : Toward::Client;
    EXPECT_NE(relay.FirstText(tftp::kOack).find("windowsize " + std::to_string(granted)), std::string::npos)
        << relay.FirstText(tftp::kOack);
    const int data = relay.Count(toReceiver, tftp::kData);
    EXPECT_LE(relay.Count(toSender, tftp::kAck), data / granted + extraAcks) << data << " DATA";
}

TEST_F(Peers, AtftpAsksVantrelForWindowsBothWays) {
    using tests::Direction;
    struct Row {
        int asked, granted;
        bool netascii;
        int blockSize;
        bool impaired = false;  // ImpairWindows
    };
    // 70000 is more than a window may be: Vantrel grants its maximum.
    const Row rows[] = {{4, 4, false, 512}, {16, 16, false, 1428}, {64, 64, false, 512},
                        {70000, 64, false, 512}, {16, 16, true, 512}, {64, 64, true, 1428},
                        {16, 16, false, 512, true}, {16, 16, true, 512, true}};
    const std::string octet = tests::PatternBytes(300 * 512 + 77, 31);
    const std::string crlf = CrLfText(8000);  // about 150 kB
    for (const Row& row : rows) {
        for (Direction dir : {Direction::Download, Direction::Upload}) {
            const bool download = dir == Direction::Download;
            // atftp 0.8 cannot send a netascii window again: after a gap
            // report it sends 3-byte DATA packets until it gives up.
            if (row.impaired && row.netascii && !download) continue;
            SCOPED_TRACE("windowsize " + std::to_string(row.asked) + (row.netascii ? " netascii" : " octet") +
                         (download ? " get" : " put") + (row.impaired ? " impaired" : ""));
            tests::EngineHarness h(kHost);
            h.settings.nMaxClients = 0;
            ASSERT_TRUE(h.Start());
            tests::ImpairmentRelay relay(kHost, h.listenAt);
            ASSERT_TRUE(relay.ok());
            tests::PeerTransfer t;
            t.peer = tests::Peer::Atftp;
            t.direction = dir;
            t.netascii = row.netascii;
            t.blockSize = row.blockSize;
            t.remote = "w.bin";
            tests::TempDir clientDir;
            t.local = clientDir.File("w.bin");
            // netascii: a CR LF text on the server is an LF text at atftp's
            // end, both ways.
            const std::string server = row.netascii ? crlf : octet;
            const std::string client = row.netascii ? WithoutCr(crlf) : octet;
            if (download) tests::WriteFile(h.OutFile(t.remote), server);
            else tests::WriteFile(t.local, client);
            if (row.impaired) ImpairWindows(relay, download, row.granted);
            tests::PeerCommand command = tests::CommandFor(t, kHost, relay.Front().port);
            const std::string option = "windowsize " + std::to_string(row.asked);
            if (row.netascii) command.input = "option " + option + "\n" + command.input;
            else command.args.insert(command.args.begin(), {"--option", option});
            Ticker ticker(h.clock, [&] { h.listener->ResendSilent(); }, [&] { h.listener->SweepTransfers(); });
            const tests::PeerRun run = tests::RunPeer(command, clientDir.Path(), 60000);
            EXPECT_TRUE(run.finished) << run.output << Trace(relay);
            EXPECT_TRUE(tests::ReadFile(download ? t.local : h.InFile(t.remote)) == (download ? client : server))
                << run.output << Trace(relay);
            ASSERT_TRUE(h.WaitReported(1, 10000));
            EXPECT_EQ(h.view.ResultOf(1), download ? "Finished : Sending" : "Finished : Receiving");
            ExpectWindow(relay, download, row.granted, row.impaired ? 8 : 3);
            if (row.impaired) {
                EXPECT_EQ(relay.Dropped(Toward::Client) + relay.Dropped(Toward::Server), 3);
            }
        }
    }
}

TEST_F(Peers, SkerryFetchesAndSendsLockStepAndWithWindows) {
    tests::TempDir root, atRoot;
    tests::OpenToEveryone(root.Path());
    tests::OpenToEveryone(atRoot.Path());
    auto hpa = tests::PeerServer::TftpdHpa(root.Path(), kHpaPort);
    ASSERT_TRUE(hpa && hpa->Running()) << "tftpd-hpa (in.tftpd) did not start";
    auto atftpd = tests::PeerServer::Atftpd(atRoot.Path(), kAtftpdPort);
    ASSERT_TRUE(atftpd) << "atftpd not found at " << tests::PeerServer::AtftpdPath()
                        << ": scripts/setup.sh unpacks it";
    enum class Impairment { None, LockStep, Windows };  // Impair, ImpairWindows
    struct Row {
        bool atftpd;  // else tftpd-hpa, which grants no window: lock-step
        int window;
        bool octet;
        int blockSize;
        Impairment impair;
    };
    const Row rows[] = {
        {false, 1, true, 512, Impairment::LockStep}, {true, 1, true, 512, Impairment::LockStep},
        {true, 4, true, 512, Impairment::None},      {true, 16, true, 1428, Impairment::None},
        {true, 64, true, 512, Impairment::None},     {true, 16, false, 512, Impairment::None},
        {false, 16, true, 512, Impairment::None},    {true, 16, true, 512, Impairment::Windows},
    };
    const std::string octet = tests::PatternBytes(300 * 512 + 77, 41);
    const std::string crlf = CrLfText(8000);
    int serial = 0;
    for (const Row& row : rows) {
        for (bool sending : {false, true}) {
            SCOPED_TRACE(std::string(row.atftpd ? "atftpd" : "tftpd-hpa") + " window " + std::to_string(row.window) +
                         (row.octet ? " octet" : " netascii") + (sending ? " send" : " fetch") +
                         (row.impair != Impairment::None ? " impaired" : ""));
            const tests::TempDir& serverRoot = row.atftpd ? atRoot : root;
            const std::string name = "f" + std::to_string(++serial) + ".bin";
            // netascii: LF line ends at the server, CR LF at Skerry's end.
            const std::string atServer = row.octet ? octet : WithoutCr(crlf);
            const std::string atSkerry = row.octet ? octet : crlf;
            ClientSettings settings;
            tests::TempDir local;
            settings.inboundPath = local.Path() + "/";
            settings.outboundPath = local.Path() + "/";
            settings.overwrite = 1;
            if (sending) {
                tests::WriteFile(local.File(name), atSkerry);
            } else {
                tests::WriteFile(serverRoot.File(name), atServer);
                ::chmod(serverRoot.File(name).c_str(), 0644);
            }
            tests::ImpairmentRelay relay(
                "127.0.0.1", platform::PeerAddress{platform::InetAddr("127.0.0.1"),
                                                   static_cast<std::uint16_t>(row.atftpd ? kAtftpdPort : kHpaPort)});
            ASSERT_TRUE(relay.ok());
            // A fetch always offers tsize: its first answer is an OACK.
            if (row.impair == Impairment::LockStep) Impair(relay, !sending, !sending);
            if (row.impair == Impairment::Windows) ImpairWindows(relay, !sending, row.window);
            platform::ManualClock clock;
            tftp::FixedAddressProvider addresses{"skerry", {"127.0.0.1"}};
            tests::StatusLog status;
            // The ticker below moves the time and calls CheckTimeout.
            ClientContext context{settings, clock, addresses, status, false};
            CTransferSocket t(context);
            t.sending = sending ? 1 : 0;
            t.blockSize = row.blockSize;
            t.windowSize = row.window;
            t.timeoutSecs = 10;
            const auto port = relay.Front().port;
            const int mode = row.octet ? 1 : 0;
            std::unique_lock<std::mutex> hold = t.Hold();
            ASSERT_EQ(t.OpenLocalPort("127.0.0.1"), 1);
            ASSERT_EQ(sending ? t.StartSend(name, name, "127.0.0.1", port, mode, {})
                              : t.StartFetch(name, name, "127.0.0.1", port, mode), 1);
            hold.unlock();
            Ticker ticker(clock, [&] {
                const auto held = t.Hold();
                t.CheckTimeout();
            }, nullptr);
            ASSERT_TRUE(tests::RunUntil([&] {
                const auto held = t.Hold();
                return t.busy == 0;
            }, 60000)) << status.Last() << Trace(relay);
            QCoreApplication::sendPostedEvents();  // the status texts its thread posted
            EXPECT_TRUE(tests::RunUntil([&] {
                return tests::ReadFile(sending ? serverRoot.File(name) : local.File(name)) == (sending ? atServer : atSkerry);
            }, 5000)) << status.Last();
            if (row.impair != Impairment::None) {
                EXPECT_GE(t.Retransmissions(), 1) << "Skerry had to send something again";
                EXPECT_EQ(relay.Dropped(Toward::Client) + relay.Dropped(Toward::Server), 3);
            }
            if (row.window == 1) continue;
            EXPECT_NE(relay.FirstText(sending ? tftp::kWrq : tftp::kRrq).find("windowsize " + std::to_string(row.window)),
                      std::string::npos);
            if (row.atftpd) {
                ExpectWindow(relay, !sending, row.window, row.impair == Impairment::Windows ? 8 : 3);
            } else {
                // No windowsize in the answer: one ACK a block.
                EXPECT_EQ(relay.FirstText(tftp::kOack).find("windowsize"), std::string::npos);
                const Toward toReceiver = sending ? Toward::Server : Toward::Client;
                const Toward toSender = sending ? Toward::Client : Toward::Server;
                EXPECT_GE(relay.Count(toSender, tftp::kAck), relay.Count(toReceiver, tftp::kData));
            }
        }
    }
}

}  // namespace
