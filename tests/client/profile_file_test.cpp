// The private profile file (Skerry.INI) and the client's settings in it.
#include "client/client_profile.h"
#include "platform/profile_file.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>

using platform::ProfileFile;

namespace {

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') names.emplace_back(e->d_name);
        ::closedir(d);
    }
    return names;
}

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (had_) ::setenv(name_, old_.c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

TEST(ProfileFile, MissingFileSectionOrKeyReadsAsTheDefault) {
    tests::TempDir dir;
    ProfileFile none(dir.File("none.ini"));
    EXPECT_EQ(none.GetProfileString("Options", "OverWrite"), "");
    EXPECT_EQ(none.GetProfileString("Options", "OverWrite", "No"), "No");
    tests::WriteFile(dir.File("a.ini"), "[Options]\nTruncate=Yes\n");
    ProfileFile a(dir.File("a.ini"));
    EXPECT_EQ(a.GetProfileString("Startup", "Host", "x"), "x");
    EXPECT_EQ(a.GetProfileString("Options", "OverWrite", "y"), "y");
}

TEST(ProfileFile, SectionAndKeyNamesMatchWithoutCase) {
    tests::TempDir dir;
    tests::WriteFile(dir.File("a.ini"), "[options]\noverwrite = Yes\nCHANGE BUTTONS=No\n");
    ProfileFile a(dir.File("a.ini"));
    EXPECT_EQ(a.GetProfileString("Options", "OverWrite"), "Yes");
    EXPECT_EQ(a.GetProfileString("OPTIONS", "Change Buttons"), "No");
}

TEST(ProfileFile, WritingReplacesTheKeysLineWhereItStands) {
    tests::TempDir dir;
    tests::WriteFile(dir.File("a.ini"), "[Options]\nA=1\noverwrite=No\nB=2\n");
    ProfileFile a(dir.File("a.ini"));
    ASSERT_TRUE(a.WriteProfileString("Options", "OverWrite", "Yes"));
    EXPECT_EQ(tests::ReadFile(dir.File("a.ini")), "[Options]\nA=1\noverwrite=Yes\nB=2\n");
}

TEST(ProfileFile, WritingAddsANewKeyAtTheEndOfItsSection) {
    tests::TempDir dir;
    tests::WriteFile(dir.File("a.ini"), "[Options]\nA=1\n\n[Startup]\nHost=10.0.0.1\n");
    ProfileFile a(dir.File("a.ini"));
    ASSERT_TRUE(a.WriteProfileString("options", "Default IP", "2"));
    const std::string after = tests::ReadFile(dir.File("a.ini"));
    EXPECT_EQ(after.rfind("[Options]\nA=1\nDefault IP=2\n\n", 0), 0u) << after;
    EXPECT_NE(after.find("\n[Startup]\nHost=10.0.0.1\n"), std::string::npos) << after;
}

TEST(ProfileFile, WritingCreatesTheFolderTheFileAndTheSection) {
    tests::TempDir dir;
    const std::string path = dir.File("config/deeper/Skerry.INI");
    ProfileFile a(path);
    ASSERT_TRUE(a.WriteProfileString("Startup", "Host", "192.168.0.20"));
    EXPECT_EQ(tests::ReadFile(path), "[Startup]\nHost=192.168.0.20\n");
    EXPECT_EQ(a.GetProfileString("Startup", "Host"), "192.168.0.20");
}

TEST(ProfileFile, CommentsOtherSectionsAndOtherKeysAreKept) {
    tests::TempDir dir;
    const std::string text =
        "; written by hand\n[Other]\nkeep=this value\n\n[Options]\n# a note\nInbound=/srv/in/\n";
    tests::WriteFile(dir.File("a.ini"), text);
    ProfileFile a(dir.File("a.ini"));
    ASSERT_TRUE(a.WriteProfileString("Options", "Outbound", "/srv/out/"));
    const std::string after = tests::ReadFile(dir.File("a.ini"));
    EXPECT_NE(after.find("; written by hand\n"), std::string::npos) << after;
    EXPECT_NE(after.find("[Other]\nkeep=this value\n"), std::string::npos) << after;
    EXPECT_NE(after.find("# a note\nInbound=/srv/in/\nOutbound=/srv/out/\n"), std::string::npos)
        << after;
}

TEST(ProfileFile, AValueIsOneLine) {
    tests::TempDir dir;
    ProfileFile a(dir.File("a.ini"));
    ASSERT_TRUE(a.WriteProfileString("Startup", "Local", "first\nHost=evil"));
    EXPECT_EQ(a.GetProfileString("Startup", "Local"), "first");
    EXPECT_EQ(a.GetProfileString("Startup", "Host"), "");
}

TEST(ProfileFile, ReplacementLeavesNoTemporaryFileAndKeepsTheMode) {
    tests::TempDir dir;
    const std::string path = dir.File("a.ini");
    tests::WriteFile(path, "[Options]\n");
    ::chmod(path.c_str(), 0640);
    ProfileFile a(path);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(a.WriteProfileString("Options", "N", std::to_string(i)));
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"a.ini"});
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(a.GetProfileString("Options", "N"), "4");
}

