// How big a transfer socket's buffer should be: room for several blocks, so
// that a duplicate or early datagram never pushes the next block out, and
// never less than the system gives a socket by default.
#pragma once

#include "common/tftp_packet.h"

#include <algorithm>

namespace tftp {

inline constexpr int kBlocksOfRoom = 8;

// The size to ask for, given the block size and what the socket holds now.
inline int SocketBufferRequest(int blockSize, int grantedNow) {
    return std::max(grantedNow, kBlocksOfRoom * (blockSize + kBufferSlack));
}

}  // namespace tftp
