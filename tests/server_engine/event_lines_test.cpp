// The one line per event the server writes for its operator: a row's end,
// each refusal by the listener and each ERROR a transfer sends, told when
// they happen, with the texts as sent.
#include "engine_harness.h"

#include "server/engine/server_events.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <regex>

using tests::EngineHarness;
using tests::RawClient;
using Datagram = tests::RawClient::Datagram;

namespace {

class RecordingSink final : public ServerEventSink {
public:
    void OnTransferEnded(const TransferEndEvent& event) override { lines.push_back(FormatEventLine(event)); }
    void OnRefused(const RefusalEvent& event) override { lines.push_back(FormatEventLine(event)); }
    std::vector<std::string> lines;
};

TEST(EventLines, TextsFromTheNetworkAreQuotedSoThatNoClientStartsALine) {
    TransferEndEvent end{"10.0.0.7:1069", "/srv/tftp/a \"b\"\\c\nend: forged", true, 1300, "Finished", 2450};
    EXPECT_EQ(FormatEventLine(end),
              "end client=10.0.0.7:1069 file=\"/srv/tftp/a \\\"b\\\"\\\\c\\x0aend: forged\" direction=sending "
              "bytes=1300 result=\"Finished\" seconds=2.5");
    end.sending = false;
    end.result = "Disk\rfull";
    end.millis = -5;  // a clock set back: never a negative time
    EXPECT_EQ(FormatEventLine(end),
              "end client=10.0.0.7:1069 file=\"/srv/tftp/a \\\"b\\\"\\\\c\\x0aend: forged\" direction=receiving "
              "bytes=1300 result=\"Disk\\x0dfull\" seconds=0.0");
    // A name a rule rewrote: the name asked for follows the file, quoted too.
    end.file = "/srv/tftp/boot.img";
    end.requested = "/tftpboot/BOOT\".IMG\n";
    EXPECT_EQ(FormatEventLine(end),
              "end client=10.0.0.7:1069 file=\"/srv/tftp/boot.img\" requested=\"/tftpboot/BOOT\\\".IMG\\x0a\" "
              "direction=receiving bytes=1300 result=\"Disk\\x0dfull\" seconds=0.0");
    EXPECT_EQ(FormatEventLine(RefusalEvent{RefusalEvent::Kind::Refused, "10.0.0.7:1069", 0, "Too Many Clients"}),
              "refused client=10.0.0.7:1069 code=0 reason=\"Too Many Clients\"");
    EXPECT_EQ(FormatEventLine(RefusalEvent{RefusalEvent::Kind::Error, "10.0.0.7:1069", 1, "File not found"}),
              "error client=10.0.0.7:1069 code=1 reason=\"File not found\"");
    platform::PeerAddress peer{platform::InetAddr("192.0.2.9"), 40000};
    EXPECT_EQ(ClientText(peer), "192.0.2.9:40000");
}

// One session each: what the client does, and the lines the server wrote
// by then (a client port as "PORT", matched as digits).
struct Session {
    const char* name;
    std::function<void(EngineHarness&, RawClient&)> setUp;  // before Start
    std::function<void(EngineHarness&, RawClient&)> drive;
    std::vector<std::string> lines;
};

std::string Pattern(const std::string& line) {
    std::string out;
    for (const char c : line) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) out += '\\';
        out += c;
    }
    return std::regex_replace(out, std::regex("PORT"), "[0-9]+");
}

Datagram Next(RawClient& client) {
    Datagram d;
    EXPECT_TRUE(client.Next(d)) << "no answer";
    return d;
}

void Nothing(EngineHarness&, RawClient&) {}

// The inbound folder's own name: the outbound folder's sibling.
std::string InBase(const EngineHarness& h) { return std::filesystem::path(h.inDir.Path()).filename().string(); }

