// The listener: start-up, refusals, the client limit, transfer numbers, the
// periodic check's time-out rules and the hooks the application relies on.
#include "engine_harness.h"

#include "server/engine/tftp_transfer.h"
#include "tests/support/child_limits.h"

#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>

using tests::EngineHarness;
using tests::RawClient;

namespace {

const std::string kServiceNotAvailable = tests::ErrorPacket(0, "Service not available");
const std::string kTooManyClients = tests::ErrorPacket(0, "Too Many Clients");

// A read request for a file that is there, so that the transfer stays
// running (waiting for its first ACK) until the test ends it.
std::string ReadRequest(const std::string& name = "a.bin") {
    return tests::Request(tftp::kRrq, name, "octet");
}

}  // namespace

TEST(ListenerStart, OneAddressBindsTheChosenAddressAndLabelsIt) {
    EngineHarness h;
    h.settings.bListenAll = 0;
    ASSERT_TRUE(h.Start());
    EXPECT_EQ(h.listener->LocalAddress(), "127.0.0.1");
    EXPECT_EQ(h.listener->HostName(), "testhost");
    EXPECT_EQ(h.listener->AddressCount(), 1);
    EXPECT_EQ(h.app.listenLabel, "127.0.0.1." + h.settings.Port);
    EXPECT_EQ(h.listener->LocalPort(), h.listenAt.port);
    EXPECT_TRUE(h.prompts.MessageTexts().empty());
    // One address: the remembered choice is reset.
    EXPECT_EQ(h.settings.nDefAddress, 0);
}

TEST(ListenerStart, PortReadByLeadingDigits) {
    EngineHarness h;
    h.settings.Port = std::to_string(h.listenAt.port) + "x9";
    ASSERT_TRUE(h.Start());
    EXPECT_EQ(h.listener->LocalPort(), h.listenAt.port);
}

TEST(ListenerStart, PortInUseIsReported) {
    EngineHarness h;
    RawClient holder;
    h.settings.Port = std::to_string(holder.LocalPort());
    EXPECT_FALSE(h.Start());
    EXPECT_EQ(h.listener->Failure(), ListenFailure::CannotBind);
    EXPECT_TRUE(h.prompts.MessageTexts().empty()) << "the application tells the user";
}

TEST(ListenerStart, PortBeyondSixteenBitsIsRefusedNotWrapped) {
    EngineHarness h;
    // 65536 + p would bind port p if it were cut to 16 bits.
    h.settings.Port = std::to_string(65536 + h.listenAt.port);
    EXPECT_FALSE(h.Start());
    EXPECT_EQ(h.listener->Failure(), ListenFailure::CannotBind);
    EXPECT_TRUE(h.prompts.MessageTexts().empty()) << "the application tells the user";
}

TEST(ListenerStart, AllAddressesAsksNothingAndKeepsTheRememberedChoice) {
    // Two addresses and no choice remembered: one address would ask.
    EngineHarness h;
    h.addresses = tftp::FixedAddressProvider("testhost", {"192.0.2.1", "127.0.0.1"});
    h.settings.nDefAddress = 255;
    ASSERT_TRUE(h.Start());
    EXPECT_TRUE(h.prompts.MessageTexts().empty());
    EXPECT_TRUE(h.prompts.Prompts().empty()) << "no dialog either";
    EXPECT_EQ(h.settings.nDefAddress, 255);
    EXPECT_EQ(h.settings.bShowMultihomed, 1);
    EXPECT_EQ(h.listener->HostName(), "testhost");
    EXPECT_EQ(h.listener->AddressCount(), 2);
    EXPECT_EQ(h.listener->AllAddresses(), (std::vector<std::string>{"192.0.2.1", "127.0.0.1", "::1"}));
    EXPECT_EQ(h.app.listenLabel, "All addresses." + h.settings.Port);
}

