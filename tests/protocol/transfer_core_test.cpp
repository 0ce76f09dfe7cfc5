// The shared sender and receiver against each other over an in-memory link
// that loses, duplicates or reorders chosen datagrams, with time that moves
// only while the link is quiet: every file must arrive whole, and a copy
// made by the link must not double the blocks that follow it.
#include "common/retransmit_timer.h"
#include "common/socket_room.h"
#include "common/tftp_options.h"
#include "common/tftp_packet.h"
#include "common/transfer_receiver.h"
#include "common/transfer_sender.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

enum class Fate { Pass, Drop, Duplicate, Hold };

// One direction of the link: numbers its datagrams from 1 and applies fate.
class Direction final : public tftp::PacketSink {
public:
    // nth: the datagram's number on this direction; block: its block number.
    std::function<Fate(int nth, std::uint16_t block)> fate = [](int, std::uint16_t) { return Fate::Pass; };
    std::deque<std::string> queue;
    int sent = 0;

    void SendPacket(const std::uint8_t* data, int length) override {
        ++sent;
        std::string d(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length));
        switch (fate(sent, tftp::GetU16(data + 2))) {
        case Fate::Drop: return;
        case Fate::Duplicate: queue.push_back(d); queue.push_back(d); break;
        case Fate::Hold: held_ = d; return;  // goes out after the next one
        case Fate::Pass: queue.push_back(d); break;
        }
        if (!held_.empty() && queue.back() != held_) {
            queue.push_back(held_);
            held_.clear();
        }
    }

private:
    std::string held_;
};

struct Outcome {
    bool finished = false;
    std::string received;
    int dataSent = 0;  // DATA datagrams the sender put on the link
    std::int64_t elapsedMs = 0;
};

// Sends content block by block from a sender to a receiver.
Outcome Transfer(const std::string& content, int blockSize, Direction& toReceiver, Direction& toSender,
                 int window = 1) {
    tests::TempDir dir;
    tests::WriteFile(dir.File("in"), content);
    tftp::LocalFileReader reader;
    tftp::LocalFileWriter writer;
    EXPECT_TRUE(reader.Open(dir.File("in"), false));
    EXPECT_TRUE(writer.Create(dir.File("out"), false));
    tftp::TransferSender sender(reader, toReceiver);
    tftp::TransferReceiver receiver(writer, toSender);
    std::int64_t now = 0;
    EXPECT_TRUE(sender.Begin(blockSize, static_cast<std::int64_t>(content.size()), window));
    receiver.Begin(blockSize, window);
    sender.SendFirst(now);
    // Bounded: a transfer that stops making progress ends the loop.
    for (int step = 0; step < 2'000'000 && now < 600'000; ++step) {
        if (!toReceiver.queue.empty()) {
            const std::string d = toReceiver.queue.front();
            toReceiver.queue.pop_front();
            receiver.OnData(reinterpret_cast<const std::uint8_t*>(d.data()), static_cast<int>(d.size()), now);
        } else if (!toSender.queue.empty()) {
            const std::string a = toSender.queue.front();
            toSender.queue.pop_front();
            sender.OnAck(tftp::GetU16(reinterpret_cast<const std::uint8_t*>(a.data()) + 2), now);
        } else if (sender.Finished() && receiver.Finished()) {
            break;
        } else {
            now += 10;  // quiet: time passes
            if (sender.ResendDue(now)) sender.Resend(now);
            if (receiver.ResendDue(now)) receiver.Resend(now);
        }
    }
    Outcome o;
    o.finished = sender.Finished() && receiver.Finished();
    o.received = tests::ReadFile(dir.File("out"));
    o.dataSent = toReceiver.sent;
    o.elapsedMs = now;
    return o;
}

}  // namespace

