// Reading and writing the local file of a transfer, block by block.
#include "common/local_file.h"
#include "common/uninitialized_bytes.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace tftp;
using tests::ReadFile;
using tests::TempDir;
using tests::WriteFile;

namespace {

// Reads the whole file in blocks of n; returns the concatenated data.
std::string ReadAllBlocks(LocalFileReader& r, int n, std::vector<int>* sizes = nullptr) {
    std::string all;
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(n));
    for (;;) {
        const int c = r.Read(buf.data(), n);
        if (c < 0) return "<error>";
        if (sizes) sizes->push_back(c);
        all.append(reinterpret_cast<char*>(buf.data()), static_cast<std::size_t>(c));
        if (c < n) return all;
    }
}

}  // namespace

TEST(LocalFileReader, OctetBlocksEndWithAShortOrEmptyBlock) {
    TempDir dir;
    const std::string data = tests::PatternBytes(1024);
    WriteFile(dir.File("f"), data);
    LocalFileReader r;
    ASSERT_TRUE(r.Open(dir.File("f"), false));
    EXPECT_EQ(r.Size(), 1024);
    std::vector<int> sizes;
    EXPECT_EQ(ReadAllBlocks(r, 512, &sizes), data);
    EXPECT_EQ(sizes, (std::vector<int>{512, 512, 0}));
}

TEST(LocalFileReader, MissingFileAndFolderDoNotOpen) {
    TempDir dir;
    LocalFileReader r;
    EXPECT_FALSE(r.Open(dir.File("missing"), false));
    EXPECT_FALSE(r.Open(dir.Path(), false));
    EXPECT_FALSE(r.IsOpen());
}

TEST(LocalFileReader, RewindGivesTheSameBlockAgain) {
    TempDir dir;
    const std::string data = tests::PatternBytes(1500, 7);
    WriteFile(dir.File("f"), data);
    for (const bool netascii : {false, true}) {
        LocalFileReader r;
        ASSERT_TRUE(r.Open(dir.File("f"), netascii));
        std::uint8_t a[512], b[512];
        ASSERT_EQ(r.Read(a, 512), 512);
        const int n1 = r.Read(a, 512);
        ASSERT_TRUE(r.RewindLastRead());
        const int n2 = r.Read(b, 512);
        ASSERT_EQ(n1, n2);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(a), n1),
                  std::string(reinterpret_cast<char*>(b), n2))
            << "netascii " << netascii;
    }
}

TEST(LocalFileReader, OctetBlocksOfEverySizeComeWholeAcrossReadAheadEdgesAndRewinds) {
    TempDir dir;
    const std::string data = tests::PatternBytes(200000, 3);
    WriteFile(dir.File("f"), data);
    for (const int block : {512, 1428, 65464, 70000}) {
        LocalFileReader r;
        ASSERT_TRUE(r.Open(dir.File("f"), false));
        std::string got;
        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(block));
        for (int nth = 1;; ++nth) {
            int n = r.Read(buffer.data(), block);
            ASSERT_GE(n, 0);
            // Every third block is asked for again, as a lost one is.
            if (nth % 3 == 0) {
                ASSERT_TRUE(r.RewindLastRead());
                ASSERT_EQ(r.Read(buffer.data(), block), n) << "block " << nth << " of " << block;
            }
            got.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(n));
            if (n < block) break;
        }
        EXPECT_TRUE(got == data) << "blocks of " << block;
    }
}

TEST(LocalFileReader, NetasciiBlocksConvertCrLfAcrossBlockEdges) {
    TempDir dir;
    // Put a CR LF pair exactly across the 8-byte block edge and across the
    // reader's internal 64 KiB chunk edge.
    std::string file = "1234567\r\n89\r\nend";
    std::string big(65535, 'x');
    big += "\r\n";
    big += "tail\x1a" "ignored";
    WriteFile(dir.File("small"), file);
    WriteFile(dir.File("big"), big);
    LocalFileReader r;
    ASSERT_TRUE(r.Open(dir.File("small"), true));
    EXPECT_EQ(r.Size(), static_cast<std::int64_t>(file.size()));
    EXPECT_EQ(ReadAllBlocks(r, 8), "1234567\n89\nend");
    ASSERT_TRUE(r.Open(dir.File("big"), true));
    EXPECT_EQ(ReadAllBlocks(r, 512), std::string(65535, 'x') + "\ntail");
}

TEST(LocalFileReader, NetasciiRewindAfterCtrlZSendsTheSameLastBlock) {
    TempDir dir;
    WriteFile(dir.File("f"), "ab\r\ncd\x1a" "zz");
    LocalFileReader r;
    ASSERT_TRUE(r.Open(dir.File("f"), true));
    std::uint8_t buf[16];
    ASSERT_EQ(r.Read(buf, 16), 5);
    ASSERT_TRUE(r.RewindLastRead());
    ASSERT_EQ(r.Read(buf, 16), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), "ab\ncd");
}

