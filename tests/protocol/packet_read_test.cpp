// Reading requests, option acknowledgements and errors off the wire.
#include "common/tftp_packet.h"

#include <gtest/gtest.h>

#include <string>

using namespace tftp;

namespace {

Request Parse(const std::string& bytes) {
    return ParseRequest(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}
std::vector<Option> Oack(const std::string& bytes) {
    return ReadOptions(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), 2);
}
// A string literal with its embedded NULs, without the final one.
template <std::size_t N>
std::string S(const char (&literal)[N]) { return std::string(literal, N - 1); }

}  // namespace

TEST(ParseRequest, ReadsNameModeAndOptionsInOrder) {
    const Request r = Parse(S("\0\1a.txt\0OCTET\0blksize\0" "1428\0TSIZE\0" "0\0Timeout\0" "3\0"));
    EXPECT_EQ(r.opcode, kRrq);
    EXPECT_EQ(r.fileName, "a.txt");
    EXPECT_TRUE(IsOctetMode(r.mode));
    ASSERT_EQ(r.options.size(), 3u);
    EXPECT_EQ(r.options[0].name, OptionName::Blksize);
    EXPECT_EQ(r.options[0].value, 1428u);
    EXPECT_EQ(r.options[1].name, OptionName::Tsize);
    EXPECT_EQ(r.options[2].name, OptionName::Timeout);
    EXPECT_EQ(r.options[2].value, 3u);
}

TEST(ParseRequest, ModesMatchWithoutCase) {
    EXPECT_TRUE(IsNetasciiMode("NetAscii"));
    EXPECT_TRUE(IsOctetMode("OCTET"));
    EXPECT_FALSE(IsOctetMode("binary"));
    EXPECT_FALSE(IsNetasciiMode("netascii "));
    EXPECT_FALSE(IsOctetMode(""));
}

TEST(ParseRequest, BytesPastTheEndReadAsNul) {
    // No NUL after the mode, none after the name.
    Request r = Parse(S("\0\2file\0octet"));
    EXPECT_EQ(r.fileName, "file");
    EXPECT_EQ(r.mode, "octet");
    EXPECT_TRUE(r.options.empty());
    r = Parse(S("\0\1abcdef"));
    EXPECT_EQ(r.fileName, "abcdef");
    EXPECT_EQ(r.mode, "");
}

TEST(ParseRequest, RepeatedOptionsAreKeptInOrder) {
    const Request r = Parse(S("\0\1f\0octet\0blksize\0" "1024\0blksize\0" "2048\0"));
    ASSERT_EQ(r.options.size(), 2u);
    EXPECT_EQ(r.options[0].value, 1024u);
    EXPECT_EQ(r.options[1].value, 2048u);
}

TEST(ParseRequest, UnknownOptionsAreReadAndMarkedOther) {
    const Request r = Parse(S("\0\1f\0octet\0rollover\0" "4\0blksize\0" "1024\0"));
    ASSERT_EQ(r.options.size(), 2u);
    EXPECT_EQ(r.options[0].name, OptionName::Other);
    EXPECT_EQ(r.options[1].name, OptionName::Blksize);
}

TEST(ParseRequest, ValueIsItsLeadingDigitsAndReadingResumesAfterItsNul) {
    // atftp can send "tsize enable": the value reads as 0 and the next
    // option is still found.
    const Request r = Parse(S("\0\1f\0octet\0tsize\0enable\0blksize\0" "1428\0"));
    ASSERT_EQ(r.options.size(), 2u);
    EXPECT_EQ(r.options[0].name, OptionName::Tsize);
    EXPECT_EQ(r.options[0].value, 0u);
    EXPECT_EQ(r.options[1].name, OptionName::Blksize);
    EXPECT_EQ(r.options[1].value, 1428u);
    const Request digitsFirst = Parse(S("\0\1f\0octet\0blksize\0" "12x4\0"));
    ASSERT_EQ(digitsFirst.options.size(), 1u);
    EXPECT_EQ(digitsFirst.options[0].value, 12u);
}

TEST(ParseRequest, EmptyNameEndsTheOptions) {
    const Request r = Parse(S("\0\1f\0octet\0\0blksize\0" "1024\0"));
    EXPECT_TRUE(r.options.empty());
}

