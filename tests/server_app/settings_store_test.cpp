// The server's settings in its registry key: defaults when nothing is
// stored, the packing of switches and sliders, the stored form, and the
// window rectangle.
#include "server/app/settings_store.h"
#include "tests/support/temp_dir.h"

#include <filesystem>

#include <gtest/gtest.h>

using platform::kHkeyCurrentUser;
using platform::RegistryStore;
using platform::RegKey;

namespace {

constexpr char kKey[] = "[HKEY_CURRENT_USER\\Software\\Brellin\\Vantry]\n";

std::string StoreWith(const std::string& values) { return std::string("REGEDIT4\n\n") + kKey + values + "\n"; }

// Every field of the record as text, so two records compare in one line.
std::string Describe(const ServerSettings& s) {
    std::string d;
    const auto add = [&](const char* name, const std::string& v) { d += std::string(name) + "=" + v + ";"; };
    const auto num = [&](const char* name, int v) { add(name, std::to_string(v)); };
    num("bRaisePriority", s.bRaisePriority);
    num("bNoSplash", s.bNoSplash);
    num("bAllowTimeout", s.bAllowTimeout);
    num("bAllowTsize", s.bAllowTsize);
    num("bAlertMinimised", s.bAlertMinimised);
    num("bUseGraphic", s.bUseGraphic);
    num("bMinimiseAtStart", s.bMinimiseAtStart);
    num("bShowMultihomed", s.bShowMultihomed);
    num("nDefAddress", s.nDefAddress);
    num("nMaxClients", s.nMaxClients);
    num("nMaxDisplay", s.nMaxDisplay);
    num("nPriority", s.nPriority);
    add("LogFile", s.LogFile);
    add("InPath", s.InPath);
    add("OutPath", s.OutPath);
    add("Port", s.Port);
    add("Timeout", s.Timeout);
    add("ForceFile", s.ForceFile);
    num("bForce", s.bForce);
    num("bAllow", s.bAllow);
    num("bDeny", s.bDeny);
    num("bDisplay", s.bDisplay);
    num("bAllowWindowsize", s.bAllowWindowsize);
    num("nMaxWindowsize", s.nMaxWindowsize);
    num("bListenAll", s.bListenAll);
    num("bRefuseUploads", s.bRefuseUploads);
    num("bNoReplace", s.bNoReplace);
    for (const tftp::NameRule& r : s.NameRules) add("Remap", r.pattern + "|" + r.replacement + "|" + (r.stop ? "stop" : ""));
    num("nPortRangeLow", s.nPortRangeLow);
    num("nPortRangeHigh", s.nPortRangeHigh);
    num("nMaxBlksize", s.nMaxBlksize);
    for (int i = 0; i < 10; ++i) add(("Allow" + std::to_string(i + 1)).c_str(), s.Allow[i]);
    for (int i = 0; i < 10; ++i) add(("Deny" + std::to_string(i + 1)).c_str(), s.Deny[i]);
    return d;
}

class SettingsStoreTest : public ::testing::Test {
protected:
    std::string Path() const { return dir_.File("Brellin/Vantry.reg"); }
    void Prewrite(const std::string& text) {
        std::filesystem::create_directories(dir_.File("Brellin"));
        tests::WriteFile(Path(), text);
    }
    ServerSettings Load() {
        RegistryStore store(Path());
        ServerSettings s;
        LoadSettings(store, s);
        return s;
    }
    void Save(const ServerSettings& s) {
        RegistryStore store(Path());
        SaveSettings(store, s);
    }
    std::string Stored() const { return tests::ReadFile(Path()); }

    tests::TempDir dir_;
};

}  // namespace

TEST_F(SettingsStoreTest, FirstRunKeepsTheConstructionValues) {
    const ServerSettings loaded = Load();
    EXPECT_EQ(Describe(loaded), Describe(ServerSettings{}));
    EXPECT_EQ(loaded.Port, "69");
    EXPECT_EQ(loaded.Timeout, "30");
    EXPECT_EQ(loaded.nDefAddress, 255);
    EXPECT_EQ(loaded.nMaxClients, 0);
    EXPECT_EQ(loaded.nMaxDisplay, 6);
    EXPECT_EQ(loaded.nPriority, 4);
    EXPECT_EQ(loaded.LogFile, "Orvane.log");
    EXPECT_FALSE(tests::FileExists(Path())) << "loading never writes";
}

