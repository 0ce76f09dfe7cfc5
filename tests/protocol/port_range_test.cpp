// The transfer-port range as typed into the options and on the command line,
// and as read back from the store.
#include "common/port_range.h"

#include <gtest/gtest.h>

using tftp::PortRange;
using tftp::PortRangeCheck;

TEST(PortRange, TypedEndsAreCheckedAgainstEachOtherAndTheListeningPort) {
    struct Case {
        const char* low;
        const char* high;
        int listen;
        PortRangeCheck check;
        PortRange range;  // when Fine
    };
    const Case cases[] = {
        {"", "", 69, PortRangeCheck::Fine, {}},
        {"50000", "50099", 69, PortRangeCheck::Fine, {50000, 50099}},
        {"50000", "50000", 69, PortRangeCheck::Fine, {50000, 50000}},  // one port
        {"1", "65535", 0, PortRangeCheck::Fine, {1, 65535}},          // no listening port to avoid
        {"1", "68", 69, PortRangeCheck::Fine, {1, 68}},
        {"70", "65535", 69, PortRangeCheck::Fine, {70, 65535}},
        {"50000", "", 69, PortRangeCheck::OneEndOnly, {}},
        {"", "50099", 69, PortRangeCheck::OneEndOnly, {}},
        {"0", "100", 69, PortRangeCheck::NotAPort, {}},
        {"50000", "65536", 69, PortRangeCheck::NotAPort, {}},
        {"50000", "999999", 69, PortRangeCheck::NotAPort, {}},
        {"5x", "60", 69, PortRangeCheck::NotAPort, {}},
        {" 50", "60", 69, PortRangeCheck::NotAPort, {}},
        {"50099", "50000", 69, PortRangeCheck::Reversed, {}},
        {"60", "70", 69, PortRangeCheck::HoldsListeningPort, {}},
        {"69", "69", 69, PortRangeCheck::HoldsListeningPort, {}},
        {"6969", "7000", 6969, PortRangeCheck::HoldsListeningPort, {}},
        {"6900", "6969", 6969, PortRangeCheck::HoldsListeningPort, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << '"' << c.low << "\" to \"" << c.high << "\" listening on " << c.listen);
        PortRange range{1, 2};  // untouched unless Fine
        EXPECT_EQ(tftp::ReadPortRange(c.low, c.high, c.listen, range), c.check);
        EXPECT_EQ(range, (c.check == PortRangeCheck::Fine ? c.range : PortRange{1, 2}));
    }
}

TEST(PortRange, AStoredPairThatIsNoRangeReadsAsNone) {
    struct Case { int low, high; PortRange range; };
    for (const Case& c : {Case{0, 0, {}}, Case{50000, 50099, {50000, 50099}}, Case{7, 7, {7, 7}},
                          Case{50099, 50000, {}}, Case{0, 100, {}}, Case{100, 70000, {}}, Case{-5, 10, {}}}) {
        SCOPED_TRACE(::testing::Message() << c.low << ".." << c.high);
        EXPECT_EQ(tftp::StoredPortRange(c.low, c.high), c.range);
    }
    EXPECT_TRUE(PortRange{}.Empty());
    EXPECT_FALSE(PortRange{}.Contains(0));
    EXPECT_TRUE((PortRange{10, 20}.Contains(20)));
    EXPECT_FALSE((PortRange{10, 20}.Contains(21)));
}
