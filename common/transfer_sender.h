// The sending side of a transfer (the server answering a read request, the
// client sending a file): reads the file block by block, ahead of the blocks
// in flight, keeps every block in flight for a retransmission, and decides
// what an ACK means. A window of blocks goes out back to back; lock-step TFTP
// is a window of one.
//
//   ACK of the window's last    those blocks are done; the next window goes
//   block                       out
//   ACK of a block inside the   the receiver lost the block after it and
//   window                      dropped the rest: the window slides to that
//                               block and goes out again from there
//   ACK of the block before     the receiver asks again: resend the window at
//   the window                  once, but not for the extra ACKs our own
//                               resends draw (else every later block would go
//                               out twice: the Sorcerer's Apprentice), in
//                               lock-step not for a copy the network made of
//                               an ACK already seen, and with a window only
//                               once per block (a block lost again waits
//                               for the time-out)
//   anything else               ignored
#pragma once

#include "common/uninitialized_bytes.h"

#include "common/local_file.h"
#include "common/packet_sink.h"
#include "common/retransmit_timer.h"

#include <cstdint>
#include <vector>

namespace tftp {

class TransferSender {
public:
    // In lock-step, an ACK of the block before the one in flight that comes
    // this soon after that block went out is a copy the network made, not a
    // receiver asking again. With a window the same ACK also says that the
    // window's first block was lost, which cannot wait for the time-out.
    static constexpr int kDuplicateGuardMs = 20;

    TransferSender(LocalFileReader& file, PacketSink& out) : file_(file), out_(out) {}

    // Prepares blocks of blockSize bytes, at most limit bytes in all (-1: up
    // to the end of the file), window blocks per ACK (1 to 65535). False when
    // the buffers cannot be had.
    bool Begin(int blockSize, std::int64_t limit, int window = 1);

    enum class Step {
        Ignored,     // nothing changed
        Sent,        // new blocks went out
        Resent,      // the window went out again
        Done,        // the last block has been acknowledged
        ReadFailed,  // the file could not be read
    };
    // Sends block 1 (and the rest of the first window).
    Step SendFirst(std::int64_t nowMs);
    Step OnAck(std::uint16_t block, std::int64_t nowMs);
    // The window's answer is overdue.
    bool ResendDue(std::int64_t nowMs) const { return inFlight_ > 0 && timer_.Due(nowMs); }
    // Sends the blocks in flight again. False when there are none.
    bool Resend(std::int64_t nowMs);

    std::int64_t BytesSent() const { return bytesSent_; }  // data of the blocks sent, once each
    std::uint64_t LastBlock() const { return nextBlock_ - 1; }  // counter of the block last sent
    int LastCount() const { return lastCount_; }   // data bytes of the block last sent
    bool LastBlockSent() const { return lastBlockSent_; }
    bool Finished() const { return lastBlockSent_ && inFlight_ == 0; }
    int Retransmissions() const { return timer_.Resends(); }

private:
    struct Slot {
        UninitializedBytes packet;
        int length = 0;
        int timesSent = 0;
    };
    Slot& SlotOf(std::uint64_t block) { return slots_[block % slots_.size()]; }
    Step FillWindow(std::int64_t nowMs);
    bool ReadAhead();
    // Sends the blocks in flight again. Unless the receiver reported a gap,
    // the next wait is longer and no round trip is sampled from the answer.
    void ResendWindow(std::int64_t nowMs, bool again);
    void Flush();

    LocalFileReader& file_;
    PacketSink& out_;
    int blockSize_ = 512;
    std::int64_t limit_ = -1;
    std::int64_t bytesRead_ = 0;  // data read from the file, the block ahead included
    std::int64_t bytesSent_ = 0;
    std::uint64_t firstUnacked_ = 1;  // counter of the oldest block in flight
    std::uint64_t nextBlock_ = 1;     // counter of the next block to send
    int inFlight_ = 0;
    int window_ = 1;
    int lastCount_ = 0;
    bool lastBlockSent_ = false;
    // The next block, read ahead while the receiver handles the last one.
    UninitializedBytes ahead_;
    int aheadCount_ = -1;  // data bytes in ahead_; -1: nothing read
    bool readFailed_ = false;
    // One slot per block of the window; a slot's buffer is had when first used.
    std::vector<Slot> slots_;
    std::vector<PacketView> batch_;  // the datagrams going out together
    // ACKs of the block before the window still to come for the extra copies
    // of it that were sent.
    int extraAcksExpected_ = 0;
    RetransmitTimer timer_;
};

}  // namespace tftp
