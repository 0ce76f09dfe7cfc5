// The engine against the real clients, in a network namespace of the test's
// own: tftp-hpa `tftp`, `atftp`, `curl` and busybox `tftp` download from it
// and upload to it, in both modes and at the block sizes each can ask for.
// Every file is compared byte for byte. Each run adds a row to the interop
// matrix printed at the end.
#include "engine_harness.h"
#include "peer_clients.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

using tests::Direction;
using tests::EngineHarness;
using tests::Peer;
using tests::PeerTransfer;
using tests::RawClient;

namespace {

// The namespace's test-only address (tests/support/in_netns.sh): tftp-hpa
// refuses 127.0.0.1 on a host whose only interface is loopback.
const std::string kHost = "10.9.9.1";
constexpr int kPort = 69;
constexpr int kSmallRunMs = 60000;
constexpr int kBigRunMs = 240000;

const Peer kAllPeers[] = {Peer::TftpHpa, Peer::Atftp, Peer::Curl, Peer::Busybox};
const int kBlockSizes[] = {512, 1428, 8192, 65464};

struct MatrixRow {
    std::string peer, mode, direction, file;
    int blockSize;
    bool pass;
    std::string note;
};
std::vector<MatrixRow>& Matrix() {
    static std::vector<MatrixRow> rows;
    return rows;
}

class MatrixPrinter : public ::testing::Environment {
public:
    void TearDown() override {
        if (Matrix().empty()) return;
        std::printf("\nINTEROP MATRIX (client, mode, direction, block size, file, result)\n");
        for (const MatrixRow& r : Matrix()) {
            std::printf("  %-9s %-8s %-8s %5d  %-22s %s%s%s\n", r.peer.c_str(), r.mode.c_str(),
                        r.direction.c_str(), r.blockSize, r.file.c_str(), r.pass ? "pass" : "FAIL",
                        r.note.empty() ? "" : "  ", r.note.c_str());
        }
    }
};
const auto* const kPrinter = ::testing::AddGlobalTestEnvironment(new MatrixPrinter);

std::string CrLfText(int lines) {
    std::string s;
    for (int i = 0; i < lines; ++i) s += "line " + std::to_string(i * 7919 % 1000) + " of the text\r\n";
    return s;
}

std::string WithoutCr(const std::string& crlf) {
    std::string s;
    for (char c : crlf)
        if (c != '\r') s.push_back(c);
    return s;
}

class Interop : public ::testing::Test {
protected:
    void SetUp() override {
        if (tests::FreePort(kHost) == 0) GTEST_SKIP() << "no test address " << kHost << ": run through in_netns.sh";
        h = std::make_unique<EngineHarness>(kHost, kPort);
        ASSERT_TRUE(h->Start());
    }

    struct Outcome {
        tests::PeerRun run;
        std::string result;  // the view's result text
        bool reported = false;
    };

    // Runs one transfer and waits until the engine has reported it.
    Outcome Run(const PeerTransfer& t, int timeoutMs = kSmallRunMs) {
        Outcome o;
        const int before = h->app.transferCounter;
        o.run = tests::RunPeer(tests::CommandFor(t, kHost, kPort), clientDir.Path(), timeoutMs);
        if (h->app.transferCounter != before) {
            const int number = h->app.transferCounter;
            o.reported = h->WaitReported(number, 10000);
            o.result = h->view.ResultOf(number);
        }
        return o;
    }

    // One transfer of content, checked byte for byte on the other side.
    bool Transfer(PeerTransfer t, const std::string& content, const std::string& expected,
                  const std::string& what, int timeoutMs = kSmallRunMs, const std::string& note = "") {
        const bool get = t.direction == Direction::Download;
        t.remote = "f" + std::to_string(++serial) + (t.netascii ? ".txt" : ".bin");
        t.local = clientDir.File(t.remote);
        std::filesystem::remove(t.local);
        if (get) tests::WriteFile(h->OutFile(t.remote), content);
        else tests::WriteFile(t.local, content);

        const Outcome o = Run(t, timeoutMs);
        const std::string got = tests::ReadFile(get ? t.local : h->InFile(t.remote));
        const std::string finished = get ? "Finished : Sending" : "Finished : Receiving";
        const bool pass = o.run.finished && got == expected && o.result == finished;
        Matrix().push_back({tests::PeerName(t.peer), t.netascii ? "netascii" : "octet",
                            get ? "download" : "upload", what, t.blockSize, pass, note});
        EXPECT_TRUE(o.run.finished) << tests::PeerName(t.peer) << " did not end: " << o.run.output;
        EXPECT_EQ(o.result, finished) << o.run.output;
        EXPECT_EQ(got.size(), expected.size()) << what << " " << tests::PeerName(t.peer) << " " << o.run.output;
        EXPECT_TRUE(got == expected) << what << " differs, " << tests::PeerName(t.peer) << " block size "
                                     << t.blockSize;
        std::filesystem::remove(t.local);
        std::filesystem::remove(get ? h->OutFile(t.remote) : h->InFile(t.remote));
        return pass;
    }

