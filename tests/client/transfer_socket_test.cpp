// The client's transfer engine against a hand-driven server on loopback: the
// requests it builds, the fetch and send paths, options, abort, time-out,
// transfer IDs and the socket-buffer rule.
#include "client/engine/host_candidates.h"
#include "client/engine/transfer_messages.h"
#include "client/engine/transfer_socket.h"
#include "common/tftp_packet.h"
#include "platform/clock.h"
#include "platform/scripted_prompt_service.h"
#include "tests/client/client_test_support.h"
#include "tests/support/event_loop.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <chrono>
#include <memory>
#include <thread>

#include <sys/socket.h>

using platform::PeerAddress;
using tests::Bytes;
using tests::FakePeer;

namespace {

// A socket that grants at most `grant` bytes of buffer, or refuses outright.
class StingySocket : public CTransferSocket {
public:
    StingySocket(ClientContext& app, int grant, bool refuse = false)
        : CTransferSocket(app), grant_(grant), refuse_(refuse) {}
    int asked = 0;  // the size last asked for

protected:
    bool SetSocketBuffer(int, int size, int& readBack) override {
        asked = size;
        if (refuse_) return false;
        readBack = 2 * std::min(size, grant_);  // Linux reports double the grant
        return true;
    }

private:
    int grant_;
    bool refuse_;
};

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings.inboundPath = dir.Path() + "/";
        settings.outboundPath = dir.Path() + "/";
    }

    template <typename T = CTransferSocket, typename... Args>
    std::unique_ptr<T> NewTransfer(int blockSize, int sending, Args... args) {
        auto t = std::make_unique<T>(app, args...);
        t->owner = log.Owner();
        t->blockSize = blockSize;
        t->sending = sending;
        t->timeoutSecs = 10;
        t->onFailure = [this](const TransferFailure& f) { reported.push_back(f.what); };
        // Every report as it happens: the tests look at each one.
        t->SetReportEveryMs(0);
        EXPECT_EQ(t->OpenLocalPort("127.0.0.1"), 1);
        current_ = t.get();
        return t;
    }

    int Fetch(CTransferSocket& t, const std::string& name = "a.txt", int binary = 1) {
        return t.StartFetch(name, name, "127.0.0.1", server.Port(), binary);
    }
    int Send(CTransferSocket& t, const std::string& name = "a.txt", int binary = 1) {
        return t.StartSend(name, name, "127.0.0.1", server.Port(), binary, {});
    }
    // The request, and the client's address it came from.
    tests::SentRequest TakeRequest() {
        Bytes p;
        EXPECT_TRUE(server.Receive(p, client));
        lastRequest = p;
        return tests::ParseSentRequest(p);
    }
    // The next packet at the server's transfer port.
    Bytes Next() {
        Bytes p;
        EXPECT_TRUE(port.Receive(p));
        if (current_) Settle(*current_);
        return p;
    }
    // Waits until the transfer's thread has acted on what reached it, and
    // hands the view what it posted meanwhile.
    static void Settle(const CTransferSocket& t) {
        tests::RunUntil(
            [&] {
                const auto hold = t.Hold();
                return t.busy != 1 || !t.HasInput();
            },
            2000);
        QCoreApplication::sendPostedEvents();
    }
    static int BusyOf(const CTransferSocket& t) {
        Settle(t);
        const auto hold = t.Hold();
        return t.busy;
    }
    static void Check(CTransferSocket& t) {
        const auto hold = t.Hold();
        t.CheckTimeout();
    }
    static void AbortOf(CTransferSocket& t, int code) {
        const auto hold = t.Hold();
        t.Abort(code);
    }
    std::string LastStatus() {
        if (current_) Settle(*current_);
        return status.Last();
    }
    const std::vector<std::string>& Texts() {
        if (current_) Settle(*current_);
        return status.texts;
    }
    std::vector<tests::PostedMessage> Messages(int which) {
        tests::RunFor(20);
        std::vector<tests::PostedMessage> out;
        for (const auto& m : log.messages)
            if (m.message == which) out.push_back(m);
        return out;
    }

    ClientSettings settings;
    platform::ManualClock clock;
    tftp::FixedAddressProvider addresses{"skerry", {"127.0.0.1"}};
    tests::StatusLog status;
    // The tests move the clock and call CheckTimeout themselves.
    ClientContext app{settings, clock, addresses, status, false};
    // Failures the transfers told of after a datagram's handling.
    std::vector<TransferFailure::What> reported;
    tests::MessageLog log;
    tests::TempDir dir;
    FakePeer server;  // the server's well-known port: requests arrive here
    FakePeer port;    // the server's port for this transfer: it answers from here
    PeerAddress client;
    Bytes lastRequest;
    const CTransferSocket* current_ = nullptr;  // the last one made
};

// ---- requests -------------------------------------------------------------------

TEST_F(TransferTest, ReadRequestCarriesTsizeAndTimeoutInThirtyTwoBytes) {
    auto t = NewTransfer(512, 0);
    t->offerTimeout = 1;
    t->timeoutSecs = 5;
    ASSERT_EQ(Fetch(*t), 1);
    TakeRequest();
    const std::string expected("\0\1a.txt\0octet\0tsize\0" "0\0timeout\0" "5\0", 32);
    EXPECT_EQ(tests::AsText(lastRequest), expected);
    EXPECT_EQ(LastStatus(), "Requesting file from server ...");
}

TEST_F(TransferTest, WriteRequestNeverCarriesTsizeAndOffersAnyBlockSizeButFiveTwelve) {
    tests::WriteFile(dir.File("a.txt"), "hello");
    auto t = NewTransfer(1428, 1);
    ASSERT_EQ(Send(*t, "a.txt", 0), 1);
    const auto r = TakeRequest();
    EXPECT_EQ(r.opcode, tftp::kWrq);
    EXPECT_EQ(r.mode, "netascii");
    ASSERT_EQ(r.options.size(), 1u);
    EXPECT_EQ(r.options[0], (std::pair<std::string, std::string>{"blksize", "1428"}));
    EXPECT_EQ(LastStatus(), "Offering file to server ...");
    auto start = Messages(WM_TRANSFER_PROGRESS);
    ASSERT_EQ(start.size(), 1u);
    EXPECT_EQ(start[0].wParam, 0);
    EXPECT_EQ(start[0].lParam, 5);
}

// The user's cap holds for fetches and sends alike: a larger block size is
// offered as the cap, a smaller one as it is, 512 (at or under the cap) not
// at all.
TEST_F(TransferTest, NoBlockSizeAboveTheCapIsOffered) {
    tests::WriteFile(dir.File("a.txt"), "hello");
    struct Case { int sending; int blockSize; int cap; const char* offered; };  // nullptr: none
    const Case cases[] = {
        {0, 8192, 1024, "1024"}, {1, 8192, 1024, "1024"}, {0, 1000, 1024, "1000"},
        {1, 65464, 0, "65464"},  {0, 512, 1024, nullptr},  {1, 1428, 512, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << (c.sending ? "send " : "fetch ") << c.blockSize << " under " << c.cap);
        settings.maxBlockSize = c.cap;
        auto t = NewTransfer(c.blockSize, c.sending);
        ASSERT_EQ(c.sending ? Send(*t) : Fetch(*t), 1);
        const auto r = TakeRequest();
        std::string offered;
        for (const auto& [name, value] : r.options)
            if (name == "blksize") offered = value;
        EXPECT_EQ(offered, c.offered ? c.offered : "");
        AbortOf(*t, -1);
    }
}

TEST_F(TransferTest, LongNameWithTheSmallestBlockGoesOutWhole) {
    const std::string name(500, 'n');
    auto t = NewTransfer(64, 0);
    ASSERT_EQ(t->StartFetch(name, "a.txt", "127.0.0.1", server.Port(), 1), 1);
    const auto r = TakeRequest();
    EXPECT_EQ(r.name, name);
    EXPECT_EQ(r.options.back(), (std::pair<std::string, std::string>{"blksize", "64"}));
}

// ---- fetch ----------------------------------------------------------------------

