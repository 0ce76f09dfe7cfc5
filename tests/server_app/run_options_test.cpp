// The server's command line: what it sets for the run, what it refuses (with
// status 2 and a message that names the problem), and that the store keeps
// its own values for what the command line set.
#include "server/app/run_options.h"
#include "tests/support/temp_dir.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {

// What the call wrote on standard error.
class CapturedStderr {
public:
    CapturedStderr() {
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        std::FILE* file = std::tmpfile();
        fd_ = ::dup(::fileno(file));
        std::fclose(file);
        ::dup2(fd_, STDERR_FILENO);
    }
    ~CapturedStderr() { Restore(); }
    std::string Text() {
        Restore();
        std::string text;
        char buffer[4096];
        ::lseek(fd_, 0, SEEK_SET);
        for (ssize_t n; (n = ::read(fd_, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
        return text;
    }

private:
    void Restore() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        saved_ = -1;
    }
    int saved_ = -1;
    int fd_ = -1;
};

// One reading of the command line vantrel ARGS: its status, what it set and
// what it wrote on standard error (traced by the arguments).
struct Reading {
    int status = 0;
    RunOverrides overrides;
    std::string said;
};
Reading Read(const std::vector<std::string>& args) {
    QStringList arguments{QStringLiteral("vantrel")};
    for (const std::string& a : args) arguments << QString::fromStdString(a);
    Reading r;
    CapturedStderr err;
    r.status = ReadRunOptions(arguments, QStringLiteral("Vantrel."), r.overrides);
    r.said = err.Text();
    return r;
}

// Standard error holds the message, or nothing when none is expected.
void ExpectSaid(const std::string& said, const std::string& message) {
    if (message.empty()) {
        EXPECT_EQ(said, "");
    } else {
        EXPECT_NE(said.find(message), std::string::npos) << said;
    }
}

std::string Shown(const std::vector<std::string>& args) {
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    return shown;
}

TEST(RunOptions, ValuesForTheRunAndRefusalsWithStatusTwoAndTheirReason) {
    tests::TempDir dir;
    tests::WriteFile(dir.File("file"), "x");
    const std::string folder = dir.Path() + "/";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string port, outPath, inPath;
        bool readOnly;
        std::string message;  // a part of what standard error says
    };
    const std::vector<Case> cases = {
        {{}, -1, "", "", "", false, ""},
        {{"--port", "6969"}, -1, "6969", "", "", false, ""},
        {{"--port=1"}, -1, "1", "", "", false, ""},
        {{"--port", "65535", "--read-only"}, -1, "65535", "", "", true, ""},
        {{"--outbound", dir.Path(), "--inbound", folder}, -1, "", folder, folder, false, ""},
        {{"--outbound", dir.Path() + "/./"}, -1, "", folder, "", false, ""},
        {{"--port", "0"}, 2, "", "", "", false, "--port: '0' is not a port number from 1 to 65535."},
        {{"--port", "65536"}, 2, "", "", "", false, "'65536' is not a port number"},
        {{"--port", "69x"}, 2, "", "", "", false, "'69x' is not a port number"},
        {{"--port", "-1"}, 2, "", "", "", false, "'-1' is not a port number"},
        {{"--port"}, 2, "", "", "", false, "Missing value after '--port'"},
        {{"--port", "69", "--port", "70"}, 2, "", "", "", false, "--port given more than once."},
        {{"--outbound", dir.File("missing")}, 2, "", "", "", false, "--outbound: no such folder: " + dir.File("missing")},
        {{"--inbound", dir.File("file")}, 2, "", "", "", false, "--inbound: not a folder: " + dir.File("file")},
        {{"--serve"}, 2, "", "", "", false, "Unknown option 'serve'."},
        {{"extra"}, 2, "", "", "", false, "Unexpected argument 'extra'."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Shown(c.args));
        const auto [status, overrides, said] = Read(c.args);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(overrides.port.value_or(""), c.port);
        EXPECT_EQ(overrides.outPath.value_or(""), c.outPath);
        EXPECT_EQ(overrides.inPath.value_or(""), c.inPath);
        EXPECT_EQ(overrides.readOnly, c.readOnly);
        ExpectSaid(said, c.message);
    }
}

// --remap FILE: one rule a line, or the reason the file is refused.
TEST(RunOptions, RemapReadsARulesFileOrSaysWhichLineIsWrong) {
    tests::TempDir dir;
    tests::WriteFile(dir.File("rules"), "# PXE firmware\n(?i)^/tftpboot/(.*)$\t\\1\tstop\n\n^x$\ty\n");
    tests::WriteFile(dir.File("empty"), "");
    tests::WriteFile(dir.File("bad"), "^a$\tb\n(\tx\n");
    tests::WriteFile(dir.File("spaces"), "^a$ b\n");
    std::string many;
    for (int i = 0; i <= ServerSettings::kMaxNameRules; ++i) many += "^" + std::to_string(i) + "$\tx\n";
    tests::WriteFile(dir.File("many"), many);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::optional<std::vector<tftp::NameRule>> rules;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{}, -1, std::nullopt, ""},
        {{"--remap", dir.File("rules")}, -1,
         std::vector<tftp::NameRule>{{"(?i)^/tftpboot/(.*)$", "\\1", true}, {"^x$", "y", false}}, ""},
        {{"--remap", dir.File("empty")}, -1, std::vector<tftp::NameRule>{}, ""},
        {{"--remap", dir.File("bad")}, 2, std::nullopt,
         "--remap: " + dir.File("bad") + ": line 2: missing closing parenthesis at offset 1"},
        {{"--remap", dir.File("spaces")}, 2, std::nullopt, "line 1: no tab between the pattern and the replacement"},
        {{"--remap", dir.File("many")}, 2, std::nullopt, ": more than 32 rules"},
        {{"--remap", dir.File("missing")}, 2, std::nullopt, "--remap: cannot read " + dir.File("missing")},
        {{"--remap", dir.Path()}, 2, std::nullopt, "--remap: not a file: " + dir.Path()},
        {{"--remap", dir.File("rules"), "--remap", dir.File("empty")}, 2, std::nullopt,
         "--remap given more than once."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Shown(c.args));
        const auto [status, overrides, said] = Read(c.args);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(overrides.nameRules, c.rules);
        ExpectSaid(said, c.message);
    }
}