TEST(ProfileFile, AFolderWhereTheFileShouldBeIsNeitherReadNorReplaced) {
    tests::TempDir dir;
    ::mkdir(dir.File("a.ini").c_str(), 0755);  // a folder where the file should be
    ProfileFile a(dir.File("a.ini"));
    EXPECT_FALSE(a.WriteProfileString("Options", "N", "1"));
    EXPECT_EQ(a.GetProfileString("Options", "N", "none"), "none");
}

TEST(ProfileFile, TheFileLivesInXdgConfigHomeOrDotConfig) {
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/srv/conf/");
        EXPECT_EQ(ProfileFile::DefaultPath("Skerry.INI"), "/srv/conf/Skerry.INI");
    }
    ScopedEnv home("HOME", "/home/someone");
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
        EXPECT_EQ(ProfileFile::DefaultPath("Skerry.INI"), "/home/someone/.config/Skerry.INI");
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "relative/path");  // not absolute: ignored
        EXPECT_EQ(ProfileFile::DefaultFolder(), "/home/someone/.config");
    }
}

// ---- the client's settings ------------------------------------------------------

TEST(ClientProfile, SwitchesAreOnOnlyForYesInAnyCase) {
    tests::TempDir dir;
    tests::WriteFile(dir.File("Skerry.INI"),
                     "[Options]\nOverWrite=yes\nTruncate=YES\nChange Buttons=On\n"
                     "Default IP=2abc\nInbound=/in/\nOutbound=/out\n"
                     "[Startup]\nHost=10.0.0.9\nLocal=a.txt\nRemote=b.txt\n");
    ClientSettings s;
    skerry::LoadSettings(ProfileFile(dir.File("Skerry.INI")), s);
    EXPECT_EQ(s.overwrite, 1);
    EXPECT_EQ(s.truncate, 1);
    EXPECT_EQ(s.changeButtons, 0);
    EXPECT_EQ(s.defaultIp, 2);
    EXPECT_EQ(s.inboundPath, "/in/");
    EXPECT_EQ(s.outboundPath, "/out") << "a path from the file is used unchanged";
    EXPECT_EQ(s.host, "10.0.0.9");
    EXPECT_EQ(s.localFile, "a.txt");
    EXPECT_EQ(s.remoteFile, "b.txt");

    tests::WriteFile(dir.File("Skerry.INI"), "[Options]\nOverWrite=1\nDefault IP=none\n");
    skerry::LoadSettings(ProfileFile(dir.File("Skerry.INI")), s);
    EXPECT_EQ(s.overwrite, 0);
    EXPECT_EQ(s.defaultIp, 0);
}

TEST(ClientProfile, OptionsAreWrittenInTheirOrderAndForm) {
    tests::TempDir dir;
    ProfileFile p(dir.File("Skerry.INI"));
    ClientSettings s;
    s.inboundPath = "/in/";
    s.outboundPath = "";
    s.overwrite = 1;
    s.defaultIp = 3;
    skerry::SaveOptions(p, s);
    EXPECT_EQ(tests::ReadFile(dir.File("Skerry.INI")),
              "[Options]\nInbound=/in/\nOutbound=\nOverWrite=Yes\nTruncate=No\nDefault IP=3\n");
}

// A stored window wins, lock-step (1) included; no line, or one that is no
// window, reads as the default.
TEST(ClientProfile, WindowSizeReadsAsTheDefaultWhenAbsentOrOutOfRange) {
    const int d = ClientSettings::kDefaultWindowSize;
    static_assert(ClientSettings::kDefaultWindowSize > 1);
    const std::pair<const char*, int> cases[] = {
        {"", d},        {"Window Size=1\n", 1},   {"Window Size=16\n", 16}, {"window size=65535\n", 65535},
        {"Window Size=3 blocks\n", 3}, {"Window Size=0\n", d},   {"Window Size=65536\n", d},
        {"Window Size=-4\n", d},       {"Window Size=\n", d},    {"Window Size=99999999999\n", d}};
    tests::TempDir dir;
    for (const auto& [line, expected] : cases) {
        tests::WriteFile(dir.File("Skerry.INI"), std::string("[Options]\nOverWrite=Yes\n") + line);
        ClientSettings s;
        s.windowSize = 7;
        skerry::LoadSettings(ProfileFile(dir.File("Skerry.INI")), s);
        EXPECT_EQ(s.windowSize, expected) << line;
    }
}

