// A client's transfer session against a server's, over an in-memory network
// with time that moves only while it is quiet: one table of exchanges in
// both directions, with the options each side takes, a datagram lost,
// copied, replaced by an ERROR or preceded by a stranger's at a chosen
// position, and the block number running past 65535.
#include "common/tftp_packet.h"
#include "common/transfer_session.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

using tftp::SessionEnd;
using tftp::SessionRole;
using tftp::TransferSession;

platform::PeerAddress Loopback(std::uint16_t port) { return {0x0100007Fu, port}; }
const platform::PeerAddress kClient = Loopback(40000);
const platform::PeerAddress kListener = Loopback(69);
const platform::PeerAddress kServer = Loopback(50000);
const platform::PeerAddress kStranger = Loopback(60000);

struct Datagram {
    platform::PeerAddress from, to;
    std::string bytes;
    std::uint16_t Opcode() const { return tftp::GetU16(reinterpret_cast<const std::uint8_t*>(bytes.data())); }
};

// One side's socket: what it sends joins the network's queue.
class Link final : public tftp::SessionLink {
public:
    Link(platform::PeerAddress self, std::deque<Datagram>& net) : self_(self), net_(net) {}
    int Send(const std::uint8_t* data, int length, const platform::PeerAddress& to) override {
        net_.push_back({self_, to, std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length))});
        if (net_.back().Opcode() == tftp::kData) ++dataSent;
        return length;
    }
    bool SizeBuffers(int&, int&, bool) override { return true; }
    int dataSent = 0;

private:
    platform::PeerAddress self_;
    std::deque<Datagram>& net_;
};

enum class Fault { None, Drop, Duplicate, ErrorInstead, Stranger, StrangerError };

struct Row {
    const char* name;
    bool fetch;      // the client reads (the server sends); else the client writes
    int size;        // bytes of the file
    int blksize = 512, window = 1, timeout = 0;  // what the client offers (0: no timeout)
    int maxWindow = 8;                           // the server's largest window
    Fault fault = Fault::None;
    bool fromClient = true;  // the fault hits the nth datagram the client sends, else the server's
    int nth = 0;
    // Expected
    SessionEnd client = SessionEnd::Finished;
    SessionEnd server = SessionEnd::Finished;  // Running: no server session was made
    int blockSize = 512, agreedWindow = 1;
    int extraData = 0;  // DATA sent beyond one per block
};

struct Exchange {
    std::deque<Datagram> net;
    Link clientLink{kClient, net}, serverLink{kServer, net};
    std::unique_ptr<TransferSession> client, server;
    std::vector<Datagram> toStranger;
    int dataSent = 0;
    std::int64_t receiverDoneMs = -1;
    std::string in, out;
};