TEST(ListenerStart, CancelledAddressEntryFailsWithoutFurtherMessage) {
    EngineHarness h;
    h.settings.bListenAll = 0;
    h.addresses.failLookup = true;
    platform::ScriptedPromptService::Answer cancel;
    cancel.ok = false;
    h.prompts.Queue({});      // the lookup failure's message box
    h.prompts.Queue(cancel);  // the manual entry
    EXPECT_FALSE(h.Start());
    EXPECT_EQ(h.prompts.MessageTexts(),
              std::vector<std::string>{"Unable to resolve Local Host I.P. address"});
    EXPECT_FALSE(h.listener->IsOpen());
}

TEST(ListenerRefusals, ServingStoppedAnswersAnyDatagram) {
    EngineHarness h;
    ASSERT_TRUE(h.Start());
    h.app.bServing = 0;
    RawClient c;
    for (const std::string& d : {std::string("\x01", 1), ReadRequest(), std::string(150, 'x')}) {
        c.Send(d, h.listenAt);
        RawClient::Datagram reply;
        ASSERT_TRUE(c.Next(reply));
        EXPECT_EQ(reply.bytes, kServiceNotAvailable);
        EXPECT_EQ(reply.bytes.size(), 26u);
        EXPECT_EQ(reply.from, h.listenAt);  // from the listening socket
    }
    EXPECT_EQ(h.listener->TransferCount(), 0);
    EXPECT_TRUE(h.view.seen.empty());
}

TEST(ListenerRefusals, DenyListIsConsultedBeforeAllowList) {
    EngineHarness h;
    ASSERT_TRUE(h.Start());
    tests::WriteFile(h.OutFile("a.bin"), "x");
    RawClient c;
    RawClient::Datagram reply;

    h.settings.bDeny = 1;
    h.settings.Deny[3] = "127.0.0.*";
    h.settings.bAllow = 1;
    h.settings.Allow[0] = "127.0.0.1";
    c.Send(ReadRequest(), h.listenAt);
    ASSERT_TRUE(c.Next(reply));
    EXPECT_EQ(reply.bytes, kServiceNotAvailable);

    // Not denied, but not allowed either.
    h.settings.bDeny = 0;
    h.settings.Allow[0] = "10.*.*.*";
    c.Send(ReadRequest(), h.listenAt);
    ASSERT_TRUE(c.Next(reply));
    EXPECT_EQ(reply.bytes, kServiceNotAvailable);
    EXPECT_EQ(h.listener->TransferCount(), 0);

    // Allowed: served.
    h.settings.Allow[5] = "127.*.*.*";
    c.Send(ReadRequest(), h.listenAt);
    ASSERT_TRUE(c.Next(reply));
    EXPECT_EQ(reply.Opcode(), tftp::kData);
    EXPECT_EQ(h.listener->TransferCount(), 1);
}

TEST(ListenerRefusals, ShortAndNonRequestDatagramsAreDroppedSilently) {
    EngineHarness h;
    ASSERT_TRUE(h.Start());
    tests::WriteFile(h.OutFile("a.bin"), "x");
    RawClient c;
    // Not requests, however long.
    for (const std::string& d :
         {std::string("\x00\x01", 2), std::string("\x00\x01\x61", 3), tests::Ack(0), tests::Data(1, "zz"),
          tests::Data(1, std::string(1400, 'z')), tests::ErrorPacket(1, "x"), std::string("\x07\x01zz", 4)}) {
        c.Send(d, h.listenAt);
    }
    EXPECT_TRUE(c.Quiet(300));
    EXPECT_EQ(h.listener->TransferCount(), 0);
    EXPECT_TRUE(h.view.seen.empty());

    // The listener still serves; a request of exactly 512 bytes is taken
    // whole, however its bytes are spent.
    std::string full = tests::Request(tftp::kRrq, "a.bin", "octet", {{"x-pad", ""}});
    full.resize(512, '\0');
    c.Send(full, h.listenAt);
    RawClient::Datagram reply;
    ASSERT_TRUE(c.Next(reply));
    EXPECT_EQ(reply.bytes, tests::Data(1, "x"));
}