TEST(RunOptions, TransferPortsAndTheBlockSizeCapForTheRun) {
    struct Case {
        std::vector<std::string> args;
        int status;
        tftp::PortRange range;
        int cap;              // 0: not set
        std::string message;  // a part of what standard error says
    };
    const std::vector<Case> cases = {
        {{"--port-range", "50000:50099"}, -1, {50000, 50099}, 0, ""},
        {{"--port-range=7000:7000", "--max-blksize", "1024"}, -1, {7000, 7000}, 1024, ""},
        {{"--max-blksize", "8"}, -1, {}, 8, ""},
        {{"--max-blksize", "65464"}, -1, {}, 65464, ""},
        {{"--port", "6969", "--port-range", "6970:7000"}, -1, {6970, 7000}, 0, ""},
        {{"--port", "6969", "--port-range", "6900:7000"}, 2, {}, 0, "--port-range: 6900:7000 holds the listening port 6969."},
        {{"--port-range", "50099:50000"}, 2, {}, 0, "--port-range: '50099:50000' is not N:M"},
        {{"--port-range", "50000"}, 2, {}, 0, "'50000' is not N:M"},
        {{"--port-range", "50000:"}, 2, {}, 0, "'50000:' is not N:M"},
        {{"--port-range", ":"}, 2, {}, 0, "':' is not N:M"},
        {{"--port-range", "0:100"}, 2, {}, 0, "'0:100' is not N:M"},
        {{"--port-range", "60000:70000"}, 2, {}, 0, "'60000:70000' is not N:M"},
        {{"--port-range", "1:2", "--port-range", "3:4"}, 2, {}, 0, "--port-range given more than once."},
        {{"--max-blksize", "7"}, 2, {}, 0, "--max-blksize: '7' is not a block size from 8 to 65464."},
        {{"--max-blksize", "65465"}, 2, {}, 0, "'65465' is not a block size"},
        {{"--max-blksize", "1k"}, 2, {}, 0, "'1k' is not a block size"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Shown(c.args));
        const auto [status, overrides, said] = Read(c.args);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(overrides.portRange.value_or(tftp::PortRange{}), c.range);
        EXPECT_EQ(overrides.maxBlksize.value_or(0), c.cap);
        ExpectSaid(said, c.message);
    }
    // For the run only: the store keeps its own, unless changed in the run.
    RunOverrides overrides;
    overrides.portRange = tftp::PortRange{50000, 50099};
    overrides.maxBlksize = 1024;
    ServerSettings stored;
    stored.nMaxBlksize = 1428;
    ServerSettings running = stored;
    overrides.ApplyTo(running);
    EXPECT_EQ(running.nPortRangeLow, 50000);
    EXPECT_EQ(running.nPortRangeHigh, 50099);
    EXPECT_EQ(running.nMaxBlksize, 1024);
    ServerSettings kept = overrides.ForStore(running, stored);
    EXPECT_EQ(kept.nPortRangeLow, 0);
    EXPECT_EQ(kept.nPortRangeHigh, 0);
    EXPECT_EQ(kept.nMaxBlksize, 1428);
    running.nPortRangeHigh = 50199;  // the user's own choice in the run
    kept = overrides.ForStore(running, stored);
    EXPECT_EQ(kept.nPortRangeLow, 50000);
    EXPECT_EQ(kept.nPortRangeHigh, 50199);
}