// A user who never set a window gets the file the other options make; any
// other window is written (lock-step too: it must outlast a change of
// default), and once the line exists it follows the setting.
TEST(ClientProfile, WindowSizeIsWrittenOnlyWhenSetOrAlreadyThere) {
    const struct {
        const char* before;
        int windowSize;
        std::string after;
    } cases[] = {
        {"", ClientSettings::kDefaultWindowSize, ""},
        {"", 1, "Window Size=1\n"},
        {"", 16, "Window Size=16\n"},
        {"Window Size=16\n", 1, "Window Size=1\n"},
        {"Window Size=1\n", ClientSettings::kDefaultWindowSize,
         "Window Size=" + std::to_string(ClientSettings::kDefaultWindowSize) + "\n"},
        {"Window Size=4\n", 65535, "Window Size=65535\n"},
    };
    const std::string others = "Inbound=/in/\nOutbound=\nOverWrite=No\nTruncate=No\nDefault IP=0\n";
    for (const auto& c : cases) {
        tests::TempDir dir;
        const std::string path = dir.File("Skerry.INI");
        if (*c.before) tests::WriteFile(path, std::string("[Options]\n") + c.before);
        ProfileFile p(path);
        ClientSettings s;
        s.inboundPath = "/in/";
        s.windowSize = c.windowSize;
        skerry::SaveOptions(p, s);
        const std::string expected =
            *c.before ? std::string("[Options]\n") + c.after + others : "[Options]\n" + others + c.after;
        EXPECT_EQ(tests::ReadFile(path), expected) << c.before << c.windowSize;
        ClientSettings back;
        skerry::LoadSettings(p, back);
        EXPECT_EQ(back.windowSize, c.windowSize);
    }
}

// The block-size cap: no line, an empty one or 0 is no cap; a number outside
// 8..65464 is its nearest end; written only when set or already there.
TEST(ClientProfile, TheLargestBlockSizeRoundTripsAndReadsAsNoCapWhenAbsent) {
    const std::pair<const char*, int> reads[] = {
        {"", 0},
        {"Largest Block Size=1024\n", 1024},
        {"largest block size=8\n", 8},
        {"Largest Block Size=\n", 0},
        {"Largest Block Size=0\n", 0},
        {"Largest Block Size=3\n", 8},
        {"Largest Block Size=70000\n", 65464},
        {"Largest Block Size=many\n", 0},
    };
    tests::TempDir dir;
    for (const auto& [line, expected] : reads) {
        tests::WriteFile(dir.File("Skerry.INI"), std::string("[Options]\n") + line);
        ClientSettings s;
        s.maxBlockSize = 77;
        skerry::LoadSettings(ProfileFile(dir.File("Skerry.INI")), s);
        EXPECT_EQ(s.maxBlockSize, expected) << line;
    }
    const struct {
        const char* before;
        int cap;
        const char* after;  // the line at the end, or "" for none
    } writes[] = {
        {"", 0, ""},
        {"", 1024, "Largest Block Size=1024\n"},
        {"Largest Block Size=1024\n", 0, "Largest Block Size=\n"},
    };
    const std::string others = "Inbound=\nOutbound=\nOverWrite=No\nTruncate=No\nDefault IP=0\n";
    for (const auto& c : writes) {
        tests::TempDir here;
        const std::string path = here.File("Skerry.INI");
        if (*c.before) tests::WriteFile(path, std::string("[Options]\n") + c.before);
        ProfileFile p(path);
        ClientSettings s;
        s.maxBlockSize = c.cap;
        skerry::SaveOptions(p, s);
        const std::string expected =
            *c.before ? std::string("[Options]\n") + c.after + others : "[Options]\n" + others + c.after;
        EXPECT_EQ(tests::ReadFile(path), expected) << c.before << c.cap;
        ClientSettings back;
        skerry::LoadSettings(p, back);
        EXPECT_EQ(back.maxBlockSize, c.cap);
    }
}

}  // namespace