TEST(ListenerRefusals, ARequestLongerThan512BytesIsAnsweredWithErrorFour) {
    EngineHarness h;
    ASSERT_TRUE(h.Start());
    tests::WriteFile(h.OutFile("a.bin"), "x");
    RawClient c;
    int number = 0;
    // Just over, well over, and as long as a datagram on a LAN gets.
    for (const std::size_t length : {513u, 600u, 1400u}) {
        for (const std::uint16_t opcode : {tftp::kRrq, tftp::kWrq}) {
            SCOPED_TRACE(testing::Message() << length << " bytes, opcode " << opcode);
            std::string request = tests::Request(opcode, "a.bin", "octet", {{"blksize", "1024"}});
            request.resize(length, 'o');
            c.Send(request, h.listenAt);
            RawClient::Datagram reply;
            ASSERT_TRUE(c.Next(reply));
            ++number;
            EXPECT_EQ(reply.bytes, tests::ErrorPacket(4, "Unknown TFTP Operation"));
            EXPECT_NE(reply.from, h.listenAt);  // from the transfer, which has its row
            ASSERT_TRUE(h.WaitReported(number));
            EXPECT_EQ(h.view.ResultOf(number),
                      opcode == tftp::kRrq ? "Unknown TFTP Operation : Sending" : "Unknown TFTP Operation : Receiving");
        }
    }
    EXPECT_EQ(tests::ReadFile(h.OutFile("a.bin")), "x");
    EXPECT_FALSE(tests::FileExists(h.InFile("a.bin")));
}

TEST(ListenerLimit, PositionZeroAdmitsOneAndOnlyRunningTransfersCount) {
    EngineHarness h;
    h.settings.nMaxClients = 0;
    ASSERT_TRUE(h.Start());
    tests::WriteFile(h.OutFile("a.bin"), "x");
    RawClient first, second;
    RawClient::Datagram reply;
    // The first transfer runs (its block waits for an ACK): the slot is taken.
    first.Send(ReadRequest(), h.listenAt);
    ASSERT_TRUE(first.Next(reply));
    ASSERT_EQ(reply.bytes, tests::Data(1, "x"));
    const platform::PeerAddress firstPort = reply.from;

    second.Send(ReadRequest("missing"), h.listenAt);
    ASSERT_TRUE(second.Next(reply));
    EXPECT_EQ(reply.bytes, kTooManyClients);
    EXPECT_EQ(reply.bytes.size(), 21u);
    EXPECT_EQ(reply.from, h.listenAt);
    EXPECT_EQ(h.view.CountOf(WM_TRANSFER_STARTED), 1);  // refused clients are not shown

    // Ended, not yet reported by the periodic check: the slot is free, as
    // for a boot loader that fetches its files one after another.
    first.Send(tests::Ack(1), firstPort);
    ASSERT_TRUE(tests::WaitFor([&] { return h.view.CountOf(WM_TRANSFER_STATUS) > 0; }));
    for (const char* name : {"missing", "a.bin"}) {
        second.Send(ReadRequest(name), h.listenAt);
        ASSERT_TRUE(second.Next(reply));
        EXPECT_NE(reply.bytes, kTooManyClients) << name;
    }
    EXPECT_EQ(h.listener->TransferCount(), 3);
    EXPECT_FALSE(h.view.Reported(1));
}