TEST(RunOptions, TheStoreKeepsItsOwnValuesForWhatTheCommandLineSet) {
    RunOverrides overrides;
    overrides.port = "6969";
    overrides.outPath = "/srv/tftp/";
    overrides.readOnly = true;
    overrides.nameRules = std::vector<tftp::NameRule>{{"^a$", "b", false}};
    ServerSettings stored;
    stored.NameRules = {{"^stored$", "kept", true}};
    stored.Port = "69";
    stored.OutPath = "/home/u/tftp/outbound/";
    stored.InPath = "/home/u/tftp/inbound/";
    stored.bRefuseUploads = 0;
    ServerSettings running = stored;
    overrides.ApplyTo(running);
    EXPECT_EQ(running.Port, "6969");
    EXPECT_EQ(running.OutPath, "/srv/tftp/");
    EXPECT_EQ(running.InPath, "/home/u/tftp/inbound/");
    EXPECT_EQ(running.bRefuseUploads, 1);
    EXPECT_EQ(running.NameRules, *overrides.nameRules);

    running.nMaxClients = 5;  // changed in the run: kept
    ServerSettings kept = overrides.ForStore(running, stored);
    EXPECT_EQ(kept.Port, "69");
    EXPECT_EQ(kept.OutPath, "/home/u/tftp/outbound/");
    EXPECT_EQ(kept.bRefuseUploads, 0);
    EXPECT_EQ(kept.nMaxClients, 5);
    EXPECT_EQ(kept.NameRules, stored.NameRules) << "the file's rules never reach the store";
    // What the user then chose in the options sheet is the user's: stored.
    running.Port = "7070";
    running.bRefuseUploads = 0;
    running.NameRules.push_back({"^c$", "d", false});
    kept = overrides.ForStore(running, stored);
    EXPECT_EQ(kept.NameRules, running.NameRules);
    EXPECT_EQ(kept.Port, "7070");
    EXPECT_EQ(kept.bRefuseUploads, 0);
}

}  // namespace