TEST_F(TransferTest, FetchFromAServerIgnoringOptionsCompletesWithoutProgress) {
    auto t = NewTransfer(512, 0);
    ASSERT_EQ(Fetch(*t), 1);
    TakeRequest();
    const std::string body = tests::PatternBytes(100);
    port.Send(tests::Data(1, body), client);
    const Bytes ack = Next();
    EXPECT_EQ(tests::Opcode(ack), tftp::kAck);
    EXPECT_EQ(tests::Block(ack), 1);
    EXPECT_EQ(BusyOf(*t), 0);
    EXPECT_EQ(tests::ReadFile(dir.File("a.txt")), body);
    ASSERT_GE(Texts().size(), 2u);
    EXPECT_EQ(Texts()[Texts().size() - 2], "Received 100 bytes (1 blocks)");
    EXPECT_EQ(LastStatus(), "Received 100 bytes (1 blocks) - Done");
    EXPECT_TRUE(Messages(WM_TRANSFER_PROGRESS).empty());
    EXPECT_FALSE(t->FileOpen());
}

TEST_F(TransferTest, FetchAskingMoreThanFiveTwelveFromAnOptionlessServerFallsBackToFiveTwelve) {
    auto t = NewTransfer(1024, 0);
    ASSERT_EQ(Fetch(*t), 1);
    TakeRequest();
    const std::string body = tests::PatternBytes(522);
    port.Send(tests::Data(1, body.substr(0, 512)), client);
    EXPECT_EQ(tests::Block(Next()), 1);
    EXPECT_EQ(BusyOf(*t), 1) << "a full 512-byte block is not the last one";
    EXPECT_EQ(t->blockSize, 512);
    port.Send(tests::Data(2, body.substr(512)), client);
    EXPECT_EQ(tests::Block(Next()), 2);
    EXPECT_EQ(BusyOf(*t), 0);
    EXPECT_EQ(tests::ReadFile(dir.File("a.txt")), body);
    auto shown = Messages(WM_TRANSFER_BLOCKSIZE);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].lParam, 512);
}

TEST_F(TransferTest, FetchAdoptsTheOackBlockSizeAndReportsProgressAgainstTsize) {
    auto t = NewTransfer(512, 0);
    ASSERT_EQ(Fetch(*t), 1);
    TakeRequest();
    port.Send(tests::Oack({{"tsize", "3000"}, {"timeout", "3"}, {"blksize", "1024"}}), client);
    const Bytes ack0 = Next();
    EXPECT_EQ(tests::Opcode(ack0), tftp::kAck);
    EXPECT_EQ(tests::Block(ack0), 0);
    EXPECT_EQ(t->blockSize, 1024);
    const std::string body = tests::PatternBytes(3000);
    port.Send(tests::Data(1, body.substr(0, 1024)), client);
    EXPECT_EQ(tests::Block(Next()), 1);
    port.Send(tests::Data(2, body.substr(1024, 1024)), client);
    EXPECT_EQ(tests::Block(Next()), 2);
    port.Send(tests::Data(3, body.substr(2048)), client);
    EXPECT_EQ(tests::Block(Next()), 3);
    EXPECT_EQ(BusyOf(*t), 0);
    EXPECT_EQ(tests::ReadFile(dir.File("a.txt")), body);
    auto progress = Messages(WM_TRANSFER_PROGRESS);
    ASSERT_EQ(progress.size(), 5u);
    EXPECT_EQ(progress[0].wParam, 0);
    EXPECT_EQ(progress[0].lParam, 3000);
    EXPECT_EQ(progress[1].wParam, 2);
    EXPECT_EQ(progress[1].lParam, 1024);
    EXPECT_EQ(progress[3].lParam, 3000);
    EXPECT_EQ(progress[4].wParam, kProgressDone);
    EXPECT_EQ(LastStatus(), "Received 3000 bytes (3 blocks) - Done");
}

TEST_F(TransferTest, RepeatedBlockIsWrittenOnceAndAcknowledgedOnce) {
    auto t = NewTransfer(512, 0);
    ASSERT_EQ(Fetch(*t), 1);
    TakeRequest();
    const std::string body = tests::PatternBytes(600);
    port.Send(tests::Data(1, body.substr(0, 512)), client);
    EXPECT_EQ(tests::Block(Next()), 1);
    port.Send(tests::Data(1, body.substr(0, 512)), client);
    EXPECT_TRUE(port.Silent(200)) << "the repeat is ignored";
    port.Send(tests::Data(2, body.substr(512)), client);
    EXPECT_EQ(tests::Block(Next()), 2);
    EXPECT_EQ(tests::ReadFile(dir.File("a.txt")), body);
    EXPECT_EQ(t->blocksReceived, 2);
}

TEST_F(TransferTest, FullBlockThatCannotBeWrittenIsAcknowledgedThenRefusedWithDiskFull) {
    // Full blocks are acknowledged and go to the file 64 KiB at a time; the
    // failed write still reaches the server as ERROR 3, before any later
    // ACK, and the user hears of it.
    auto t = NewTransfer(512, 0);
    ASSERT_EQ(Fetch(*t), 1);
    TakeRequest();
    tests::FileSizeLimit limit(300);
    ASSERT_TRUE(limit.Ok());
    Bytes e;
    for (int block = 1; block <= 200; ++block) {
        port.Send(tests::Data(static_cast<std::uint16_t>(block), tests::PatternBytes(512)), client);
        ASSERT_EQ(Next(), tests::Ack(static_cast<std::uint16_t>(block)));
        if (port.Receive(e, 20)) break;
        ASSERT_LE(block, 130) << "found once the first 64 KiB go to the file";
    }
    EXPECT_EQ(tests::Opcode(e), tftp::kError);
    EXPECT_EQ(tests::Block(e), 3);
    EXPECT_EQ(BusyOf(*t), 0);
    EXPECT_FALSE(t->FileOpen());
    EXPECT_TRUE(tests::RunUntil([&] { return !reported.empty(); }));
    EXPECT_EQ(reported, std::vector<TransferFailure::What>{TransferFailure::What::CannotWriteFile});
}

TEST_F(TransferTest, LastBlockThatCannotBeWrittenIsNeverAcknowledged) {
    // The ACK of the last block tells the server the file arrived whole.
    auto t = NewTransfer(512, 0);
    ASSERT_EQ(Fetch(*t), 1);
    TakeRequest();
    tests::FileSizeLimit limit(300);
    ASSERT_TRUE(limit.Ok());
    port.Send(tests::Data(1, tests::PatternBytes(400)), client);
    const Bytes e = Next();
    EXPECT_EQ(tests::Opcode(e), tftp::kError);
    EXPECT_EQ(tests::Block(e), 3);
    EXPECT_TRUE(port.Silent(200));
    EXPECT_EQ(BusyOf(*t), 0);
}

TEST_F(TransferTest, NetasciiFetchStoresEachLineEndAsOneCrLf) {
    auto t = NewTransfer(512, 0);
    ASSERT_EQ(Fetch(*t, "t.txt", 0), 1);
    EXPECT_EQ(TakeRequest().mode, "netascii");
    port.Send(tests::Data(1, "A\r\nB\nC"), client);
    Next();
    EXPECT_EQ(tests::ReadFile(dir.File("t.txt")), "A\r\nB\r\nC");
    EXPECT_EQ(t->bytesReceived, 7) << "counts the bytes on disk";
}

TEST_F(TransferTest, ProgressBeyondFourGibibytesKeepsItsSixtyFourBits) {
    auto t = NewTransfer(512, 0);
    ASSERT_EQ(Fetch(*t), 1);
    TakeRequest();
    port.Send(tests::Oack({{"tsize", "5000000000"}}), client);
    Next();
    EXPECT_EQ(t->total, 5000000000LL);
    auto progress = Messages(WM_TRANSFER_PROGRESS);
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0].lParam, 5000000000LL);
}

TEST_F(TransferTest, ServerErrorShowsItsTextCutToSixtyAndIsNotAnswered) {
    auto t = NewTransfer(512, 0);
    ASSERT_EQ(Fetch(*t), 1);
    TakeRequest();
    const std::string text = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN";  // 50
    port.Send(tests::Error(1, text), client);
    tests::RunUntil([&] { return BusyOf(*t) == 0; });
    EXPECT_EQ(LastStatus(), "Msg from Server > " + text.substr(0, 42));
    EXPECT_TRUE(port.Silent(200));
}

TEST_F(TransferTest, OptionFailureIsAnsweredWithErrorSeven) {
    tests::WriteFile(dir.File("a.txt"), "x");
    auto t = NewTransfer(1024, 1);
    ASSERT_EQ(Send(*t), 1);
    TakeRequest();
    port.Send(tests::OptionFailure(), client);
    const Bytes e = Next();
    EXPECT_EQ(tests::Opcode(e), tftp::kError);
    EXPECT_EQ(tests::Block(e), 7);
    EXPECT_EQ(tests::ErrorTextOf(e), "Option negotion failure");
    EXPECT_EQ(LastStatus(), "Option Failure");
    EXPECT_EQ(BusyOf(*t), 0);
}