TEST(ListenerLimit, PositionOneRefusesTheSixth) {
    EngineHarness h;
    h.settings.nMaxClients = 1;
    ASSERT_TRUE(h.Start());
    tests::WriteFile(h.OutFile("a.bin"), "x");
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < 6; ++i) {
        clients.push_back(std::make_unique<RawClient>());
        clients.back()->Send(ReadRequest(), h.listenAt);
        RawClient::Datagram reply;
        ASSERT_TRUE(clients.back()->Next(reply));
        if (i < 5) EXPECT_EQ(reply.Opcode(), tftp::kData) << i;
        else EXPECT_EQ(reply.bytes, kTooManyClients);
    }
    EXPECT_EQ(h.listener->TransferCount(), 5);
    EXPECT_EQ(h.listener->WorkerThreadIds().size(), 5u);
    for (pid_t id : h.listener->WorkerThreadIds()) EXPECT_GT(id, 0);
}

TEST(ListenerLimit, OtherPositionsByTable) {
    struct Case { int position; int limit; };
    for (const Case& c : {Case{2, 10}, Case{3, 15}, Case{4, 30}, Case{7, 1}, Case{-1, 1}}) {
        EngineHarness h;
        h.settings.nMaxClients = c.position;
        ASSERT_TRUE(h.Start());
        RawClient client;
        RawClient::Datagram reply;
        int admitted = 0;
        for (int i = 0; i <= c.limit; ++i) {
            // Each a request of its own: the same one again would be a repeat.
            const std::string name = "a" + std::to_string(i) + ".bin";
            tests::WriteFile(h.OutFile(name), "x");
            client.Send(ReadRequest(name), h.listenAt);
            ASSERT_TRUE(client.Next(reply));
            if (reply.bytes == kTooManyClients) break;
            ++admitted;
        }
        EXPECT_EQ(admitted, c.limit) << "position " << c.position;
    }
}

TEST(ListenerLimit, PositionFiveHasNoLimit) {
    EngineHarness h;
    h.settings.nMaxClients = 5;
    ASSERT_TRUE(h.Start());
    RawClient client;
    RawClient::Datagram reply;
    for (int i = 0; i < 40; ++i) {
        client.Send(ReadRequest("missing"), h.listenAt);
        ASSERT_TRUE(client.Next(reply));
        ASSERT_EQ(reply.Opcode(), tftp::kError);
        ASSERT_EQ(reply.Block(), 1);
    }
    EXPECT_EQ(h.listener->TransferCount(), 40);
}

// Two consecutive ports nothing holds on loopback now, below the system's
// own choices (a run of the test's own process id, so that parallel runs
// seldom meet).
static int FreePortPair() {
    for (int base = 22000 + (::getpid() % 500) * 4; base < 32000; base += 2) {
        platform::AsyncUdpSocket a, b;
        if (a.Create("127.0.0.1", static_cast<std::uint16_t>(base), false) &&
            b.Create("127.0.0.1", static_cast<std::uint16_t>(base + 1), false))
            return base;
    }
    return 0;
}

// Every transfer answers from a port of the range; with every port taken the
// request is refused as for the client limit, and a port given back serves
// the next one.
TEST(ListenerPorts, TransfersAnswerFromTheRangeAndAFullRangeIsRefusedAsTooManyClients) {
    const int low = FreePortPair();
    ASSERT_NE(low, 0);
    EngineHarness h;
    h.settings.nMaxClients = 5;  // no limit: only the ports refuse
    h.settings.nPortRangeLow = low;
    h.settings.nPortRangeHigh = low + 1;
    ASSERT_TRUE(h.Start());
    tests::WriteFile(h.OutFile("a.bin"), "x");
    RawClient first, second, third;
    RawClient::Datagram one, two, reply;
    first.Send(ReadRequest(), h.listenAt);
    ASSERT_TRUE(first.Next(one));
    second.Send(ReadRequest(), h.listenAt);
    ASSERT_TRUE(second.Next(two));
    EXPECT_EQ(one.bytes, tests::Data(1, "x"));
    EXPECT_EQ(two.bytes, tests::Data(1, "x"));
    EXPECT_GE(one.from.port, low);
    EXPECT_LE(one.from.port, low + 1);
    EXPECT_GE(two.from.port, low);
    EXPECT_LE(two.from.port, low + 1);
    EXPECT_NE(one.from.port, two.from.port);

    third.Send(ReadRequest(), h.listenAt);
    ASSERT_TRUE(third.Next(reply));
    EXPECT_EQ(reply.bytes, kTooManyClients);
    EXPECT_EQ(reply.from, h.listenAt);
    EXPECT_EQ(h.view.CountOf(WM_TRANSFER_STARTED), 2);  // refused clients are not shown

    // The first ends and is reported: its port is free for the third.
    first.Send(tests::Ack(1), one.from);
    ASSERT_TRUE(h.WaitReported(1));
    third.Send(ReadRequest(), h.listenAt);
    ASSERT_TRUE(third.Next(reply));
    EXPECT_EQ(reply.bytes, tests::Data(1, "x"));
    EXPECT_EQ(reply.from.port, one.from.port);
}