TEST_F(SettingsStoreTest, LoadSetsPortTimeoutAndAddressEvenWhenTheKeyIsMissing) {
    Prewrite("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Brellin]\n\"Port\"=\"1\"\n\n");
    RegistryStore store(Path());
    ServerSettings s;
    s.Port = "6969";
    s.Timeout = "5";
    s.nDefAddress = 2;
    s.InPath = "/kept/";
    LoadSettings(store, s);
    EXPECT_EQ(s.Port, "69");
    EXPECT_EQ(s.Timeout, "30");
    EXPECT_EQ(s.nDefAddress, 255);
    EXPECT_EQ(s.InPath, "/kept/");
}

TEST_F(SettingsStoreTest, KeyPresentWithValuesAbsentGivesTheAbsentValueRules) {
    Prewrite(StoreWith(""));
    RegistryStore store(Path());
    ServerSettings s;
    s.InPath = "/in/";
    s.Allow[2] = "10.0.0.*";
    s.LogFile = "mine.log";
    s.bForce = 1;
    s.bAllowWindowsize = 0;
    s.nMaxWindowsize = 8;
    LoadSettings(store, s);
    // Sliders read as 0xFF: both positions 15 (one client at a time).
    EXPECT_EQ(s.nMaxClients, 15);
    EXPECT_EQ(s.nMaxDisplay, 15);
    EXPECT_EQ(s.nPriority, 255);
    EXPECT_EQ(s.nDefAddress, 255);
    // "bDelete" absent: every switch off except the multihomed question.
    EXPECT_EQ(s.bAlertMinimised, 0);
    EXPECT_EQ(s.bAllowTsize, 0);
    EXPECT_EQ(s.bAllowTimeout, 0);
    EXPECT_EQ(s.bNoSplash, 0);
    EXPECT_EQ(s.bRaisePriority, 0);
    EXPECT_EQ(s.bUseGraphic, 0);
    EXPECT_EQ(s.bMinimiseAtStart, 0);
    EXPECT_EQ(s.bShowMultihomed, 1);
    // Switches stored as words read as 0 when absent, bDisplay included.
    EXPECT_EQ(s.bForce, 0);
    EXPECT_EQ(s.bDisplay, 0);
    // A store older than the windowsize values: the option on, capped at 64.
    EXPECT_EQ(s.bAllowWindowsize, 1);
    EXPECT_EQ(s.nMaxWindowsize, 64);
    // Texts keep what they held.
    EXPECT_EQ(s.InPath, "/in/");
    EXPECT_EQ(s.Allow[2], "10.0.0.*");
    EXPECT_EQ(s.LogFile, "mine.log");
    EXPECT_EQ(s.Port, "69");
    EXPECT_EQ(s.Timeout, "30");
}

TEST_F(SettingsStoreTest, PackedSwitchesLoadAndSaveBackUnchanged) {
    Prewrite(StoreWith("\"bDelete\"=dword:000001fe\n\"nSliders\"=dword:00000035\n"));
    ServerSettings s = Load();
    EXPECT_EQ(s.bAlertMinimised, 1);
    EXPECT_EQ(s.bAllowTsize, 1);
    EXPECT_EQ(s.bAllowTimeout, 1);
    EXPECT_EQ(s.bNoSplash, 1);
    EXPECT_EQ(s.bRaisePriority, 1);
    EXPECT_EQ(s.bUseGraphic, 1);
    EXPECT_EQ(s.bMinimiseAtStart, 1);
    EXPECT_EQ(s.bShowMultihomed, 0);
    EXPECT_EQ(s.nMaxClients, 5);
    EXPECT_EQ(s.nMaxDisplay, 3);
    Save(s);
    EXPECT_NE(Stored().find("\"bDelete\"=dword:000001fe\n"), std::string::npos) << Stored();
    EXPECT_NE(Stored().find("\"nSliders\"=dword:00000035\n"), std::string::npos) << Stored();

    // Bit 0 and the bits above 8 mean nothing and are not written back.
    Prewrite(StoreWith("\"bDelete\"=dword:ffff0f01\n"));
    s = Load();
    EXPECT_EQ(s.bShowMultihomed, 0);
    EXPECT_EQ(s.bAlertMinimised, 0);
    EXPECT_EQ(s.bAllowTsize, 0);
    EXPECT_EQ(s.bAllowTimeout, 0);
    EXPECT_EQ(s.bNoSplash, 0);
    Save(s);
    EXPECT_NE(Stored().find("\"bDelete\"=dword:00000100\n"), std::string::npos) << Stored();
}

