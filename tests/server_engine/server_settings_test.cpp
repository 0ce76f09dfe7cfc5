// The settings record's construction values and the address patterns.
#include "server/app/server_settings.h"

#include <gtest/gtest.h>

TEST(ServerSettings, ConstructionValues) {
    const ServerSettings s;
    EXPECT_EQ(s.Port, "69");
    EXPECT_EQ(s.Timeout, "30");
    EXPECT_EQ(s.nMaxClients, 0);
    EXPECT_EQ(s.nMaxDisplay, 6);
    EXPECT_EQ(s.nPriority, 4);
    EXPECT_EQ(s.LogFile, "Orvane.log");
    EXPECT_EQ(s.nDefAddress, 255);
    EXPECT_EQ(s.bAllowTsize + s.bAllowTimeout + s.bAlertMinimised + s.bShowMultihomed + s.bDisplay, 5);
    EXPECT_EQ(s.bRaisePriority + s.bNoSplash + s.bUseGraphic + s.bMinimiseAtStart + s.bForce +
                  s.bAllow + s.bDeny,
              0);
    EXPECT_TRUE(s.InPath.empty() && s.OutPath.empty() && s.ForceFile.empty() && s.Location.empty());
    for (int i = 0; i < ServerSettings::kListSlots; ++i) {
        EXPECT_TRUE(s.Allow[static_cast<std::size_t>(i)].empty());
        EXPECT_TRUE(s.Deny[static_cast<std::size_t>(i)].empty());
    }
}

TEST(AddressPattern, WildcardsAndNumbers) {
    EXPECT_TRUE(MatchesAddressPattern("*.*.*.*", "1.2.3.4"));
    EXPECT_TRUE(MatchesAddressPattern("192.168.1.*", "192.168.1.77"));
    EXPECT_FALSE(MatchesAddressPattern("192.168.1.*", "192.168.2.77"));
    EXPECT_TRUE(MatchesAddressPattern("192.168.*.*", "192.168.200.1"));
    // A field holding "*" anywhere is a wildcard.
    EXPECT_TRUE(MatchesAddressPattern("1*2.0.0.1", "7.0.0.1"));
}

TEST(AddressPattern, MissingFieldsAreZeroAndOtherCharactersIgnored) {
    EXPECT_TRUE(MatchesAddressPattern("10.1.2", "10.1.2.0"));
    EXPECT_FALSE(MatchesAddressPattern("10.1.2", "10.1.2.3"));
    EXPECT_TRUE(MatchesAddressPattern("1a0.0.0.1", "10.0.0.1"));
    EXPECT_TRUE(MatchesAddressPattern("10.0.0.1.99", "10.0.0.1"));  // after a fourth "."
    EXPECT_TRUE(MatchesAddressPattern("..", "0.0.0.0"));
    EXPECT_FALSE(MatchesAddressPattern("", "0.0.0.0"));
    EXPECT_FALSE(MatchesAddressPattern("99999999999999999999.0.0.1", "255.0.0.1"));
}

TEST(ServerSettings, ListsTrySlotsInOrderAndEmptySlotsMatchNothing) {
    ServerSettings s;
    EXPECT_FALSE(s.MatchesAllowList("0.0.0.0"));
    s.Allow[9] = "10.0.0.*";
    EXPECT_TRUE(s.MatchesAllowList("10.0.0.7"));
    EXPECT_FALSE(s.MatchesAllowList("10.0.1.7"));
    EXPECT_FALSE(s.MatchesDenyList("10.0.0.7"));
    s.Deny[0] = "10.0.0.7";
    EXPECT_TRUE(s.MatchesDenyList("10.0.0.7"));
}

TEST(AddressPattern, PrefixesAndIPv6Entries) {
    struct Case {
        const char* pattern;
        const char* address;
        bool matches;
    };
    const Case cases[] = {
        {"10.0.0.0/8", "10.200.3.4", true},
        {"10.0.0.0/8", "11.0.0.1", false},
        {"192.168.1.0/24", "192.168.1.255", true},
        {"192.168.1.0/25", "192.168.1.128", false},
        {"192.168.1.7/32", "192.168.1.7", true},
        {"0.0.0.0/0", "203.0.113.9", true},
        {"0.0.0.0/0", "2001:db8::1", false},  // a family's prefix holds that family only
        {"2001:db8::/32", "2001:db8:ffff::1", true},
        {"2001:db8::/32", "2001:db9::1", false},
        {"2001:db8::/33", "2001:db8:8000::1", false},
        {"::/0", "fe80::1", true},
        {"::/0", "10.0.0.1", false},
        {"2001:db8::7", "2001:db8::7", true},
        {"2001:DB8:0::7", "2001:db8::7", true},  // any spelling of the same address
        {"2001:db8::7", "2001:db8::8", false},
        {"::1", "::1", true},
        // Dotted patterns keep their meaning and never match IPv6.
        {"*.*.*.*", "2001:db8::7", false},
        {"10.*.*.*", "10.9.9.9", true},
        // Broken entries match nothing.
        {"10.0.0.0/33", "10.0.0.1", false},
        {"10.0.0.0/", "10.0.0.1", false},
        {"10.0.0.0/x", "10.0.0.1", false},
        {"2001:db8::/129", "2001:db8::1", false},
        {"2001:zz::1", "2001:db8::1", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchesAddressPattern(c.pattern, c.address), c.matches) << c.pattern << " vs " << c.address;
}