// A blksize above the cap gets the cap in the OACK, and the blocks are of it.
TEST(ListenerPorts, ABlockSizeAboveTheCapIsAnsweredWithTheCap) {
    EngineHarness h;
    h.settings.nMaxBlksize = 1024;
    ASSERT_TRUE(h.Start());
    const std::string content(3000, 'c');
    tests::WriteFile(h.OutFile("big.bin"), content);
    RawClient client;
    RawClient::Datagram reply;
    client.Send(tests::Request(tftp::kRrq, "big.bin", "octet", {{"blksize", "8192"}}), h.listenAt);
    ASSERT_TRUE(client.Next(reply));
    EXPECT_EQ(reply.bytes, std::string("\0\6blksize\0" "1024\0", 15));
    client.Send(tests::Ack(0), reply.from);
    ASSERT_TRUE(client.Next(reply));
    EXPECT_EQ(reply.bytes, tests::Data(1, content.substr(0, 1024)));
}

TEST(ListenerNumbers, RunOneToFiveHundredOneThenOneAgain) {
    EngineHarness h;
    ASSERT_TRUE(h.Start());
    h.app.transferCounter = 499;
    RawClient client;
    RawClient::Datagram reply;
    for (int i = 0; i < 3; ++i) {
        client.Send(ReadRequest("missing"), h.listenAt);
        ASSERT_TRUE(client.Next(reply));
    }
    const auto started = h.view.Of(WM_TRANSFER_STARTED);
    ASSERT_EQ(started.size(), 3u);
    EXPECT_EQ(started[0].number, 500);
    EXPECT_EQ(started[1].number, 501);
    EXPECT_EQ(started[2].number, 1);
    EXPECT_EQ(started[0].text, "127.0.0.1");

    // The counter outlives the listener.
    h.Sweep();
    ASSERT_TRUE(h.Start());
    client.Send(ReadRequest("missing"), h.listenAt);
    ASSERT_TRUE(client.Next(reply));
    EXPECT_EQ(h.view.Of(WM_TRANSFER_STARTED).back().number, 2);
}

TEST(ListenerSweep, TimeoutSettingOutOfRangeBecomesOne) {
    for (const std::string& bad : {std::string("0"), std::string("9000"), std::string(""),
                                   std::string("x5")}) {
        EngineHarness h;
        ASSERT_TRUE(h.Start());
        h.settings.Timeout = bad;
        h.Sweep();  // rewritten with no transfer running too
        EXPECT_EQ(h.settings.Timeout, "1") << bad;
    }
    EngineHarness h;
    ASSERT_TRUE(h.Start());
    h.settings.Timeout = "7200";
    h.Sweep();
    EXPECT_EQ(h.settings.Timeout, "7200");
}

