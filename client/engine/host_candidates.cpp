#include "host_candidates.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace skerry {
namespace {

// An address no request can go to.
bool NamesNoHost(const platform::PeerAddress& a) {
    return a.IsUnspecified() || (!a.v6 && a.address == platform::kInaddrNone);
}

}  // namespace

bool SystemLookup(const std::string& name, std::vector<platform::PeerAddress>& found) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0) return false;
    found.clear();
    for (const addrinfo* i = list; i; i = i->ai_next) {
        platform::PeerAddress a;
        if (i->ai_family == AF_INET && i->ai_addrlen >= sizeof(sockaddr_in)) {
            a.address = reinterpret_cast<const sockaddr_in*>(i->ai_addr)->sin_addr.s_addr;
        } else if (i->ai_family == AF_INET6 && i->ai_addrlen >= sizeof(sockaddr_in6)) {
            const auto* six = reinterpret_cast<const sockaddr_in6*>(i->ai_addr);
            if (IN6_IS_ADDR_V4MAPPED(&six->sin6_addr)) {
                std::memcpy(&a.address, six->sin6_addr.s6_addr + 12, 4);
            } else {
                a.v6 = true;
                std::memcpy(a.address6.data(), six->sin6_addr.s6_addr, 16);
                a.scope = six->sin6_scope_id;
            }
        } else {
            continue;
        }
        found.push_back(a);
    }
    ::freeaddrinfo(list);
    return true;
}

HostKind ClassifyHost(const std::string& host, platform::PeerAddress& literal) {
    literal = platform::PeerAddress{};
    // No host name holds a colon or brackets: such text is an IPv6 literal
    // or nothing.
    if (host.find_first_of(":[]") != std::string::npos) {
        if (!platform::ParseAddress(host, literal)) return HostKind::Unusable;
        literal.port = 0;
        return NamesNoHost(literal) ? HostKind::Unusable : HostKind::Literal;
    }
    // IPv4 as inet_addr has always read it (shortened and hexadecimal forms
    // too); what inet_addr cannot tell from no address (255.255.255.255) is
    // no host either.
    literal.address = platform::InetAddr(host);
    if (literal.address != platform::kInaddrNone)
        return NamesNoHost(literal) ? HostKind::Unusable : HostKind::Literal;
    literal = platform::PeerAddress{};
    in_addr a{};
    if (::inet_aton(host.c_str(), &a) != 0) return HostKind::Unusable;
    return host.empty() ? HostKind::Unusable : HostKind::Name;
}

std::vector<platform::PeerAddress> HostCandidates(const std::string& host, std::uint16_t port,
                                                  const NameLookup& lookup) {
    std::vector<platform::PeerAddress> candidates;
    platform::PeerAddress literal;
    switch (ClassifyHost(host, literal)) {
    case HostKind::Unusable:
        return candidates;
    case HostKind::Literal:
        literal.port = port;
        candidates.push_back(literal);
        return candidates;
    case HostKind::Name:
        break;
    }
    std::vector<platform::PeerAddress> found;
    if (!lookup || !lookup(host, found)) return candidates;
    for (platform::PeerAddress a : found) {
        if (NamesNoHost(a)) continue;
        a.port = port;
        if (std::find(candidates.begin(), candidates.end(), a) == candidates.end())
            candidates.push_back(a);
    }
    return candidates;
}

bool SplitHostPort(std::string_view text, std::uint16_t defaultPort, std::string& host,
                   std::uint16_t& port) {
    std::string_view portText;
    bool hasPort = false;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) return false;
        host = std::string(text.substr(1, close - 1));
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return false;
            portText = rest.substr(1);
            hasPort = true;
        }
    } else {
        const std::size_t colon = text.find(':');
        // More than one colon: an IPv6 literal without brackets, so no port.
        if (colon != std::string_view::npos && text.find(':', colon + 1) == std::string_view::npos) {
            host = std::string(text.substr(0, colon));
            portText = text.substr(colon + 1);
            hasPort = true;
        } else {
            host = std::string(text);
        }
    }
    if (host.empty()) return false;
    if (!hasPort) {
        port = defaultPort;
        return true;
    }
    if (portText.empty() || portText.size() > 5) return false;
    unsigned value = 0;
    for (const char c : portText) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value < 1 || value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

}  // namespace skerry