TEST_F(TransferTest, UnexpectedOpcodeEndsTheTransferWithErrorFour) {
    auto t = NewTransfer(512, 0);
    ASSERT_EQ(Fetch(*t), 1);
    TakeRequest();
    port.Send(tests::Ack(1), client);
    const Bytes e = Next();
    EXPECT_EQ(tests::Block(e), 4);
    EXPECT_EQ(tests::ErrorTextOf(e), "Unknown TFTP Operation");
    EXPECT_EQ(LastStatus(), "Unknown TFTP command received 4");
}

TEST_F(TransferTest, OackBlockSizesNoPacketCanCarryAreRefusedWithErrorZero) {
    for (const char* size : {"0", "7", "65465", "4294967296"}) {
        auto t = NewTransfer(512, 0);
        ASSERT_EQ(Fetch(*t), 1);
        TakeRequest();
        port.Send(tests::Oack({{"blksize", size}}), client);
        const Bytes e = Next();
        EXPECT_EQ(tests::Opcode(e), tftp::kError) << size;
        EXPECT_EQ(tests::Block(e), 0) << size;
        EXPECT_EQ(BusyOf(*t), 0);
    }
}

TEST_F(TransferTest, AFetchKeepsAnExistingFileUntilTheFirstBlockComes) {
    // Whether it may be replaced is the view's question, asked before.
    tests::WriteFile(dir.File("a.txt"), "old bytes");
    auto t = NewTransfer(512, 0);
    t->timeoutSecs = 5;
    ASSERT_EQ(Fetch(*t), 1);
    EXPECT_EQ(BusyOf(*t), 1);
    TakeRequest();
    EXPECT_EQ(tests::ReadFile(dir.File("a.txt")), "old bytes");
    port.Send(tests::Data(1, "new"), client);
    EXPECT_EQ(Next(), tests::Ack(1));
    EXPECT_EQ(tests::ReadFile(dir.File("a.txt")), "new");
}

TEST_F(TransferTest, AWriteFailureReachesTheServerBeforeTheUserHearsOfIt) {
    auto u = NewTransfer(512, 0);
    ASSERT_EQ(Fetch(*u, "b.txt"), 1);
    TakeRequest();
    tests::FileSizeLimit limit(100);
    ASSERT_TRUE(limit.Ok());
    bool errorOnTheWire = false;
    u->onFailure = [&](const TransferFailure& f) {
        reported.push_back(f.what);
        Bytes p;
        errorOnTheWire = port.Receive(p, 2000) && tests::Opcode(p) == tftp::kError && tests::Block(p) == 3;
    };
    port.Send(tests::Data(1, tests::PatternBytes(300)), client);
    EXPECT_TRUE(tests::RunUntil([&] { return !reported.empty(); }));
    EXPECT_TRUE(errorOnTheWire);
    EXPECT_EQ(BusyOf(*u), 0);
}

TEST_F(TransferTest, ARefusalOfTheOptionsWithErrorEightIsAskedOnceMoreWithoutThem) {
    tests::WriteFile(dir.File("a.txt"), "keep");
    tests::WriteFile(dir.File("s.txt"), tests::PatternBytes(600));
    struct Case { int sending; int blockSize; };
    for (const Case& c : {Case{0, 512}, Case{1, 1024}}) {
        SCOPED_TRACE(c.sending ? "send" : "fetch");
        settings.overwrite = 1;
        auto t = NewTransfer(c.blockSize, c.sending);
        ASSERT_EQ(c.sending ? Send(*t, "s.txt", 0) : Fetch(*t, "a.txt", 0), 1);
        EXPECT_FALSE(TakeRequest().options.empty());
        port.Send(tests::Error(8, "Unsupported option(s) requested"), client);
        const tests::SentRequest plain = TakeRequest();
        EXPECT_TRUE(plain.options.empty());
        EXPECT_EQ(plain.mode, "netascii");
        EXPECT_EQ(t->blockSize, 512);
        EXPECT_EQ(LastStatus(), "Server refused the options : asking again without them");
        if (!c.sending) {
            EXPECT_EQ(tests::ReadFile(dir.File("a.txt")), "keep");
        }
        // Only once: a second refusal ends it.
        port.Send(tests::Error(8, "Unsupported option(s) requested"), client);
        EXPECT_TRUE(server.Silent(100));
        EXPECT_EQ(BusyOf(*t), 0);
        EXPECT_EQ(LastStatus(), "Msg from Server > Unsupported option(s) requested");
    }
}

TEST_F(TransferTest, EveryEndIsShownInTheStatusLine) {
    tests::WriteFile(dir.File("s.txt"), tests::PatternBytes(1000));
    struct Case { int sending; Bytes reply; std::string shown; };
    const Case cases[] = {
        {1, tests::OptionFailure(), "Option Failure"},
        {0, tests::OptionFailure(), "Option Failure"},
        {1, Bytes{0, 9, 0, 0}, "Unknown TFTP command received 9"},
        {0, Bytes{0, 9, 0, 0}, "Unknown TFTP command received 9"},
    };
    for (const Case& c : cases) {
        auto t = NewTransfer(512, c.sending);
        ASSERT_EQ(c.sending ? Send(*t, "s.txt") : Fetch(*t), 1);
        TakeRequest();
        port.Send(c.reply, client);
        Next();  // the ERROR that ends it
        EXPECT_EQ(BusyOf(*t), 0);
        EXPECT_EQ(LastStatus(), c.shown);
    }
    // A send that completes says so, with the bar full.
    auto t = NewTransfer(512, 1);
    ASSERT_EQ(Send(*t, "s.txt"), 1);
    TakeRequest();
    port.Send(tests::Ack(0), client);
    Next();
    port.Send(tests::Ack(1), client);
    Next();
    port.Send(tests::Ack(2), client);
    EXPECT_TRUE(tests::RunUntil([&] { return BusyOf(*t) == 0; }));
    EXPECT_EQ(LastStatus(), "Sent 1000 bytes (100%) - Done");
    EXPECT_EQ(Messages(WM_TRANSFER_PROGRESS).back().wParam, kProgressDone);
    EXPECT_EQ(Messages(WM_TRANSFER_PROGRESS).back().lParam, 1000);
}

TEST_F(TransferTest, LocalFileFailuresAreTold) {
    auto send = NewTransfer(512, 1);
    EXPECT_EQ(Send(*send, "missing.txt"), 0);
    auto fetch = NewTransfer(512, 0);
    settings.inboundPath = dir.Path() + "/no/such/folder/";
    EXPECT_EQ(Fetch(*fetch), 0);
    EXPECT_EQ(send->Failure().what, TransferFailure::What::CannotOpenFile);
    EXPECT_EQ(fetch->Failure().what, TransferFailure::What::CannotCreateFile);
    EXPECT_EQ(fetch->Failure().path, dir.Path() + "/no/such/folder/a.txt");
    EXPECT_EQ(BusyOf(*send) + BusyOf(*fetch), 0);
}

// ---- send -----------------------------------------------------------------------

TEST_F(TransferTest, SendOfAThousandBytesShowsTruncatedPercentages) {
    const std::string body = tests::PatternBytes(1000);
    tests::WriteFile(dir.File("a.txt"), body);
    auto t = NewTransfer(512, 1);
    ASSERT_EQ(Send(*t), 1);
    TakeRequest();
    port.Send(tests::Ack(0), client);
    const Bytes d1 = Next();
    EXPECT_EQ(tests::Block(d1), 1);
    EXPECT_EQ(tests::Payload(d1), body.substr(0, 512));
    EXPECT_EQ(LastStatus(), "Sent 512 bytes (51%)");
    port.Send(tests::Ack(1), client);
    const Bytes d2 = Next();
    EXPECT_EQ(tests::Payload(d2), body.substr(512));
    EXPECT_EQ(LastStatus(), "Sent 1000 bytes (100%)");
    EXPECT_EQ(BusyOf(*t), 1);
    port.Send(tests::Ack(2), client);
    tests::RunUntil([&] { return BusyOf(*t) == 0; });
    EXPECT_EQ(BusyOf(*t), 0);
    auto progress = Messages(WM_TRANSFER_PROGRESS);
    ASSERT_EQ(progress.size(), 4u);
    EXPECT_EQ(progress[1].wParam, 1);
    EXPECT_EQ(progress[1].lParam, 512);
    EXPECT_EQ(progress[2].lParam, 1000);
    EXPECT_EQ(progress[3].wParam, kProgressDone);
}

