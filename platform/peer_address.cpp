#include "peer_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdio>

namespace platform {

std::string PeerAddress::AddressText() const { return InetNtoa(address); }

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