TEST(ListenerSweep, EmptyListAsksForThePendingDecision) {
    EngineHarness h;
    ASSERT_TRUE(h.Start());
    int calls = 0;
    h.app.endPendingDecision = [&] { ++calls; };
    h.Sweep();
    EXPECT_EQ(calls, 1);

    tests::WriteFile(h.OutFile("a.bin"), "x");
    RawClient client;
    client.Send(ReadRequest(), h.listenAt);
    RawClient::Datagram reply;
    ASSERT_TRUE(client.Next(reply));
    h.Sweep();  // a transfer runs: no decision yet
    EXPECT_EQ(calls, 1);
}

TEST(ListenerSweep, ThePendingDecisionMayReplaceTheListener) {
    EngineHarness h;
    ASSERT_TRUE(h.Start());
    int restarts = 0;
    h.app.endPendingDecision = [&] {
        ++restarts;
        h.listener.reset();  // the application replaces its listener here
    };
    h.Sweep();
    EXPECT_EQ(restarts, 1);
    EXPECT_EQ(h.listener, nullptr);
}

TEST(ListenerLifetime, DestroyingTheListenerEndsTransfersSilently) {
    EngineHarness h;
    ASSERT_TRUE(h.Start());
    tests::WriteFile(h.OutFile("a.bin"), std::string(2000, 'q'));
    RawClient client;
    client.Send(ReadRequest(), h.listenAt);
    RawClient::Datagram reply;
    ASSERT_TRUE(client.Next(reply));
    const platform::PeerAddress transferPort = reply.from;
    const std::size_t before = h.view.seen.size();
    h.listener.reset();
    EXPECT_EQ(h.view.seen.size(), before);  // nothing reported
    client.Send(tests::Ack(1), transferPort);
    EXPECT_TRUE(client.Quiet(200));  // the transfer socket is gone
}

namespace {
// A display that, like the new-client alert box, runs a nested event loop
// while it handles the first transfer's start: a second request is admitted
// in there, and the periodic check runs with the clock far ahead. The event
// comes after the admission has returned, so nothing of the engine is on
// the stack beneath it.
class NestingView final : public TransferView {
public:
    std::function<void()> onFirstStart;
    tests::RecordingView record;
    void OnTransferEvent(const TransferEvent& event) override {
        record.OnTransferEvent(event);
        if (MessageOf(event) == WM_TRANSFER_STARTED && NumberOf(event) == 1 && onFirstStart) {
            auto nested = std::move(onFirstStart);
            nested();
        }
    }
};
}  // namespace

TEST(ListenerAdmission, ADisplayRunningANestedEventLoopInAnEventLeavesTheEngineServing) {
    EngineHarness h;
    NestingView view;
    h.app.view = &view;
    ASSERT_TRUE(h.Start());
    tests::WriteFile(h.OutFile("a.bin"), "first");
    tests::WriteFile(h.OutFile("b.bin"), "second");
    RawClient first, second;
    RawClient::Datagram reply;
    bool nestedDone = false;
    view.onFirstStart = [&] {
        second.Send(ReadRequest("b.bin"), h.listenAt);
        EXPECT_TRUE(second.Next(reply));  // admitted and answered in the nested loop
        EXPECT_EQ(reply.bytes, tests::Data(1, "second"));
        h.clock.Advance(1000);
        h.Sweep();  // both transfers are silent now: each sends its block again
        nestedDone = true;
    };
    first.Send(ReadRequest("a.bin"), h.listenAt);
    ASSERT_TRUE(first.Next(reply));
    EXPECT_TRUE(tests::WaitFor([&] { return nestedDone; }));
    EXPECT_EQ(reply.bytes, tests::Data(1, "first"));
    first.Send(tests::Ack(1), reply.from);
    ASSERT_TRUE(tests::WaitFor([&] {
        h.Sweep();
        return !view.record.ResultOf(1).empty();
    }));
    EXPECT_EQ(view.record.ResultOf(1), "Finished : Sending");
    // The check in the nested loop found the second transfer silent and
    // sent its block again; it still runs.
    ASSERT_TRUE(second.Next(reply));
    EXPECT_EQ(reply.bytes, tests::Data(1, "second"));
    EXPECT_EQ(view.record.ResultOf(2), "");
    const auto started = view.record.Of(WM_TRANSFER_STARTED);
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[1].number, 2);
}