TEST_F(TransferTest, OackOnASendIsTakenAsAckZero) {
    const std::string body = tests::PatternBytes(1500);
    tests::WriteFile(dir.File("a.txt"), body);
    auto t = NewTransfer(1024, 1);
    ASSERT_EQ(Send(*t), 1);
    TakeRequest();
    port.Send(tests::Oack({{"blksize", "1024"}}), client);
    const Bytes d1 = Next();
    EXPECT_EQ(tests::Block(d1), 1);
    EXPECT_EQ(tests::Payload(d1).size(), 1024u);
    // A late copy of the OACK sends nothing.
    port.Send(tests::Oack({{"blksize", "2048"}}), client);
    EXPECT_TRUE(port.Silent(200));
    EXPECT_EQ(t->blockSize, 1024);
}

TEST_F(TransferTest, AWindowIsAskedForAndUsedAsFarAsTheServerAgreed) {
    const std::string body = tests::PatternBytes(5 * 512 + 10);
    tests::WriteFile(dir.File("a.txt"), body);
    using Options = std::vector<std::pair<std::string, std::string>>;
    // A send asks for 4; the server may agree to less, or to nothing.
    const struct {
        Options oack;
        int window;
    } answers[] = {{{{"windowsize", "2"}}, 2}, {{{"windowsize", "9"}}, 4}, {{{"blksize", "512"}}, 1}};
    for (const auto& answer : answers) {
        SCOPED_TRACE(answer.window);
        auto t = NewTransfer(512, 1);
        t->windowSize = 4;
        ASSERT_EQ(Send(*t), 1);
        EXPECT_EQ(TakeRequest().options, (Options{{"windowsize", "4"}}));
        port.Send(tests::Oack(answer.oack), client);
        for (int block = 1; block <= answer.window; ++block) EXPECT_EQ(tests::Block(Next()), block);
        EXPECT_TRUE(port.Silent(100));
        EXPECT_EQ(t->Window(), answer.window);
        AbortOf(*t, -1);
    }
    // A send of large blocks asks only for what a server's untouched
    // receive buffer holds (none at all when that is one block).
    const struct {
        int block, window;
        std::string asked;  // empty: no windowsize
    } sends[] = {{8192, 16, "11"}, {65464, 8, ""}, {1428, 64, "64"}};
    for (const auto& send : sends) {
        SCOPED_TRACE(send.block);
        auto t = NewTransfer(send.block, 1);
        t->windowSize = send.window;
        ASSERT_EQ(Send(*t), 1);
        std::string asked;
        for (const auto& [name, value] : TakeRequest().options)
            if (name == "windowsize") asked = value;
        EXPECT_EQ(asked, send.asked);
        AbortOf(*t, -1);
    }
    // A fetch acknowledges once per window.
    auto t = NewTransfer(512, 0);
    t->windowSize = 3;
    ASSERT_EQ(Fetch(*t, "b.txt"), 1);
    EXPECT_EQ(TakeRequest().options, (Options{{"tsize", "0"}, {"windowsize", "3"}}));
    port.Send(tests::Oack({{"windowsize", "3"}}), client);
    EXPECT_EQ(tests::Block(Next()), 0);
    for (int block = 1; block <= 6; ++block) {
        port.Send(tests::Data(static_cast<std::uint16_t>(block), body.substr(static_cast<std::size_t>(block - 1) * 512, 512)), client);
        if (block % 3 != 0 && block != 6) continue;
        EXPECT_EQ(tests::Block(Next()), block);
    }
    EXPECT_EQ(BusyOf(*t), 0);
    EXPECT_TRUE(tests::ReadFile(dir.File("b.txt")) == body);
}

// A window asked of a server that does not take it: one that answers the
// request without an OACK, or refuses the options with ERROR 8 and is asked
// again without them. Either way the transfer runs lock-step: one block in
// flight, each acknowledged.
TEST_F(TransferTest, AWindowAskedOfAServerThatDoesNotTakeItRunsLockStep) {
    const std::string body = tests::PatternBytes(2 * 512 + 10);
    tests::WriteFile(dir.File("s.txt"), body);
    const std::pair<std::string, std::string> window{"windowsize", "8"};
    const struct {
        const char* name;
        int sending;
        bool refuse;
    } cases[] = {{"fetch, no OACK", 0, false}, {"fetch, ERROR 8", 0, true},
                 {"send, no OACK", 1, false},  {"send, ERROR 8", 1, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        settings.overwrite = 1;
        std::filesystem::remove(dir.File("f.txt"));
        auto t = NewTransfer(512, c.sending);
        t->windowSize = 8;
        ASSERT_EQ(c.sending ? Send(*t, "s.txt") : Fetch(*t, "f.txt"), 1);
        const auto asked = TakeRequest().options;
        EXPECT_NE(std::find(asked.begin(), asked.end(), window), asked.end());
        if (c.refuse) {
            port.Send(tests::Error(8, "Unsupported option(s) requested"), client);
            EXPECT_TRUE(TakeRequest().options.empty());
        }
        for (std::uint16_t block = 1; block <= 3; ++block) {
            const std::string part = body.substr(static_cast<std::size_t>(block - 1) * 512, 512);
            if (c.sending) {
                port.Send(tests::Ack(static_cast<std::uint16_t>(block - 1)), client);
                const Bytes d = Next();
                EXPECT_EQ(tests::Block(d), block);
                EXPECT_EQ(tests::Payload(d), part);
                EXPECT_TRUE(port.Silent(60));  // nothing more before its ACK
            } else {
                port.Send(tests::Data(block, part), client);
                EXPECT_EQ(Next(), tests::Ack(block));
            }
            if (block == 1) {
                EXPECT_EQ(t->Window(), 1);  // while the transfer runs
            }
        }
        if (c.sending) port.Send(tests::Ack(3), client);
        EXPECT_TRUE(tests::RunUntil([&] { return t->busy == 0; }));
        EXPECT_EQ(t->Failure().what, TransferFailure::What::None);
        if (!c.sending) {
            EXPECT_TRUE(tests::ReadFile(dir.File("f.txt")) == body);
        }
    }
}

TEST_F(TransferTest, TheSmallestBlocksStillHearTheOackAndAServersErrorWhole) {
    auto t = NewTransfer(8, 0);
    ASSERT_EQ(Fetch(*t), 1);
    TakeRequest();
    // 25 bytes: far more than a block of 8 with its header.
    port.Send(tests::Oack({{"tsize", "524579"}, {"blksize", "8"}}), client);
    EXPECT_EQ(tests::Block(Next()), 0);
    // A DATA longer than the block agreed is still no block.
    port.Send(tests::Data(1, "nine byte"), client);
    EXPECT_TRUE(port.Silent(100));
    port.Send(tests::Error(1, "File not found"), client);
    tests::RunFor(50);
    EXPECT_EQ(BusyOf(*t), 0);
    EXPECT_EQ(LastStatus(), "Msg from Server > File not found");
}

TEST_F(TransferTest, EmptyFileIsOneEmptyDataBlock) {
    tests::WriteFile(dir.File("a.txt"), "");
    auto t = NewTransfer(512, 1);
    ASSERT_EQ(Send(*t), 1);
    TakeRequest();
    port.Send(tests::Ack(0), client);
    const Bytes d1 = Next();
    EXPECT_EQ(d1.size(), 4u);
    EXPECT_EQ(LastStatus(), "Sent 0 bytes");
    port.Send(tests::Ack(1), client);
    tests::RunUntil([&] { return BusyOf(*t) == 0; });
    EXPECT_EQ(BusyOf(*t), 0);
}

TEST_F(TransferTest, NetasciiSendPutsLfLineEndsOnTheWire) {
    tests::WriteFile(dir.File("t.txt"), "A\r\nB\r\n");
    auto t = NewTransfer(512, 1);
    ASSERT_EQ(Send(*t, "t.txt", 0), 1);
    TakeRequest();
    port.Send(tests::Ack(0), client);
    EXPECT_EQ(tests::Payload(Next()), "A\nB\n");
    EXPECT_EQ(t->total, 6) << "the size on disk";
}

// ---- abort and time-out ---------------------------------------------------------

TEST_F(TransferTest, UserAbortSendsErrorEightAndLeavesNoPartialFile) {
    auto t = NewTransfer(512, 0);
    ASSERT_EQ(Fetch(*t), 1);
    TakeRequest();
    const std::string body = tests::PatternBytes(512);
    port.Send(tests::Data(1, body), client);
    Next();
    AbortOf(*t, tftp::kErrTransferAborted);
    const Bytes e = Next();
    EXPECT_EQ(tests::Opcode(e), tftp::kError);
    EXPECT_EQ(tests::Block(e), 8);
    EXPECT_EQ(tests::ErrorTextOf(e), "Transfer Aborted");
    EXPECT_EQ(e.size(), std::string("Transfer Aborted").size() + 5);
    // Half a file would pass for the whole one.
    EXPECT_FALSE(tests::FileExists(dir.File("a.txt")));
    EXPECT_FALSE(t->FileOpen());
    EXPECT_FALSE(t->Completed());
}

TEST_F(TransferTest, AFailedFetchLeavesNoFileAndAnExistingOneUntouched) {
    // The blocks go into a hidden file beside the target, which takes the
    // target's name only once the last block is in.
    settings.overwrite = 1;
    const std::string body = tests::PatternBytes(512);
    struct Case {
        const char* name;
        bool existing;
        bool blockFirst;  // one block arrives before the end
        int end;          // 0 server ERROR, 1 time-out, 2 user abort, 3 the last block
    };
    const std::vector<Case> cases = {
        {"error at once, no file", false, false, 0},  {"error at once, a file", true, false, 0},
        {"error later, no file", false, true, 0},     {"error later, a file", true, true, 0},
        {"time-out, no file", false, true, 1},        {"time-out, a file", true, true, 1},
        {"abort, a file", true, true, 2},             {"whole, a file", true, true, 3},
        {"whole, no file", false, false, 3},
    };
    const auto entries = [&] {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.Path())) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir.File("a.txt"));
        if (c.existing) tests::WriteFile(dir.File("a.txt"), "keep me");
        auto t = NewTransfer(512, 0);
        ASSERT_EQ(Fetch(*t), 1);
        TakeRequest();
        if (c.blockFirst) {
            port.Send(tests::Data(1, body), client);
            EXPECT_EQ(Next(), tests::Ack(1));
        }
        switch (c.end) {
        case 0: port.Send(tests::Error(1, "File not found"), client); break;
        case 1:
            clock.Advance(11);
            Check(*t);
            break;
        case 2: AbortOf(*t, tftp::kErrTransferAborted); break;
        default: port.Send(tests::Data(c.blockFirst ? 2 : 1, "end"), client); break;
        }
        tests::RunUntil([&] { return BusyOf(*t) == 0; });
        EXPECT_FALSE(t->FileOpen());
        if (c.end == 3) {
            EXPECT_TRUE(t->Completed());
            EXPECT_EQ(tests::ReadFile(dir.File("a.txt")), (c.blockFirst ? body : std::string()) + "end");
        } else {
            EXPECT_FALSE(t->Completed());
            EXPECT_EQ(t->ServerMessage(), c.end == 0 ? "File not found" : "");
            if (c.existing) {
                EXPECT_EQ(tests::ReadFile(dir.File("a.txt")), "keep me");
            } else {
                EXPECT_FALSE(tests::FileExists(dir.File("a.txt")));
            }
        }
        // Nothing else left behind: no hidden part of the file.
        EXPECT_EQ(entries(), (c.existing || c.end == 3 ? std::vector<std::string>{"a.txt"} : std::vector<std::string>{}));
        t.reset();
        for (int i = 0; i < 20 && !port.Silent(30); ++i) {
        }
    }
}

