#include "peer_address.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>

namespace platform {

std::string PeerAddress::AddressText() const {
    if (!v6) return InetNtoa(address);
    char text[INET6_ADDRSTRLEN] = {};
    in6_addr a{};
    std::memcpy(a.s6_addr, address6.data(), address6.size());
    if (!::inet_ntop(AF_INET6, &a, text, sizeof text)) return {};
    return text;
}

std::string PeerAddress::BindText() const {
    return v6 && scope != 0 ? AddressText() + "%" + std::to_string(scope) : AddressText();
}

bool PeerAddress::SameHost(const PeerAddress& other) const {
    if (v6 != other.v6) return false;
    return v6 ? address6 == other.address6 && scope == other.scope : address == other.address;
}

bool PeerAddress::IsLoopback() const {
    if (!v6) return (ntohl(address) >> 24) == 127;
    static constexpr std::array<std::uint8_t, 16> kLoopback6{0, 0, 0, 0, 0, 0, 0, 0,
                                                             0, 0, 0, 0, 0, 0, 0, 1};
    return address6 == kLoopback6;
}

bool PeerAddress::IsUnspecified() const {
    return v6 ? address6 == std::array<std::uint8_t, 16>{} : address == 0;
}

bool ParseAddress(std::string_view text, PeerAddress& out) {
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    if (text.empty() || text.size() > 64) return false;
    std::string s(text);
    in_addr a4{};
    if (s.find(':') == std::string::npos) {
        // inet_pton takes exactly four decimal fields: "10.1" is no address here.
        if (::inet_pton(AF_INET, s.c_str(), &a4) != 1) return false;
        const std::uint16_t port = out.port;
        out = PeerAddress{};
        out.address = a4.s_addr;
        out.port = port;
        return true;
    }
    std::uint32_t scope = 0;
    if (const std::size_t percent = s.find('%'); percent != std::string::npos) {
        const std::string zone = s.substr(percent + 1);
        s.resize(percent);
        if (zone.empty()) return false;
        scope = ::if_nametoindex(zone.c_str());
        if (scope == 0) {
            char* end = nullptr;
            const unsigned long n = std::strtoul(zone.c_str(), &end, 10);
            if (*end != '\0' || n == 0 || n > 0xFFFFFFFFul) return false;
            scope = static_cast<std::uint32_t>(n);
        }
    }
    in6_addr a6{};
    if (::inet_pton(AF_INET6, s.c_str(), &a6) != 1) return false;
    const std::uint16_t port = out.port;
    out = PeerAddress{};
    out.port = port;
    if (IN6_IS_ADDR_V4MAPPED(&a6)) {
        std::memcpy(&out.address, a6.s6_addr + 12, 4);
        return true;
    }
    out.v6 = true;
    std::memcpy(out.address6.data(), a6.s6_addr, 16);
    out.scope = scope;
    return true;
}

std::uint32_t InetAddr(const std::string& text) {
    return ::inet_addr(text.c_str());
}

std::string InetNtoa(std::uint32_t networkOrder) {
    const std::uint32_t h = ntohl(networkOrder);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", (h >> 24) & 0xFFu, (h >> 16) & 0xFFu,
                  (h >> 8) & 0xFFu, h & 0xFFu);
    return buf;
}

}  // namespace platform
