// Address texts both ways, IPv4 and IPv6, and the same client seen through
// either family's socket.
#include "platform/peer_address.h"

#include <gtest/gtest.h>

using platform::ParseAddress;
using platform::PeerAddress;

TEST(PeerAddress, LiteralsParseToTheirShortTextOrAreRefused) {
    struct Case {
        const char* text;
        bool ok;
        const char* shown;  // AddressText of the result
        bool v6;
    };
    const Case cases[] = {
        {"192.0.2.7", true, "192.0.2.7", false},
        {"127.0.0.1", true, "127.0.0.1", false},
        {"::1", true, "::1", true},
        {"[::1]", true, "::1", true},
        {"2001:0db8:0000:0000:0000:0000:0000:0007", true, "2001:db8::7", true},
        {"[2001:DB8::7]", true, "2001:db8::7", true},
        {"2001:db8:0:1:0:0:0:1", true, "2001:db8:0:1::1", true},
        // A mapped IPv4 address is IPv4.
        {"::ffff:192.0.2.7", true, "192.0.2.7", false},
        {"[::ffff:10.1.2.3]", true, "10.1.2.3", false},
        {"fe80::1%1", true, "fe80::1", true},
        // Not literals: names, shortened dotted forms, junk.
        {"localhost", false, "", false},
        {"10.1", false, "", false},
        {"192.0.2.256", false, "", false},
        {"", false, "", false},
        {"[]", false, "", false},
        {"[::1", false, "", false},
        {"fe80::1%", false, "", false},
        {"2001:db8::7::8", false, "", false},
    };
    for (const Case& c : cases) {
        PeerAddress a;
        a.port = 69;
        EXPECT_EQ(ParseAddress(c.text, a), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(a.AddressText(), c.shown) << c.text;
        EXPECT_EQ(a.v6, c.v6) << c.text;
        EXPECT_EQ(a.port, 69) << c.text << ": the port is kept";
    }
}

TEST(PeerAddress, SameHostComparesAddressesNotPorts) {
    PeerAddress a, b, c, d;
    ASSERT_TRUE(ParseAddress("2001:db8::7", a));
    ASSERT_TRUE(ParseAddress("2001:db8::7", b));
    ASSERT_TRUE(ParseAddress("2001:db8::8", c));
    ASSERT_TRUE(ParseAddress("::ffff:0.0.0.7", d));  // IPv4 0.0.0.7
    a.port = 1;
    b.port = 2;
    EXPECT_TRUE(a.SameHost(b));
    EXPECT_FALSE(a == b);
    EXPECT_FALSE(a.SameHost(c));
    EXPECT_FALSE(a.SameHost(d));
    EXPECT_TRUE((PeerAddress{platform::InetAddr("127.0.0.9"), 5}.IsLoopback()));
    PeerAddress loop6;
    ASSERT_TRUE(ParseAddress("::1", loop6));
    EXPECT_TRUE(loop6.IsLoopback());
    EXPECT_FALSE(a.IsLoopback());
}