TEST_F(TransferTest, ASendAfterAnAbortedSendStartsFromItsOwnFirstBlock) {
    // The aborted send had read its second block ahead; none of it may
    // leak into the next send from the same window.
    const std::string first = tests::PatternBytes(1500, 1);
    const std::string second = tests::PatternBytes(700, 2);
    tests::WriteFile(dir.File("one.bin"), first);
    tests::WriteFile(dir.File("two.bin"), second);
    auto t = NewTransfer(512, 1);
    ASSERT_EQ(Send(*t, "one.bin"), 1);
    TakeRequest();
    port.Send(tests::Ack(0), client);
    EXPECT_EQ(Next(), tests::Data(1, first.substr(0, 512)));
    AbortOf(*t, tftp::kErrTransferAborted);
    EXPECT_EQ(tests::Block(Next()), 8);

    ASSERT_EQ(Send(*t, "two.bin"), 1);
    TakeRequest();
    port.Send(tests::Ack(0), client);
    EXPECT_EQ(Next(), tests::Data(1, second.substr(0, 512)));
    port.Send(tests::Ack(1), client);
    EXPECT_EQ(Next(), tests::Data(2, second.substr(512)));
}

TEST_F(TransferTest, AbortBeforeAnyReplyGoesToTheRequestsHostAndPort) {
    auto t = NewTransfer(512, 0);
    ASSERT_EQ(Fetch(*t), 1);
    TakeRequest();
    AbortOf(*t, tftp::kErrTransferAborted);
    Bytes e;
    ASSERT_TRUE(server.Receive(e));
    EXPECT_EQ(tests::Block(e), 8);
    AbortOf(*t, tftp::kErrTransferAborted);  // idle now: nothing more
    EXPECT_TRUE(server.Silent(200));
}

TEST_F(TransferTest, AbortWithMinusOneSendsNothing) {
    auto t = NewTransfer(512, 0);
    ASSERT_EQ(Fetch(*t), 1);
    TakeRequest();
    AbortOf(*t, -1);
    EXPECT_EQ(BusyOf(*t), 0);
    EXPECT_TRUE(server.Silent(200));
}

TEST_F(TransferTest, SilentServerGetsTheRequestAgainAndTimesOutOnlyAfterTheTimeout) {
    auto t = NewTransfer(512, 0);
    t->timeoutSecs = 5;
    ASSERT_EQ(Fetch(*t), 1);
    TakeRequest();
    // Nothing for a second: the request goes out again, then more slowly.
    clock.AdvanceMs(999);
    Check(*t);
    EXPECT_TRUE(server.Silent(50));
    clock.AdvanceMs(1);
    Check(*t);
    Bytes again;
    ASSERT_TRUE(server.Receive(again, client));
    EXPECT_EQ(again, lastRequest);
    clock.AdvanceMs(1500);
    Check(*t);
    EXPECT_TRUE(server.Silent(50)) << "the second resend waits twice as long";
    clock.AdvanceMs(500);
    Check(*t);
    ASSERT_TRUE(server.Receive(again, client));
    EXPECT_EQ(BusyOf(*t), 1);
    clock.AdvanceMs(2000);  // 5 s since the start: not yet past the time-out
    Check(*t);
    EXPECT_EQ(BusyOf(*t), 1);
    clock.Advance(1);
    Check(*t);
    EXPECT_EQ(BusyOf(*t), 0);
    EXPECT_EQ(LastStatus(), "Timed out");
    EXPECT_TRUE(port.Silent(1));
}

// The transfer's own thread keeps its time: with the window's thread
// blocked (a modal dialog, a slow paint) and nobody calling CheckTimeout,
// the last datagram still goes again once its answer is overdue, and the
// transfer still times out.
TEST_F(TransferTest, ItsOwnThreadResendsAndTimesOutWhileTheWindowsThreadIsBlocked) {
    struct Case {
        const char* name;
        int sending;
        bool blockFirst;  // the server answers once before it falls silent
    };
    const Case cases[] = {
        {"fetch, silent after the request", 0, false},
        {"fetch, silent after the first block", 0, true},
        {"send, silent after the first block", 1, true},
    };
    tests::WriteFile(dir.File("a.txt"), std::string(1000, 's'));
    ClientContext threaded{settings, clock, addresses, status};  // its thread keeps the time
    const auto blockWindowThread = [] { std::this_thread::sleep_for(std::chrono::milliseconds(150)); };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTransferSocket t(threaded);
        t.sending = c.sending;
        t.timeoutSecs = 3;
        std::unique_lock<std::mutex> hold = t.Hold();
        ASSERT_EQ(t.OpenLocalPort("127.0.0.1"), 1);
        ASSERT_EQ(c.sending ? Send(t) : Fetch(t), 1);
        hold.unlock();
        TakeRequest();
        Bytes last = lastRequest;
        PeerAddress to = server.Address();
        FakePeer& heard = c.blockFirst ? port : server;
        if (c.blockFirst) {
            port.Send(c.sending ? tests::Ack(0) : tests::Data(1, std::string(512, 'f')), client);
            last = Next();
            EXPECT_EQ(tests::Block(last), 1);
        }
        // Overdue: the window's thread sleeps through it.
        clock.AdvanceMs(1000);
        blockWindowThread();
        Bytes again;
        ASSERT_TRUE(heard.Receive(again, to, 1000)) << "nothing sent again";
        EXPECT_EQ(again, last);
        // Past the time-out, the window's thread still asleep.
        clock.Advance(3);
        blockWindowThread();
        hold.lock();
        EXPECT_EQ(t.busy, 0);
        EXPECT_EQ(t.statusText, "Timed out");
        hold.unlock();
        QCoreApplication::sendPostedEvents();
        EXPECT_EQ(status.Last(), "Timed out") << "the status bar hears it on the window's thread";
        clock.Advance(10);
        EXPECT_TRUE(heard.Silent(100)) << "nothing more after the time-out";
    }
}