    std::unique_ptr<EngineHarness> h;
    tests::TempDir clientDir;
    int serial = 0;
};

// ---- octet, every block size each client can ask for ---------------------------

TEST_F(Interop, OctetDownloadsAndUploadsAtEveryBlockSize) {
    const std::string random = tests::PatternBytes(200000, 21);
    for (Direction dir : {Direction::Download, Direction::Upload}) {
        for (Peer peer : kAllPeers) {
            for (int size : kBlockSizes) {
                PeerTransfer t;
                t.peer = peer;
                t.direction = dir;
                t.blockSize = size;
                if (!tests::PeerCan(t)) continue;
                SCOPED_TRACE(std::string(tests::PeerName(peer)) + " " + std::to_string(size));
                Transfer(t, random, random, "200000 bytes");
                const std::string exact = tests::PatternBytes(static_cast<std::size_t>(2 * size), 5);
                Transfer(t, exact, exact, "2 x block size");
                if (peer == Peer::Curl && dir == Direction::Download) continue;  // below
                Transfer(t, "", "", "empty");
            }
        }
    }
}

TEST_F(Interop, CurlEmptyDownloadNeedsTsizeUnechoed) {
    // curl 7.88 refuses an OACK whose tsize is 0 (its own limitation, seen
    // with every server); with the size not echoed it fetches empty files.
    for (int size : kBlockSizes) {
        PeerTransfer t;
        t.peer = Peer::Curl;
        t.blockSize = size;
        h->settings.bAllowTsize = 0;
        Transfer(t, "", "", "empty (tsize off)");
        h->settings.bAllowTsize = 1;
    }
    PeerTransfer t;
    t.peer = Peer::Curl;
    t.remote = "empty.bin";
    t.local = clientDir.File("empty.bin");
    tests::WriteFile(h->OutFile("empty.bin"), "");
    const auto run = tests::RunPeer(tests::CommandFor(t, kHost, kPort), clientDir.Path(), kSmallRunMs);
    Matrix().push_back({"curl", "octet", "download", "empty (tsize on)", 512, run.exitCode == 0,
                        "curl rejects OACK tsize 0 (exit " + std::to_string(run.exitCode) + ")"});
    // curl leaves without a word; the OACK is offered again and the
    // transfer then times out like any vanished client's.
    for (int i = 0; i < 6; ++i) {
        h->clock.Advance(31);
        h->Sweep();
    }
    EXPECT_EQ(h->view.ResultOf(h->app.transferCounter), "TimedOut : Sending");
}

// ---- netascii ------------------------------------------------------------------

TEST_F(Interop, NetasciiDownloadsSendLfLineEnds) {
    // A CR LF text of about 20 blocks at 512, lines split across blocks.
    const std::string file = CrLfText(500);
    const std::string expected = WithoutCr(file);
    for (Peer peer : {Peer::TftpHpa, Peer::Atftp, Peer::Curl}) {
        for (int size : {512, 1428}) {
            PeerTransfer t;
            t.peer = peer;
            t.netascii = true;
            t.blockSize = size;
            if (!tests::PeerCan(t)) continue;
            SCOPED_TRACE(tests::PeerName(peer));
            Transfer(t, file, expected, "CR LF text",  kSmallRunMs,
                     peer == Peer::Curl ? "curl keeps wire bytes" : "");
            // The progress at the end is the whole of what went on the wire.
            const auto status = h->view.Of(WM_TRANSFER_STATUS);
            ASSERT_FALSE(status.empty());
            EXPECT_EQ(status.back().done, static_cast<std::int64_t>(expected.size()));
        }
    }
}

TEST_F(Interop, NetasciiUploadOfLfTextStoresCrLf) {
    // RFC clients put CR LF on the wire; curl sends the file's LF as it is.
    // Either way the stored text has CR LF line ends, once.
    const std::string crlf = CrLfText(500);
    const std::string lf = WithoutCr(crlf);
    for (Peer peer : {Peer::TftpHpa, Peer::Atftp, Peer::Curl}) {
        for (int size : {512, 1428}) {
            PeerTransfer t;
            t.peer = peer;
            t.direction = Direction::Upload;
            t.netascii = true;
            t.blockSize = size;
            if (!tests::PeerCan(t)) continue;
            SCOPED_TRACE(tests::PeerName(peer));
            Transfer(t, lf, crlf, "LF text -> CR LF");
        }
    }
}

// ---- options ------------------------------------------------------------------

namespace {
// atftp's trace line for the OACK, e.g. "received OACK <tsize: 12, timeout: 3, blksize: 1428>".
std::string OackLine(const std::string& output) {
    const auto at = output.find("received OACK <");
    if (at == std::string::npos) return "";
    std::string line;
    // atftp takes back its last ", " with two backspaces.
    for (char c : output.substr(at, output.find('\n', at) - at)) {
        if (c == '\b') line.pop_back();
        else line.push_back(c);
    }
    return line;
}
}  // namespace

TEST_F(Interop, TsizeAndTimeoutEchoedByTheSwitches) {
    const std::string content = tests::PatternBytes(3000, 4);
    struct Case { int tsize, timeout; std::string oack; };
    const Case cases[] = {
        {1, 1, "received OACK <tsize: 3000, timeout: 3, blksize: 1428>"},
        {0, 1, "received OACK <timeout: 3, blksize: 1428>"},
        {1, 0, "received OACK <tsize: 3000, blksize: 1428>"},
        {0, 0, "received OACK <blksize: 1428>"},
    };
    for (const Case& c : cases) {
        h->settings.bAllowTsize = c.tsize;
        h->settings.bAllowTimeout = c.timeout;
        PeerTransfer t;
        t.peer = Peer::Atftp;
        t.blockSize = 1428;
        t.askTsize = true;
        t.askTimeout = 3;
        t.trace = true;
        t.remote = "opt.bin";
        t.local = clientDir.File("opt.bin");
        tests::WriteFile(h->OutFile("opt.bin"), content);
        const auto o = Run(t);
        EXPECT_EQ(OackLine(o.run.output), c.oack);
        EXPECT_EQ(o.result, "Finished : Sending");
        EXPECT_TRUE(tests::ReadFile(t.local) == content);
        Matrix().push_back({"atftp", "octet", "download",
                            "tsize/timeout " + std::to_string(c.tsize) + "/" + std::to_string(c.timeout), 1428,
                            OackLine(o.run.output) == c.oack && o.result == "Finished : Sending", ""});

        // An upload never has its size echoed.
        t.direction = Direction::Upload;
        t.remote = "optup.bin";
        const auto u = Run(t);
        const std::string expectUp = c.timeout ? "received OACK <timeout: 3, blksize: 1428>"
                                               : "received OACK <blksize: 1428>";
        EXPECT_EQ(OackLine(u.run.output), expectUp);
        EXPECT_EQ(u.result, "Finished : Receiving");
        EXPECT_TRUE(tests::ReadFile(h->InFile("optup.bin")) == content);
    }
}

// ---- the block number wraps --------------------------------------------------------

TEST_F(Interop, BlockNumberWrapsAroundAtBlockSize512) {
    // 33 MiB: 67584 blocks, past block 65535 and on through 0.
    const std::string big = tests::PatternBytes(33u << 20, 99);
    for (Direction dir : {Direction::Download, Direction::Upload}) {
        for (Peer peer : kAllPeers) {
            PeerTransfer t;
            t.peer = peer;
            t.direction = dir;
            SCOPED_TRACE(tests::PeerName(peer));
            Transfer(t, big, big, "33 MiB (wraps)", kBigRunMs);
            const auto status = h->view.Of(WM_TRANSFER_STATUS);
            ASSERT_FALSE(status.empty());
            EXPECT_EQ(status.back().done, static_cast<std::int64_t>(big.size()));
            h->view.seen.clear();
        }
    }
}

TEST_F(Interop, FileBeyondFourGigabytesTransfersWithRightSizes) {
    // A sparse file of 4 GiB + 1 MiB at the largest block size: 65625
    // blocks, so the block number wraps here too, and every size is past
    // what 32 bits hold. The receiving side throws the data away.
    const std::int64_t size = (std::int64_t{4} << 30) + (1 << 20);
    // On tmpfs a hole reads as the shared zero page; elsewhere the kernel
    // would fill 4 GiB of page cache with zeros first.
    struct ShmFolder {
        std::string path;
        ShmFolder() {
            std::string templ = "/dev/shm/vantrel-test-XXXXXX";
            if (std::filesystem::is_directory("/dev/shm") && ::mkdtemp(templ.data())) path = templ;
        }
        ~ShmFolder() {
            std::error_code ec;
            if (!path.empty()) std::filesystem::remove_all(path, ec);
        }
    } shm;
    if (!shm.path.empty()) h->settings.OutPath = shm.path + "/";
    const std::string path = h->settings.OutPath + "huge.bin";
    tests::WriteFile(path, "");
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));

    PeerTransfer t;
    t.peer = Peer::Atftp;
    t.blockSize = 65464;
    t.askTsize = true;
    t.remote = "huge.bin";
    t.local = "/dev/null";
    const auto o = Run(t, kBigRunMs);
    const auto status = h->view.Of(WM_TRANSFER_STATUS);
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(status.front().total, size);
    EXPECT_EQ(status.back().total, size);
    EXPECT_EQ(status.back().done, size);
    EXPECT_EQ(o.result, "Finished : Sending");
    Matrix().push_back({"atftp", "octet", "download", "4 GiB + 1 MiB (sparse)", 65464,
                        status.back().done == size && o.result == "Finished : Sending", "to /dev/null"});
    // Not uploaded: an upload is stored only as a regular file, so one of
    // this size would take 4 GiB of disk.
}

