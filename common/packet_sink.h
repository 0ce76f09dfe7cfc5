// Where a transfer's sender or receiver puts its datagrams: the transfer's
// socket, addressed to its peer.
#pragma once

#include <cstdint>

namespace tftp {

struct PacketView {
    const std::uint8_t* data = nullptr;
    int length = 0;
};

class PacketSink {
public:
    virtual ~PacketSink() = default;
    virtual void SendPacket(const std::uint8_t* data, int length) = 0;
    // A window of blocks, in order: a socket may hand them to the system at
    // once.
    virtual void SendPackets(const PacketView* packets, int count) {
        for (int i = 0; i < count; ++i) SendPacket(packets[i].data, packets[i].length);
    }
};

}  // namespace tftp