// However fast the blocks come, the view hears of them a few times a second,
// and always of the start, the last count before the end, and the end.
TEST_F(TransferTest, ProgressReachesTheViewAFewTimesASecondWithTheStartTheLastCountAndTheEnd) {
    constexpr int kBlocks = 300;
    const std::string body = tests::PatternBytes(kBlocks * 512 + 10);
    const auto size = static_cast<std::int64_t>(body.size());
    tests::WriteFile(dir.File("up.bin"), body);
    struct Case {
        const char* name;
        int sending;
        const char* lastText;
    };
    const Case cases[] = {
        {"fetch", 0, "Received 153610 bytes (301 blocks)"},
        {"send", 1, "Sent 153610 bytes (100%)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.messages.clear();
        status.texts.clear();
        auto t = NewTransfer(512, c.sending);
        t->SetReportEveryMs(CTransferSocket::kReportEveryMs);
        const auto began = std::chrono::steady_clock::now();
        ASSERT_EQ(c.sending ? Send(*t, "up.bin") : Fetch(*t, "down.bin"), 1);
        TakeRequest();
        if (c.sending) {
            port.Send(tests::Ack(0), client);
            for (int b = 1; b <= kBlocks + 1; ++b) {
                Bytes p;
                ASSERT_TRUE(port.Receive(p));
                ASSERT_EQ(tests::Block(p), b);
                port.Send(tests::Ack(static_cast<std::uint16_t>(b)), client);
            }
        } else {
            port.Send(tests::Oack({{"tsize", std::to_string(size)}}), client);
            ASSERT_EQ(Next(), tests::Ack(0));
            for (int b = 1; b <= kBlocks + 1; ++b) {
                port.Send(tests::Data(static_cast<std::uint16_t>(b), body.substr((b - 1) * 512u, 512)), client);
                Bytes ack;
                ASSERT_TRUE(port.Receive(ack));
                ASSERT_EQ(tests::Block(ack), b);
            }
        }
        ASSERT_TRUE(tests::RunUntil([&] { return BusyOf(*t) == 0; }));
        const auto progress = Messages(WM_TRANSFER_PROGRESS);
        const auto elapsedMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began).count();
        ASSERT_GE(progress.size(), 3u);
        EXPECT_EQ(progress.front().wParam, kProgressStart);
        EXPECT_EQ(progress.front().lParam, size);
        EXPECT_EQ(progress.back().wParam, kProgressDone);
        const tests::PostedMessage& lastCount = progress[progress.size() - 2];
        EXPECT_EQ(lastCount.wParam, c.sending ? kProgressSent : kProgressReceived);
        EXPECT_EQ(lastCount.lParam, size);
        // One a block would be 303 messages.
        const auto bound = static_cast<std::size_t>(elapsedMs / CTransferSocket::kReportEveryMs + 3);
        EXPECT_LE(progress.size(), bound) << "in " << elapsedMs << " ms";
        const std::vector<std::string>& texts = Texts();
        ASSERT_GE(texts.size(), 3u);
        EXPECT_LE(texts.size(), bound + 1) << "in " << elapsedMs << " ms";
        EXPECT_EQ(texts[texts.size() - 2], c.lastText);
        EXPECT_EQ(texts.back(), std::string(c.lastText) + " - Done");
    }
}

TEST_F(TransferTest, EachDatagramRestartsTheTimeout) {
    auto t = NewTransfer(512, 0);
    t->timeoutSecs = 5;
    ASSERT_EQ(Fetch(*t), 1);
    TakeRequest();
    clock.Advance(4);
    port.Send(tests::Data(1, std::string(512, 'x')), client);
    Next();
    clock.Advance(4);
    Check(*t);
    EXPECT_EQ(BusyOf(*t), 1);
}

// ---- transfer IDs ---------------------------------------------------------------

TEST_F(TransferTest, StrangerAfterTheFirstReplyGetsErrorFiveAndChangesNothing) {
    auto t = NewTransfer(512, 0);
    t->timeoutSecs = 5;
    ASSERT_EQ(Fetch(*t), 1);
    TakeRequest();
    const std::string body = tests::PatternBytes(700);
    port.Send(tests::Data(1, body.substr(0, 512)), client);
    Next();
    EXPECT_TRUE(t->serverKnown);
    const std::int64_t activity = t->lastActivity;

    clock.Advance(3);
    FakePeer stranger;
    stranger.Send(tests::Data(2, "intruder"), client);
    Bytes e;
    ASSERT_TRUE(stranger.Receive(e));
    EXPECT_EQ(tests::Opcode(e), tftp::kError);
    EXPECT_EQ(tests::Block(e), 5);
    EXPECT_EQ(tests::ErrorTextOf(e), "Unknown transfer ID");
    EXPECT_TRUE(port.Silent(100));
    EXPECT_EQ(BusyOf(*t), 1);
    EXPECT_EQ(t->blocksReceived, 1);
    EXPECT_EQ(t->lastActivity, activity);
    EXPECT_EQ(t->server, port.Address());

    port.Send(tests::Data(2, body.substr(512)), client);
    EXPECT_EQ(tests::Block(Next()), 2);
    EXPECT_EQ(tests::ReadFile(dir.File("a.txt")), body);
}

TEST_F(TransferTest, BeforeTheFirstReplyOnlyTheRequestsHostIsHeard) {
    auto t = NewTransfer(512, 0);
    ASSERT_EQ(Fetch(*t), 1);
    TakeRequest();
    FakePeer otherHost("127.0.0.2");
    otherHost.Send(tests::Data(1, "intruder"), client);
    Bytes e;
    ASSERT_TRUE(otherHost.Receive(e));
    EXPECT_EQ(tests::Block(e), 5);
    EXPECT_FALSE(t->serverKnown);
    EXPECT_EQ(BusyOf(*t), 1);
    // Any port of the request's host may answer first.
    port.Send(tests::Data(1, "hi"), client);
    EXPECT_EQ(tests::Block(Next()), 1);
    EXPECT_EQ(tests::ReadFile(dir.File("a.txt")), "hi");
}

TEST_F(TransferTest, AStrangersErrorIsNotAnswered) {
    auto t = NewTransfer(512, 0);
    ASSERT_EQ(Fetch(*t), 1);
    TakeRequest();
    port.Send(tests::Data(1, std::string(512, 'x')), client);
    Next();
    FakePeer stranger;
    stranger.Send(tests::Error(5, "Unknown transfer ID"), client);
    EXPECT_TRUE(stranger.Silent(200));
    EXPECT_EQ(BusyOf(*t), 1);
}

// ---- failed starts ----------------------------------------------------------------

TEST_F(TransferTest, FailedStartsCloseTheFileTheyOpened) {
    // Port 65536 passes the view's check; its low 16 bits, 0, cannot be sent to.
    tests::WriteFile(dir.File("a.txt"), "data");
    auto send = NewTransfer(512, 1);
    EXPECT_EQ(send->StartSend("a.txt", "a.txt", "127.0.0.1", 65536, 1, {}), 0);
    EXPECT_FALSE(send->FileOpen());
    EXPECT_FALSE(tests::ProcessHasOpen(dir.File("a.txt")));

    auto fetch = NewTransfer(512, 0);
    EXPECT_EQ(fetch->StartFetch("b.txt", "b.txt", "127.0.0.1", 65536, 1), 0);
    EXPECT_FALSE(fetch->FileOpen());
    EXPECT_FALSE(tests::FileExists(dir.File("b.txt"))) << "no empty file is left behind";
    EXPECT_FALSE(tests::ProcessHasOpen(dir.File("b.txt")));

    EXPECT_EQ(send->Failure().what, TransferFailure::What::CannotSendRequest);
    EXPECT_EQ(fetch->Failure().what, TransferFailure::What::CannotSendFetchRequest);
    EXPECT_NE(send->Failure().error, 0);
    EXPECT_NE(fetch->Failure().error, 0);
    EXPECT_EQ(BusyOf(*send) + BusyOf(*fetch), 0);
}

