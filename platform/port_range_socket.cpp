#include "port_range_socket.h"

#include <cerrno>
#include <cstdint>

namespace platform {

bool CreateInPortRange(AsyncUdpSocket& socket, const std::string& localAddress, int low, int high, int from,
                       bool notifyReads) {
    // No sound range: the system's choice, as with none.
    if (low < 1 || high > 65535 || low > high) return socket.Create(localAddress, 0, notifyReads);
    if (from < low || from > high) from = low;
    const int count = high - low + 1;
    for (int i = 0; i < count; ++i) {
        const int port = low + (from - low + i) % count;
        if (socket.Create(localAddress, static_cast<std::uint16_t>(port), notifyReads)) return true;
        // Only a port in use sends the search on; anything else would fail
        // on every port alike.
        if (socket.LastError() != EADDRINUSE) return false;
    }
    return false;
}

}  // namespace platform
