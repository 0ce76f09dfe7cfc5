// The host text a user gives, turned into the addresses to try: literals of
// both families, names looked up by the system or a lookup the test plays,
// HOST[:PORT] as the command line takes it, and the lookup off the thread.
#include "client/engine/host_candidates.h"
#include "client/engine/host_lookup.h"
#include "tests/support/event_loop.h"

#include <gtest/gtest.h>

#include <net/if.h>

#include <atomic>
#include <chrono>
#include <thread>

using platform::PeerAddress;
using skerry::HostKind;

namespace {

std::vector<std::string> Texts(const std::vector<PeerAddress>& list) {
    std::vector<std::string> texts;
    for (const PeerAddress& a : list)
        texts.push_back((a.v6 ? "[" + a.BindText() + "]" : a.AddressText()) + ":" + std::to_string(a.port));
    return texts;
}

PeerAddress Literal(const std::string& text) {
    PeerAddress a;
    EXPECT_TRUE(platform::ParseAddress(text, a)) << text;
    return a;
}

}  // namespace

TEST(HostCandidates, LiteralsOfBothFamiliesNeedNoLookupAndNoHostIsRefused) {
    const std::string lo = std::to_string(::if_nametoindex("lo"));
    struct Case {
        std::string host;
        HostKind kind;
        std::vector<std::string> candidates;  // with port 69
    };
    const Case cases[] = {
        {"192.168.0.20", HostKind::Literal, {"192.168.0.20:69"}},
        {"1.2.3", HostKind::Literal, {"1.2.0.3:69"}},  // inet_addr's shortened form, as always
        {"0x7f000001", HostKind::Literal, {"127.0.0.1:69"}},
        {"::1", HostKind::Literal, {"[::1]:69"}},
        {"[::1]", HostKind::Literal, {"[::1]:69"}},
        {"[2001:DB8:0:0::7]", HostKind::Literal, {"[2001:db8::7]:69"}},
        {"fe80::1%lo", HostKind::Literal, {"[fe80::1%" + lo + "]:69"}},
        {"[fe80::1%lo]", HostKind::Literal, {"[fe80::1%" + lo + "]:69"}},
        {"::ffff:10.0.0.1", HostKind::Literal, {"10.0.0.1:69"}},  // an IPv4 host is IPv4
        {"0.0.0.0", HostKind::Unusable, {}},
        {"255.255.255.255", HostKind::Unusable, {}},
        {"::", HostKind::Unusable, {}},
        {"[::]", HostKind::Unusable, {}},
        {"[::1", HostKind::Unusable, {}},
        {"1::2::3", HostKind::Unusable, {}},
        {"", HostKind::Unusable, {}},
        {"localhost", HostKind::Name, {}},
        {"nonexistent.invalid", HostKind::Name, {}},
    };
    int lookups = 0;
    const skerry::NameLookup counting = [&](const std::string&, std::vector<PeerAddress>&) {
        ++lookups;
        return false;
    };
    for (const Case& c : cases) {
        PeerAddress literal;
        EXPECT_EQ(skerry::ClassifyHost(c.host, literal), c.kind) << c.host;
        lookups = 0;
        EXPECT_EQ(Texts(skerry::HostCandidates(c.host, 69, counting)), c.candidates) << c.host;
        EXPECT_EQ(lookups, c.kind == HostKind::Name ? 1 : 0) << c.host;
    }
}

TEST(HostCandidates, TheSystemResolvesNamesFromTheHostsFileAndNotReservedOnes) {
    const auto local = skerry::HostCandidates("localhost", 6969);
    ASSERT_FALSE(local.empty());
    for (const PeerAddress& a : local) {
        EXPECT_TRUE(a.IsLoopback()) << a.AddressText();
        EXPECT_EQ(a.port, 6969);
    }
    const auto texts = Texts(local);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "127.0.0.1:6969"), texts.end());
    EXPECT_TRUE(skerry::HostCandidates("nonexistent.invalid", 69).empty());
    EXPECT_TRUE(skerry::HostCandidates("no such host", 69).empty());
}