TEST_F(SettingsStoreTest, SavedFormHasEveryValueInOrderWithItsType) {
    ServerSettings s;
    s.Location = "/usr/local/bin/vantrel";
    s.InPath = "/srv/tftp/in/";
    s.OutPath = "/srv/tftp/out/";
    s.Port = "6969";
    s.Allow[0] = "192.168.*.*";
    s.Deny[9] = "10.0.0.7";
    s.bAllow = 1;
    s.nMaxClients = 5;
    s.nMaxDisplay = 2;
    s.nPriority = 3;
    Save(s);
    std::string expected = std::string("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\n"
                                       "[HKEY_CURRENT_USER\\Software\\Brellin]\n\n") +
                           kKey +
                           "\"Location\"=\"/usr/local/bin/vantrel\"\n"
                           "\"InPath\"=\"/srv/tftp/in/\"\n"
                           "\"OutPath\"=\"/srv/tftp/out/\"\n"
                           "\"Port\"=\"6969\"\n"
                           "\"Timeout\"=\"30\"\n"
                           "\"ForceFile\"=\"\"\n"
                           "\"Allow1\"=\"192.168.*.*\"\n";
    for (int i = 2; i <= 10; ++i) expected += "\"Allow" + std::to_string(i) + "\"=\"\"\n";
    for (int i = 1; i <= 9; ++i) expected += "\"Deny" + std::to_string(i) + "\"=\"\"\n";
    expected +=
        "\"Deny10\"=\"10.0.0.7\"\n"
        "\"bForce\"=dword:00000000\n"
        "\"bAllow\"=dword:00000001\n"
        "\"bDeny\"=dword:00000000\n"
        "\"bDisplay\"=dword:00000001\n"
        "\"bDelete\"=dword:0000000e\n"
        "\"nDefAddress\"=dword:000000ff\n"
        "\"nSliders\"=dword:00000025\n"
        "\"nPriority\"=dword:00000003\n"
        "\"LogFile\"=\"Orvane.log\"\n"
        "\"bAllowWindowsize\"=dword:00000001\n"
        "\"nMaxWindowsize\"=dword:00000040\n"
        "\"bListenAll\"=dword:00000001\n"
        "\"bRefuseUploads\"=dword:00000000\n"
        "\"bNoReplace\"=dword:00000000\n"
        "\"nRemap\"=dword:00000000\n"
        "\"nPortRangeLow\"=dword:00000000\n"
        "\"nPortRangeHigh\"=dword:00000000\n"
        "\"nMaxBlksize\"=dword:00000000\n\n";
    EXPECT_EQ(Stored(), expected);
}

TEST_F(SettingsStoreTest, AStoreWrittenByTheProgramReadsBackTheSame) {
    ServerSettings s;
    s.bRaisePriority = 1;
    s.bNoSplash = 1;
    s.bAllowTimeout = 0;
    s.bUseGraphic = 1;
    s.bShowMultihomed = 0;
    s.nDefAddress = 2;
    s.nMaxClients = 4;
    s.nMaxDisplay = 0;
    s.nPriority = 1;
    s.LogFile = "/var/log/vantrel \"rows\".log";
    s.InPath = "C:\\tftp\\in\\";
    s.OutPath = "/srv/out/";
    s.Port = "069";
    s.Timeout = "7200";
    s.ForceFile = "boot.img";
    s.bForce = 1;
    s.bDeny = 1;
    s.bDisplay = 0;
    for (int i = 0; i < 10; ++i) s.Allow[i] = "10.0." + std::to_string(i) + ".*";
    s.Deny[4] = "*.*.*.*";
    s.bAllowWindowsize = 0;
    s.nMaxWindowsize = 65535;
    s.bRefuseUploads = 1;
    s.bNoReplace = 1;
    // Rules are kept whole, longer than the other texts, quotes and backslashes included.
    s.NameRules = {{"(?i)^/tftpboot/(.*)$", "\\1", false},
                   {"^\"(" + std::string(150, 'x') + ")\"$", "q/\\1", true}};
    s.nPortRangeLow = 50000;
    s.nPortRangeHigh = 50099;
    s.nMaxBlksize = 1024;
    Save(s);
    ServerSettings loaded = Load();
    EXPECT_EQ(Describe(loaded), Describe(s));
    // A second round changes nothing in the file.
    const std::string first = Stored();
    Save(loaded);
    EXPECT_EQ(Stored(), first);
}

