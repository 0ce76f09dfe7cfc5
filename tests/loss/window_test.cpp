// Windows of blocks (the windowsize option) between Skerry's engine and
// Vantrel's engine through the impairment relay, both ways: every window
// size from lock-step to 65535, a block lost at the start, middle and end of
// a window, a lost or doubled window ACK, blocks reordered or doubled inside
// a window, a window across block number 65535 -> 0, and a last window
// shorter than the rest. The file must arrive whole, the window must really
// be used (few ACKs), and a loss must cost at most a window or two again.
#include "common/tftp_packet.h"
#include "tests/loss/own_pair.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <optional>

using tests::Fate;
using tests::Match;
using tests::OwnPair;
using tests::Rule;
using tests::Toward;

namespace {

constexpr std::uint16_t kData = tftp::kData, kAck = tftp::kAck;

// Which way an impaired datagram goes, whichever program sends the file.
enum class Way { ToReceiver, ToSender };

struct Impairment {
    Way way;
    std::uint16_t opcode;
    std::uint16_t block;  // as on the wire: 16 bits
    Fate fate;
    int nth = 1;  // the nth datagram of that opcode and block number
};

struct Case {
    const char* name;
    int window;        // asked for by Skerry
    int used;          // the window Vantrel grants
    int blockSize;
    int fullBlocks;    // then one last block of `tail` bytes (0: an empty one)
    int tail;
    std::vector<Impairment> impair;
    int extraData = 0;  // DATA the sender may send beyond one of each block
    int extraAcks = 2;  // ACKs beyond one a window (a last answer said again)
    int maxWindow = 64;
    // A text in netascii of about that size: LF line ends at Vantrel's end
    // when it sends, CR LF on the wire and wherever it is received.
    bool netascii = false;
};

struct Param {
    Case c;
    bool sending;  // Skerry sends (write request); else it fetches
};
void PrintTo(const Param& p, std::ostream* os) { *os << (p.sending ? "send: " : "fetch: ") << p.c.name; }

std::vector<Case> Cases() {
    constexpr int kW = 8, kBlocks = 10 * kW + 4;  // ten full windows; the last has five blocks
    const auto lost = [](Way way, std::uint16_t op, int block, int nth = 1) {
        return Impairment{way, op, static_cast<std::uint16_t>(block), Fate::Drop, nth};
    };
    std::vector<Case> cases = {
        {"lock-step: no option asked", 1, 1, 512, kBlocks, 100, {}},
        {"window 2", 2, 2, 512, kBlocks, 100, {}},
        {"window 8", 8, 8, 512, kBlocks, 100, {}},
        {"window 64", 64, 64, 512, 3 * 64 + 10, 1, {}},
        {"window 65535 allowed", 65535, 65535, 512, 100, 7, {}, 0, 2, 65535},
        {"window 65535 capped at 64", 65535, 64, 1024, 200, 9, {}},
        {"window 4 at 16384-byte blocks", 4, 4, 16384, 12, 5, {}},
        // An untouched receive buffer holds one such block: lock-step.
        {"window 4 at the largest block size", 4, 1, tftp::kMaxBlockSize, 12, 5, {}},
        {"every window full: the last block is empty", kW, kW, 512, 10 * kW, 0, {}},
        {"the file in one short window", 64, 64, 512, 5, 300, {}},
        // The answer to the request (an OACK of tsize, blksize, windowsize)
        // is longer than a DATA packet of the smallest block size.
        {"the smallest block size", 4, 4, tftp::kMinBlockSize, 40, 3, {}},
        {"the first block lost", kW, kW, 512, kBlocks, 100, {lost(Way::ToReceiver, kData, 1)}, 2 * kW, kW},
        {"a window's first block lost", kW, kW, 512, kBlocks, 100, {lost(Way::ToReceiver, kData, 3 * kW + 1)}, 2 * kW, kW},
        {"a window's middle block lost", kW, kW, 512, kBlocks, 100, {lost(Way::ToReceiver, kData, 3 * kW + 4)}, 2 * kW, kW},
        {"a window's last block lost", kW, kW, 512, kBlocks, 100, {lost(Way::ToReceiver, kData, 4 * kW)}, 2 * kW, kW},
        {"the file's last block lost", kW, kW, 512, kBlocks, 100, {lost(Way::ToReceiver, kData, kBlocks + 1)}, 2 * kW, kW},
        {"netascii: a window's middle block lost", kW, kW, 512, kBlocks, 100,
         {lost(Way::ToReceiver, kData, 3 * kW + 4)}, 2 * kW, kW, 64, true},
        {"netascii: a window's ACK lost", kW, kW, 512, kBlocks, 100, {lost(Way::ToSender, kAck, 4 * kW)}, 2 * kW,
         kW + 2, 64, true},
        {"window 64: a middle block lost", 64, 64, 512, 3 * 64 + 10, 1, {lost(Way::ToReceiver, kData, 64 + 32)}, 128, 64},
        {"window 65535: a block lost", 65535, 65535, 512, 100, 7, {lost(Way::ToReceiver, kData, 50)}, 2 * 101, 101, 65535},
        {"a window's ACK lost", kW, kW, 512, kBlocks, 100, {lost(Way::ToSender, kAck, 4 * kW)}, 2 * kW, kW + 2},
        {"the last ACK lost", kW, kW, 512, kBlocks, 100, {lost(Way::ToSender, kAck, kBlocks + 1)}, 2 * kW, kW + 2},
        {"two blocks of a window lost", kW, kW, 512, kBlocks, 100,
         {lost(Way::ToReceiver, kData, 2 * kW + 2), lost(Way::ToReceiver, kData, 2 * kW + 6)}, 3 * kW, 2 * kW},
        {"a block swapped with the next", kW, kW, 512, kBlocks, 100,
         {{Way::ToReceiver, kData, 3 * kW + 3, Fate::Reorder}}, 2 * kW, kW},
        // A block the network doubled is no reason to send anything again. A
        // doubled window ACK looks like a receiver's report of a gap at the
        // window's first block: it may cost that window once, never more.
        {"a block doubled", kW, kW, 512, kBlocks, 100, {{Way::ToReceiver, kData, 3 * kW + 3, Fate::Duplicate}}, 1},
        {"a window's ACK doubled", kW, kW, 512, kBlocks, 100, {{Way::ToSender, kAck, 3 * kW, Fate::Duplicate}}, kW},
        {"the OACK lost", kW, kW, 512, kBlocks, 100, {lost(Way::ToSender, tftp::kOack, 0)}, 1},
    };
    // Past block 65535 at a small block size: windows of 12 end at
    // multiples of 12, so the window 65533 .. 65544 holds wire blocks 65533,
    // 65534, 65535, 0, 1 .. 8. Once block 65536 (wire 0) is lost, once the
    // ACK of that window (wire 8, the first ACK 8 of the transfer).
    constexpr int kWrapBlocks = 65536 + 3 * 12;
    cases.push_back({"wrap: block 65536 lost", 12, 12, 64, kWrapBlocks, 3, {lost(Way::ToReceiver, kData, 0)}, 24, 12});
    cases.push_back({"wrap: the window ACK across 0 lost", 12, 12, 64, kWrapBlocks, 3, {lost(Way::ToSender, kAck, 8)}, 24, 14});
    return cases;
}

std::vector<Param> AllParams() {
    std::vector<Param> params;
    for (const Case& c : Cases())
        for (bool sending : {false, true}) params.push_back({c, sending});
    return params;
}

std::string LfText(std::size_t atLeast) {
    std::string text;
    for (int line = 0; text.size() < atLeast; ++line)
        text += "line " + std::to_string(line) + std::string(static_cast<std::size_t>(line % 37), '.') + "\n";
    return text;
}

std::string CrLf(const std::string& lf) {
    std::string out;
    for (char ch : lf) {
        if (ch == '\n') out += '\r';
        out += ch;
    }
    return out;
}

class Windows : public ::testing::TestWithParam<Param> {};

TEST_P(Windows, TheWholeFileArrivesWithOneAckAWindow) {
    const Case& c = GetParam().c;
    const bool sending = GetParam().sending;
    OwnPair pair;
    pair.h.settings.nMaxWindowsize = c.maxWindow;
    const std::string name = "w.bin";
    const auto size = static_cast<std::size_t>(c.fullBlocks) * c.blockSize + c.tail;
    const std::string lf = c.netascii ? LfText(size * 9 / 10) : std::string();
    // What the sender holds, and what the receiver must end up with (the
    // bytes on the wire).
    const std::string content = c.netascii ? CrLf(lf) : tests::PatternBytes(size, 17);
    const std::string source = c.netascii && !sending ? lf : content;
    if (sending) tests::WriteFile(pair.local.File(name), source);
    else tests::WriteFile(pair.h.OutFile(name), source);
    const Toward toReceiver = sending ? Toward::Server : Toward::Client;
    const Toward toSender = sending ? Toward::Client : Toward::Server;
    for (const Impairment& i : c.impair) {
        // An OACK goes to the client whichever way the file goes.
        const Toward toward = i.opcode == tftp::kOack ? Toward::Client
                            : i.way == Way::ToReceiver ? toReceiver : toSender;
        pair.relay().AddRule(Rule{Match{toward, i.opcode, i.block, i.nth, 1}, i.fate});
    }

    const OwnPair::Result r = pair.Run(sending, name, c.blockSize, c.window, !c.netascii);
    ASSERT_TRUE(r.done) << "status: " << r.clientStatus << ", server: " << r.serverResult;
    EXPECT_EQ(r.serverResult, sending ? "Finished : Receiving" : "Finished : Sending") << r.clientStatus;
    EXPECT_TRUE(tests::ReadFile(sending ? pair.h.InFile(name) : pair.local.File(name)) == content);
    EXPECT_TRUE(pair.h.prompts.MessageTexts().empty());

    // Asked for only above 1, and granted as the server's maximum allows.
    const std::string request = pair.relay().FirstText(sending ? tftp::kWrq : tftp::kRrq);
    const std::string oack = pair.relay().FirstText(tftp::kOack);
    // A receiver offers no more than its receive buffer holds: a window of
    // 65535 becomes as many blocks as fit (thousands, on this machine).
    const auto windowIn = [](const std::string& text) {
        const std::size_t at = text.find("windowsize ");
        return at == std::string::npos ? 0 : std::atoi(text.c_str() + at + 11);
    };
    int used = c.used;
    if (c.window == 1) {
        EXPECT_EQ(request.find("windowsize"), std::string::npos) << request;
    } else if (c.used <= 64) {
        // A fetch asks for its window; a send only for what a server's
        // untouched receive buffer holds (nothing when that is one block).
        const int granted = sending && c.used == 1 ? 0 : c.used;
        if (c.window <= 64) {
            EXPECT_EQ(windowIn(request), sending ? granted : c.window) << request;
        }
        EXPECT_EQ(windowIn(oack), granted) << oack;
    } else {
        used = windowIn(oack);
        EXPECT_LE(windowIn(request), c.window) << request;
        EXPECT_GE(used, 64) << oack;
        EXPECT_LE(used, c.used) << oack;
    }

    // Each block went out once, plus what the impairments allow; each ACK
    // moved the window at most a whole window on.
    const int blocks = static_cast<int>(content.size()) / c.blockSize + 1;
    const int windows = (blocks + used - 1) / std::max(used, 1);
    const int data = pair.relay().Count(toReceiver, kData);
    // A fetch answers an OACK with ACK 0 before any block comes.
    const int acks = pair.relay().Count(toSender, kAck) - (!sending && !oack.empty() ? 1 : 0);
    EXPECT_GE(data, blocks);
    EXPECT_LE(data, blocks + c.extraData);
    EXPECT_GE(acks, windows);
    EXPECT_LE(acks, windows + c.extraAcks);
}

INSTANTIATE_TEST_SUITE_P(OwnPair, Windows, ::testing::ValuesIn(AllParams()),
                         [](const ::testing::TestParamInfo<Param>& info) {
                             std::string n = std::string(info.param.sending ? "Send_" : "Fetch_") + info.param.c.name;
                             for (char& ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

}  // namespace