// ---- refusals and errors ------------------------------------------------------------

TEST_F(Interop, MissingFileIsReportedToEveryClient) {
    for (Peer peer : kAllPeers) {
        PeerTransfer t;
        t.peer = peer;
        t.remote = "missing.bin";
        t.local = clientDir.File("missing.bin");
        const auto o = Run(t);
        EXPECT_TRUE(o.run.finished);
        EXPECT_EQ(o.result, "File not found : Sending") << tests::PeerName(peer);
        EXPECT_TRUE(tests::ReadFile(t.local).empty());
        if (peer == Peer::TftpHpa) EXPECT_NE(o.run.output.find("Error code 1: File not found"), std::string::npos);
        else EXPECT_NE(o.run.exitCode, 0) << tests::PeerName(peer);
        Matrix().push_back({tests::PeerName(peer), "octet", "download", "missing file", 512,
                            o.result == "File not found : Sending", ""});
    }
}

TEST_F(Interop, NamesAsBootLoadersSendThemAndNamesLeavingTheFolder) {
    // "/pxelinux.0" as DHCP set-ups hand it out, PXELINUX's per-machine
    // file, the installer's 48-character path, a Windows-built menu's
    // backslashes and a name of 200 characters: all from the folder.
    struct Case {
        std::string remote, relative;
    };
    const Case cases[] = {
        {"/pxelinux.0", "pxelinux.0"},
        {"pxelinux.cfg/01-52-54-00-12-34-56", "pxelinux.cfg/01-52-54-00-12-34-56"},
        {"debian-installer/amd64/boot-screens/vesamenu.c32", "debian-installer/amd64/boot-screens/vesamenu.c32"},
        {"boot\\grub\\grub.cfg", "boot/grub/grub.cfg"},
        {std::string(200, 'L'), std::string(200, 'L')},
    };
    auto get = [&](const std::string& remote, const std::string& local) {
        PeerTransfer t;
        t.remote = remote;
        t.local = clientDir.File(local);
        return Run(t);
    };
    std::uint32_t seed = 0;
    for (const Case& c : cases) {
        const std::string content = tests::PatternBytes(3000, ++seed);
        std::filesystem::create_directories(std::filesystem::path(h->OutFile(c.relative)).parent_path());
        tests::WriteFile(h->OutFile(c.relative), content);
        const auto o = get(c.remote, "fetched" + std::to_string(seed));
        const bool pass = o.run.finished && o.result == "Finished : Sending" &&
                          tests::ReadFile(clientDir.File("fetched" + std::to_string(seed))) == content;
        EXPECT_TRUE(pass) << c.remote << ": " << o.result << " " << o.run.output;
        Matrix().push_back({"tftp-hpa", "octet", "download",
                            c.remote.size() > 22 ? std::to_string(c.remote.size()) + "-char name" : c.remote, 512,
                            pass, ""});
    }
    // Options after a long name are read as after a short one.
    PeerTransfer withOptions;
    withOptions.peer = Peer::Atftp;
    withOptions.blockSize = 1428;
    withOptions.askTsize = true;
    withOptions.trace = true;
    withOptions.remote = std::string(200, 'L');
    withOptions.local = clientDir.File("with-options");
    const auto traced = Run(withOptions);
    EXPECT_EQ(OackLine(traced.run.output), "received OACK <tsize: 3000, blksize: 1428>") << traced.run.output;
    EXPECT_TRUE(tests::ReadFile(withOptions.local) == tests::ReadFile(h->OutFile(withOptions.remote)));
    Matrix().push_back({"atftp", "octet", "download", "200-char name, options", 1428,
                        OackLine(traced.run.output) == "received OACK <tsize: 3000, blksize: 1428>", ""});

    PeerTransfer up;
    up.direction = Direction::Upload;
    up.local = clientDir.File("upload");
    up.remote = "/boot\\uploaded.bin";
    const std::string upload = tests::PatternBytes(2000, 99);
    tests::WriteFile(up.local, upload);
    std::filesystem::create_directories(h->InFile("boot"));
    auto o = Run(up);
    EXPECT_EQ(o.result, "Finished : Receiving") << o.run.output;
    EXPECT_TRUE(tests::ReadFile(h->InFile("boot/uploaded.bin")) == upload);
    Matrix().push_back({"tftp-hpa", "octet", "upload", up.remote, 512,
                        tests::ReadFile(h->InFile("boot/uploaded.bin")) == upload, ""});

    // A file next to the folders, reached by a parent part or, with empty
    // folder settings (names relative to the working directory), by an
    // absolute name, which means a file below that folder.
    tests::TempDir root;
    std::filesystem::create_directories(root.File("out"));
    std::filesystem::create_directories(root.File("in"));
    h->settings.OutPath = root.File("out/");
    h->settings.InPath = root.File("in/");
    const std::string outside = root.File("s");
    tests::WriteFile(outside, "keep");
    o = get("../s", "escape");
    EXPECT_EQ(o.result, "File not found : Sending");
    EXPECT_TRUE(tests::ReadFile(clientDir.File("escape")).empty());

    PeerTransfer put;
    put.direction = Direction::Upload;
    put.local = clientDir.File("payload");
    tests::WriteFile(put.local, "overwrite attempt");
    put.remote = "../s";
    o = Run(put);
    EXPECT_NE(o.run.output.find("Error code 2: Access violation"), std::string::npos) << o.run.output;
    EXPECT_EQ(o.result, "Access violation : Receiving");

    h->settings.OutPath.clear();
    h->settings.InPath.clear();
    o = get(outside, "absolute");
    EXPECT_EQ(o.result, "File not found : Sending");
    EXPECT_TRUE(tests::ReadFile(clientDir.File("absolute")).empty());
    put.remote = outside;
    o = Run(put);
    EXPECT_EQ(o.result, "Access violation : Receiving");
    EXPECT_EQ(tests::ReadFile(outside), "keep");
    Matrix().push_back({"tftp-hpa", "octet", "both", "names leaving folder", 512,
                        o.result == "Access violation : Receiving" && tests::ReadFile(outside) == "keep", ""});
}

