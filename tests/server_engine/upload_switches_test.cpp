// The inbound folder's two switches: uploads refused outright, or refused
// for a name that is there already; off, uploads are taken as always.
#include "engine_harness.h"

#include <gtest/gtest.h>

#include <filesystem>

using tests::EngineHarness;
using tests::RawClient;
using Datagram = tests::RawClient::Datagram;

namespace {

TEST(UploadSwitches, EachAnswerByteForByteAndTheFileInTheFolderUnchanged) {
    struct Case {
        const char* name;
        int refuse;
        int noReplace;
        bool exists;
        std::string answer;  // to the write request
    };
    const std::string old = "the file that was there";
    const std::vector<Case> cases = {
        {"both off, new name", 0, 0, false, tests::Ack(0)},
        {"both off, replacing", 0, 0, true, tests::Ack(0)},
        {"refused, new name", 1, 0, false, tests::ErrorPacket(2, "Access violation")},
        {"refused, replacing", 1, 0, true, tests::ErrorPacket(2, "Access violation")},
        {"refused and no replacing", 1, 1, true, tests::ErrorPacket(2, "Access violation")},
        {"no replacing, new name", 0, 1, false, tests::Ack(0)},
        {"no replacing, replacing", 0, 1, true, tests::ErrorPacket(6, "File already exists")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EngineHarness h;
        h.settings.bRefuseUploads = c.refuse;
        h.settings.bNoReplace = c.noReplace;
        ASSERT_TRUE(h.Start());
        if (c.exists) tests::WriteFile(h.InFile("up.bin"), old);
        RawClient client;
        client.Send(tests::Request(tftp::kWrq, "up.bin", "octet", {{"blksize", "1024"}}), h.listenAt);
        Datagram answer;
        ASSERT_TRUE(client.Next(answer));
        const bool taken = c.answer == tests::Ack(0);
        // Taken with its options: the OACK stands for ACK 0.
        if (taken) {
            EXPECT_EQ(answer.Opcode(), tftp::kOack);
        } else {
            EXPECT_EQ(answer.bytes, c.answer);
        }
        if (taken) {
            client.Send(tests::Data(1, "new"), answer.from);
            ASSERT_TRUE(client.Next(answer));
            EXPECT_EQ(answer.bytes, tests::Ack(1));
        }
        ASSERT_TRUE(h.WaitReported(1));
        if (taken) {
            EXPECT_EQ(tests::ReadFile(h.InFile("up.bin")), "new");
            EXPECT_EQ(h.view.ResultOf(1), "Finished : Receiving");
        } else {
            EXPECT_EQ(std::filesystem::exists(h.InFile("up.bin")), c.exists);
            if (c.exists) {
                EXPECT_EQ(tests::ReadFile(h.InFile("up.bin")), old);
            }
            EXPECT_EQ(h.view.ResultOf(1), std::string(c.refuse ? "Access violation" : "File already exists") +
                                              " : Receiving");
        }
        // Reads are never refused by either switch.
        tests::WriteFile(h.OutFile("down.bin"), "x");
        client.Send(tests::Request(tftp::kRrq, "down.bin", "octet"), h.listenAt);
        ASSERT_TRUE(client.Next(answer));
        EXPECT_EQ(answer.bytes, tests::Data(1, "x"));
    }
}

}  // namespace
