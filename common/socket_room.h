// How big a transfer socket's buffer should be: room for several blocks, so
// that a duplicate or early datagram never pushes the next block out, or for
// a whole window of blocks, and never less than the system gives a socket by
// default. The system caps what it grants in any case.
#pragma once

#include "common/tftp_packet.h"

#include <algorithm>

namespace tftp {

inline constexpr int kBlocksOfRoom = 8;
inline constexpr long long kLargestBufferRequest = 8 << 20;

// The size to ask for, given the block size, what the socket holds now and
// the blocks per ACK.
inline int SocketBufferRequest(int blockSize, int grantedNow, int window = 1) {
    const long long blocks = std::max(kBlocksOfRoom, window);
    const long long wanted = std::min(kLargestBufferRequest, blocks * (blockSize + kBufferSlack));
    return std::max(grantedNow, static_cast<int>(wanted));
}

}  // namespace tftp
