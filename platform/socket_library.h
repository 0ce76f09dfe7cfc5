// What the socket library's start-up tells a program: the largest datagram
// and the most sockets it may use.
#pragma once

namespace platform {

struct SocketLibraryInfo {
    int maxUdpDatagram = 0;  // largest IPv4 UDP payload
    int maxSockets = 0;      // descriptors the process may open
};

// Always succeeds on this platform.
bool StartSocketLibrary(SocketLibraryInfo& info);

}  // namespace platform
