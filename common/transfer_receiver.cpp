#include "transfer_receiver.h"

#include "common/tftp_packet.h"

namespace tftp {

void TransferReceiver::Begin(int blockSize) {
    blockSize_ = blockSize;
    lastBlock_ = 0;
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
    timer_.Sent(nowMs, again);
}

TransferReceiver::Step TransferReceiver::OnData(const std::uint8_t* packet, int length,
                                                std::int64_t nowMs) {
    if (length < kHeaderLength) return Step::Ignored;
    const std::uint16_t block = GetU16(packet + 2);
    if (!finished_ && SameBlock(block, lastBlock_ + 1)) {
        timer_.Answered(nowMs);
        const bool last = length < blockSize_ + kHeaderLength;
        // A full block is acknowledged before it is written, so that the
        // sender reads its next block meanwhile; a failed write then ends the
        // transfer with an ERROR instead.
        if (!last) SendAck(lastBlock_ + 1, nowMs, false);
        const std::int64_t written = file_.Write(packet + kHeaderLength, length - kHeaderLength);
        if (written < 0) return Step::WriteFailed;
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
    if (lastBlock_ > 0 && SameBlock(block, lastBlock_)) {
        if (nowMs - timer_.SentAt() < kDuplicateGuardMs) return Step::Ignored;
        SendAck(lastBlock_, nowMs, true);
        return Step::Reacknowledged;
    }
    return Step::Ignored;
}

bool TransferReceiver::ResendDue(std::int64_t nowMs) const {
    if (finished_ || timer_.Resends() > 0) return false;
    if (lastBlock_ == 0 && requestAnswer_.empty()) return false;
    return timer_.Due(nowMs);
}

bool TransferReceiver::Resend(std::int64_t nowMs) {
    if (finished_) return false;
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