// Saving used to skip empty slots, so a host the user removed from the allow
// list came back at the next start. A cleared slot now stays cleared.
TEST_F(SettingsStoreTest, AClearedAllowOrDenySlotStaysCleared) {
    ServerSettings s;
    s.Allow[2] = "10.1.1.1";
    s.Deny[0] = "192.168.1.*";
    Save(s);
    ServerSettings next = Load();
    ASSERT_EQ(next.Allow[2], "10.1.1.1");
    ASSERT_EQ(next.Deny[0], "192.168.1.*");
    next.Allow[2].clear();
    next.Deny[0].clear();
    Save(next);
    const ServerSettings after = Load();
    EXPECT_EQ(after.Allow[2], "");
    EXPECT_EQ(after.Deny[0], "");
    EXPECT_FALSE(after.MatchesAllowList("10.1.1.1"));
    EXPECT_FALSE(after.MatchesDenyList("192.168.1.5"));
}

TEST_F(SettingsStoreTest, TheLogFileIsReadUnderAnyCaseAndOtherValuesAreKept) {
    Prewrite(StoreWith("\"LOGFILE\"=\"upper.log\"\n\"WinLeft\"=dword:00000010\n\"Extra\"=\"mine\"\n"));
    ServerSettings s = Load();
    EXPECT_EQ(s.LogFile, "upper.log");
    s.LogFile = "lower.log";
    Save(s);
    const std::string text = Stored();
    EXPECT_NE(text.find("\"LOGFILE\"=\"lower.log\"\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("\"LogFile\""), std::string::npos) << "one value, not two";
    EXPECT_NE(text.find("\"Extra\"=\"mine\"\n"), std::string::npos);
    EXPECT_NE(text.find("\"WinLeft\"=dword:00000010\n"), std::string::npos);
}

TEST_F(SettingsStoreTest, TextLengthsFollowTheBufferSizes) {
    // 999 characters fit the 1000-byte read buffer; 1000 do not.
    const std::string fits(999, 'a');
    const std::string tooLong(1000, 'b');
    Prewrite(StoreWith("\"InPath\"=\"" + fits + "\"\n\"OutPath\"=\"" + tooLong + "\"\n"));
    ServerSettings s = Load();
    EXPECT_EQ(s.InPath, fits);
    EXPECT_EQ(s.OutPath, "");
    // At most 99 characters are written, and never half of a character.
    s.InPath = std::string(120, 'c');
    s.OutPath = std::string(98, 'd') + "\xc3\xa9";  // 98 + a two-byte "é"
    Save(s);
    const ServerSettings back = Load();
    EXPECT_EQ(back.InPath, std::string(99, 'c'));
    EXPECT_EQ(back.OutPath, std::string(98, 'd'));
}

TEST_F(SettingsStoreTest, ValuesOfTheWrongTypeCountAsAbsent) {
    Prewrite(StoreWith("\"Port\"=dword:00001b39\n\"bForce\"=\"1\"\n\"nPriority\"=hex:01\n"));
    const ServerSettings s = Load();
    EXPECT_EQ(s.Port, "69");
    EXPECT_EQ(s.bForce, 0);
    EXPECT_EQ(s.nPriority, 255);
}

TEST_F(SettingsStoreTest, WindowsizeValuesOutsideTheirRangeLoadAsTheDefaults) {
    const struct {
        const char* stored;
        int allow;
        int maxWindow;
    } cases[] = {
        {"\"nMaxWindowsize\"=dword:00000001\n", 1, 1},
        {"\"nMaxWindowsize\"=dword:0000ffff\n", 1, 65535},
        {"\"nMaxWindowsize\"=dword:00000000\n", 1, 64},
        {"\"nMaxWindowsize\"=dword:00010000\n", 1, 64},
        {"\"nMaxWindowsize\"=dword:ffffffff\n", 1, 64},
        {"\"nMaxWindowsize\"=\"16\"\n", 1, 64},
        {"\"bAllowWindowsize\"=dword:00000000\n", 0, 64},
        {"\"bAllowWindowsize\"=dword:00000007\n", 1, 64},
        // The switch has a value of its own: "bDelete" does not touch it.
        {"\"bDelete\"=dword:00000000\n", 1, 64},
    };
    for (const auto& c : cases) {
        Prewrite(StoreWith(c.stored));
        const ServerSettings s = Load();
        EXPECT_EQ(s.bAllowWindowsize, c.allow) << c.stored;
        EXPECT_EQ(s.nMaxWindowsize, c.maxWindow) << c.stored;
    }
}