TEST(TransferCore, EveryLossDuplicateAndReorderEndsWithTheWholeFile) {
    const std::string content = tests::PatternBytes(40 * 512 + 100);
    const int blocks = 41;
    struct Case {
        const char* name;
        bool towardReceiver;  // DATA; else ACK
        Fate fate;
        int nth;  // which datagram of that direction; 0: every 7th
    };
    const Case cases[] = {
        {"first DATA lost", true, Fate::Drop, 1},
        {"a middle DATA lost", true, Fate::Drop, 20},
        {"last DATA lost", true, Fate::Drop, blocks},
        {"first ACK lost", false, Fate::Drop, 1},
        {"a middle ACK lost", false, Fate::Drop, 20},
        {"final ACK lost", false, Fate::Drop, blocks},
        {"a DATA duplicated", true, Fate::Duplicate, 10},
        {"an ACK duplicated", false, Fate::Duplicate, 10},
        {"every 7th DATA duplicated", true, Fate::Duplicate, 0},
        {"every 7th ACK duplicated", false, Fate::Duplicate, 0},
        {"two DATA reordered", true, Fate::Hold, 5},
        {"two ACKs reordered", false, Fate::Hold, 5},
        {"every 7th DATA lost", true, Fate::Drop, 0},
        {"every 7th ACK lost", false, Fate::Drop, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Direction toReceiver, toSender;
        Direction& impaired = c.towardReceiver ? toReceiver : toSender;
        impaired.fate = [&c](int nth, std::uint16_t) {
            const bool hit = c.nth == 0 ? nth % 7 == 0 : nth == c.nth;
            return hit ? c.fate : Fate::Pass;
        };
        const Outcome o = Transfer(content, 512, toReceiver, toSender);
        EXPECT_TRUE(o.finished);
        EXPECT_EQ(o.received, content);
        // In lock-step a held datagram waits for the next one, which only a
        // resend brings: it costs what a loss costs.
        const int losses = c.fate == Fate::Drop ? (c.nth == 0 ? (blocks + 6) / 7 : 1)
                                                : (c.fate == Fate::Hold ? 1 : 0);
        if (losses > 0) {
            // Each loss costs one resend, after an interval of about a second.
            EXPECT_LE(o.dataSent, blocks + losses);
            EXPECT_LE(o.elapsedMs, losses * (tftp::RetransmitTimer::kInitialMs + 100));
        } else {
            // A copy the link made is never answered with a copy of our own.
            EXPECT_EQ(o.dataSent, blocks);
        }
    }
}

TEST(TransferCore, WindowsRecoverFromEveryLossAndOnlyALostWindowEndWaits) {
    const std::string content = tests::PatternBytes(40 * 512 + 100);
    const int blocks = 41;  // the last window is shorter than any window below 41
    struct Case {
        const char* name;
        bool towardReceiver;  // DATA; else ACK
        Fate fate;
        int nth;              // which datagram of that direction (1-based); 0: every 7th
        bool waits;           // only a time-out can tell of it
    };
    // With window 8, DATA 9 to 16 is the second window and ACK 1 ends the first.
    const Case cases[] = {
        {"first block of a window lost", true, Fate::Drop, 9, false},
        {"middle block of a window lost", true, Fate::Drop, 12, false},
        {"last block of a window lost", true, Fate::Drop, 16, true},
        {"a window's ACK lost", false, Fate::Drop, 1, true},
        {"two blocks of a window reordered", true, Fate::Hold, 10, false},
        {"a block duplicated", true, Fate::Duplicate, 11, false},
        {"a window's ACK duplicated", false, Fate::Duplicate, 1, false},
        {"the first copy of every 7th block lost", true, Fate::Drop, 0, true},
        {"every 7th ACK lost", false, Fate::Drop, 0, true},
    };
    for (const int window : {2, 8, 64, 65535}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", window " + std::to_string(window));
            Direction toReceiver, toSender;
            Direction& impaired = c.towardReceiver ? toReceiver : toSender;
            std::set<std::uint16_t> blocksSeen;
            impaired.fate = [&](int nth, std::uint16_t block) {
                const bool first = blocksSeen.insert(block).second;
                bool hit = c.nth == 0 ? nth % 7 == 0 : nth == c.nth;
                if (c.nth == 0 && c.towardReceiver) hit = first && block % 7 == 0;
                return hit ? c.fate : Fate::Pass;
            };
            const Outcome o = Transfer(content, 512, toReceiver, toSender, window);
            EXPECT_TRUE(o.finished);
            EXPECT_TRUE(o.received == content) << "the file arrived changed";
            const int hits = c.nth == 0 ? (blocks + 6) / 7 : 1;
            // Each loss sends at most one window again; a reordered block
            // looks like two losses.
            const int misses = c.fate == Fate::Hold ? 2 : hits;
            EXPECT_LE(o.dataSent, blocks + misses * std::min(window, blocks));
            // A gap the receiver sees is answered at once: no time passes. (In
            // a window of 2 every block is its window's first or last.)
            if (!c.waits && window > 2) {
                EXPECT_EQ(o.elapsedMs, 0);
            } else {
                EXPECT_LE(o.elapsedMs, hits * (tftp::RetransmitTimer::kInitialMs + 100));
            }
            if (c.fate == Fate::Duplicate && c.towardReceiver) {
                EXPECT_EQ(o.dataSent, blocks);
            }
        }
    }
}

