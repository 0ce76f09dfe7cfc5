// Skerry's engine against Vantrel's engine through the impairment relay, in
// one process on one manual clock that moves only while nothing is on the
// wire: every kind of datagram lost, duplicated or reordered, in both
// directions, must still give the whole file, and a copy the link made
// must not make the sender double what follows.
#include "common/tftp_packet.h"
#include "tests/loss/own_pair.h"

#include <gtest/gtest.h>

#include <optional>

using tests::Fate;
using tests::Match;
using tests::OwnPair;
using tests::Rule;
using tests::Toward;

namespace {

constexpr std::uint16_t kRrq = tftp::kRrq, kWrq = tftp::kWrq, kData = tftp::kData,
                        kAck = tftp::kAck, kOack = tftp::kOack;

struct Case {
    const char* name;
    bool sending;        // Skerry sends (write request); else it fetches
    int blockSize;       // 512: no options; otherwise blksize (and an OACK)
    Toward toward;
    std::optional<std::uint16_t> opcode;
    std::optional<std::uint16_t> block;
    Fate fate;
    int nth = 1;
};

// 20 blocks of 512 (or 10 of 1024) and a short last one.
const std::string kContent = tests::PatternBytes(10 * 1024 + 300, 11);

std::vector<Case> AllCases() {
    std::vector<Case> cases;
    for (bool sending : {false, true}) {
        const Toward toReceiver = sending ? Toward::Server : Toward::Client;
        const Toward toSender = sending ? Toward::Client : Toward::Server;
        for (int bs : {512, 1024}) {
            const int blocks = static_cast<int>(kContent.size()) / bs + 1;
            const std::uint16_t answer = bs != 512 ? kOack : sending ? kAck : kData;
            const auto add = [&](const char* name, Toward toward, std::optional<std::uint16_t> op,
                                 std::optional<std::uint16_t> block, Fate fate, int nth = 1) {
                cases.push_back({name, sending, bs, toward, op, block, fate, nth});
            };
            add("request lost", Toward::Server, sending ? kWrq : kRrq, {}, Fate::Drop);
            add("first answer lost", Toward::Client, answer, {}, Fate::Drop);
            if (bs != 512 && !sending) add("ACK 0 of the OACK lost", Toward::Server, kAck, 0, Fate::Drop);
            add("first DATA lost", toReceiver, kData, 1, Fate::Drop);
            add("a middle DATA lost", toReceiver, kData, static_cast<std::uint16_t>(blocks / 2), Fate::Drop);
            add("last DATA lost", toReceiver, kData, static_cast<std::uint16_t>(blocks), Fate::Drop);
            add("first ACK lost", toSender, kAck, 1, Fate::Drop);
            add("a middle ACK lost", toSender, kAck, static_cast<std::uint16_t>(blocks / 2), Fate::Drop);
            add("final ACK lost", toSender, kAck, static_cast<std::uint16_t>(blocks), Fate::Drop);
            add("a DATA duplicated", toReceiver, kData, 3, Fate::Duplicate);
            add("an ACK duplicated", toSender, kAck, 3, Fate::Duplicate);
            add("DATA reordered", toReceiver, kData, 4, Fate::Reorder);
            add("ACK reordered", toSender, kAck, 4, Fate::Reorder);
        }
    }
    return cases;
}

class Loss : public ::testing::TestWithParam<Case> {};

TEST_P(Loss, TheWholeFileArrivesAndNothingIsDoubled) {
    const Case& c = GetParam();
    OwnPair pair;
    const std::string name = "f.bin";
    if (c.sending) tests::WriteFile(pair.local.File(name), kContent);
    else tests::WriteFile(pair.h.OutFile(name), kContent);
    pair.relay().AddRule(Rule{Match{c.toward, c.opcode, c.block, c.nth, 1}, c.fate});

    const OwnPair::Result r = pair.Run(c.sending, name, c.blockSize);
    ASSERT_TRUE(r.done) << "status: " << r.clientStatus << ", server: " << r.serverResult;
    EXPECT_EQ(r.serverResult, c.sending ? "Finished : Receiving" : "Finished : Sending");
    EXPECT_TRUE(tests::ReadFile(c.sending ? pair.h.InFile(name) : pair.local.File(name)) == kContent);
    EXPECT_TRUE(pair.h.prompts.MessageTexts().empty());
    // The sender put each block on the wire once, plus at most one resend for
    // the one datagram impaired.
    const Toward toReceiver = c.sending ? Toward::Server : Toward::Client;
    const int blocks = static_cast<int>(kContent.size()) / c.blockSize + 1;
    EXPECT_LE(pair.relay().Count(toReceiver, kData), blocks + 1);
    EXPECT_GE(pair.relay().Count(toReceiver, kData), blocks);
}

INSTANTIATE_TEST_SUITE_P(OwnPair, Loss, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string n = std::string(info.param.sending ? "Send_" : "Fetch_") +
                                             std::to_string(info.param.blockSize) + "_" + info.param.name;
                             for (char& ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

TEST(OwnPairLoss, TwentySeparateLossesInOneLongTransferBothWays) {
    // 2,000 blocks with every 100th DATA and every 100th ACK lost: forty
    // losses, none of which may end the transfer.
    const std::string content = tests::PatternBytes(2000 * 512 + 17, 13);
    for (bool sending : {false, true}) {
        SCOPED_TRACE(sending ? "send" : "fetch");
        OwnPair pair;
        if (sending) tests::WriteFile(pair.local.File("long.bin"), content);
        else tests::WriteFile(pair.h.OutFile("long.bin"), content);
        const Toward toReceiver = sending ? Toward::Server : Toward::Client;
        const Toward toSender = sending ? Toward::Client : Toward::Server;
        for (int i = 1; i <= 20; ++i) {
            pair.relay().AddRule(Rule{Match{toReceiver, kData, {}, i * 100, 1}, Fate::Drop});
            pair.relay().AddRule(Rule{Match{toSender, kAck, {}, i * 100 - 50, 1}, Fate::Drop});
        }
        const OwnPair::Result r = pair.Run(sending, "long.bin", 512);
        ASSERT_TRUE(r.done) << r.clientStatus;
        EXPECT_TRUE(tests::ReadFile(sending ? pair.h.InFile("long.bin") : pair.local.File("long.bin")) == content);
        EXPECT_EQ(pair.relay().Dropped(toReceiver) + pair.relay().Dropped(toSender), 40);
        EXPECT_LE(pair.relay().Count(toReceiver, kData), 2001 + 40);
    }
}

}  // namespace
