// The receiving side of a transfer (the server taking a write request, the
// client fetching a file): writes each block in order and acknowledges once
// per window (every block in lock-step), and answers a repeat of a block it
// already has with its last ACK again.
//
// Resending is the sender's job: the receiver sends its last answer again
// only once per silence, after the round trip, for the case where that
// answer was lost. Part of a window followed by silence is acknowledged
// then too, so that the sender goes on from the block after it. More would not bring a lost block back, and a sender that
// waits for silence before it resends (tftp-hpa's client restarts its wait
// on every datagram) would never resend at all. Its owner may still send the
// last answer again after a long silence (Resend).
//
//   DATA of the next block    written (several blocks to the file in one
//                             call); the window's last full block is
//                             acknowledged before it is written (the sender
//                             reads its next blocks meanwhile), and a failed
//                             write is answered with an ERROR before any
//                             later ACK; the short
//                             last block is written and the file made final
//                             before its ACK says it arrived whole
//   DATA of a block already   the sender did not hear our ACK: send the last
//   acknowledged              one again (not for a copy the network made
//                             within a few milliseconds, nor for each block
//                             of a window sent again)
//   DATA of a later block of  a block was lost: acknowledge the last block in
//   the window                order at once, once, so that the sender starts
//                             again after it; the later blocks are dropped
//   anything else             ignored
//
// After the last block the receiver still answers a repeat of it, for as
// long as its owner keeps the socket open.
#pragma once

#include "common/local_file.h"
#include "common/packet_sink.h"
#include "common/retransmit_timer.h"

#include <cstdint>
#include <vector>

namespace tftp {

class TransferReceiver {
public:
    // A repeat of the block last acknowledged that comes this soon after its
    // ACK went out is a copy the network made.
    static constexpr int kDuplicateGuardMs = 20;
    // What the blocks may hold back from the file: at least this much, at
    // most a window's worth up to the bound.
    static constexpr std::size_t kMinWriteBehind = 64 * 1024;
    static constexpr std::size_t kMaxWriteBehind = 1 << 20;

    TransferReceiver(LocalFileWriter& file, PacketSink& out) : file_(file), out_(out) {}

    // Expects block 1 next, in blocks of blockSize bytes, window blocks per
    // ACK (1 to 65535).
    void Begin(int blockSize, int window = 1);
    // Sends the answer to the request (ACK 0, or an OACK) and keeps it to send
    // again until block 1 comes.
    void AnswerRequest(const std::uint8_t* packet, int length, std::int64_t nowMs);

    enum class Step {
        Ignored,          // nothing changed
        Reacknowledged,   // a repeat or a gap: the last ACK went out again
        Written,          // a full block was written (and acknowledged when it ended a window)
        Done,             // the last block was written and acknowledged
        WriteFailed,      // the file took fewer bytes than it was given (no ACK for a last block)
        FinishFailed,     // all written, but the file could not be made final (no last ACK)
    };
    // A DATA packet of length bytes (4 or more).
    Step OnData(const std::uint8_t* packet, int length, std::int64_t nowMs);

    // Nothing has come for longer than the round trip allows, and the last
    // answer has not been sent again since the last block (or blocks of a
    // window have come unacknowledged).
    bool ResendDue(std::int64_t nowMs) const;
    // Sends the last answer again (the last ACK, or the answer to the
    // request). False when there is none.
    bool Resend(std::int64_t nowMs);

    std::int64_t BytesWritten() const { return bytesWritten_; }
    std::int64_t Blocks() const { return blocks_; }
    std::uint64_t LastBlock() const { return lastBlock_; }  // counter of the block last written
    bool Finished() const { return finished_; }
    int BlockSize() const { return blockSize_; }
    int Window() const { return window_; }
    int Retransmissions() const { return timer_.Resends(); }

private:
    void SendAck(std::uint64_t block, std::int64_t nowMs, bool again);

    LocalFileWriter& file_;
    PacketSink& out_;
    int blockSize_ = 512;
    int window_ = 1;
    std::uint64_t lastBlock_ = 0;
    std::uint64_t ackedBlock_ = 0;  // counter of the block last acknowledged: a window starts after it
    bool gapReported_ = false;      // a gap was acknowledged; the next block in order ends it
    int aheadSeen_ = 0;             // how far ahead the last block past a gap lay
    std::int64_t lastAckAtMs_ = 0;
    std::int64_t lastHeardMs_ = 0;   // when the last block in order came
    std::int64_t bytesWritten_ = 0;
    std::int64_t blocks_ = 0;
    bool finished_ = false;
    std::vector<std::uint8_t> requestAnswer_;
    RetransmitTimer timer_;
};

}  // namespace tftp