TEST(LocalFileWriter, OctetWritesBytesUnchanged) {
    TempDir dir;
    LocalFileWriter w;
    ASSERT_TRUE(w.Create(dir.File("out"), false));
    const std::string data("a\r\n\0b\n", 6);
    EXPECT_EQ(w.Write(reinterpret_cast<const std::uint8_t*>(data.data()), 6), 6);
    w.Close();
    EXPECT_EQ(ReadFile(dir.File("out")), data);
}

TEST(LocalFileWriter, NetasciiReportsBytesOnDisk) {
    TempDir dir;
    LocalFileWriter w;
    ASSERT_TRUE(w.Create(dir.File("out"), true));
    const std::string b1 = "one\ntwo\r";
    const std::string b2 = "\nthree\n";
    EXPECT_EQ(w.Write(reinterpret_cast<const std::uint8_t*>(b1.data()), 8), 9);
    EXPECT_EQ(w.Write(reinterpret_cast<const std::uint8_t*>(b2.data()), 7), 8);
    w.Close();
    EXPECT_EQ(ReadFile(dir.File("out")), "one\r\ntwo\r\nthree\r\n");
}

TEST(LocalFileWriter, CreateEmptiesAnExistingFile) {
    TempDir dir;
    WriteFile(dir.File("out"), "old contents");
    LocalFileWriter w;
    ASSERT_TRUE(w.Create(dir.File("out"), false));
    w.Close();
    EXPECT_EQ(ReadFile(dir.File("out")), "");
}

TEST(LocalFileWriter, AFullDiskIsReportedAsAShortWrite) {
    TempDir dir;
    tests::FileSizeLimit limit(2);  // as a disk with two bytes left
    ASSERT_TRUE(limit.Ok());
    LocalFileWriter w;
    ASSERT_TRUE(w.Create(dir.File("f"), false));
    const std::uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(w.Write(data, 4), -1);
}

TEST(LocalFile, WhatIsNotARegularFileIsRefusedAtOnce) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0644), 0);
    // A FIFO with nobody at the other end: refused, never waited on.
    for (const std::string& path : {dir.File("fifo"), std::string("/dev/null"), dir.Path()}) {
        LocalFileReader r;
        LocalFileWriter w;
        EXPECT_FALSE(r.Open(path, false)) << path;
        EXPECT_FALSE(w.Create(path, false)) << path;
        EXPECT_FALSE(w.CreateReplacing(path, false, dir.Path() + "/")) << path;
    }
}