TEST_F(Interop, ServingStoppedDenyAndAllowListsRefuseRealClients) {
    tests::WriteFile(h->OutFile("a.bin"), "served");
    auto tryGet = [&] {
        PeerTransfer t;
        t.remote = "a.bin";
        t.local = clientDir.File("a.bin");
        std::filesystem::remove(t.local);
        const auto o = Run(t);
        return std::make_pair(o.run.output, tests::ReadFile(t.local));
    };
    h->app.bServing = 0;
    auto [out, got] = tryGet();
    EXPECT_NE(out.find("Error code 0: Service not available"), std::string::npos) << out;
    EXPECT_TRUE(got.empty());
    h->app.bServing = 1;

    h->settings.bDeny = 1;
    h->settings.Deny[2] = "10.9.*.*";
    std::tie(out, got) = tryGet();
    EXPECT_NE(out.find("Error code 0: Service not available"), std::string::npos) << out;
    h->settings.bDeny = 0;

    h->settings.bAllow = 1;
    h->settings.Allow[0] = "192.168.*.*";
    std::tie(out, got) = tryGet();
    EXPECT_NE(out.find("Error code 0: Service not available"), std::string::npos) << out;
    h->settings.Allow[1] = "10.9.9.1";
    std::tie(out, got) = tryGet();
    EXPECT_EQ(got, "served");
    EXPECT_EQ(h->view.CountOf(WM_TRANSFER_STARTED), 1);  // refused clients are not shown
    Matrix().push_back({"tftp-hpa", "octet", "download", "stopped/deny/allow", 512, got == "served", ""});
}