TEST(TransferCore, AReceiverAskingAgainAfterItsTimeOutGetsTheBlockAtOnce) {
    tests::TempDir dir;
    tests::WriteFile(dir.File("in"), tests::PatternBytes(3000));
    tftp::LocalFileReader reader;
    ASSERT_TRUE(reader.Open(dir.File("in"), false));
    Direction out;
    tftp::TransferSender sender(reader, out);
    ASSERT_TRUE(sender.Begin(512, 3000));
    sender.SendFirst(0);
    EXPECT_EQ(sender.OnAck(1, 5), tftp::TransferSender::Step::Sent);  // block 2 out
    // A copy of ACK 1 right behind it is the link's: nothing is resent.
    EXPECT_EQ(sender.OnAck(1, 6), tftp::TransferSender::Step::Ignored);
    // ACK 1 again much later: the receiver timed out waiting for block 2.
    EXPECT_EQ(sender.OnAck(1, 300), tftp::TransferSender::Step::Resent);
    EXPECT_EQ(out.queue.back(), out.queue[1]);
    // Both copies of block 2 are acknowledged: the second ACK 2 draws nothing.
    EXPECT_EQ(sender.OnAck(2, 301), tftp::TransferSender::Step::Sent);
    EXPECT_EQ(sender.OnAck(2, 400), tftp::TransferSender::Step::Ignored);
    EXPECT_EQ(out.sent, 4);
    // An ACK further back, or ahead of what was sent, is ignored.
    EXPECT_EQ(sender.OnAck(1, 900), tftp::TransferSender::Step::Ignored);
    EXPECT_EQ(sender.OnAck(9, 900), tftp::TransferSender::Step::Ignored);
}

TEST(TransferCore, BlockNumbersWrapAfter65535) {
    // 65,540 blocks of 8 bytes: past block 65535 comes block 0, then 1.
    const std::string content = tests::PatternBytes(65540 * 8 + 3, 7);
    for (const int window : {1, 7}) {
        SCOPED_TRACE(window);
        Direction toReceiver, toSender;
        // With a window of 7 one window spans 65535 and 0; the first copy of
        // block 0 is lost in it.
        bool lost = false;
        if (window > 1) {
            toReceiver.fate = [&lost](int, std::uint16_t block) {
                if (block != 0 || lost) return Fate::Pass;
                lost = true;
                return Fate::Drop;
            };
        }
        const Outcome o = Transfer(content, 8, toReceiver, toSender, window);
        EXPECT_TRUE(o.finished);
        EXPECT_TRUE(o.received == content) << "the file arrived changed";
        EXPECT_EQ(lost, window > 1);
        EXPECT_LE(o.dataSent, 65541 + window);
        EXPECT_EQ(o.elapsedMs, 0);
    }
}

