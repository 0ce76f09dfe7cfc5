// The real peers through the impairment relay, in a network namespace of the
// test's own: Vantrel's engine serving tftp-hpa, atftp, curl and busybox, and
// Skerry's engine against tftpd-hpa and atftpd, each transfer losing its
// first answer, a DATA and an ACK and getting a DATA twice. Every file is
// compared byte for byte. The engines' clocks follow real time here, moved
// by the same timer that does what the programs' idle processing does.
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
        }
    }
}

TEST_F(Peers, SkerryFetchesAndSendsThroughLostAndDoubledDatagrams) {
    tests::TempDir root, atRoot;
    tests::OpenToEveryone(root.Path());
    tests::OpenToEveryone(atRoot.Path());
    auto hpa = tests::PeerServer::TftpdHpa(root.Path(), kHpaPort);
    ASSERT_TRUE(hpa && hpa->Running()) << "tftpd-hpa (in.tftpd) did not start";
    auto atftpd = tests::PeerServer::Atftpd(atRoot.Path(), kAtftpdPort);
    ASSERT_TRUE(atftpd) << "atftpd not found at " << tests::PeerServer::AtftpdPath()
                        << ": scripts/setup.sh unpacks it";
    struct Server { const char* name; int port; const tests::TempDir& root; };
    for (const Server& s : {Server{"tftpd-hpa", kHpaPort, root}, Server{"atftpd", kAtftpdPort, atRoot}}) {
        for (bool sending : {false, true}) {
            SCOPED_TRACE(std::string(s.name) + (sending ? " send" : " fetch"));
            const std::string name = std::string(sending ? "up-" : "down-") + s.name + ".bin";
            ClientSettings settings;
            tests::TempDir local;
            settings.inboundPath = local.Path() + "/";
            settings.outboundPath = local.Path() + "/";
            settings.overwrite = 1;
            if (sending) {
                tests::WriteFile(local.File(name), kContent);
            } else {
                tests::WriteFile(s.root.File(name), kContent);
                ::chmod(s.root.File(name).c_str(), 0644);
            }
            tests::ImpairmentRelay relay("127.0.0.1", platform::PeerAddress{platform::InetAddr("127.0.0.1"),
                                                                            static_cast<std::uint16_t>(s.port)});
            ASSERT_TRUE(relay.ok());
            // A fetch always offers tsize: its first answer is an OACK.
            Impair(relay, !sending, !sending);
            platform::ManualClock clock;
            platform::ScriptedPromptService prompts;
            tftp::FixedAddressProvider addresses{"skerry", {"127.0.0.1"}};
            tests::StatusLog status;
            ClientContext context{settings, clock, prompts, addresses, status};
            CTransferSocket t(context);
            t.sending = sending ? 1 : 0;
            t.timeoutSecs = 10;
            ASSERT_EQ(t.OpenLocalPort(), 1);
            const auto port = relay.Front().port;
            ASSERT_EQ(sending ? t.StartSend(name, name, "127.0.0.1", port, 1, {})
                              : t.StartFetch(name, name, "127.0.0.1", port, 1), 1);
            Ticker ticker(clock, [&] { t.CheckTimeout(); }, nullptr);
            ASSERT_TRUE(tests::RunUntil([&] { return t.busy == 0; }, 60000)) << status.Last() << Trace(relay);
            EXPECT_TRUE(tests::RunUntil([&] {
                return tests::ReadFile(sending ? s.root.File(name) : local.File(name)) == kContent;
            }, 5000)) << status.Last();
            EXPECT_GE(t.Retransmissions(), 1) << "Skerry had to send something again";
        }
    }
}

}  // namespace
