#include "transfer_receiver.h"

#include "common/tftp_packet.h"

#include <algorithm>

namespace tftp {

void TransferReceiver::Begin(int blockSize, int window) {
    blockSize_ = blockSize;
    window_ = std::clamp(window, kMinWindow, kMaxWindow);
    // Blocks go to the file several at a time, at least a window's worth
    // (within a bound, for very wide windows of large blocks). An ACK for a
    // block still held back promises no more than one for a block written
    // (both programs write beside the file until the last block is in): the
    // transfer ends with an ERROR if it cannot be written.
    const std::size_t windowBytes =
        static_cast<std::size_t>(window_) * static_cast<std::size_t>(std::max(blockSize, 0));
    file_.WriteBehind(std::clamp(windowBytes, kMinWriteBehind, kMaxWriteBehind));
    lastBlock_ = ackedBlock_ = 0;
    gapReported_ = false;
    aheadSeen_ = 0;
    lastAckAtMs_ = -kDuplicateGuardMs;
    bytesWritten_ = blocks_ = 0;
    finished_ = false;
    requestAnswer_.clear();
    timer_ = RetransmitTimer{};
}

void TransferReceiver::AnswerRequest(const std::uint8_t* packet, int length, std::int64_t nowMs) {
    requestAnswer_.assign(packet, packet + length);
    out_.SendPacket(packet, length);
    timer_.Sent(nowMs, false);
}

void TransferReceiver::SendAck(std::uint64_t block, std::int64_t nowMs, bool again) {
    std::uint8_t ack[kHeaderLength];
    out_.SendPacket(ack, static_cast<int>(BuildAck(ack, sizeof ack, WireBlock(block))));
    ackedBlock_ = block;
    lastAckAtMs_ = nowMs;
    timer_.Sent(nowMs, again);
}

TransferReceiver::Step TransferReceiver::OnData(const std::uint8_t* packet, int length,
                                                std::int64_t nowMs) {
    if (length < kHeaderLength) return Step::Ignored;
    const std::uint16_t block = GetU16(packet + 2);
    // How far the block lies ahead of the next one expected, and behind it.
    // A window as wide as the block numbers splits them half and half.
    const int ahead = static_cast<std::uint16_t>(block - WireBlock(lastBlock_ + 1));
    const int behind = static_cast<std::uint16_t>(WireBlock(lastBlock_ + 1) - block);
    const int reach = std::min(window_, 32768);
    if (!finished_ && ahead == 0) {
        timer_.Answered(nowMs);
        lastHeardMs_ = nowMs;
        gapReported_ = false;
        aheadSeen_ = 0;
        const bool last = length < blockSize_ + kHeaderLength;
        // The full block that ends a window is acknowledged before it is
        // written, so that the sender reads its next blocks meanwhile; a
        // failed write then ends the transfer with an ERROR instead.
        if (!last && lastBlock_ + 1 - ackedBlock_ >= static_cast<std::uint64_t>(window_))
            SendAck(lastBlock_ + 1, nowMs, false);
        const std::int64_t written = file_.Write(packet + kHeaderLength, length - kHeaderLength);
        if (written < 0 || (last && !file_.Flush())) return Step::WriteFailed;
        bytesWritten_ += written;
        ++blocks_;
        ++lastBlock_;
        if (!last) return Step::Written;
        // The ACK of the last block tells the sender the file arrived whole.
        if (!file_.Finish()) return Step::FinishFailed;
        finished_ = true;
        SendAck(lastBlock_, nowMs, false);
        return Step::Done;
    }
    // A repeat of a block already acknowledged: our ACK was lost. (A repeat
    // of one not yet acknowledged is the sender starting again after a gap
    // we reported, or after its time-out; the window's ACK answers it.)
    const bool acknowledged = static_cast<std::uint64_t>(behind) >= lastBlock_ + 1 - ackedBlock_;
    if (behind >= 1 && behind <= reach && static_cast<std::uint64_t>(behind) <= lastBlock_ && acknowledged) {
        if (nowMs - lastAckAtMs_ < kDuplicateGuardMs) return Step::Ignored;
        SendAck(lastBlock_, nowMs, true);
        return Step::Reacknowledged;
    }
    // A later block of the window: the one expected was lost. Reported once,
    // and again when the sender's next try skips it as well (a block no
    // further ahead than one seen since the report).
    if (!finished_ && ahead >= 1 && ahead < std::min(window_, 32767)) {
        const bool newTry = ahead < aheadSeen_;
        aheadSeen_ = ahead;
        if (gapReported_ && !newTry) return Step::Ignored;
        gapReported_ = true;
        SendAck(lastBlock_, nowMs, false);
        return Step::Reacknowledged;
    }
    return Step::Ignored;
}

bool TransferReceiver::ResendDue(std::int64_t nowMs) const {
    if (finished_) return false;
    // Blocks of a window came and then nothing: the rest of it was lost.
    // The sender's time-out comes first and sends the window again; this is
    // for when the same blocks are lost again (a buffer on the way that
    // holds only part of a window).
    if (lastBlock_ > ackedBlock_) return nowMs - lastHeardMs_ >= 2 * timer_.IntervalMs();
    if (timer_.Resends() > 0) return false;
    if (lastBlock_ == 0 && requestAnswer_.empty()) return false;
    return timer_.Due(nowMs);
}

bool TransferReceiver::Resend(std::int64_t nowMs) {
    if (finished_) return false;
    if (lastBlock_ > ackedBlock_) {
        // What did come is acknowledged: the sender goes on after it.
        SendAck(lastBlock_, nowMs, false);
        return true;
    }
    if (lastBlock_ > 0) {
        SendAck(lastBlock_, nowMs, true);
        return true;
    }
    if (requestAnswer_.empty()) return false;
    out_.SendPacket(requestAnswer_.data(), static_cast<int>(requestAnswer_.size()));
    timer_.Sent(nowMs, true);
    return true;
}

}  // namespace tftp