namespace {

// What a request meets when the system runs short, and what it must get.
struct Shortage {
    const char* what;
    std::uint16_t opcode;
    int spareDescriptors;  // -1: descriptors as usual
    bool noThreads;
    bool fromListener;     // the ERROR comes from the listening socket
    std::string reason;    // the ERROR's text, and the row's result before " : ..."
};

// Runs in a child process: the shortage, one request, the answer and the
// row; then, with the shortage over, the server still serves.
bool ServesThroughShortage(const Shortage& c) {
    EngineHarness h;
    h.settings.nMaxClients = 5;
    if (!h.Start()) return false;
    tests::WriteFile(h.OutFile("a.bin"), "x");
    RawClient client;
    // One whole download and upload first, while nothing is short: the
    // sanitizers' checks of a first call need a descriptor of their own.
    RawClient::Datagram d;
    client.Send(ReadRequest(), h.listenAt);
    EXPECT_TRUE(client.Next(d));
    client.Send(tests::Ack(1), d.from);
    client.Send(tests::Request(tftp::kWrq, "w.bin", "octet"), h.listenAt);
    EXPECT_TRUE(client.Next(d));
    client.Send(tests::Data(1, "y"), d.from);
    EXPECT_TRUE(client.Next(d));
    EXPECT_TRUE(h.WaitReported(2));
    rlim_t oldLimit = 0;
    if (c.spareDescriptors >= 0) {
        oldLimit = tests::LeaveSpareDescriptors(c.spareDescriptors);
        EXPECT_NE(oldLimit, 0u);
    }
    if (c.noThreads) {
        EXPECT_TRUE(tests::ForbidNewThreads());
    }
    for (int round = 3; round <= 4; ++round) {
        client.Send(tests::Request(c.opcode, "a.bin", "octet"), h.listenAt);
        RawClient::Datagram reply;
        EXPECT_TRUE(client.Next(reply));
        EXPECT_EQ(reply.bytes, tests::ErrorPacket(0, c.reason));
        EXPECT_EQ(reply.from == h.listenAt, c.fromListener);
        EXPECT_TRUE(h.WaitReported(round));
        EXPECT_EQ(h.view.ResultOf(round),
                  c.reason + (c.opcode == tftp::kRrq ? " : Sending" : " : Receiving"));
    }
    if (c.noThreads) return !::testing::Test::HasFailure();
    tests::SetDescriptorLimit(oldLimit);
    client.Send(ReadRequest(), h.listenAt);
    RawClient::Datagram reply;
    EXPECT_TRUE(client.Next(reply));
    EXPECT_EQ(reply.bytes, tests::Data(1, "x"));
    return !::testing::Test::HasFailure();
}

}  // namespace

TEST(ListenerResources, ARequestThatFindsNoThreadSocketOrFileIsToldWhyAndServingGoesOn) {
    const std::string noDescriptor = std::strerror(EMFILE);
    const Shortage cases[] = {
        {"no descriptor for the socket", tftp::kRrq, 0, false, true, "No socket: " + noDescriptor},
        {"no descriptor for the file", tftp::kRrq, 1, false, false, "Cannot open file: " + noDescriptor},
        {"no descriptor for the upload", tftp::kWrq, 1, false, false, "Cannot open file: " + noDescriptor},
        {"no thread", tftp::kWrq, -1, true, true, "No thread: " + std::string(std::strerror(EAGAIN))},
    };
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const Shortage& c : cases) {
        // In a child process of its own, so that this runner never runs short.
        EXPECT_EXIT(
            {
                ::alarm(30);
                const bool ok = ServesThroughShortage(c);
                ::_exit(ok ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "")
            << c.what;
    }
}