TEST_F(SettingsStoreTest, AStoreWithoutTheListenChoiceListensOnAllUnlessOneAddressWasSettled) {
    const struct {
        const char* stored;
        int listenAll;
    } cases[] = {
        {"", 1},                                                    // a first start
        {"\"nDefAddress\"=dword:000000ff\n", 1},                     // never chosen
        {"\"nDefAddress\"=dword:00000002\n", 1},                     // chosen, but asked at each start
        {"\"nDefAddress\"=dword:00000000\n\"bDelete\"=dword:00000100\n", 1},  // one address, nothing chosen
        // Chosen for good ("Do not show this box again"): that one address stays.
        {"\"nDefAddress\"=dword:00000002\n\"bDelete\"=dword:00000100\n", 0},
        {"\"nDefAddress\"=dword:000000fe\n\"bDelete\"=dword:00000100\n", 0},
        {"\"nDefAddress\"=dword:000000ff\n\"bDelete\"=dword:00000100\n", 1},
        // Once stored, the value decides.
        {"\"nDefAddress\"=dword:00000002\n\"bDelete\"=dword:00000100\n\"bListenAll\"=dword:00000001\n", 1},
        {"\"bListenAll\"=dword:00000000\n", 0},
        {"\"bListenAll\"=dword:00000005\n", 1},
    };
    for (const auto& c : cases) {
        Prewrite(StoreWith(c.stored));
        const ServerSettings s = Load();
        EXPECT_EQ(s.bListenAll, c.listenAll) << c.stored;
        // Saved and loaded again, the choice holds whatever else changes.
        ServerSettings changed = s;
        changed.bShowMultihomed = 1;
        Save(changed);
        EXPECT_EQ(Load().bListenAll, c.listenAll) << c.stored;
    }
}

TEST_F(SettingsStoreTest, UploadSwitchesAreValuesOfTheirOwnAndAbsentKeepUploadsAsTheyWere) {
    const struct {
        const char* stored;
        int refuse;
        int noReplace;
    } cases[] = {
        {"", 0, 0},  // a store written before the switches existed
        {"\"bRefuseUploads\"=dword:00000001\n", 1, 0},
        {"\"bNoReplace\"=dword:00000001\n", 0, 1},
        {"\"bRefuseUploads\"=dword:00000005\n\"bNoReplace\"=dword:00000002\n", 1, 1},
        {"\"bRefuseUploads\"=\"1\"\n", 0, 0},  // not a number: absent
        {"\"bDelete\"=dword:ffffffff\n", 0, 0},  // the packed switches leave them alone
    };
    for (const auto& c : cases) {
        Prewrite(StoreWith(c.stored));
        const ServerSettings s = Load();
        EXPECT_EQ(s.bRefuseUploads, c.refuse) << c.stored;
        EXPECT_EQ(s.bNoReplace, c.noReplace) << c.stored;
    }
}

TEST_F(SettingsStoreTest, NameRulesAreACountAndNumberedValuesAbsentMeaningNone) {
    const auto rule = [](int n, const std::string& pattern, const std::string& with, int stop) {
        const std::string slot = std::to_string(n);
        return "\"RemapPattern" + slot + "\"=\"" + pattern + "\"\n\"RemapReplace" + slot + "\"=\"" + with +
               "\"\n\"bRemapStop" + slot + "\"=dword:0000000" + std::to_string(stop) + "\n";
    };
    const struct {
        std::string stored;
        std::vector<tftp::NameRule> rules;
    } cases[] = {
        {"", {}},  // a store written before the rules
        {rule(1, "^a$", "b", 0), {}},  // no count: none
        {"\"nRemap\"=dword:00000002\n" + rule(1, "^a$", "b", 1) + rule(2, "x", "", 0),
         {{"^a$", "b", true}, {"x", "", false}}},
        // Only as many as the count; a numbered rule without a pattern is none.
        {"\"nRemap\"=dword:00000001\n" + rule(1, "^a$", "b", 0) + rule(2, "x", "y", 0), {{"^a$", "b", false}}},
        {"\"nRemap\"=dword:00000002\n" + rule(2, "x", "y", 5), {{"x", "y", true}}},
        {"\"nRemap\"=\"1\"\n" + rule(1, "^a$", "b", 0), {}},  // not a number: absent
    };
    for (const auto& c : cases) {
        Prewrite(StoreWith(c.stored));
        ServerSettings s = Load();
        EXPECT_EQ(s.NameRules, c.rules) << c.stored;
        // Saved and loaded again: the same rules, and fewer rules leave none behind.
        Save(s);
        EXPECT_EQ(Load().NameRules, c.rules) << c.stored;
        s.NameRules.clear();
        Save(s);
        EXPECT_TRUE(Load().NameRules.empty()) << c.stored;
    }
    // No more than the table holds are stored.
    ServerSettings many;
    for (int i = 0; i < ServerSettings::kMaxNameRules + 3; ++i) many.NameRules.push_back({"^" + std::to_string(i), "", false});
    Save(many);
    EXPECT_EQ(Load().NameRules.size(), static_cast<std::size_t>(ServerSettings::kMaxNameRules));
}

