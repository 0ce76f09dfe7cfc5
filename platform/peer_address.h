// Socket addresses as plain values, IPv4 and IPv6, and the address texts
// every part of both programs passes addresses around with.
//
// An IPv4 address is always held as IPv4, also when it reached an IPv6
// socket as a mapped address (::ffff:192.0.2.7): the same client is the same
// value whichever socket heard it, and its text is dotted.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The no-address value of inet_addr: all 32 bits set.
inline constexpr std::uint32_t kInaddrNone = 0xFFFFFFFFu;

struct PeerAddress {
    std::uint32_t address = 0;  // IPv4, network byte order, as in sockaddr_in
    std::uint16_t port = 0;     // host byte order
    bool v6 = false;            // address6 (and scope) hold the address instead
    std::array<std::uint8_t, 16> address6{};
    std::uint32_t scope = 0;    // interface of a link-local IPv6 address

    auto operator<=>(const PeerAddress&) const = default;

    // Dotted "%d.%d.%d.%d" for IPv4 (most significant byte first); the
    // short form of RFC 5952 for IPv6 ("2001:db8::7", "::1").
    std::string AddressText() const;
    // The text a socket binds to: AddressText, and for an IPv6 address with
    // an interface "%" and its number (a link-local address needs it).
    std::string BindText() const;
    // The same host, whatever the port.
    bool SameHost(const PeerAddress& other) const;
    bool IsLoopback() const;
    bool IsUnspecified() const;
};

// A literal address: dotted IPv4 (four decimal fields), or IPv6 with or
// without brackets and with an optional "%zone". No name is looked up.
// False for anything else; out keeps the port it had.
bool ParseAddress(std::string_view text, PeerAddress& out);

// inet_addr: dotted (or shortened / hexadecimal) text to an address in
// network byte order; kInaddrNone for text that is not an address.
std::uint32_t InetAddr(const std::string& text);

// inet_ntoa: address in network byte order to dotted decimal text.
std::string InetNtoa(std::uint32_t networkOrder);

}  // namespace platform
