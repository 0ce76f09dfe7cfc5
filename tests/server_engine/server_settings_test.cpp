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
