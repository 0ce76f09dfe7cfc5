// The one place where the text a user gives for a server becomes the
// addresses to try, in order: a literal address (IPv4 as inet_addr reads it,
// IPv6 with or without brackets and with an optional %zone) as it stands, or
// a host name looked up with getaddrinfo. The window and the command line
// both use it.
#pragma once

#include "platform/peer_address.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace skerry {

// A name's addresses in the order the resolver gives them; false when the
// name does not resolve.
using NameLookup =
    std::function<bool(const std::string& name, std::vector<platform::PeerAddress>& found)>;

// getaddrinfo for any family, datagram sockets: blocks as long as the
// resolver takes (never call it on the window's thread).
bool SystemLookup(const std::string& name, std::vector<platform::PeerAddress>& found);

enum class HostKind {
    Literal,   // an address, no look-up needed
    Unusable,  // looks like an address but names no host (0.0.0.0, ::,
               // 255.255.255.255, a broken IPv6 literal)
    Name,      // to be looked up
};

// What host text is; for a literal, its address (port 0).
HostKind ClassifyHost(const std::string& host, platform::PeerAddress& literal);

// The addresses to try for host, each with port: the literal, or what lookup
// finds (addresses that name no host and repeats left out). Empty when the
// host is unusable or the name does not resolve. Blocks for a name.
std::vector<platform::PeerAddress> HostCandidates(const std::string& host, std::uint16_t port,
                                                  const NameLookup& lookup = SystemLookup);

// HOST[:PORT] as a command line gives it: "[2001:db8::1]:6969", "::1" (an
// IPv6 literal with no brackets has no port), "name:69", "10.0.0.1:6969",
// "name". host comes back without brackets around an IPv6 literal; port is
// defaultPort when none is given. False for an empty host or a port that is
// not 1 to 65535.
bool SplitHostPort(std::string_view text, std::uint16_t defaultPort, std::string& host,
                   std::uint16_t& port);

}  // namespace skerry