TEST_F(Interop, ClientLimitRefusesTheNextRealClient) {
    // One running transfer (a raw client that never acknowledges) fills
    // position 0's limit of one.
    h->settings.nMaxClients = 0;
    tests::WriteFile(h->OutFile("a.bin"), std::string(5000, 'a'));
    RawClient holder(kHost);
    holder.Send(tests::Request(tftp::kRrq, "a.bin", "octet"), h->listenAt);
    RawClient::Datagram first;
    ASSERT_TRUE(holder.Next(first));
    PeerTransfer t;
    t.peer = Peer::Busybox;
    t.remote = "a.bin";
    t.local = clientDir.File("a.bin");
    const auto o = tests::RunPeer(tests::CommandFor(t, kHost, kPort), clientDir.Path(), kSmallRunMs);
    EXPECT_NE(o.output.find("Too Many Clients"), std::string::npos) << o.output;
    EXPECT_NE(o.exitCode, 0);
}

// ---- a transfer socket that cannot be had -------------------------------------------

namespace {
// The namespace's own range of ports the system chooses from.
class PortRange {
public:
    static constexpr const char* kPath = "/proc/sys/net/ipv4/ip_local_port_range";
    PortRange() {
        std::ifstream in(kPath);
        std::getline(in, saved_);
    }
    ~PortRange() { Restore(); }
    void Restore() { Write(saved_); }
    bool Write(const std::string& range) {
        std::ofstream out(kPath);
        out << range << "\n";
        out.flush();
        return static_cast<bool>(out);
    }

private:
    std::string saved_;
};
}  // namespace

