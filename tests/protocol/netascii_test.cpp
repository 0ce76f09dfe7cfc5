// The netascii conversions, alone and split across reads and blocks.
#include "common/netascii.h"

#include <gtest/gtest.h>

#include <string>

using namespace tftp;

namespace {

const std::uint8_t* U(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

// Feeds the writer the given blocks in turn and returns the file bytes.
std::string WriteBlocks(std::initializer_list<std::string> blocks) {
    NetasciiWriteConverter w;
    std::string file;
    for (const std::string& b : blocks) {
        std::string out(2 * b.size(), '\0');
        const std::size_t n = w.Convert(U(b), b.size(), reinterpret_cast<std::uint8_t*>(out.data()));
        file += out.substr(0, n);
    }
    return file;
}

// Converts file bytes for sending, giving the reader the input in pieces of
// `piece` bytes the way a buffered file reader would.
std::string ReadInPieces(const std::string& file, std::size_t piece) {
    NetasciiReadConverter r;
    std::string wire;
    std::string pending;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t take = std::min(piece, file.size() - pos);
        pending += file.substr(pos, take);
        pos += take;
        const bool ends = pos == file.size();
        std::string out(pending.size(), '\0');
        std::size_t consumed = 0;
        const std::size_t n = r.Convert(U(pending), pending.size(), ends,
                                        reinterpret_cast<std::uint8_t*>(out.data()), out.size(), consumed);
        wire += out.substr(0, n);
        pending.erase(0, consumed);
        if (r.Ended() || (ends && pending.empty())) break;
    }
    return wire;
}

}  // namespace

TEST(NetasciiWrite, BareLfBecomesCrLf) {
    EXPECT_EQ(WriteBlocks({"A\nB"}), "A\r\nB");
    EXPECT_EQ(WriteBlocks({"\n\n"}), "\r\n\r\n");
}

TEST(NetasciiWrite, CrLfFromRfcPeersIsStoredOnce) {
    EXPECT_EQ(WriteBlocks({"A\r\nB"}), "A\r\nB");
    EXPECT_EQ(WriteBlocks({"A\r\r\nB"}), "A\r\r\nB");
}

TEST(NetasciiWrite, CrEndingOneBlockPairsWithLfStartingTheNext) {
    EXPECT_EQ(WriteBlocks({"A\r", "\nB"}), "A\r\nB");
    EXPECT_EQ(WriteBlocks({"A", "\nB"}), "A\r\nB");
}

TEST(NetasciiWrite, LoneCrAndOtherBytesStay) {
    EXPECT_EQ(WriteBlocks({"A\rB"}), "A\rB");
    EXPECT_EQ(WriteBlocks({std::string("\0\x1a\xff", 3)}), std::string("\0\x1a\xff", 3));
}

TEST(NetasciiRead, CrLfBecomesLfAndLoneCrStays) {
    EXPECT_EQ(ReadInPieces("A\r\nB", 100), "A\nB");
    EXPECT_EQ(ReadInPieces("A\rB", 100), "A\rB");
    EXPECT_EQ(ReadInPieces("A\r\r\nB", 100), "A\r\nB");
    EXPECT_EQ(ReadInPieces("A\r", 100), "A\r");  // a CR at the very end stays
    EXPECT_EQ(ReadInPieces("A\nB", 100), "A\nB");
}

TEST(NetasciiRead, CrLfSplitAcrossTwoReadsIsOneLf) {
    const std::string file = "line1\r\nline2\r\nline3\r\n";
    for (std::size_t piece = 1; piece <= file.size(); ++piece)
        EXPECT_EQ(ReadInPieces(file, piece), "line1\nline2\nline3\n") << "piece " << piece;
}

TEST(NetasciiRead, CtrlZEndsTheData) {
    EXPECT_EQ(ReadInPieces("abc\x1a" "def", 100), "abc");
    EXPECT_EQ(ReadInPieces("abc\x1a" "def", 2), "abc");
    EXPECT_EQ(ReadInPieces("\x1a", 100), "");
}

TEST(NetasciiRead, OutputRoomLimitsWhatIsConsumed) {
    NetasciiReadConverter r;
    const std::string in = "ab\r\ncd";
    std::uint8_t out[3];
    std::size_t consumed = 0;
    const std::size_t n = r.Convert(U(in), in.size(), true, out, sizeof out, consumed);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(consumed, 4u);  // "ab" and the CR LF pair
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), n), "ab\n");
}