TEST(SocketRoom, AWindowIsSizedForWhatTheSystemCountsAndCappedToWhatFits) {
    // Lock-step keeps its room for eight blocks.
    EXPECT_EQ(tftp::SocketBufferRequest(512, 0), 8 * 532);
    const struct {
        int window, blockSize, readBack, fits;
    } cases[] = {
        {16, 512, 425984, 16},     // the usual doubled default holds it
        {64, 1428, 425984, 64},
        {64, 8192, 425984, 23},    // large blocks cost twice their size
        {16, 8192, 2 * tftp::SocketBufferRequest(8192, 212992, 16), 16},
        {65535, 512, 8 << 20, (8 << 20) / 1540},
        {4, 65464, 1000, 1},       // never below one block
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.window) + " x " + std::to_string(c.blockSize));
        EXPECT_EQ(tftp::WindowThatFits(c.window, c.blockSize, c.readBack), c.fits);
    }
}

TEST(ServerOptions, WindowsizeIsTakenWhenAllowedAndCappedAtTheMaximum) {
    struct Case {
        std::uint64_t offered;
        bool allowed;
        int maximum;
        int window;  // 1 and not echoed when the option is not taken
        bool echoed;
    };
    const Case cases[] = {
        {0, true, 64, 1, false},      // no window holds no block
        {1, true, 64, 1, true},
        {16, true, 64, 16, true},
        {64, true, 64, 64, true},
        {70000, true, 64, 64, true},  // past the 16-bit range: the maximum
        {70000, true, 65535, 65535, true},
        {16, false, 64, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offered);
        tftp::ServerOptionRules rules;
        rules.allowWindow = c.allowed;
        rules.maxWindow = c.maximum;
        const tftp::ServerOptionChoice choice =
            tftp::ChooseServerOptions({tftp::Option{tftp::OptionName::Windowsize, c.offered}}, rules);
        EXPECT_EQ(choice.window, c.window);
        EXPECT_EQ(choice.echo.Get(tftp::OptionName::Windowsize).has_value(), c.echoed);
        if (c.echoed) {
            EXPECT_EQ(*choice.echo.Get(tftp::OptionName::Windowsize), static_cast<std::uint64_t>(c.window));
        }
    }
}