TEST_F(Interop, TransferSocketFailureIsReportedAsAFailure) {
    tests::WriteFile(h->OutFile("a.bin"), "a");
    RawClient client(kHost);  // bound before the range shrinks
    PortRange range;
    // One port left for the system to choose from, and it is taken.
    RawClient taken;
    ASSERT_TRUE(range.Write("61000 61000"));
    ASSERT_TRUE(taken.Create(kHost, 61000, false));
    client.Send(tests::Request(tftp::kRrq, "a.bin", "octet"), h->listenAt);
    ASSERT_TRUE(tests::WaitFor([&] { return h->app.transferCounter == 1; }));
    client.Send(tests::Request(tftp::kWrq, "b.bin", "octet"), h->listenAt);
    ASSERT_TRUE(tests::WaitFor([&] { return h->app.transferCounter == 2; }));
    range.Restore();
    ASSERT_TRUE(h->WaitReported(2));
    const std::string why = "No socket: " + std::string(std::strerror(EADDRINUSE));
    EXPECT_EQ(h->view.ResultOf(1), why + " : Sending");
    EXPECT_EQ(h->view.ResultOf(2), why + " : Receiving");
    EXPECT_EQ(h->view.Of(WM_TRANSFER_FILE).size(), 0u);  // it never got that far
    // With no socket of their own, the listener told the client why.
    for (int i = 0; i < 2; ++i) {
        RawClient::Datagram d;
        ASSERT_TRUE(client.Next(d));
        EXPECT_EQ(d.bytes, tests::ErrorPacket(0, why));
        EXPECT_EQ(d.from, h->listenAt);
    }
    EXPECT_FALSE(tests::FileExists(h->InFile("b.bin")));
}

}  // namespace
