#include "port_range.h"

namespace tftp {
namespace {

constexpr int kMaxPort = 65535;

// Digits only (at most five), 1..65535; 0 for anything else.
int PortNumber(std::string_view text) {
    if (text.empty() || text.size() > 5) return 0;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
    }
    return value <= kMaxPort ? value : 0;
}

}  // namespace

PortRangeCheck ReadPortRange(std::string_view low, std::string_view high, int listenPort, PortRange& range) {
    if (low.empty() && high.empty()) {
        range = PortRange{};
        return PortRangeCheck::Fine;
    }
    if (low.empty() || high.empty()) return PortRangeCheck::OneEndOnly;
    const int first = PortNumber(low);
    const int last = PortNumber(high);
    if (first == 0 || last == 0) return PortRangeCheck::NotAPort;
    if (first > last) return PortRangeCheck::Reversed;
    const PortRange read{first, last};
    if (listenPort != 0 && read.Contains(listenPort)) return PortRangeCheck::HoldsListeningPort;
    range = read;
    return PortRangeCheck::Fine;
}

PortRange StoredPortRange(int low, int high) {
    if (low < 1 || high > kMaxPort || low > high) return PortRange{};
    return PortRange{low, high};
}

}  // namespace tftp