// Plays the row: the client's request, the server made for it as a server
// program makes it, then every datagram in order, time moving only when none
// is queued.
void Play(const Row& row, const tests::TempDir& dir, Exchange& run) {
    std::deque<Datagram>& net = run.net;
    Link& clientLink = run.clientLink;
    Link& serverLink = run.serverLink;
    run.in = tests::PatternBytes(static_cast<std::size_t>(row.size));
    tests::WriteFile(dir.File("source"), run.in);
    std::int64_t now = 0;

    run.client = std::make_unique<TransferSession>(row.fetch ? SessionRole::ClientRead : SessionRole::ClientWrite,
                                                   clientLink);
    if (row.fetch) EXPECT_TRUE(run.client->Writer().Create(dir.File("target"), false));
    else EXPECT_TRUE(run.client->Reader().Open(dir.File("source"), false));
    tftp::RequestOffer offer;
    offer.blockSize = static_cast<std::uint32_t>(row.blksize);
    offer.window = static_cast<std::uint32_t>(row.window);
    offer.offerTimeout = row.timeout > 0;
    offer.timeoutSecs = static_cast<std::uint32_t>(row.timeout);
    run.client->SetRequest(row.fetch ? tftp::kRrq : tftp::kWrq, "file", "octet", offer);
    run.client->AddressRequest(kListener);
    run.client->SendRequest(now, false);

    int sentBy[2] = {0, 0};  // datagrams of the client, of the server
    for (int step = 0; step < 3'000'000 && now < 120'000; ++step) {
        if (net.empty()) {
            const bool clientDone = !run.client->Running();
            const bool serverDone = !run.server || !run.server->Running();
            if (clientDone && serverDone) break;
            now += 10;
            run.client->Tick(now);
            if (run.server) run.server->Tick(now);
            continue;
        }
        Datagram d = net.front();
        net.pop_front();
        const bool byClient = d.from == kClient;
        TransferSession* origin = byClient ? run.client.get() : run.server.get();
        if (d.to == kStranger) {
            run.toStranger.push_back(d);
            continue;
        }
        const int nth = ++sentBy[byClient ? 0 : 1];
        if (row.fault != Fault::None && row.fromClient == byClient && row.nth == nth) {
            switch (row.fault) {
            case Fault::Drop:
                continue;
            case Fault::Duplicate:
                net.push_front(d);
                break;
            case Fault::ErrorInstead:
                origin->Fail(tftp::kErrUndefined, "stopped");
                continue;
            case Fault::Stranger:
            case Fault::StrangerError: {
                Datagram s = d;
                s.from = kStranger;
                if (row.fault == Fault::StrangerError)
                    s.bytes = std::string("\0\5\0\0nope\0", 9);
                net.push_front(d);
                net.push_front(s);
                continue;
            }
            case Fault::None:
                break;
            }
        }
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(d.bytes.data());
        const int length = static_cast<int>(d.bytes.size());
        if (d.to == kListener) {
            // The listener makes one transfer for the first request; the
            // rest of what reaches its port is not the transfer's.
            const tftp::Request request = tftp::ParseRequest(bytes, d.bytes.size());
            if (run.server || (request.opcode != tftp::kRrq && request.opcode != tftp::kWrq)) continue;
            run.server = std::make_unique<TransferSession>(
                row.fetch ? SessionRole::ServerRead : SessionRole::ServerWrite, serverLink);
            run.server->SetPeer(d.from);
            tftp::ServerOptionRules rules;
            rules.readRequest = row.fetch;
            rules.allowWindow = true;
            rules.maxWindow = row.maxWindow;
            if (!run.server->AcceptOptions(request.options, rules)) continue;
            if (row.fetch) {
                EXPECT_TRUE(run.server->Reader().Open(dir.File("source"), false));
                run.server->AnswerRead(run.server->Reader().Size(), now);
            } else {
                EXPECT_TRUE(run.server->Writer().Create(dir.File("target"), false));
                run.server->AnswerWrite(now);
            }
            continue;
        }
        TransferSession* target = d.to == kClient ? run.client.get() : run.server.get();
        if (!target) continue;
        const bool wasRunning = target->Running();
        target->OnDatagram(d.from, bytes, length, now);
        const bool receiving = (target == run.client.get()) == row.fetch;
        if (receiving && wasRunning && target->Result().end == SessionEnd::Finished) run.receiverDoneMs = now;
    }
    run.out = tests::ReadFile(dir.File("target"));
    run.dataSent = run.clientLink.dataSent + run.serverLink.dataSent;
}

