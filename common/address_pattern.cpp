#include "address_pattern.h"

#include "common/digits.h"
#include "platform/peer_address.h"

#include <array>
#include <cstdint>

namespace {

struct Field {
    bool wildcard = false;
    std::uint64_t number = 0;
};

// Splits text into four fields; what follows a fourth "." is ignored.
std::array<Field, 4> Fields(const std::string& text) {
    std::array<Field, 4> fields{};
    std::size_t f = 0;
    for (const char c : text) {
        if (c == '.') {
            if (++f == 4) break;
            continue;
        }
        if (c == '*') fields[f].wildcard = true;
        else if (c >= '0' && c <= '9' && fields[f].number < 1'000'000'000'000ull)
            fields[f].number = fields[f].number * 10 + static_cast<unsigned>(c - '0');
    }
    return fields;
}

bool MatchesDottedFields(const std::string& pattern, const std::string& address) {
    const std::array<Field, 4> p = Fields(pattern);
    const std::array<Field, 4> a = Fields(address);
    for (std::size_t i = 0; i < 4; ++i)
        if (!p[i].wildcard && p[i].number != a[i].number) return false;
    return true;
}

// The address as 16 bytes: IPv4 in the last four (the family is compared apart).
std::array<std::uint8_t, 16> Bytes(const platform::PeerAddress& a) {
    if (a.v6) return a.address6;
    std::array<std::uint8_t, 16> b{};
    const auto* v4 = reinterpret_cast<const std::uint8_t*>(&a.address);
    for (int i = 0; i < 4; ++i) b[static_cast<std::size_t>(12 + i)] = v4[i];
    return b;
}

bool MatchesPrefix(const std::string& pattern, const platform::PeerAddress& address) {
    const std::size_t slash = pattern.find('/');
    const std::string bitsText = pattern.substr(slash + 1);
    if (bitsText.empty() || bitsText.size() > 3 ||
        bitsText.find_first_not_of("0123456789") != std::string::npos)
        return false;
    platform::PeerAddress net;
    if (!platform::ParseAddress(pattern.substr(0, slash), net) || net.v6 != address.v6) return false;
    const int bits = tftp::LeadingDigits(bitsText);
    const int width = net.v6 ? 128 : 32;
    if (bits > width) return false;
    const auto n = Bytes(net), a = Bytes(address);
    const int first = net.v6 ? 0 : 96;  // IPv4 bits start at byte 12
    for (int i = 0; i < bits; ++i) {
        const int bit = first + i;
        const std::uint8_t mask = static_cast<std::uint8_t>(0x80u >> (bit % 8));
        if ((n[static_cast<std::size_t>(bit / 8)] & mask) != (a[static_cast<std::size_t>(bit / 8)] & mask))
            return false;
    }
    return true;
}

}  // namespace

bool MatchesAddressPattern(const std::string& pattern, const std::string& address) {
    if (pattern.empty()) return false;
    platform::PeerAddress client;
    if (!platform::ParseAddress(address, client)) {
        // Not a literal: only the dotted fields can say anything about it.
        return pattern.find_first_of("/:") == std::string::npos && MatchesDottedFields(pattern, address);
    }
    if (pattern.find('/') != std::string::npos) return MatchesPrefix(pattern, client);
    if (pattern.find(':') != std::string::npos) {
        platform::PeerAddress exact;
        return platform::ParseAddress(pattern, exact) && exact.SameHost(client);
    }
    return !client.v6 && MatchesDottedFields(pattern, address);
}
