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

// What the system counts against a socket's buffer for one datagram of a
// block: the data and its bookkeeping; past a page the data's room is had in
// powers of two (an 8192-byte block costs about 17.7 KB).
inline long long DatagramCost(int blockSize) {
    const long long data = blockSize + kHeaderLength;
    if (data <= 3072) return data + 1024;
    long long room = 4096;
    while (room < data + 320) room *= 2;
    return room + 1536;
}

// The size to ask for, given the block size, what the socket holds now and
// the blocks per ACK. A window asks for room for every datagram of it.
inline int SocketBufferRequest(int blockSize, int grantedNow, int window = 1) {
    long long wanted = static_cast<long long>(kBlocksOfRoom) * (blockSize + kBufferSlack);
    if (window > 1) wanted = std::max(wanted, window * DatagramCost(blockSize));
    return std::max(grantedNow, static_cast<int>(std::min(kLargestBufferRequest, wanted)));
}

// The largest window, at most window, whose datagrams all fit a receive
// buffer the socket reports as readBack (on Linux twice the size asked for,
// which is what it counts datagrams against).
inline int WindowThatFits(int window, int blockSize, int readBack) {
    const long long fits = readBack / DatagramCost(blockSize);
    return static_cast<int>(std::clamp<long long>(fits, 1, window));
}

// What a Linux socket's receive buffer that nobody enlarged reports
// (net.core.rmem_default). The common TFTP programs keep it, and such a peer
// drops every datagram of a window beyond what it holds: the rest of each
// window then waits for the sender's time-out.
inline constexpr int kUntunedReceiveBuffer = 212992;

// The window to send with when the receiver's buffer is not known: at most
// what an untouched receive buffer holds (11 blocks of 8192 bytes, one of
// 65464; every window of 1428-byte blocks up to 86).
inline int WindowAPeerHolds(int window, int blockSize) {
    return WindowThatFits(window, blockSize, kUntunedReceiveBuffer);
}

}  // namespace tftp
