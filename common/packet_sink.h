// Where a transfer's sender or receiver puts its datagrams: the transfer's
// socket, addressed to its peer.
#pragma once

#include <cstdint>

namespace tftp {

class PacketSink {
public:
    virtual ~PacketSink() = default;
    virtual void SendPacket(const std::uint8_t* data, int length) = 0;
};

}  // namespace tftp