TEST(RetransmitTimer, WaitsASecondFirstThenFollowsTheRoundTripWithinBoundsAndBacksOff) {
    tftp::RetransmitTimer t;
    t.Sent(0, false);
    EXPECT_FALSE(t.Due(999));
    EXPECT_TRUE(t.Due(1000));
    t.Answered(1);  // a quick round trip: the floor applies
    t.Sent(10, false);
    EXPECT_EQ(t.IntervalMs(), tftp::RetransmitTimer::kMinimumMs);
    // Unanswered resends double the interval up to the ceiling.
    int expected = tftp::RetransmitTimer::kMinimumMs;
    for (int i = 0; i < 6; ++i) {
        t.Sent(100 * i, true);
        expected = std::min(expected * 2, tftp::RetransmitTimer::kMaximumMs);
        EXPECT_EQ(t.IntervalMs(), expected);
    }
    // The answer to a resend is no round-trip sample: a slow one does not
    // stretch the interval, and the backoff ends.
    t.Answered(60'000);
    t.Sent(60'000, false);
    EXPECT_EQ(t.IntervalMs(), tftp::RetransmitTimer::kMinimumMs);
    // A round trip of 900 ms pushes it up.
    t.Answered(60'900);
    t.Sent(61'000, false);
    EXPECT_GT(t.IntervalMs(), 900);
}

TEST(ServerOptions, TimeoutsOutsideOneTo255SecondsCountAsAbsent) {
    struct Case { std::uint64_t offered; int used; bool echoed; };
    for (const Case& c : {Case{0, 0, false}, Case{1, 1, true}, Case{255, 255, true},
                          Case{256, 0, false}, Case{1'000'000, 0, false}}) {
        const auto choice = tftp::ChooseServerOptions(
            {tftp::Option{tftp::OptionName::Timeout, c.offered}}, tftp::ServerOptionRules{});
        EXPECT_EQ(choice.timeoutSecs, c.used) << c.offered;
        EXPECT_EQ(choice.echo.Get(tftp::OptionName::Timeout).has_value(), c.echoed) << c.offered;
    }
}

// RFC 2348: a server may answer a blksize with a smaller one. Above the cap
// the OACK carries the cap; at or below it the client's size stands; a size
// below the least is refused whatever the cap.
TEST(ServerOptions, ABlockSizeAboveTheCapIsAnsweredWithTheCap) {
    struct Case {
        std::uint64_t offered;
        int cap;        // 0: none
        int used;       // 0: refused
    };
    const Case cases[] = {
        {8192, 1024, 1024},   {1024, 1024, 1024},   {1023, 1024, 1023},
        {65464, 1428, 1428},  {70000, 0, 65464},    {70000, 1024, 1024},
        {8192, 0, 8192},      {8192, 65464, 8192},  {8192, 100000, 8192},
        {512, 8, 8},          {4, 1024, 0},         {8192, 3, 8},  // a cap below the least is the least
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.offered << " under " << c.cap);
        tftp::ServerOptionRules rules;
        rules.maxBlockSize = c.cap;
        const auto choice =
            tftp::ChooseServerOptions({tftp::Option{tftp::OptionName::Blksize, c.offered}}, rules);
        EXPECT_EQ(choice.blockSizeRefused, c.used == 0);
        if (c.used == 0) continue;
        EXPECT_EQ(choice.blockSize, c.used);
        ASSERT_TRUE(choice.echo.Get(tftp::OptionName::Blksize).has_value());
        EXPECT_EQ(*choice.echo.Get(tftp::OptionName::Blksize), static_cast<std::uint64_t>(c.used));
    }
    // What a client may offer under its own cap.
    EXPECT_EQ(tftp::CappedBlockSize(8192, 1024), 1024);
    EXPECT_EQ(tftp::CappedBlockSize(512, 1024), 512);
    EXPECT_EQ(tftp::CappedBlockSize(8192, 0), 8192);
}

namespace {

std::string DataPacket(std::uint16_t block, const std::string& bytes) {
    std::string p(4, '\0');
    p[0] = 0;
    p[1] = 3;
    p[2] = static_cast<char>(block >> 8);
    p[3] = static_cast<char>(block & 0xFF);
    return p + bytes;
}

std::uint16_t BlockOf(const std::string& packet) {
    return tftp::GetU16(reinterpret_cast<const std::uint8_t*>(packet.data()) + 2);
}

tftp::TransferReceiver::Step Deliver(tftp::TransferReceiver& receiver, const std::string& packet,
                                     std::int64_t nowMs) {
    return receiver.OnData(reinterpret_cast<const std::uint8_t*>(packet.data()),
                           static_cast<int>(packet.size()), nowMs);
}

}  // namespace

TEST(TransferCore, AnAckInsideTheWindowSendsTheRestOfItAgainEvenASingleBlock) {
    tests::TempDir dir;
    tests::WriteFile(dir.File("in"), tests::PatternBytes(20 * 512 + 1));
    struct Case {
        std::uint16_t ack;                   // of the first window, blocks 1 to 4
        std::vector<std::uint16_t> resent;   // at once, before the new blocks
    };
    const Case cases[] = {
        {1, {2, 3, 4}},
        {2, {3, 4}},
        {3, {4}},  // one block left in flight: it goes again too
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ack);
        tftp::LocalFileReader reader;
        ASSERT_TRUE(reader.Open(dir.File("in"), false));
        Direction out;
        tftp::TransferSender sender(reader, out);
        ASSERT_TRUE(sender.Begin(512, -1, 4));
        ASSERT_EQ(sender.SendFirst(0), tftp::TransferSender::Step::Sent);
        ASSERT_EQ(out.queue.size(), 4u);
        out.queue.clear();
        EXPECT_EQ(sender.OnAck(c.ack, 5), tftp::TransferSender::Step::Sent);
        std::vector<std::uint16_t> sent;
        for (const std::string& p : out.queue) sent.push_back(BlockOf(p));
        // The window slides to the block after the ACK and is full again.
        std::vector<std::uint16_t> expected = c.resent;
        for (std::uint16_t b = 5; b <= c.ack + 4; ++b) expected.push_back(b);
        EXPECT_EQ(sent, expected);
    }
}

TEST(TransferCore, ARepeatedBlockIsAcknowledgedOnceAndCountsAsTheResendOfThatSilence) {
    tests::TempDir dir;
    tftp::LocalFileWriter writer;
    ASSERT_TRUE(writer.Create(dir.File("out"), false));
    Direction out;
    tftp::TransferReceiver receiver(writer, out);
    receiver.Begin(8);
    EXPECT_EQ(Deliver(receiver, DataPacket(1, "12345678"), 0), tftp::TransferReceiver::Step::Written);
    EXPECT_EQ(out.sent, 1);
    // The sender did not hear ACK 1 and sends block 1 again: ACK 1 again.
    EXPECT_EQ(Deliver(receiver, DataPacket(1, "12345678"), 1500),
              tftp::TransferReceiver::Step::Reacknowledged);
    EXPECT_EQ(out.sent, 2);
    EXPECT_EQ(receiver.Retransmissions(), 1);
    // That was this silence's one resend: the sender resends its own block,
    // so the receiver stays quiet however long the silence lasts.
    for (std::int64_t now = 1500; now <= 60'000; now += 100) {
        EXPECT_FALSE(receiver.ResendDue(now)) << now;
    }
    // The repeat was not written twice.
    EXPECT_EQ(Deliver(receiver, DataPacket(2, "end"), 60'100), tftp::TransferReceiver::Step::Done);
    EXPECT_EQ(tests::ReadFile(dir.File("out")), "12345678end");
}

TEST(TransferCore, AnUploadWhoseFileCannotTakeItsNameIsNotAcknowledged) {
    tests::TempDir dir;
    tftp::LocalFileWriter writer;
    ASSERT_TRUE(writer.CreateReplacing(dir.File("f"), false, dir.Path() + "/"));
    Direction out;
    tftp::TransferReceiver receiver(writer, out);
    receiver.Begin(8);
    EXPECT_EQ(Deliver(receiver, DataPacket(1, "12345678"), 0), tftp::TransferReceiver::Step::Written);
    const int acks = out.sent;
    // Something else takes the name meanwhile: the last block cannot land.
    ASSERT_EQ(::mkdir(dir.File("f").c_str(), 0755), 0);
    tests::WriteFile(dir.File("f") + "/inside", "x");
    EXPECT_EQ(Deliver(receiver, DataPacket(2, "end"), 10), tftp::TransferReceiver::Step::FinishFailed);
    // No ACK of the last block: the client must not take it as delivered.
    EXPECT_EQ(out.sent, acks);
    EXPECT_FALSE(receiver.Finished());
}

TEST(TransferCore, AReceiverCountsOnAcrossTheWrapOfTheBlockNumber) {
    struct Case {
        const char* name;
        int window;
        std::vector<std::uint16_t> after;  // blocks that come after block 65532
        tftp::TransferReceiver::Step last;  // what the last of them does
        std::uint16_t ack;                  // the ACK it draws
    };
    const Case cases[] = {
        {"block 65535 lost in a window that spans the wrap", 4, {65533, 65534, 0},
         tftp::TransferReceiver::Step::Reacknowledged, 65534},
        {"block 65535 sent again in lock-step", 1, {65533, 65534, 65535, 65535},
         tftp::TransferReceiver::Step::Reacknowledged, 65535},
        {"block 0 after block 65535", 1, {65533, 65534, 65535, 0},
         tftp::TransferReceiver::Step::Written, 0},
        {"block 1 again after block 0", 1, {65533, 65534, 65535, 0, 1, 1},
         tftp::TransferReceiver::Step::Reacknowledged, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tests::TempDir dir;
        tftp::LocalFileWriter writer;
        ASSERT_TRUE(writer.Create(dir.File("out"), false));
        Direction out;
        tftp::TransferReceiver receiver(writer, out);
        receiver.Begin(1, c.window);
        std::int64_t now = 0;
        for (std::uint32_t b = 1; b <= 65532; ++b) {
            ASSERT_EQ(Deliver(receiver, DataPacket(static_cast<std::uint16_t>(b), "x"), now),
                      tftp::TransferReceiver::Step::Written);
        }
        tftp::TransferReceiver::Step step{};
        for (const std::uint16_t b : c.after) {
            now += 100;  // no copy the network made
            step = Deliver(receiver, DataPacket(b, "x"), now);
        }
        EXPECT_EQ(step, c.last);
        ASSERT_FALSE(out.queue.empty());
        EXPECT_EQ(BlockOf(out.queue.back()), c.ack);
    }
}

TEST(TransferCore, BlocksReachTheFileSeveralAtATimeAndAFailedWriteIsNotFollowedByAnAck) {
    // 20 blocks of 8192 bytes and a short last one; the file may take at
    // most fileLimit bytes. Blocks are held back 64 KiB at a time.
    struct Case {
        const char* name;
        int window;
        long fileLimit;
        int failsAt;  // the block whose step is WriteFailed; 0: none
    };
    const Case cases[] = {
        {"lock-step, room for all", 1, 1 << 24, 0},
        {"window 4, room for all", 4, 1 << 24, 0},
        {"lock-step, full after two chunks", 1, 100000, 17},
        {"window 4, full after two chunks", 4, 100000, 17},
        {"lock-step, full at the last block", 1, 20 * 8192, 21},
    };
    using S = tftp::TransferReceiver::Step;
    constexpr int kBlock = 8192, kBlocks = 21;
    const std::string content = tests::PatternBytes(20 * kBlock + 100, 6);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tests::TempDir dir;
        tftp::LocalFileWriter writer;
        ASSERT_TRUE(writer.Create(dir.File("f"), false));
        Direction out;
        tftp::TransferReceiver receiver(writer, out);
        receiver.Begin(kBlock, c.window);
        std::vector<long> sizes;
        {
            const tests::FileSizeLimit limit(static_cast<rlim_t>(c.fileLimit));  // as a full disk
            ASSERT_TRUE(limit.Ok());
            for (int block = 1; block <= kBlocks; ++block) {
                const int acksBefore = out.sent;
                const std::string payload = content.substr(static_cast<std::size_t>(block - 1) * kBlock, kBlock);
                const S step = Deliver(receiver, DataPacket(static_cast<std::uint16_t>(block), payload), block);
                struct stat st {};
                ASSERT_EQ(::stat(dir.File("f").c_str(), &st), 0);
                sizes.push_back(static_cast<long>(st.st_size));
                if (block == c.failsAt) {
                    EXPECT_EQ(step, S::WriteFailed);
                    if (block == kBlocks) {
                        EXPECT_EQ(out.sent, acksBefore) << "no ACK of the last block";
                    }
                    break;
                }
                EXPECT_EQ(step, block == kBlocks ? S::Done : S::Written) << "block " << block;
            }
        }
        // Eight blocks go to the file at a time: none after the first.
        EXPECT_EQ(sizes[0], 0);
        EXPECT_EQ(sizes[8], 8 * kBlock) << "the ninth block makes room for itself";
        if (c.failsAt == 0) {
            EXPECT_TRUE(tests::ReadFile(dir.File("f")) == content);
        }
    }
}