TEST_F(TransferTest, AHugePortReachesTheWireWithItsLowSixteenBits) {
    auto t = NewTransfer(512, 0);
    ASSERT_EQ(t->StartFetch("a.txt", "a.txt", "127.0.0.1", 65536 + server.Port(), 1), 1);
    tests::SentRequest r = TakeRequest();
    EXPECT_EQ(r.name, "a.txt");
}

// ---- local port and buffers ---------------------------------------------------------

// ---- recovery -------------------------------------------------------------------

TEST_F(TransferTest, AQuietServerGetsTheBlockInFlightAgainAndAnAckOnlyOnce) {
    tests::WriteFile(dir.File("s.txt"), tests::PatternBytes(1000));
    struct Case { const char* name; int sending; Bytes reply; Bytes answer; int resends; };
    const Case cases[] = {
        {"send: block 1, again and again", 1, tests::Ack(0), tests::Data(1, tests::PatternBytes(512)), 2},
        // The server resends its block: our ACK goes again once, in case it
        // was the one lost, and no more.
        {"fetch: ACK 1 once", 0, tests::Data(1, tests::PatternBytes(512)), tests::Ack(1), 1},
        {"fetch: ACK 0 once", 0, tests::Oack({{"tsize", "1000"}}), tests::Ack(0), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto t = NewTransfer(512, c.sending);
        ASSERT_EQ(c.sending ? Send(*t, "s.txt") : Fetch(*t), 1);
        TakeRequest();
        port.Send(c.reply, client);
        EXPECT_EQ(Next(), c.answer);
        clock.AdvanceMs(999);
        Check(*t);
        EXPECT_TRUE(port.Silent(50));
        clock.AdvanceMs(1);
        Check(*t);
        EXPECT_EQ(Next(), c.answer);
        clock.AdvanceMs(2000);
        Check(*t);
        if (c.resends == 2) {
            EXPECT_EQ(Next(), c.answer);
        } else {
            EXPECT_TRUE(port.Silent(50));
        }
        EXPECT_EQ(t->Retransmissions(), c.resends);
        EXPECT_EQ(BusyOf(*t), 1);
        AbortOf(*t, -1);
    }
}

TEST_F(TransferTest, AFetchAnswersARepeatOfItsLastBlockAlsoForAWhileAfterDone) {
    auto t = NewTransfer(512, 0);
    ASSERT_EQ(Fetch(*t), 1);
    TakeRequest();
    const Bytes block1 = tests::Data(1, tests::PatternBytes(512));
    const Bytes block2 = tests::Data(2, "end");
    port.Send(block1, client);
    EXPECT_EQ(Next(), tests::Ack(1));
    clock.AdvanceMs(300);  // the server did not hear ACK 1 and sends block 1 again
    port.Send(block1, client);
    EXPECT_EQ(Next(), tests::Ack(1));
    port.Send(block2, client);
    EXPECT_EQ(Next(), tests::Ack(2));
    EXPECT_EQ(BusyOf(*t), 0);
    EXPECT_EQ(LastStatus(), "Received 515 bytes (2 blocks) - Done");
    clock.AdvanceMs(300);
    port.Send(block2, client);
    EXPECT_EQ(Next(), tests::Ack(2)) << "the last ACK is sent again";
    clock.AdvanceMs(CTransferSocket::kLingerMs);
    port.Send(block2, client);
    EXPECT_TRUE(port.Silent(100)) << "until the socket stops listening";
    EXPECT_EQ(tests::ReadFile(dir.File("a.txt")), tests::PatternBytes(512) + "end");
}

TEST_F(TransferTest, SocketBuffersHaveRoomForSeveralBlocks) {
    // Never the bare block: a duplicate would push the next one out.
    for (int blockSize : {512, 1428, 8192}) {
        auto t = NewTransfer<StingySocket>(blockSize, 0, 1 << 30);
        ASSERT_EQ(Fetch(*t), 1);
        EXPECT_GE(t->asked, 8 * (blockSize + 20));
        EXPECT_GE(t->asked, 100 * 1024) << "not below the system's usual default";
        TakeRequest();
        AbortOf(*t, -1);
    }
}

TEST_F(TransferTest, OpenLocalPortBindsTheChosenAddressAndPostsIt) {
    auto t = NewTransfer(512, 0);
    EXPECT_EQ(t->localAddress, "127.0.0.1");
    EXPECT_NE(t->LocalPort(), 0);
    EXPECT_EQ(Messages(WM_TRANSFER_ADDRESS).size(), 1u);
}

TEST_F(TransferTest, AnAddressThatCannotBeBoundEndsTheStartWithItsReason) {
    CTransferSocket unusable(app);
    EXPECT_EQ(unusable.OpenLocalPort("192.0.2.1"), 0);  // not an address of this machine
    EXPECT_EQ(unusable.Failure().what, TransferFailure::What::NoPort);
}

TEST_F(TransferTest, ASocketGrantingLessLowersTheBlockSizeToFit) {
    tests::WriteFile(dir.File("a.txt"), "data");
    auto t = NewTransfer<StingySocket>(8192, 1, 1000);
    ASSERT_EQ(Send(*t), 1);
    EXPECT_EQ(t->blockSize, 980);
    EXPECT_EQ(t->buffer.size(), 1000u);
    EXPECT_EQ(TakeRequest().options.back(),
              (std::pair<std::string, std::string>{"blksize", "980"}));
    auto shown = Messages(WM_TRANSFER_BLOCKSIZE);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].lParam, 980);
}

TEST_F(TransferTest, ASocketRefusingTheBufferStopsTheStart) {
    auto t = NewTransfer<StingySocket>(512, 0, 0, true);
    EXPECT_EQ(Fetch(*t), 0);
    EXPECT_EQ(BusyOf(*t), 0);
    EXPECT_EQ(t->Failure().what, TransferFailure::What::SocketBuffersRefused);
    EXPECT_TRUE(server.Silent(100));
}

TEST_F(TransferTest, TheRealSocketGrantsTheLargestBlock) {
    auto t = NewTransfer(tftp::kMaxBlockSize, 0);
    ASSERT_EQ(Fetch(*t), 1);
    EXPECT_EQ(t->blockSize, tftp::kMaxBlockSize);
    EXPECT_TRUE(Messages(WM_TRANSFER_BLOCKSIZE).empty());
}

TEST_F(TransferTest, AnOackBlockSizeTheSocketCannotTakeEndsTheTransfer) {
    auto t = NewTransfer<StingySocket>(512, 0, 1500);
    ASSERT_EQ(Fetch(*t), 1);
    TakeRequest();
    port.Send(tests::Oack({{"blksize", "8192"}}), client);
    const Bytes e = Next();
    EXPECT_EQ(tests::Opcode(e), tftp::kError);
    EXPECT_EQ(tests::Block(e), 0);
    EXPECT_EQ(BusyOf(*t), 0);
}


// ---- IPv6 and several addresses ----------------------------------------------------

namespace {

// A port on which nothing listens (on either loopback).
std::uint16_t ClosedPort() {
    FakePeer gone("::");
    return gone.Port();
}

// The server's addresses as a name's lookup gives them.
std::vector<PeerAddress> Addresses(const std::vector<std::string>& texts, std::uint16_t port) {
    const skerry::NameLookup lookup = [&](const std::string&, std::vector<PeerAddress>& found) {
        for (const std::string& t : texts) {
            PeerAddress a;
            if (platform::ParseAddress(t, a)) found.push_back(a);
        }
        return true;
    };
    return skerry::HostCandidates("server.lab", port, lookup);
}

}  // namespace