TEST(ParseRequest, ReadingStopsOnce90CharactersOfOptionNamesAndDigitsAreRead) {
    // Eight unknown options of 10 name characters and 1 digit make 88; the
    // ninth (blksize, 7 + 4) is read because the count was still below 90
    // when it started; nothing after it is. The file name and the mode do
    // not count: after a name of 300 characters it is the same.
    for (const std::string& name : {std::string("f"), std::string(300, 'n')}) {
        SCOPED_TRACE(name.size());
        std::string req = S("\0\1") + name + S("\0octet\0");
        for (int i = 0; i < 8; ++i) req += S("abcdefghij\0" "1\0");
        req += S("blksize\0" "1024\0timeout\0" "3\0");
        ASSERT_LE(req.size(), 512u);
        const Request r = Parse(req);
        EXPECT_EQ(r.fileName, name);
        ASSERT_EQ(r.options.size(), 9u);
        EXPECT_EQ(r.options[8].name, OptionName::Blksize);
        EXPECT_EQ(r.options[8].value, 1024u);
    }

    std::string shortReq = S("\0\1f\0octet\0");
    for (int i = 0; i < 8; ++i) shortReq += S("x\0" "1\0");
    // 16 characters only: all eight are read.
    EXPECT_EQ(Parse(shortReq).options.size(), 8u);
}

TEST(ParseRequest, OnlyTheFirst512BytesAreRead) {
    // A name that fills the request: everything of it is read, and what a
    // longer datagram holds past 512 bytes is not.
    std::string req = S("\0\1") + std::string(503, 'n') + S("\0octet\0");
    ASSERT_EQ(req.size(), 512u);
    Request r = Parse(req);
    EXPECT_EQ(r.fileName.size(), 503u);
    EXPECT_EQ(r.mode, "octet");
    req += S("blksize\0" "1024\0");
    r = Parse(req);
    EXPECT_EQ(r.mode, "octet");
    EXPECT_TRUE(r.options.empty());
    const std::string cut = S("\0\1") + std::string(600, 'n') + S("\0octet\0");
    EXPECT_EQ(Parse(cut).fileName, std::string(510, 'n'));
    EXPECT_EQ(Parse(cut).mode, "");
}

TEST(ReadOptions, CountLimitStopsAfterTheOptionThatReaches90) {
    std::string data = S("\0\6");
    for (int i = 0; i < 8; ++i) data += S("abcdefghij\0" "1\0");  // 88 characters
    data += S("blksize\0" "1024\0");                               // 99 characters
    data += S("timeout\0" "3\0");                                  // not read
    const auto options = ReadOptions(reinterpret_cast<const std::uint8_t*>(data.data()),
                                     data.size(), 2);
    ASSERT_EQ(options.size(), 9u);
    EXPECT_EQ(options[8].name, OptionName::Blksize);
}

TEST(ReadOptions, HugeDigitRunsSaturate) {
    const auto options = Oack(S("\0\6tsize\0" "99999999999999999999999\0"));
    ASSERT_EQ(options.size(), 1u);
    EXPECT_EQ(options[0].value, UINT64_MAX);
    EXPECT_EQ(Saturate32(options[0].value), 0xFFFFFFFFu);
    EXPECT_EQ(Saturate32(5'000'000'000ull), 0xFFFFFFFFu);
    EXPECT_EQ(Saturate32(1428), 1428u);
}

TEST(ReadOptions, OackIsNeverReadPastItsLength) {
    // The datagram ends inside a value; the bytes after it are not looked at.
    const std::string full = S("\0\6blksize\0" "1024\0tsize\0" "77");
    const auto options = ReadOptions(reinterpret_cast<const std::uint8_t*>(full.data()), 17, 2);
    ASSERT_EQ(options.size(), 2u);
    EXPECT_EQ(options[0].value, 1024u);
    EXPECT_EQ(options[1].name, OptionName::Other);  // "ts" only
}

TEST(ReadErrorText, StopsAtNulOrTheEndOfTheDatagram) {
    std::string e = S("\0\5\0\1File not found\0garbage");
    EXPECT_EQ(ReadErrorText(reinterpret_cast<const std::uint8_t*>(e.data()), e.size()),
              "File not found");
    std::string cut = S("\0\5\0\1No NUL here");
    EXPECT_EQ(ReadErrorText(reinterpret_cast<const std::uint8_t*>(cut.data()), cut.size()),
              "No NUL here");
    EXPECT_EQ(ReadErrorText(reinterpret_cast<const std::uint8_t*>(cut.data()), 3), "");
}

TEST(ParseRequest, TinyAndEmptyDatagramsAreSafe) {
    for (std::size_t n = 0; n < 4; ++n) {
        const std::string s(n, '\1');
        const Request r = Parse(s);
        EXPECT_TRUE(r.options.empty());
    }
    EXPECT_EQ(OpcodeOf(nullptr, 0), 0);
}
