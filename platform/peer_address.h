// IPv4 socket addresses as plain values, and the dotted-text conversions
// every part of both programs passes addresses around with.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The no-address value of inet_addr: all 32 bits set.
inline constexpr std::uint32_t kInaddrNone = 0xFFFFFFFFu;

struct PeerAddress {
    std::uint32_t address = 0;  // network byte order, as in sockaddr_in
    std::uint16_t port = 0;     // host byte order

    bool operator==(const PeerAddress&) const = default;

    // "%d.%d.%d.%d", most significant byte first.
    std::string AddressText() const;
};

// inet_addr: dotted (or shortened / hexadecimal) text to an address in
// network byte order; kInaddrNone for text that is not an address.
std::uint32_t InetAddr(const std::string& text);

// inet_ntoa: address in network byte order to dotted decimal text.
std::string InetNtoa(std::uint32_t networkOrder);

}  // namespace platform
