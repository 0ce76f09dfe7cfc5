// The registry store: the registry's failure rules, the export text format,
// keeping what it does not know, and atomic writes.
#include "platform/atomic_file.h"
#include "platform/registry_store.h"
#include "platform/termination_signals.h"
#include "tests/support/event_loop.h"
#include "tests/support/temp_dir.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

using platform::kHkeyCurrentUser;
using platform::RegistryStore;
using platform::RegKey;

namespace {

std::string QueryString(RegistryStore& store, RegKey key, const std::string& name) {
    char buffer[1000];
    std::uint32_t size = sizeof buffer;
    std::uint32_t type = 0;
    if (!store.QueryValue(key, name, &type, buffer, size) || type != platform::kRegSz) return "<absent>";
    return std::string(buffer, size ? size - 1 : 0);
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(RegistryStore, OpeningAMissingKeyFailsAndCreatingMakesEveryLevel) {
    tests::TempDir dir;
    RegistryStore store(dir.File("Brellin/Vantry.reg"));
    RegKey key = 0;
    EXPECT_FALSE(store.OpenKey(kHkeyCurrentUser, "Software\\Brellin\\Vantry", key));
    ASSERT_TRUE(store.CreateKey(kHkeyCurrentUser, "Software\\Brellin\\Vantry", key));
    EXPECT_TRUE(store.CloseKey(key));
    // The file (and its folder) now exist and hold the empty key and its parents.
    EXPECT_EQ(tests::ReadFile(dir.File("Brellin/Vantry.reg")),
              "REGEDIT4\n\n"
              "[HKEY_CURRENT_USER\\Software]\n\n"
              "[HKEY_CURRENT_USER\\Software\\Brellin]\n\n"
              "[HKEY_CURRENT_USER\\Software\\Brellin\\Vantry]\n\n");
    RegistryStore again(dir.File("Brellin/Vantry.reg"));
    ASSERT_TRUE(again.OpenKey(kHkeyCurrentUser, "software\\BRELLIN", key));
    RegKey child = 0;
    EXPECT_TRUE(again.OpenKey(key, "vantry", child));
    EXPECT_FALSE(again.OpenKey(key, "Vantrel", child));
    EXPECT_FALSE(again.CloseKey(12345));  // not a handle
}

TEST(RegistryStore, ValueNamesMatchWithoutCaseAndQueriesKeepTheBufferRule) {
    tests::TempDir dir;
    RegistryStore store(dir.File("store.reg"));
    RegKey key = 0;
    ASSERT_TRUE(store.CreateKey(kHkeyCurrentUser, "Software\\Test", key));
    ASSERT_TRUE(store.SetString(key, "LogFile", "Orvane.log"));
    EXPECT_EQ(QueryString(store, key, "Logfile"), "Orvane.log");
    EXPECT_EQ(QueryString(store, key, "LOGFILE"), "Orvane.log");

    // Eleven bytes with the terminating zero: a buffer of 10 is too small.
    char small[10];
    std::uint32_t size = sizeof small;
    EXPECT_FALSE(store.QueryValue(key, "logfile", nullptr, small, size));
    EXPECT_EQ(size, 11u);
    char exact[11];
    size = sizeof exact;
    EXPECT_TRUE(store.QueryValue(key, "logfile", nullptr, exact, size));
    EXPECT_STREQ(exact, "Orvane.log");

    // A later write under another case replaces the value and keeps its name.
    ASSERT_TRUE(store.SetDword(key, "LOGFILE", 7));
    std::uint32_t word = 0, type = 0;
    size = sizeof word;
    ASSERT_TRUE(store.QueryValue(key, "LogFile", &type, &word, size));
    EXPECT_EQ(type, platform::kRegDword);
    EXPECT_EQ(word, 7u);
    EXPECT_FALSE(store.QueryValue(key, "Missing", &type, &word, size));
    store.CloseKey(key);
    EXPECT_NE(tests::ReadFile(dir.File("store.reg")).find("\"LogFile\"=dword:00000007\n"), std::string::npos);
}

TEST(RegistryStore, TextsWithBackslashesQuotesAndLineBreaksSurviveTheFile) {
    tests::TempDir dir;
    const std::string path = dir.File("store.reg");
    {
        RegistryStore store(path);
        RegKey key = 0;
        ASSERT_TRUE(store.CreateKey(kHkeyCurrentUser, "Software\\Brellin\\Vantry", key));
        store.SetString(key, "InPath", "C:\\tftp\\in\\");
        store.SetString(key, "Quoted", "say \"hi\"");
        store.SetString(key, "Broken", "two\nlines");
        store.SetString(key, "Empty", "");
        store.SetDword(key, "Big", 0xFFFFFFFFu);
        store.CloseKey(key);
    }
    const std::string text = tests::ReadFile(path);
    EXPECT_NE(text.find("\"InPath\"=\"C:\\\\tftp\\\\in\\\\\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Quoted\"=\"say \\\"hi\\\"\"\n"), std::string::npos) << text;
    // A line break cannot stand in a quoted text: the value is written as bytes.
    EXPECT_NE(text.find("\"Broken\"=hex(1):74,77,6f,0a,6c,69,6e,65,73,00\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Empty\"=\"\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Big\"=dword:ffffffff\n"), std::string::npos) << text;

    RegistryStore store(path);
    RegKey key = 0;
    ASSERT_TRUE(store.OpenKey(kHkeyCurrentUser, "Software\\Brellin\\Vantry", key));
    EXPECT_EQ(QueryString(store, key, "InPath"), "C:\\tftp\\in\\");
    EXPECT_EQ(QueryString(store, key, "Quoted"), "say \"hi\"");
    EXPECT_EQ(QueryString(store, key, "Broken"), "two\nlines");
    EXPECT_EQ(QueryString(store, key, "Empty"), "");
}

TEST(RegistryStore, KeysAndValuesItDoesNotKnowAreKept) {
    tests::TempDir dir;
    const std::string path = dir.File("store.reg");
    tests::WriteFile(path,
                     "REGEDIT4\r\n\r\n"
                     "; written by hand\r\n"
                     "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
                     "@=\"default\"\r\n"
                     "\"Blob\"=hex:01,02,03,\\\r\n"
                     "  04,05\r\n"
                     "\"Expand\"=hex(2):25,00\r\n\r\n"
                     "[HKEY_LOCAL_MACHINE\\Software\\Elsewhere]\r\n"
                     "\"Kept\"=dword:00000010\r\n\r\n"
                     "[HKEY_CURRENT_USER\\Software\\Brellin\\Vantry]\r\n"
                     "\"Port\"=\"6969\"\r\n"
                     "\"Mystery\"=\"keep me\"\r\n");
    RegistryStore store(path);
    RegKey key = 0;
    ASSERT_TRUE(store.OpenKey(kHkeyCurrentUser, "Software\\Brellin\\Vantry", key));
    EXPECT_EQ(QueryString(store, key, "Port"), "6969");
    store.SetString(key, "Port", "69");
    store.CloseKey(key);

    EXPECT_EQ(tests::ReadFile(path),
              "REGEDIT4\n\n"
              "[HKEY_CURRENT_USER\\Software]\n\n"
              "[HKEY_CURRENT_USER\\Software\\Other]\n"
              "@=\"default\"\n"
              "\"Blob\"=hex:01,02,03,04,05\n"
              "\"Expand\"=hex(2):25,00\n\n"
              "[HKEY_CURRENT_USER\\Software\\Brellin]\n\n"
              "[HKEY_CURRENT_USER\\Software\\Brellin\\Vantry]\n"
              "\"Port\"=\"69\"\n"
              "\"Mystery\"=\"keep me\"\n\n"
              "[HKEY_LOCAL_MACHINE\\Software]\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Elsewhere]\n"
              "\"Kept\"=dword:00000010\n\n");
}

TEST(RegistryStore, EachSessionSeesTheFileAsItIsNow) {
    tests::TempDir dir;
    const std::string path = dir.File("store.reg");
    RegistryStore first(path);
    RegistryStore second(path);
    RegKey key = 0;
    ASSERT_TRUE(second.CreateKey(kHkeyCurrentUser, "Software\\Brellin", key));
    second.SetString(key, "Port", "1069");
    second.CloseKey(key);
    ASSERT_TRUE(first.OpenKey(kHkeyCurrentUser, "Software\\Brellin", key));
    EXPECT_EQ(QueryString(first, key, "Port"), "1069");
    first.CloseKey(key);
}

TEST(RegistryStore, AFileThatCannotBeReadIsNeverOverwritten) {
    tests::TempDir dir;
    // A folder where the file should be: opening works, reading does not.
    const std::string path = dir.File("store.reg");
    std::filesystem::create_directory(path);
    tests::WriteFile(path + "/inside", "data");
    RegistryStore store(path);
    RegKey key = 0;
    ASSERT_TRUE(store.CreateKey(kHkeyCurrentUser, "Software\\Brellin", key));
    store.SetString(key, "Port", "69");
    EXPECT_FALSE(store.Flush());
    store.CloseKey(key);
    EXPECT_TRUE(std::filesystem::is_directory(path));
    EXPECT_EQ(tests::ReadFile(path + "/inside"), "data");
}

TEST(RegistryStore, ConfigPathFollowsXdgConfigHome) {
    const char* savedXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string keepXdg = savedXdg ? savedXdg : "";
    setenv("XDG_CONFIG_HOME", "/tmp/cfg/", 1);
    EXPECT_EQ(RegistryStore::ConfigPath("Brellin", "Vantry.reg"), "/tmp/cfg/Brellin/Vantry.reg");
    setenv("XDG_CONFIG_HOME", "", 1);
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : ".";
    EXPECT_EQ(RegistryStore::ConfigPath("Brellin", "Vantry.reg"), home + "/.config/Brellin/Vantry.reg");
    if (savedXdg) setenv("XDG_CONFIG_HOME", keepXdg.c_str(), 1);
    else unsetenv("XDG_CONFIG_HOME");
}

// A write cut short (the process killed half-way through by the file-size
// limit) leaves the old file whole.
TEST(AtomicWrite, AnInterruptedWriteLeavesTheOldFileIntact) {
    tests::TempDir dir;
    const std::string path = dir.File("Brellin/Vantry.reg");
    {
        RegistryStore store(path);
        RegKey key = 0;
        ASSERT_TRUE(store.CreateKey(kHkeyCurrentUser, "Software\\Brellin\\Vantry", key));
        store.SetString(key, "Port", "6969");
        store.CloseKey(key);
    }
    const std::string before = tests::ReadFile(path);
    ASSERT_FALSE(before.empty());

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = 4096;
        setrlimit(RLIMIT_FSIZE, &limit);
        signal(SIGXFSZ, SIG_DFL);
        RegistryStore store(path);
        RegKey key = 0;
        store.CreateKey(kHkeyCurrentUser, "Software\\Brellin\\Vantry", key);
        store.SetString(key, "Port", "69");
        store.SetString(key, "Huge", std::string(64 * 1024, 'x'));
        store.CloseKey(key);  // the write dies here
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the write was expected to be cut short";
    EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
    EXPECT_EQ(tests::ReadFile(path), before);

    // The same failure in a process that survives it: the write reports the
    // failure, the old file stays, and no temporary file is left behind.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limit = saved;
    limit.rlim_cur = 4096;
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool written = platform::WriteFileAtomically(path, std::string(64 * 1024, 'y'));
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(tests::ReadFile(path), before);
    for (const std::string& name : FilesIn(dir.File("Brellin")))
        EXPECT_TRUE(name == "Vantry.reg" || name.rfind("Vantry.reg.", 0) == 0) << name;
}

TEST(AtomicWrite, KeepsTheFilesPermissionsAndMakesMissingFolders) {
    tests::TempDir dir;
    const std::string path = dir.File("a/b/c.reg");
    ASSERT_TRUE(platform::WriteFileAtomically(path, "one"));
    EXPECT_EQ(tests::ReadFile(path), "one");
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_TRUE(platform::WriteFileAtomically(path, "two"));
    EXPECT_EQ(tests::ReadFile(path), "two");
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(FilesIn(dir.File("a/b")), std::vector<std::string>{"c.reg"});
}

TEST(TerminationSignals, ASignalBecomesOneCallOnTheEventLoop) {
    std::vector<int> received;
    {
        platform::TerminationSignals signals([&](int s) { received.push_back(s); });
        ASSERT_TRUE(signals.Installed());
        raise(SIGTERM);
        raise(SIGTERM);  // a burst makes one request
        ASSERT_TRUE(tests::RunUntil([&] { return !received.empty(); }, 10000));
        tests::RunFor(50);
        EXPECT_EQ(received, std::vector<int>{SIGTERM});
        raise(SIGHUP);
        ASSERT_TRUE(tests::RunUntil([&] { return received.size() == 2; }, 10000));
        raise(SIGINT);
        ASSERT_TRUE(tests::RunUntil([&] { return received.size() == 3; }, 10000));
        EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGHUP, SIGINT}));
        // A hang-up and an end together: the end wins, once.
        raise(SIGHUP);
        raise(SIGTERM);
        raise(SIGHUP);
        ASSERT_TRUE(tests::RunUntil([&] { return received.size() == 4; }, 10000));
        tests::RunFor(50);
        EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGHUP, SIGINT, SIGTERM}));
    }
    // The handlers that were there before come back.
    struct sigaction now {};
    sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
}
