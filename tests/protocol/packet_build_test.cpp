// The bytes each builder puts on the wire.
#include "common/tftp_packet.h"

#include <gtest/gtest.h>

#include <string>

using namespace tftp;

namespace {

std::string Bytes(const std::uint8_t* p, std::size_t n) {
    return std::string(reinterpret_cast<const char*>(p), n);
}
// A string literal with its embedded NULs, without the final one.
template <std::size_t N>
std::string S(const char (&literal)[N]) { return std::string(literal, N - 1); }

}  // namespace

TEST(BuildRequest, ReadRequestWithBinaryAndTimeoutIsExactly32Bytes) {
    std::uint8_t buf[600];
    const std::size_t n = BuildRequest(buf, sizeof buf, kRrq, "a.txt", "octet",
                                       RequestOffer{true, 5, 512});
    ASSERT_EQ(n, 32u);
    EXPECT_EQ(Bytes(buf, n), S("\0\1a.txt\0octet\0tsize\0" "0\0timeout\0" "5\0"));
}

TEST(BuildRequest, WriteRequestNeverCarriesTsizeAnd512IsNeverOffered) {
    std::uint8_t buf[600];
    const std::size_t n = BuildRequest(buf, sizeof buf, kWrq, "boot.img", "netascii",
                                       RequestOffer{false, 0, 512});
    EXPECT_EQ(Bytes(buf, n), S("\0\2boot.img\0netascii\0"));
}

TEST(BuildRequest, OtherBlockSizeIsOfferedAfterTimeoutAndAWindowLast) {
    std::uint8_t buf[600];
    std::size_t n = BuildRequest(buf, sizeof buf, kRrq, "x", "octet", RequestOffer{true, 10, 1428});
    EXPECT_EQ(Bytes(buf, n),
              S("\0\1x\0octet\0tsize\0" "0\0timeout\0" "10\0blksize\0" "1428\0"));
    n = BuildRequest(buf, sizeof buf, kWrq, "x", "octet", RequestOffer{false, 0, 1428, 16});
    EXPECT_EQ(Bytes(buf, n), S("\0\2x\0octet\0blksize\0" "1428\0windowsize\0" "16\0"));
}

TEST(BuildRequest, RemoteNameIsKeptAsGiven) {
    std::uint8_t buf[600];
    const std::size_t n = BuildRequest(buf, sizeof buf, kWrq, "Dir\\Sub/File.TXT", "octet", {});
    EXPECT_EQ(Bytes(buf, n), S("\0\2Dir\\Sub/File.TXT\0octet\0"));
}

TEST(BuildRequest, TooSmallBufferGivesZero) {
    std::uint8_t buf[10];
    EXPECT_EQ(BuildRequest(buf, sizeof buf, kRrq, "a.txt", "octet", {}), 0u);
}

TEST(BuildOack, ReadRequestOrderIsTsizeTimeoutBlksizeThenWindowsize) {
    std::uint8_t buf[100];
    OptionValues v;
    v.Set(OptionName::Blksize, 1024);  // set in a different order than the wire order
    v.Set(OptionName::Timeout, 3);
    v.Set(OptionName::Tsize, 2000);
    std::size_t n = BuildOack(buf, sizeof buf, v);
    ASSERT_EQ(n, 36u);
    EXPECT_EQ(Bytes(buf, n),
              S("\0\6tsize\0" "2000\0timeout\0" "3\0blksize\0" "1024\0"));
    v.Set(OptionName::Windowsize, 64);
    n = BuildOack(buf, sizeof buf, v);
    EXPECT_EQ(Bytes(buf, n),
              S("\0\6tsize\0" "2000\0timeout\0" "3\0blksize\0" "1024\0windowsize\0" "64\0"));
}

TEST(BuildOack, OnlyThePresentOptionsAppear) {
    std::uint8_t buf[100];
    OptionValues v;
    v.Set(OptionName::Blksize, 65464);
    const std::size_t n = BuildOack(buf, sizeof buf, v);
    EXPECT_EQ(Bytes(buf, n), S("\0\6blksize\0" "65464\0"));
}

TEST(BuildOack, SizesBeyond32BitsArePrintedWhole) {
    std::uint8_t buf[100];
    OptionValues v;
    v.Set(OptionName::Tsize, 5'000'000'000LL);
    const std::size_t n = BuildOack(buf, sizeof buf, v);
    EXPECT_EQ(Bytes(buf, n), S("\0\6tsize\0" "5000000000\0"));
}

TEST(BuildError, OptionFailurePacketIs30Bytes) {
    std::uint8_t buf[100];
    const std::size_t n = BuildOptionFailure(buf, sizeof buf);
    ASSERT_EQ(n, 30u);
    EXPECT_EQ(Bytes(buf, n), S("\0\x08\0\0Inconclusive system error\0"));
}

TEST(BuildError, RefusalsAre26And21Bytes) {
    std::uint8_t buf[100];
    std::size_t n = BuildError(buf, sizeof buf, 0, kServiceNotAvailable);
    ASSERT_EQ(n, 26u);
    EXPECT_EQ(Bytes(buf, n), S("\0\5\0\0Service not available\0"));
    n = BuildError(buf, sizeof buf, 0, kTooManyClients);
    ASSERT_EQ(n, 21u);
    EXPECT_EQ(Bytes(buf, n), S("\0\5\0\0Too Many Clients\0"));
}

TEST(BuildError, TableTextsAndCodes) {
    std::uint8_t buf[100];
    const std::size_t n = BuildError(buf, sizeof buf, kErrTransferAborted,
                                     ErrorText(kErrTransferAborted));
    EXPECT_EQ(Bytes(buf, n), S("\0\5\0\x08Transfer Aborted\0"));
    EXPECT_EQ(ErrorText(0), "Inconclusive system error");
    EXPECT_EQ(ErrorText(1), "File not found");
    EXPECT_EQ(ErrorText(2), "Access violation");
    EXPECT_EQ(ErrorText(3), "Disk full");
    EXPECT_EQ(ErrorText(4), "Unknown TFTP Operation");
    EXPECT_EQ(ErrorText(5), "Unknown transfer ID");
    EXPECT_EQ(ErrorText(6), "File already exists");
    EXPECT_EQ(ErrorText(7), "Option negotion failure");
    EXPECT_EQ(ErrorText(9), "");
    EXPECT_EQ(ErrorText(-1), "");
}

TEST(BuildAckAndData, HeadersCarryTheLow16BitsOfTheCounter) {
    std::uint8_t buf[8];
    ASSERT_EQ(BuildAck(buf, sizeof buf, WireBlock(65535)), 4u);
    EXPECT_EQ(Bytes(buf, 4), S("\0\4\xff\xff"));
    BuildAck(buf, sizeof buf, WireBlock(65536));
    EXPECT_EQ(Bytes(buf, 4), S("\0\4\0\0"));
    PutDataHeader(buf, WireBlock(65537));
    EXPECT_EQ(Bytes(buf, 4), S("\0\3\0\1"));
}

TEST(BlockNumbers, WrapFrom65535To0Then1) {
    EXPECT_EQ(WireBlock(65535), 65535);
    EXPECT_EQ(WireBlock(65536), 0);
    EXPECT_EQ(WireBlock(65537), 1);
    EXPECT_TRUE(SameBlock(0, 65536));
    EXPECT_TRUE(SameBlock(1, 131073));
    EXPECT_FALSE(SameBlock(1, 65536));
}
