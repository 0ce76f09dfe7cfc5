// skerry --get and --put as the command line reads them: host and port in
// every form the Host field will take, the files' names, the options, and
// the usage errors that end with status 2.
#include "client/command_transfer.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace {

TEST(CommandTransfer, HostAndPortInEveryForm) {
    struct Case {
        const char* text;
        bool ok;
        const char* host;
        int port;
    };
    const Case cases[] = {
        {"192.0.2.7", true, "192.0.2.7", 69},
        {"192.0.2.7:6969", true, "192.0.2.7", 6969},
        {"boot-server", true, "boot-server", 69},
        {"boot-server:69", true, "boot-server", 69},
        {"[2001:db8::1]:6969", true, "2001:db8::1", 6969},
        {"[2001:db8::1]", true, "2001:db8::1", 69},
        {"::1", true, "::1", 69},
        {"2001:db8::1", true, "2001:db8::1", 69},
        {"[::ffff:192.0.2.7]:1", true, "::ffff:192.0.2.7", 1},
        {"host:65535", true, "host", 65535},
        {"", false, "", 0},
        {":69", false, "", 0},
        {"[]:69", false, "", 0},
        {"host:", false, "", 0},
        {"host:0", false, "", 0},
        {"host:65536", false, "", 0},
        {"host:6x", false, "", 0},
        {"host:+69", false, "", 0},
        {"[::1", false, "", 0},
        {"[::1]x", false, "", 0},
        {"[::1]:", false, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string host;
        int port = 0;
        EXPECT_EQ(SplitHostPort(c.text, host, port), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(host, c.host);
        EXPECT_EQ(port, c.port);
    }
}

TEST(CommandTransfer, ArgumentsAndUsageErrors) {
    struct Case {
        std::vector<const char*> args;
        int status;
        bool fetch = false;
        const char* remote = "";
        const char* local = "";
        int blockSize = 0, windowSize = 0, timeout = 0;
        bool netascii = false;
    };
    const std::vector<Case> cases = {
        {{"--get", "h", "boot/pxelinux.0"}, -1, true, "boot/pxelinux.0", "pxelinux.0", 512, 1, 10, false},
        {{"--get", "h:6969", "a.bin", "/tmp/b.bin"}, -1, true, "a.bin", "/tmp/b.bin", 512, 1, 10, false},
        {{"--put", "h", "dir/c.txt"}, -1, false, "c.txt", "dir/c.txt", 512, 1, 10, false},
        {{"--put", "h", "c.txt", "up/d.txt", "--netascii"}, -1, false, "up/d.txt", "c.txt", 512, 1, 10, true},
        {{"--blksize", "1428", "--windowsize", "16", "--timeout", "3", "--get", "h", "a"},
         -1, true, "a", "a", 1428, 16, 3, false},
        {{"--get", "h", "a", "--blksize", "8"}, -1, true, "a", "a", 8, 1, 10, false},
        {{"--get", "h", "a", "--blksize", "65464"}, -1, true, "a", "a", 65464, 1, 10, false},
        {{"--get", "h", "a", "--blksize", "7"}, 2},
        {{"--get", "h", "a", "--blksize", "65465"}, 2},
        {{"--get", "h", "a", "--windowsize", "0"}, 2},
        {{"--get", "h", "a", "--windowsize", "65536"}, 2},
        {{"--get", "h", "a", "--timeout", "0"}, 2},
        {{"--get", "h", "a", "--timeout", "ten"}, 2},
        {{"--get", "h"}, 2},
        {{"--get", "h", "a", "b", "c"}, 2},
        {{"--get", "--put", "h", "a"}, 2},
        {{"--get", "h:0", "a"}, 2},
        {{"--get", "h", "dir/"}, 2},  // no name for the local file
        {{"--get", "h", ""}, 2},
        {{"--get", "h", "a", "--verbose"}, 2},
        {{"--get", "--help"}, 0},
    };
    for (const Case& c : cases) {
        QStringList arguments{QStringLiteral("skerry")};
        std::string shown;
        for (const char* a : c.args) {
            arguments << QString::fromUtf8(a);
            shown += std::string(a) + " ";
        }
        SCOPED_TRACE(shown);
        CommandTransfer t;
        t.blockSize = -5;  // untouched unless read whole
        const int status = ReadCommandTransfer(arguments, t);
        EXPECT_EQ(status, c.status);
        if (c.status != -1) {
            EXPECT_EQ(t.blockSize, -5) << "nothing is filled in for a usage error";
            continue;
        }
        EXPECT_EQ(t.fetch, c.fetch);
        EXPECT_EQ(t.remote, c.remote);
        EXPECT_EQ(t.local, c.local);
        EXPECT_EQ(t.blockSize, c.blockSize);
        EXPECT_EQ(t.windowSize, c.windowSize);
        EXPECT_EQ(t.timeoutSecs, c.timeout);
        EXPECT_EQ(t.netascii, c.netascii);
        EXPECT_EQ(t.host, "h");
    }
}

}  // namespace