TEST(EventLines, OneLinePerRowEndRefusalAndErrorAnswerWhenItHappens) {
    const std::string content = tests::PatternBytes(1300, 3);
    platform::AsyncUdpSocket portHolder;
    const std::vector<Session> sessions = {
        {"finished download", Nothing,
         [&](EngineHarness& h, RawClient& c) {
             tests::WriteFile(h.OutFile("d.bin"), content);
             c.Send(tests::Request(tftp::kRrq, "d.bin", "octet"), h.listenAt);
             Datagram d = Next(c);
             h.clock.AdvanceMs(1200);
             c.Send(tests::Ack(1), d.from);
             d = Next(c);
             h.clock.AdvanceMs(1300);
             c.Send(tests::Ack(2), d.from);
             d = Next(c);
             c.Send(tests::Ack(3), d.from);
             // Told by the pass that runs between the row's ticks, once the
             // transfer has ended: before the row itself is reported.
             ASSERT_TRUE(tests::WaitFor([&] {
                 h.listener->ResendSilent();
                 return !static_cast<RecordingSink*>(h.app.events)->lines.empty();
             }));
             EXPECT_FALSE(h.view.Reported(1));
         },
         {"end client=127.0.0.1:PORT file=\"OUT/d.bin\" direction=sending bytes=1300 result=\"Finished\" "
          "seconds=2.5"}},
        {"finished upload", Nothing,
         [&](EngineHarness& h, RawClient& c) {
             c.Send(tests::Request(tftp::kWrq, "u.bin", "octet"), h.listenAt);
             Datagram a = Next(c);
             c.Send(tests::Data(1, content.substr(0, 512)), a.from);
             Next(c);
             h.clock.AdvanceMs(400);
             c.Send(tests::Data(2, content.substr(512, 100)), a.from);
             Next(c);
             ASSERT_TRUE(h.WaitReported(1));
         },
         {"end client=127.0.0.1:PORT file=\"IN/u.bin\" direction=receiving bytes=612 result=\"Finished\" "
          "seconds=0.4"}},
        {"timed out", [](EngineHarness& h, RawClient&) { h.settings.Timeout = "5"; },
         [&](EngineHarness& h, RawClient& c) {
             tests::WriteFile(h.OutFile("t.bin"), content);
             c.Send(tests::Request(tftp::kRrq, "t.bin", "octet"), h.listenAt);
             Next(c);
             for (int silence = 0; silence < 6; ++silence) {
                 h.clock.Advance(6);
                 h.Sweep();
             }
             ASSERT_TRUE(h.view.Reported(1));
         },
         {"end client=127.0.0.1:PORT file=\"OUT/t.bin\" direction=sending bytes=512 result=\"TimedOut\" "
          "seconds=36.0"}},
        {"stopped serving", [](EngineHarness& h, RawClient&) { h.app.bServing = 0; },
         [](EngineHarness& h, RawClient& c) {
             c.Send(tests::Request(tftp::kRrq, "a", "octet"), h.listenAt);
             Next(c);
         },
         {"refused client=127.0.0.1:PORT code=0 reason=\"Service not available\""}},
        {"deny list",
         [](EngineHarness& h, RawClient&) {
             h.settings.bDeny = 1;
             h.settings.Deny[0] = "127.*.*.*";
         },
         [](EngineHarness& h, RawClient& c) {
             c.Send(tests::Request(tftp::kWrq, "a", "octet"), h.listenAt);
             Next(c);
         },
         {"refused client=127.0.0.1:PORT code=0 reason=\"Service not available\""}},
        {"allow list",
         [](EngineHarness& h, RawClient&) {
             h.settings.bAllow = 1;
             h.settings.Allow[0] = "10.1.*.*";
         },
         [](EngineHarness& h, RawClient& c) {
             c.Send(tests::Request(tftp::kRrq, "a", "octet"), h.listenAt);
             Next(c);
         },
         {"refused client=127.0.0.1:PORT code=0 reason=\"Service not available\""}},
        {"client limit", [](EngineHarness& h, RawClient&) { h.settings.nMaxClients = 0; },
         [&](EngineHarness& h, RawClient& c) {
             tests::WriteFile(h.OutFile("d.bin"), content);
             c.Send(tests::Request(tftp::kRrq, "d.bin", "octet"), h.listenAt);
             Next(c);
             RawClient second;
             second.Send(tests::Request(tftp::kRrq, "d.bin", "octet"), h.listenAt);
             Next(second);
         },
         {"refused client=127.0.0.1:PORT code=0 reason=\"Too Many Clients\""}},
        {"transfer ports all taken",
         [&](EngineHarness& h, RawClient&) {
             // The range's one port is held by a socket of the test's own.
             const int taken = tests::FreePort("127.0.0.1");
             ASSERT_TRUE(portHolder.Create("127.0.0.1", static_cast<std::uint16_t>(taken), false));
             h.settings.nPortRangeLow = h.settings.nPortRangeHigh = taken;
         },
         [&](EngineHarness& h, RawClient& c) {
             tests::WriteFile(h.OutFile("d.bin"), content);
             c.Send(tests::Request(tftp::kRrq, "d.bin", "octet"), h.listenAt);
             Next(c);
         },
         {"refused client=127.0.0.1:PORT code=0 reason=\"Too Many Clients\""}},
        {"missing file", Nothing,
         [](EngineHarness& h, RawClient& c) {
             c.Send(tests::Request(tftp::kRrq, "none.bin", "octet"), h.listenAt);
             Next(c);
             ASSERT_TRUE(h.WaitReported(1));
         },
         {"error client=127.0.0.1:PORT code=1 reason=\"File not found\"",
          "end client=127.0.0.1:PORT file=\"OUT/none.bin\" direction=sending bytes=0 result=\"File not found\" "
          "seconds=0.0"}},
        {"unknown mode", Nothing,
         [](EngineHarness& h, RawClient& c) {
             c.Send(tests::Request(tftp::kRrq, "a.bin", "mail"), h.listenAt);
             Next(c);
             ASSERT_TRUE(h.WaitReported(1));
         },
         {"error client=127.0.0.1:PORT code=4 reason=\"Unknown TFTP Operation\"",
          "end client=127.0.0.1:PORT file=\"OUT/a.bin\" direction=sending bytes=0 "
          "result=\"Unknown TFTP Operation\" seconds=0.0"}},
        {"uploads refused", [](EngineHarness& h, RawClient&) { h.settings.bRefuseUploads = 1; },
         [](EngineHarness& h, RawClient& c) {
             c.Send(tests::Request(tftp::kWrq, "u.bin", "octet"), h.listenAt);
             Next(c);
             ASSERT_TRUE(h.WaitReported(1));
         },
         {"error client=127.0.0.1:PORT code=2 reason=\"Access violation\"",
          "end client=127.0.0.1:PORT file=\"IN/u.bin\" direction=receiving bytes=0 result=\"Access violation\" "
          "seconds=0.0"}},
        {"no replacing", [](EngineHarness& h, RawClient&) { h.settings.bNoReplace = 1; },
         [](EngineHarness& h, RawClient& c) {
             tests::WriteFile(h.InFile("there.bin"), "old");
             c.Send(tests::Request(tftp::kWrq, "there.bin", "octet"), h.listenAt);
             Next(c);
             ASSERT_TRUE(h.WaitReported(1));
         },
         {"error client=127.0.0.1:PORT code=6 reason=\"File already exists\"",
          "end client=127.0.0.1:PORT file=\"IN/there.bin\" direction=receiving bytes=0 "
          "result=\"File already exists\" seconds=0.0"}},
        // The rules rewrite the name before the folder is joined: the file
        // the rule names is served, and the line names what was asked.
        {"rewritten download",
         [](EngineHarness& h, RawClient&) {
             h.settings.NameRules = {{"(?i)^/tftpboot/(.*)\\.BIN$", "boot/\\1.img", false},
                                     {"^boot/", "fw/", true}};
         },
         [&](EngineHarness& h, RawClient& c) {
             std::filesystem::create_directories(h.OutFile("fw"));
             tests::WriteFile(h.OutFile("fw/ROM.img"), content.substr(0, 700));
             tests::WriteFile(h.OutFile("tftpboot/ROM.BIN"), "the name as asked: not served");
             c.Send(tests::Request(tftp::kRrq, "/tftpboot/ROM.BIN", "octet"), h.listenAt);
             Datagram d = Next(c);
             ASSERT_EQ(d.Opcode(), tftp::kData);
             std::string got = d.bytes.substr(4);
             c.Send(tests::Ack(1), d.from);
             d = Next(c);
             ASSERT_EQ(d.Opcode(), tftp::kData);
             got += d.bytes.substr(4);
             c.Send(tests::Ack(2), d.from);
             EXPECT_EQ(got, content.substr(0, 700));
             ASSERT_TRUE(h.WaitReported(1));
             EXPECT_EQ(h.view.Of(WM_TRANSFER_FILE).at(0).text, h.OutFile("fw/ROM.img"));
         },
         {"end client=127.0.0.1:PORT file=\"OUT/fw/ROM.img\" requested=\"/tftpboot/ROM.BIN\" direction=sending "
          "bytes=700 result=\"Finished\" seconds=0.0"}},
        // What a rule makes is confined like any name: "../" out of the
        // folder is refused and nothing outside it is read.
        {"a rule that climbs out",
         [](EngineHarness& h, RawClient&) {
             h.settings.NameRules = {{"^(.*)$", "../" + InBase(h) + "/\\1", true}};
         },
         [&](EngineHarness& h, RawClient& c) {
             tests::WriteFile(h.InFile("secret"), "outside the outbound folder");
             c.Send(tests::Request(tftp::kRrq, "secret", "octet"), h.listenAt);
             const Datagram d = Next(c);
             EXPECT_EQ(d.Opcode(), tftp::kError);
             ASSERT_TRUE(h.WaitReported(1));
         },
         {"error client=127.0.0.1:PORT code=1 reason=\"File not found\"",
          "end client=127.0.0.1:PORT file=\"OUT/../INBASE/secret\" requested=\"secret\" direction=sending bytes=0 "
          "result=\"File not found\" seconds=0.0"}},
        // A table that never finishes refuses the request; the line shows
        // the name as asked, without a rewriting.
        {"rules that loop", [](EngineHarness& h, RawClient&) { h.settings.NameRules = {{"^a$", "b", false}, {"^b$", "a", false}}; },
         [&](EngineHarness& h, RawClient& c) {
             tests::WriteFile(h.OutFile("a"), "a");
             tests::WriteFile(h.OutFile("b"), "b");
             c.Send(tests::Request(tftp::kRrq, "a", "octet"), h.listenAt);
             Next(c);
             ASSERT_TRUE(h.WaitReported(1));
         },
         {"error client=127.0.0.1:PORT code=1 reason=\"File not found\"",
          "end client=127.0.0.1:PORT file=\"OUT/a\" direction=sending bytes=0 result=\"File not found\" "
          "seconds=0.0"}},
    };
    for (const Session& s : sessions) {
        SCOPED_TRACE(s.name);
        EngineHarness h;
        RecordingSink sink;
        h.app.events = &sink;
        RawClient client;
        s.setUp(h, client);
        ASSERT_TRUE(h.Start());
        s.drive(h, client);
        ASSERT_EQ(sink.lines.size(), s.lines.size()) << ::testing::PrintToString(sink.lines);
        for (std::size_t i = 0; i < s.lines.size(); ++i) {
            std::string expected = std::regex_replace(s.lines[i], std::regex("INBASE"), InBase(h));
            expected = std::regex_replace(expected, std::regex("OUT/"), h.OutFile(""));
            expected = std::regex_replace(expected, std::regex("IN/"), h.InFile(""));
            EXPECT_TRUE(std::regex_match(sink.lines[i], std::regex(Pattern(expected))))
                << sink.lines[i] << "\n  expected " << expected;
        }
        // A row's end is told once, however often the checks run after it.
        h.Sweep();
        h.listener->ResendSilent();
        EXPECT_EQ(sink.lines.size(), s.lines.size());
    }
}

}  // namespace
