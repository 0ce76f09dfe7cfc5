// The transfer ports an administrator may fix, so that a firewall need open
// only them: both ends of "Transfer ports: from N to M", or neither (the
// system chooses each transfer's port).
#pragma once

#include <string_view>

namespace tftp {

struct PortRange {
    int low = 0;   // both 0: no range
    int high = 0;

    bool Empty() const { return low == 0 && high == 0; }
    bool Contains(int port) const { return !Empty() && port >= low && port <= high; }
    bool operator==(const PortRange&) const = default;
};

enum class PortRangeCheck {
    Fine,
    OneEndOnly,          // one end given, the other empty
    NotAPort,            // an end that is not a number from 1 to 65535
    Reversed,            // the first port above the last
    HoldsListeningPort,  // the listening port inside the range
};

// Reads the two ends as typed (digits only; both empty: no range) and checks
// them against the listening port (0: not checked). range is set only when
// the answer is Fine.
PortRangeCheck ReadPortRange(std::string_view low, std::string_view high, int listenPort, PortRange& range);

// The same for the stored pair: a pair that is not a sound range reads as
// none, so that a hand-edited store cannot leave every transfer refused.
PortRange StoredPortRange(int low, int high);

}  // namespace tftp
