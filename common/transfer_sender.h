// The sending side of a transfer (the server answering a read request, the
// client sending a file): reads the file block by block, one block ahead of
// the one in flight, keeps every block in flight for a retransmission, and
// decides what an ACK means.
//
//   ACK of a block in flight    those blocks are done; the next ones go out
//   ACK of the block before     the receiver asks again: resend at once, but
//                               not for a copy the network made of an ACK
//                               already seen, nor for the extra ACKs our own
//                               resends draw (else every later block would go
//                               out twice: the Sorcerer's Apprentice)
//   anything else               ignored
//
// The window is the number of blocks in flight; lock-step TFTP is a window
// of one.
#pragma once

#include "common/local_file.h"
#include "common/packet_sink.h"
#include "common/retransmit_timer.h"

#include <cstdint>
#include <vector>

namespace tftp {

class TransferSender {
public:
    // An ACK of the block before the window that comes this soon after the
    // window went out is a copy the network made, not a receiver asking again.
    static constexpr int kDuplicateGuardMs = 20;

    TransferSender(LocalFileReader& file, PacketSink& out) : file_(file), out_(out) {}

    // Prepares blocks of blockSize bytes, at most limit bytes in all (-1: up
    // to the end of the file). False when the buffers cannot be had.
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
        std::vector<std::uint8_t> packet;
        int length = 0;
        int timesSent = 0;
    };
    Slot& SlotOf(std::uint64_t block) { return slots_[block % slots_.size()]; }
    Step FillWindow(std::int64_t nowMs);
    bool ReadAhead();
    void ResendWindow(std::int64_t nowMs);

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
    std::vector<std::uint8_t> ahead_;
    int aheadCount_ = -1;  // data bytes in ahead_; -1: nothing read
    bool readFailed_ = false;
    std::vector<Slot> slots_;
    // ACKs of the block before the window still to come for the extra copies
    // of it that were sent.
    int extraAcksExpected_ = 0;
    RetransmitTimer timer_;
};

}  // namespace tftp
