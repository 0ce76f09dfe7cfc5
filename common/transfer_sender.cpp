#include "transfer_sender.h"

#include "common/tftp_packet.h"

#include <algorithm>
#include <new>

namespace tftp {

bool TransferSender::Begin(int blockSize, std::int64_t limit, int window) {
    blockSize_ = blockSize;
    limit_ = limit;
    window_ = std::clamp(window, 1, kMaxWindow);
    bytesRead_ = bytesSent_ = 0;
    firstUnacked_ = nextBlock_ = 1;
    inFlight_ = 0;
    lastCount_ = 0;
    lastBlockSent_ = readFailed_ = false;
    aheadCount_ = -1;
    extraAcksExpected_ = 0;
    timer_ = RetransmitTimer{};
    // The block ahead's buffer is had now; a slot's when the window first
    // reaches it, so that a large window costs memory only for a large file.
    try {
        slots_.assign(static_cast<std::size_t>(window_), Slot{});
        batch_.clear();
        ahead_.resize(static_cast<std::size_t>(blockSize + kHeaderLength));
    } catch (const std::bad_alloc&) {
        slots_.clear();
        return false;
    }
    return true;
}

bool TransferSender::ReadAhead() {
    if (readFailed_) return false;
    int n = blockSize_;
    if (limit_ >= 0) {
        const std::int64_t left = limit_ - bytesRead_;
        if (left < 0) {
            readFailed_ = true;
            return false;
        }
        if (left < n) n = static_cast<int>(left);
    }
    try {
        const auto size = static_cast<std::size_t>(blockSize_ + kHeaderLength);
        if (ahead_.size() < size) ahead_.resize(size);
    } catch (const std::bad_alloc&) {
        readFailed_ = true;
        return false;
    }
    // Read even when nothing is left: the empty last block is a block too.
    const int count = file_.Read(ahead_.data() + kHeaderLength, n);
    if (count < 0) {
        readFailed_ = true;
        return false;
    }
    aheadCount_ = count;
    bytesRead_ += count;
    return true;
}

TransferSender::Step TransferSender::FillWindow(std::int64_t nowMs) {
    bool sent = false;
    while (!lastBlockSent_ && inFlight_ < window_) {
        if (aheadCount_ < 0 && !ReadAhead()) return Step::ReadFailed;
        Slot& slot = SlotOf(nextBlock_);
        slot.packet.swap(ahead_);
        const int count = aheadCount_;
        aheadCount_ = -1;
        PutDataHeader(slot.packet.data(), WireBlock(nextBlock_));
        slot.length = count + kHeaderLength;
        slot.timesSent = 1;
        batch_.push_back(PacketView{slot.packet.data(), slot.length});
        bytesSent_ += count;
        lastCount_ = count;
        ++nextBlock_;
        ++inFlight_;
        if (count < blockSize_) lastBlockSent_ = true;
        sent = true;
    }
    Flush();
    if (sent) timer_.Sent(nowMs, false);
    // Read the following block while the receiver handles these; a failure
    // is reported when that block is due.
    if (!lastBlockSent_ && aheadCount_ < 0) ReadAhead();
    return sent ? Step::Sent : Step::Ignored;
}

TransferSender::Step TransferSender::SendFirst(std::int64_t nowMs) {
    if (slots_.empty()) return Step::ReadFailed;
    return FillWindow(nowMs);
}

TransferSender::Step TransferSender::OnAck(std::uint16_t block, std::int64_t nowMs) {
    // Where the ACK falls, counted from the oldest block in flight.
    const int offset = static_cast<std::uint16_t>(block - WireBlock(firstUnacked_));
    if (offset < inFlight_) {
        const std::uint64_t k = firstUnacked_ + static_cast<std::uint64_t>(offset);
        timer_.Answered(nowMs);
        // Each extra copy of block k sent may draw one more ACK of it.
        extraAcksExpected_ = SlotOf(k).timesSent - 1;
        inFlight_ -= offset + 1;
        firstUnacked_ = k + 1;
        if (lastBlockSent_ && inFlight_ == 0) return Step::Done;
        // Short of the window's end: the blocks after k were dropped.
        if (inFlight_ > 0) ResendWindow(nowMs, false);
        const Step step = FillWindow(nowMs);
        return step == Step::ReadFailed ? step : Step::Sent;
    }
    if (inFlight_ == 0 || !SameBlock(block, firstUnacked_ - 1)) return Step::Ignored;
    // The block before the window acknowledged again.
    if (extraAcksExpected_ > 0) {
        --extraAcksExpected_;
        return Step::Ignored;
    }
    if (window_ == 1) {
        if (nowMs - timer_.SentAt() < kDuplicateGuardMs) return Step::Ignored;
    } else if (SlotOf(firstUnacked_).timesSent > 1) {
        // The window's first block went out again already and is lost once
        // more (or still on its way): the time-out resends it, later each
        // time, rather than a stream of resends at the rate of the reports.
        return Step::Ignored;
    }
    ResendWindow(nowMs, true);
    return Step::Resent;
}

bool TransferSender::Resend(std::int64_t nowMs) {
    if (inFlight_ == 0) return false;
    ResendWindow(nowMs, true);
    return true;
}

void TransferSender::ResendWindow(std::int64_t nowMs, bool again) {
    for (std::uint64_t k = firstUnacked_; k < nextBlock_; ++k) {
        Slot& slot = SlotOf(k);
        batch_.push_back(PacketView{slot.packet.data(), slot.length});
        ++slot.timesSent;
    }
    Flush();
    timer_.Sent(nowMs, again);
}

void TransferSender::Flush() {
    if (batch_.empty()) return;
    out_.SendPackets(batch_.data(), static_cast<int>(batch_.size()));
    batch_.clear();
}

}  // namespace tftp