// Absent in a store written before they existed: the system's ports and no
// cap. A pair that is no range, or a cap outside 8..65464, loads as unset.
TEST_F(SettingsStoreTest, TransferPortsAndTheBlockSizeCapLoadUnsetUnlessSound) {
    const struct {
        const char* stored;
        int low, high, cap;
    } cases[] = {
        {"", 0, 0, 0},
        {"\"nPortRangeLow\"=dword:0000c350\n\"nPortRangeHigh\"=dword:0000c3b3\n", 50000, 50099, 0},
        {"\"nPortRangeLow\"=dword:0000c350\n\"nPortRangeHigh\"=dword:0000c350\n", 50000, 50000, 0},
        {"\"nPortRangeLow\"=dword:0000c350\n", 0, 0, 0},  // one end only
        {"\"nPortRangeLow\"=dword:0000c3b3\n\"nPortRangeHigh\"=dword:0000c350\n", 0, 0, 0},  // reversed
        {"\"nPortRangeLow\"=dword:0000c350\n\"nPortRangeHigh\"=dword:00010000\n", 0, 0, 0},  // past 65535
        {"\"nPortRangeLow\"=\"50000\"\n\"nPortRangeHigh\"=dword:0000c3b3\n", 0, 0, 0},     // not a number
        {"\"nMaxBlksize\"=dword:00000400\n", 0, 0, 1024},
        {"\"nMaxBlksize\"=dword:00000008\n", 0, 0, 8},
        {"\"nMaxBlksize\"=dword:0000ffb8\n", 0, 0, 65464},
        {"\"nMaxBlksize\"=dword:0000ffb9\n", 0, 0, 0},
        {"\"nMaxBlksize\"=dword:00000007\n", 0, 0, 0},
        {"\"nMaxBlksize\"=dword:ffffffff\n", 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        Prewrite(StoreWith(c.stored));
        const ServerSettings s = Load();
        EXPECT_EQ(s.nPortRangeLow, c.low);
        EXPECT_EQ(s.nPortRangeHigh, c.high);
        EXPECT_EQ(s.nMaxBlksize, c.cap);
    }
}

TEST_F(SettingsStoreTest, WindowPlacementRoundTripsAndMissingPartsKeepThePreviousRead) {
    RegistryStore store(Path());
    WindowRect rect;
    EXPECT_FALSE(LoadWindowPlacement(store, rect));
    SaveWindowPlacement(store, WindowRect{-8, 20, 700, 420});
    ASSERT_TRUE(LoadWindowPlacement(store, rect));
    EXPECT_EQ(rect.left, -8);
    EXPECT_EQ(rect.top, 20);
    EXPECT_EQ(rect.right, 700);
    EXPECT_EQ(rect.bottom, 420);
    EXPECT_NE(Stored().find("\"WinLeft\"=dword:fffffff8\n"), std::string::npos);

    Prewrite(StoreWith("\"WinLeft\"=dword:00000064\n\"WinRight\"=dword:000001f4\n"));
    ASSERT_TRUE(LoadWindowPlacement(store, rect));
    EXPECT_EQ(rect.left, 100);
    EXPECT_EQ(rect.top, 100);     // missing: the word still held WinLeft
    EXPECT_EQ(rect.right, 500);
    EXPECT_EQ(rect.bottom, 500);  // missing: the word still held WinRight

    Prewrite(StoreWith("\"WinTop\"=dword:00000064\n"));
    EXPECT_FALSE(LoadWindowPlacement(store, rect)) << "without WinLeft there is no rectangle";
}

TEST_F(SettingsStoreTest, TheRunOnceEntryNamesTheProgram) {
    RegistryStore store(Path());
    SaveSettings(store, ServerSettings{});
    WriteRunOnce(store, "/opt/vantrel/bin/vantrel");
    const std::string text = Stored();
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce]\n"
                        "\"Vantrel\"=\"/opt/vantrel/bin/vantrel\"\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(kKey), std::string::npos) << "the settings stay";
}