TEST(TransferSession, ExchangesEndAsEachSideExpects) {
    const int blocks3 = 3 * 512 + 7;  // DATA 1 to 4
    const Row rows[] = {
        // Options: what the client offers, what the server takes.
        {"fetch, lock-step, tsize only", true, blocks3},
        {"send, no options at all", false, blocks3},
        {"fetch, blksize, window and timeout", true, 40'000, 1024, 4, 3, 8,
         Fault::None, true, 0, SessionEnd::Finished, SessionEnd::Finished, 1024, 4},
        {"send, a window above the server's largest", false, 40'000, 512, 16, 0, 8,
         Fault::None, true, 0, SessionEnd::Finished, SessionEnd::Finished, 512, 8},
        {"fetch, a window the server does not take", true, blocks3, 512, 4, 0, 1,
         Fault::None, true, 0, SessionEnd::Finished, SessionEnd::Finished, 512, 1},
        {"fetch, an empty file", true, 0},
        {"send, a file of whole blocks ends with an empty one", false, 4 * 512},
        {"fetch, a block size no exchange can use", true, blocks3, 7, 1, 0, 8,
         Fault::None, true, 0, SessionEnd::PeerOptionFailure, SessionEnd::OptionsUnusable, 7},
        // Loss and duplication at each step of the handshake and the blocks.
        {"fetch, request lost", true, blocks3, 512, 1, 0, 8, Fault::Drop, true, 1},
        {"fetch, OACK lost", true, blocks3, 512, 1, 0, 8, Fault::Drop, false, 1},
        {"fetch, ACK 0 lost", true, blocks3, 512, 1, 0, 8, Fault::Drop, true, 2},
        {"fetch, a middle DATA lost", true, blocks3, 512, 1, 0, 8, Fault::Drop, false, 3,
         SessionEnd::Finished, SessionEnd::Finished, 512, 1, 1},
        {"fetch, the last ACK lost: the lingering client answers again", true, blocks3, 512, 1, 0, 8,
         Fault::Drop, true, 6, SessionEnd::Finished, SessionEnd::Finished, 512, 1, 1},
        {"fetch, OACK duplicated", true, blocks3, 512, 1, 0, 8, Fault::Duplicate, false, 1},
        {"fetch, a DATA duplicated", true, blocks3, 512, 1, 0, 8, Fault::Duplicate, false, 3},
        {"send, request lost", false, blocks3, 1024, 1, 0, 8, Fault::Drop, true, 1,
         SessionEnd::Finished, SessionEnd::Finished, 1024},
        {"send, the first DATA lost", false, blocks3, 512, 1, 0, 8, Fault::Drop, true, 2,
         SessionEnd::Finished, SessionEnd::Finished, 512, 1, 1},
        {"send, ACK 0 duplicated", false, blocks3, 512, 1, 0, 8, Fault::Duplicate, false, 1},
        {"send, a middle ACK duplicated", false, blocks3, 512, 1, 0, 8, Fault::Duplicate, false, 3},
        {"send, the last ACK lost: the lingering server answers again", false, blocks3, 512, 1, 0, 8,
         Fault::Drop, false, 5, SessionEnd::Finished, SessionEnd::Finished, 512, 1, 1},
        {"send, a window's block lost", false, 40'000, 512, 8, 0, 8, Fault::Drop, true, 5,
         SessionEnd::Finished, SessionEnd::Finished, 512, 8, 8},
        // An ERROR at each step ends both sides, and is never answered.
        {"fetch, ERROR instead of the OACK", true, blocks3, 512, 1, 0, 8, Fault::ErrorInstead, false, 1,
         SessionEnd::PeerError, SessionEnd::Refused},
        {"fetch, ERROR instead of ACK 0", true, blocks3, 512, 1, 0, 8, Fault::ErrorInstead, true, 2,
         SessionEnd::Refused, SessionEnd::PeerError},
        {"fetch, ERROR instead of a middle DATA", true, blocks3, 512, 1, 0, 8, Fault::ErrorInstead, false, 3,
         SessionEnd::PeerError, SessionEnd::Refused},
        {"send, ERROR instead of ACK 0", false, blocks3, 512, 1, 0, 8, Fault::ErrorInstead, false, 1,
         SessionEnd::PeerError, SessionEnd::Refused},
        {"send, ERROR instead of a middle DATA", false, blocks3, 512, 1, 0, 8, Fault::ErrorInstead, true, 3,
         SessionEnd::Refused, SessionEnd::PeerError},
        {"send, ERROR instead of the ACK before the last", false, blocks3, 512, 1, 0, 8, Fault::ErrorInstead, false, 4,
         SessionEnd::PeerError, SessionEnd::Refused},
        // A stranger is told "Unknown transfer ID" and changes nothing; its
        // ERROR is not answered.
        {"fetch, a stranger's ACK", true, blocks3, 512, 1, 0, 8, Fault::Stranger, true, 3},
        {"fetch, a stranger's DATA", true, blocks3, 512, 1, 0, 8, Fault::Stranger, false, 2},
        {"send, a stranger's ERROR", false, blocks3, 512, 1, 0, 8, Fault::StrangerError, true, 2},
        // The block number wraps after 65535 in both directions.
        {"fetch, block numbers wrap", true, 8 * 65'540 + 3, 8, 1, 0, 8,
         Fault::None, true, 0, SessionEnd::Finished, SessionEnd::Finished, 8},
        {"send with a window, block numbers wrap", false, 8 * 65'540 + 3, 8, 4, 0, 8,
         Fault::Drop, true, 65'539, SessionEnd::Finished, SessionEnd::Finished, 8, 4, 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        tests::TempDir dir;
        Exchange run;
        Play(row, dir, run);
        EXPECT_EQ(run.client->Result().end, row.client);
        ASSERT_EQ(run.server != nullptr, row.server != SessionEnd::Running);
        if (run.server) {
            EXPECT_EQ(run.server->Result().end, row.server);
        }
        if (row.client == SessionEnd::Finished) {
            EXPECT_TRUE(run.out == run.in) << "the file arrived changed";
            EXPECT_EQ(run.client->BlockSize(), row.blockSize);
            EXPECT_EQ(run.server->BlockSize(), row.blockSize);
            EXPECT_EQ(run.client->Window(), row.agreedWindow);
            EXPECT_EQ(run.server->Window(), row.agreedWindow);
            const int blocks = row.size / row.blockSize + 1;
            EXPECT_LE(run.dataSent, blocks + row.extraData);
            EXPECT_GE(run.dataSent, blocks);
        }
        // The ERROR one side sent is what the other reports.
        if (row.client == SessionEnd::PeerError) {
            EXPECT_EQ(run.client->Result().text, "stopped");
        }
        if (row.server == SessionEnd::PeerError) {
            EXPECT_EQ(run.server->Result().text, "stopped");
        }
        if (row.fault == Fault::Stranger) {
            ASSERT_EQ(run.toStranger.size(), 1u);
            EXPECT_EQ(run.toStranger[0].bytes, std::string("\0\5\0\5Unknown transfer ID\0", 24));
        } else {
            EXPECT_TRUE(run.toStranger.empty());
        }
    }
}

TEST(TransferSession, TheReceiverLingersForTheSendersRetryTimeAndAMargin) {
    for (const bool fetch : {true, false}) {
        for (const int timeout : {0, 3, 9}) {
            SCOPED_TRACE(std::string(fetch ? "fetch" : "send") + ", timeout " + std::to_string(timeout));
            tests::TempDir dir;
            Row row{"linger", fetch, 700};
            row.timeout = timeout;
            Exchange run;
            Play(row, dir, run);
            TransferSession& receiver = fetch ? *run.client : *run.server;
            TransferSession& sender = fetch ? *run.server : *run.client;
            ASSERT_EQ(receiver.Result().end, SessionEnd::Finished);
            EXPECT_FALSE(sender.Lingering()) << "the sender heard the last ACK";
            const std::int64_t lingerMs = TransferSession::LingerMs(timeout);
            EXPECT_EQ(lingerMs, (timeout > 5 ? timeout : 5) * 1000 + 1000);
            EXPECT_EQ(receiver.LingerUntilMs(), run.receiverDoneMs + lingerMs);
            // Within the linger a repeat of the last block draws the last ACK
            // again, from the sender only; after it, nothing.
            const std::string last = std::string("\0\3\0\2", 4) + run.in.substr(512);
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(last.data());
            const int length = static_cast<int>(last.size());
            const platform::PeerAddress from = fetch ? kServer : kClient;
            run.net.clear();
            receiver.OnDatagram(kStranger, bytes, length, receiver.LingerUntilMs() - 1);
            EXPECT_TRUE(run.net.empty()) << "only the sender is answered";
            receiver.OnDatagram(from, bytes, length, receiver.LingerUntilMs() - 1);
            ASSERT_EQ(run.net.size(), 1u);
            EXPECT_EQ(run.net.front().bytes, std::string("\0\4\0\2", 4));
            EXPECT_EQ(run.net.front().to, from);
            run.net.clear();
            receiver.Tick(receiver.LingerUntilMs());
            EXPECT_FALSE(receiver.Lingering());
            receiver.OnDatagram(from, bytes, length, run.receiverDoneMs + lingerMs + 1);
            EXPECT_TRUE(run.net.empty()) << "the linger is over";
        }
    }
}

}  // namespace