TEST(HostCandidates, ALookupsAddressesComeInItsOrderWithoutRepeatsOrAddressesOfNoHost) {
    const skerry::NameLookup lookup = [](const std::string& name, std::vector<PeerAddress>& found) {
        if (name != "boot.lab") return false;
        found = {Literal("::1"), Literal("0.0.0.0"), Literal("127.0.0.1"), Literal("::"),
                 Literal("::1"), Literal("10.0.0.7")};
        return true;
    };
    EXPECT_EQ(Texts(skerry::HostCandidates("boot.lab", 1069, lookup)),
              (std::vector<std::string>{"[::1]:1069", "127.0.0.1:1069", "10.0.0.7:1069"}));
    EXPECT_TRUE(skerry::HostCandidates("other.lab", 69, lookup).empty());
    const skerry::NameLookup nothingUsable = [](const std::string&, std::vector<PeerAddress>& found) {
        found = {Literal("0.0.0.0")};
        return true;
    };
    EXPECT_TRUE(skerry::HostCandidates("zero.lab", 69, nothingUsable).empty());
}

TEST(HostCandidates, HostAndPortAsTheCommandLineGivesThem) {
    struct Case {
        std::string text;
        bool ok;
        std::string host;
        std::uint16_t port;
    };
    const Case cases[] = {
        {"[2001:db8::1]:6969", true, "2001:db8::1", 6969},
        {"[::1]", true, "::1", 69},
        {"::1", true, "::1", 69},
        {"2001:db8::1", true, "2001:db8::1", 69},
        {"name:69", true, "name", 69},
        {"10.0.0.1:6969", true, "10.0.0.1", 6969},
        {"boot.lab", true, "boot.lab", 69},
        {"[fe80::1%eth0]:65535", true, "fe80::1%eth0", 65535},
        {"", false, "", 0},
        {":69", false, "", 0},
        {"name:", false, "", 0},
        {"name:0", false, "", 0},
        {"name:65536", false, "", 0},
        {"name:6x", false, "", 0},
        {"[::1", false, "", 0},
        {"[::1]x", false, "", 0},
        {"[::1]:", false, "", 0},
        {"[]:69", false, "", 0},
    };
    for (const Case& c : cases) {
        std::string host;
        std::uint16_t port = 0;
        ASSERT_EQ(skerry::SplitHostPort(c.text, 69, host, port), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(host, c.host) << c.text;
        EXPECT_EQ(port, c.port) << c.text;
    }
}

TEST(HostLookup, AResultComesBackOnTheAskingThreadAndACancelledOneNever) {
    std::atomic<int> calls{0};
    // A resolver that takes its time, off the asking thread.
    const auto asker = std::this_thread::get_id();
    std::atomic<bool> offThread{true};
    const skerry::NameLookup slow = [&](const std::string&, std::vector<PeerAddress>& found) {
        if (std::this_thread::get_id() == asker) offThread = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        ++calls;
        found = {Literal("127.0.0.1")};
        return true;
    };
    {
        skerry::AsyncHostLookup lookup(slow);
        std::vector<PeerAddress> got;
        bool done = false;
        std::thread::id deliveredOn;
        const auto started = std::chrono::steady_clock::now();
        lookup.Start("slow.lab", 69, [&](std::vector<PeerAddress> found) {
            got = std::move(found);
            deliveredOn = std::this_thread::get_id();
            done = true;
        });
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100))
            << "Start does not wait for the resolver";
        EXPECT_TRUE(lookup.Running());
        ASSERT_TRUE(tests::RunUntil([&] { return done; }, 5000));
        EXPECT_FALSE(lookup.Running());
        EXPECT_EQ(deliveredOn, asker);
        EXPECT_EQ(Texts(got), std::vector<std::string>{"127.0.0.1:69"});

        // Cancelled or replaced while running: no call back.
        int stale = 0;
        lookup.Start("slow.lab", 69, [&](std::vector<PeerAddress>) { ++stale; });
        lookup.Cancel();
        EXPECT_FALSE(lookup.Running());
        lookup.Start("slow.lab", 69, [&](std::vector<PeerAddress>) { ++stale; });
        bool second = false;
        lookup.Start("slow.lab", 70, [&](std::vector<PeerAddress> found) {
            second = !found.empty() && found[0].port == 70;
        });
        ASSERT_TRUE(tests::RunUntil([&] { return second; }, 5000));
        tests::RunUntil([&] { return calls >= 4; }, 5000);
        tests::RunFor(50);
        EXPECT_EQ(stale, 0) << "no cancelled lookup calls back";
    }
    // The object ended with a lookup running: its thread finishes alone.
    {
        skerry::AsyncHostLookup ended(slow);
        ended.Start("slow.lab", 69, [](std::vector<PeerAddress>) { ADD_FAILURE() << "called back"; });
    }
    tests::RunUntil([&] { return calls >= 5; }, 5000);
    tests::RunFor(50);
    EXPECT_EQ(calls, 5);
    EXPECT_TRUE(offThread);
}
