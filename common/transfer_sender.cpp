#include "transfer_sender.h"

#include "common/tftp_packet.h"

#include <new>

namespace tftp {

bool TransferSender::Begin(int blockSize, std::int64_t limit, int window) {
    blockSize_ = blockSize;
    limit_ = limit;
    window_ = window < 1 ? 1 : window;
    bytesRead_ = bytesSent_ = 0;
    firstUnacked_ = nextBlock_ = 1;
    inFlight_ = 0;
    lastCount_ = 0;
    lastBlockSent_ = readFailed_ = false;
    aheadCount_ = -1;
    extraAcksExpected_ = 0;
    timer_ = RetransmitTimer{};
    // Every buffer is had now: none is allocated per block.
    const auto size = static_cast<std::size_t>(blockSize + kHeaderLength);
    try {
        slots_.resize(static_cast<std::size_t>(window_));
        for (Slot& slot : slots_) slot.packet.resize(size);
        ahead_.resize(size);
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
        out_.SendPacket(slot.packet.data(), slot.length);
        bytesSent_ += count;
        lastCount_ = count;
        ++nextBlock_;
        ++inFlight_;
        if (count < blockSize_) lastBlockSent_ = true;
        sent = true;
    }
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
    for (std::uint64_t k = firstUnacked_; k < nextBlock_; ++k) {
        if (!SameBlock(block, k)) continue;
        timer_.Answered(nowMs);
        // Each extra copy of block k sent draws one more ACK of it.
        extraAcksExpected_ = SlotOf(k).timesSent - 1;
        inFlight_ -= static_cast<int>(k - firstUnacked_ + 1);
        firstUnacked_ = k + 1;
        if (lastBlockSent_ && inFlight_ == 0) return Step::Done;
        const Step step = FillWindow(nowMs);
        return step == Step::Ignored ? Step::Sent : step;
    }
    if (inFlight_ == 0 || !SameBlock(block, firstUnacked_ - 1)) return Step::Ignored;
    // The block before the window acknowledged again.
    if (extraAcksExpected_ > 0) {
        --extraAcksExpected_;
        return Step::Ignored;
    }
    if (nowMs - timer_.SentAt() < kDuplicateGuardMs) return Step::Ignored;
    ResendWindow(nowMs);
    return Step::Resent;
}

bool TransferSender::Resend(std::int64_t nowMs) {
    if (inFlight_ == 0) return false;
    ResendWindow(nowMs);
    return true;
}

void TransferSender::ResendWindow(std::int64_t nowMs) {
    for (std::uint64_t k = firstUnacked_; k < nextBlock_; ++k) {
        Slot& slot = SlotOf(k);
        out_.SendPacket(slot.packet.data(), slot.length);
        ++slot.timesSent;
    }
    timer_.Sent(nowMs, true);
}

}  // namespace tftp