TEST_F(TransferTest, AnIpv6ServerIsFetchedFromAndSentToAsAnIpv4One) {
    const std::string up = tests::PatternBytes(700), down = tests::PatternBytes(600);
    tests::WriteFile(dir.File("up.bin"), up);
    FakePeer server6("::1"), port6("::1");
    ASSERT_NE(server6.Port(), 0) << "no IPv6 loopback here";
    settings.overwrite = 1;  // each case fetches down.bin anew
    for (const char* host : {"::1", "[::1]"}) {
        for (const int sending : {0, 1}) {
            SCOPED_TRACE(std::string(host) + (sending ? " send" : " fetch"));
            log.messages.clear();
            auto t = std::make_unique<CTransferSocket>(app);
            t->owner = log.Owner();
            t->onFailure = [this](const TransferFailure& f) { reported.push_back(f.what); };
            t->UseLocalAddress("127.0.0.1");  // chosen by the caller, for the IPv4 address
            t->sending = sending;
            t->timeoutSecs = 10;
            const auto servers = skerry::HostCandidates(host, 0);
            ASSERT_EQ(servers.size(), 1u);
            ASSERT_EQ(sending ? t->StartSend("up.bin", "up.bin", servers, server6.Port(), 1, {})
                              : t->StartFetch("down.bin", "down.bin", servers, server6.Port(), 1),
                      1);
            EXPECT_EQ(t->Family(), AF_INET6);
            EXPECT_EQ(t->localAddress, "::1") << "the caption names the address IPv6 sends from";
            EXPECT_EQ(Messages(WM_TRANSFER_ADDRESS).size(), 1u);
            Bytes p;
            PeerAddress from;
            ASSERT_TRUE(server6.Receive(p, from));
            EXPECT_TRUE(from.v6 && from.IsLoopback()) << from.AddressText();
            EXPECT_EQ(tests::ParseSentRequest(p).opcode, sending ? tftp::kWrq : tftp::kRrq);
            if (sending) {
                port6.Send(tests::Ack(0), from);
                std::string got;
                for (std::uint16_t block = 1; block <= 2; ++block) {
                    ASSERT_TRUE(port6.Receive(p));
                    ASSERT_EQ(tests::Block(p), block);
                    got += tests::Payload(p);
                    port6.Send(tests::Ack(block), from);
                }
                EXPECT_EQ(got, up);
            } else {
                port6.Send(tests::Data(1, down.substr(0, 512)), from);
                ASSERT_TRUE(port6.Receive(p));
                EXPECT_EQ(p, tests::Ack(1));
                port6.Send(tests::Data(2, down.substr(512)), from);
                ASSERT_TRUE(port6.Receive(p));
                EXPECT_EQ(p, tests::Ack(2));
                EXPECT_EQ(tests::ReadFile(dir.File("down.bin")), down);
            }
            EXPECT_TRUE(tests::WaitFor([&] { return BusyOf(*t) == 0; }, 5000));
            EXPECT_TRUE(t->server.v6) << "the server's transfer port, learnt over IPv6";
        }
    }
    EXPECT_TRUE(reported.empty());
}

TEST_F(TransferTest, AnAddressThatIsRefusedGivesWayAtOnceToTheNext) {
    // As localhost may resolve: ::1 first, where nothing listens, then
    // 127.0.0.1, where the server is.
    auto t = std::make_unique<CTransferSocket>(app);
    t->owner = log.Owner();
    t->onFailure = [this](const TransferFailure& f) { reported.push_back(f.what); };
    t->UseLocalAddress("127.0.0.1");  // chosen by the caller, for the IPv4 address
    t->timeoutSecs = 10;
    const auto servers = Addresses({"::1", "127.0.0.1"}, 0);
    {
        // Its thread hears of the refusal only once the start has let go.
        const auto hold = t->Hold();
        ASSERT_EQ(t->StartFetch("a.txt", "a.txt", servers, server.Port(), 1), 1);
        EXPECT_EQ(t->AddressTried(), 0u);
    }
    // No clock runs: only the system's report can move the transfer on.
    Bytes p;
    ASSERT_TRUE(server.Receive(p, client, 3000)) << "the request reaches the second address";
    Settle(*t);
    EXPECT_EQ(tests::ParseSentRequest(p).name, "a.txt");
    EXPECT_EQ(t->AddressTried(), 1u);
    EXPECT_EQ(t->Family(), AF_INET);
    EXPECT_EQ(t->localAddress, "127.0.0.1");
    const auto shown = Messages(WM_TRANSFER_ADDRESS);
    EXPECT_EQ(shown.size(), 2u) << "the caption follows the address in use";
    port.Send(tests::Data(1, "hello"), client);
    EXPECT_EQ(Next(), tests::Ack(1));
    EXPECT_EQ(BusyOf(*t), 0);
    EXPECT_EQ(tests::ReadFile(dir.File("a.txt")), "hello");
    EXPECT_EQ(LastStatus(), "Received 5 bytes (1 blocks) - Done");
    EXPECT_TRUE(reported.empty());
}

TEST_F(TransferTest, ASilentAddressGetsItsRequestTwiceThenTheNextIsAsked) {
    tests::WriteFile(dir.File("s.txt"), "sent whole");
    for (const int sending : {0, 1}) {
        SCOPED_TRACE(sending ? "send" : "fetch");
        // A silent server on ::1, the real one on 127.0.0.1, the same port.
        FakePeer quiet6("::1");
        FakePeer server4("127.0.0.1", quiet6.Port());
        if (server4.Port() != quiet6.Port()) GTEST_SKIP() << "the port is taken on 127.0.0.1";
        auto t = std::make_unique<CTransferSocket>(app);
        t->owner = log.Owner();
        t->onFailure = [this](const TransferFailure& f) { reported.push_back(f.what); };
        t->UseLocalAddress("127.0.0.1");  // chosen by the caller, for the IPv4 address
        t->sending = sending;
        t->timeoutSecs = 10;
        const auto servers = Addresses({"::1", "127.0.0.1"}, 0);
        ASSERT_EQ(sending ? t->StartSend("s.txt", "s.txt", servers, quiet6.Port(), 1, {})
                          : t->StartFetch("f.txt", "f.txt", servers, quiet6.Port(), 1),
                  1);
        Bytes p;
        PeerAddress from6;
        ASSERT_TRUE(quiet6.Receive(p, from6));
        clock.AdvanceMs(tftp::RetransmitTimer::kInitialMs);
        Check(*t);
        ASSERT_TRUE(quiet6.Receive(p, 2000)) << "the request once more";
        clock.AdvanceMs(2 * tftp::RetransmitTimer::kInitialMs - 1);
        Check(*t);
        EXPECT_TRUE(server4.Silent(50)) << "not before its second wait has run out";
        clock.AdvanceMs(1);
        Check(*t);
        PeerAddress from4;
        ASSERT_TRUE(server4.Receive(p, from4, 2000)) << "the next address gets the request";
        EXPECT_EQ(tests::ParseSentRequest(p).opcode, sending ? tftp::kWrq : tftp::kRrq);
        EXPECT_EQ(t->AddressTried(), 1u);
        EXPECT_TRUE(quiet6.Silent(50));
        // A late answer from the first address finds no one.
        quiet6.Send(sending ? tests::Ack(0) : tests::Data(1, "late"), from6);
        tests::RunFor(50);
        EXPECT_EQ(BusyOf(*t), 1);
        port.Send(sending ? tests::Ack(0) : tests::Data(1, "fetched whole"), from4);
        if (sending) {
            ASSERT_TRUE(port.Receive(p));
            EXPECT_EQ(tests::Payload(p), "sent whole");
            port.Send(tests::Ack(1), from4);
        } else {
            EXPECT_EQ(Next(), tests::Ack(1));
        }
        EXPECT_TRUE(tests::WaitFor([&] { return BusyOf(*t) == 0; }, 5000));
        if (!sending) {
            EXPECT_EQ(tests::ReadFile(dir.File("f.txt")), "fetched whole");
        }
        EXPECT_EQ(t->Retransmissions(), 1);
    }
    EXPECT_TRUE(reported.empty());
}

TEST_F(TransferTest, WhenEveryAddressFailsTheLastIsAskedUntilTheTimeOut) {
    auto t = std::make_unique<CTransferSocket>(app);
    t->owner = log.Owner();
    t->onFailure = [this](const TransferFailure& f) { reported.push_back(f.what); };
    t->UseLocalAddress("127.0.0.1");  // chosen by the caller, for the IPv4 address
    t->timeoutSecs = 5;
    const auto servers = Addresses({"::1", "127.0.0.1"}, 0);
    ASSERT_EQ(t->StartFetch("a.txt", "a.txt", servers, ClosedPort(), 1), 1);
    EXPECT_TRUE(tests::WaitFor([&] { return t->AddressTried() == 1; }, 3000));
    // The last address refuses too, but a single address has always been
    // asked until the time-out: a server may be starting.
    tests::RunFor(200);
    EXPECT_EQ(BusyOf(*t), 1);
    for (int s = 1; s <= 6 && BusyOf(*t); ++s) {
        clock.Advance(1);
        Check(*t);
    }
    EXPECT_EQ(BusyOf(*t), 0);
    EXPECT_EQ(LastStatus(), "Timed out");
    EXPECT_GE(t->Retransmissions(), 2);
    EXPECT_TRUE(reported.empty());
}

}  // namespace