TEST(LocalFileWriter, ReplacingLandsOnCommitAndACloseWithoutOneLeavesTheOldFile) {
    TempDir dir;
    const std::string within = dir.Path() + "/";
    WriteFile(dir.File("f"), "old");
    const std::uint8_t data[3] = {'n', 'e', 'w'};
    {
        LocalFileWriter w;
        ASSERT_TRUE(w.CreateReplacing(dir.File("f"), false, within));
        EXPECT_EQ(w.Write(data, 3), 3);
        w.Close();  // abandoned
    }
    EXPECT_EQ(ReadFile(dir.File("f")), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
    LocalFileWriter w;
    ASSERT_TRUE(w.CreateReplacing(dir.File("f"), false, within));
    EXPECT_EQ(w.Write(data, 3), 3);
    EXPECT_EQ(ReadFile(dir.File("f")), "old");
    ASSERT_TRUE(w.Commit());
    w.Close();
    EXPECT_EQ(ReadFile(dir.File("f")), "new");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

namespace {
// A folder that takes no new file, with a file in it that may be written;
// and a folder that does, with a file in it that may not.
bool WritesInPlaceWhereNoNewFileFits(const TempDir& dir, const TempDir& open) {
    LocalFileWriter w;
    EXPECT_FALSE(w.CreateReplacing(open.File("ro"), false, open.Path() + "/"));
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(ReadFile(open.File("ro")), "keep");
    const bool missing = w.CreateReplacing(dir.File("g"), false, dir.Path() + "/");
    EXPECT_FALSE(missing);
    EXPECT_EQ(errno, EACCES);
    EXPECT_TRUE(w.CreateReplacing(dir.File("f"), false, dir.Path() + "/"));
    const std::uint8_t data[3] = {'n', 'e', 'w'};
    EXPECT_EQ(w.Write(data, 3), 3);
    EXPECT_TRUE(w.Commit());
    w.Close();
    EXPECT_EQ(ReadFile(dir.File("f")), "new");
    return !::testing::Test::HasFailure();
}
}  // namespace

TEST(LocalFileWriter, AFolderThatTakesNoNewFileIsWrittenInPlaceAndAReadOnlyFileIsKept) {
    TempDir dir, open;
    WriteFile(open.File("ro"), "keep");
    ASSERT_EQ(::chmod(open.File("ro").c_str(), 0444), 0);
    ASSERT_EQ(::chmod(open.Path().c_str(), 0777), 0);
    WriteFile(dir.File("f"), "old contents");
    ASSERT_EQ(::chmod(dir.File("f").c_str(), 0666), 0);
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
    if (::geteuid() != 0) {
        EXPECT_TRUE(WritesInPlaceWhereNoNewFileFits(dir, open));
    } else {
        // Root may create files anywhere: the check runs as nobody, in a
        // child process (forked: it works in this same folder).
        GTEST_FLAG_SET(death_test_style, "fast");
        EXPECT_EXIT(
            {
                const bool asNobody = ::setgid(65534) == 0 && ::setuid(65534) == 0;
                ::_exit(asNobody && WritesInPlaceWhereNoNewFileFits(dir, open) ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "");
    }
    ::chmod(dir.Path().c_str(), 0755);
}

TEST(LocalFileWriter, FolderThatDoesNotExistCannotBeCreated) {
    TempDir dir;
    LocalFileWriter w;
    EXPECT_FALSE(w.Create(dir.File("no/such/folder/file"), false));
}

TEST(LocalFile, AFolderHoldsWhatLiesBelowItsOwnNameNotASiblingThatStartsTheSame) {
    TempDir root;
    std::filesystem::create_directory(root.File("tftp"));
    std::filesystem::create_directory(root.File("tftp-other"));
    WriteFile(root.File("tftp-other/x"), "other");
    WriteFile(root.File("tftp/inside"), "inside");
    std::filesystem::create_symlink("../tftp-other/x", root.File("tftp/link"));
    std::filesystem::create_directory_symlink("../tftp-other", root.File("tftp/sub"));
    // The folder as the options pages leave it, and as a store edited by
    // hand may hold it.
    for (const std::string& within : {root.File("tftp/"), root.File("tftp")}) {
        SCOPED_TRACE(within);
        LocalFileReader r;
        errno = 0;
        EXPECT_FALSE(r.Open(root.File("tftp-other/x"), false, &within));
        EXPECT_EQ(errno, EXDEV);
        EXPECT_FALSE(r.Open(root.File("tftp/link"), false, &within));
        EXPECT_EQ(errno, EXDEV);
        EXPECT_TRUE(r.Open(root.File("tftp/inside"), false, &within));
        r.Close();
        LocalFileWriter w;
        EXPECT_FALSE(w.CreateReplacing(root.File("tftp-other/new"), false, within));
        EXPECT_EQ(errno, EXDEV);
        EXPECT_FALSE(w.CreateReplacing(root.File("tftp/sub/new"), false, within));
        EXPECT_EQ(errno, EXDEV);
        ASSERT_TRUE(w.CreateReplacing(root.File("tftp/new"), false, within));
        EXPECT_TRUE(w.Finish());
    }
    EXPECT_FALSE(tests::FileExists(root.File("tftp-other/new")));
    EXPECT_EQ(ReadFile(root.File("tftp-other/x")), "other");
    EXPECT_TRUE(tests::FileExists(root.File("tftp/new")));
}

TEST(LocalFile, ANameAsLongAsTheFolderTakesIsWrittenAndReadALongerOneRefused) {
    TempDir dir;
    const std::string within = dir.Path() + "/";
    const long nameMax = ::pathconf(dir.Path().c_str(), _PC_NAME_MAX);
    ASSERT_GT(nameMax, 14);
    const std::string longest(static_cast<std::size_t>(nameMax), 'n');
    const std::string tooLong(static_cast<std::size_t>(nameMax) + 1, 'n');
    const std::uint8_t data[4] = {'l', 'o', 'n', 'g'};
    {
        // Its temporary name beside it has to fit as well.
        LocalFileWriter w;
        ASSERT_TRUE(w.CreateReplacing(dir.File(longest), false, within));
        EXPECT_EQ(w.Write(data, 4), 4);
        EXPECT_TRUE(w.Finish());
    }
    EXPECT_EQ(ReadFile(dir.File(longest)), "long");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
    LocalFileReader r;
    EXPECT_TRUE(r.Open(dir.File(longest), false, &within));
    r.Close();
    errno = 0;
    EXPECT_FALSE(r.Open(dir.File(tooLong), false, &within));
    EXPECT_EQ(errno, ENAMETOOLONG);
    LocalFileWriter w;
    errno = 0;
    EXPECT_FALSE(w.CreateReplacing(dir.File(tooLong), false, within));
    EXPECT_EQ(errno, ENAMETOOLONG);
}

TEST(KeptBuffers, AGivenBackTransferBufferIsHandedOutAgainForItsOwnSizeOnly) {
    namespace kept = tftp::kept_buffers;
    kept::Release();
    const std::uint8_t* first = nullptr;
    {
        tftp::UninitializedBytes block(65468);
        block[0] = 7;
        first = block.data();
        tftp::UninitializedBytes small(1000);  // too small to be worth keeping
    }
    EXPECT_EQ(kept::Take(1000), nullptr);
    EXPECT_EQ(kept::Take(65000), nullptr) << "another size";
    void* again = kept::Take(65468);
    EXPECT_EQ(again, first);
    EXPECT_EQ(kept::Take(65468), nullptr) << "handed out once";
    EXPECT_TRUE(kept::Keep(again, 65468));
    kept::Release();
    EXPECT_EQ(kept::Take(65468), nullptr) << "released";
}
