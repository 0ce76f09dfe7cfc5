// Binding a socket to a port of a fixed range: the first free one from a
// starting port on, wrapping round to the range's start.
#pragma once

#include "async_udp_socket.h"

#include <string>

namespace platform {

// Creates socket (see AsyncUdpSocket::Create) on localAddress and the first
// port of low..high, tried from `from` (a port outside the range: low) up and
// round, that no other socket holds. False when none is free (LastError
// EADDRINUSE) or at the first other failure, such as no descriptor left
// (its errno). A range that is not one (low
// above high, or outside 1..65535) leaves the port to the system.
bool CreateInPortRange(AsyncUdpSocket& socket, const std::string& localAddress, int low, int high, int from,
                       bool notifyReads);

}  // namespace platform
