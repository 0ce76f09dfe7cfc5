#include "transfer_session.h"

#include <algorithm>
#include <limits>

namespace tftp {
namespace {

// Room for any ERROR, ACK or OACK a session sends (the largest, an OACK with
// a 20-digit tsize, is about 70 bytes).
constexpr std::size_t kSmallPacket = 128;

}  // namespace

TransferSession::TransferSession(SessionRole role, SessionLink& link)
    : role_(role), link_(link), peerKnown_(!Client()) {}

void TransferSession::SetPeer(const platform::PeerAddress& peer) { peer_ = peer; }

void TransferSession::CloseFile() {
    reader_.Close();
    writer_.Close();
}

void TransferSession::SendPacket(const std::uint8_t* data, int length) {
    if (length > 0) link_.Send(data, length, peer_);
}

void TransferSession::SendPackets(const PacketView* packets, int count) {
    link_.SendBatch(packets, count, peer_);
}

void TransferSession::End(SessionEnd end, std::string text) {
    CloseFile();
    result_.end = end;
    if (!text.empty()) result_.text = std::move(text);
}

void TransferSession::EndSending(int code, SessionEnd end) {
    std::uint8_t packet[kSmallPacket];
    const std::string_view text = ErrorText(code);
    SendPacket(packet, static_cast<int>(BuildError(packet, sizeof packet, static_cast<std::uint16_t>(code), text)));
    result_.sentCode = code;
    End(end, std::string(text));
}

void TransferSession::Fail(int code, std::string_view text) {
    if (!Running()) return;
    if (code < 0) {
        End(SessionEnd::Refused);
        return;
    }
    const std::string said(text.empty() ? ErrorText(code) : text);
    std::uint8_t packet[kSmallPacket];
    SendPacket(packet, static_cast<int>(BuildError(packet, sizeof packet, static_cast<std::uint16_t>(code), said)));
    result_.sentCode = code;
    End(SessionEnd::Refused, said);
}

void TransferSession::FailOptions() {
    if (!Running()) return;
    std::uint8_t packet[kSmallPacket];
    SendPacket(packet, static_cast<int>(BuildOptionFailure(packet, sizeof packet)));
    result_.sentCode = kErrOptionNegotiation;
    End(SessionEnd::OptionsUnusable, std::string(ErrorText(kErrUndefined)));
}

// ---- server -----------------------------------------------------------------

bool TransferSession::AcceptOptions(const std::vector<Option>& offered, const ServerOptionRules& rules) {
    const ServerOptionChoice choice = ChooseServerOptions(offered, rules);
    if (choice.blockSizeRefused) {
        FailOptions();
        return false;
    }
    timeoutSecs_ = choice.timeoutSecs;
    echo_ = choice.echo;
    window_ = choice.window;
    const bool newBlockSize = choice.blockSize != 0 && choice.blockSize != blockSize_;
    if (newBlockSize) blockSize_ = choice.blockSize;
    if ((newBlockSize || window_ > 1) && !link_.SizeBuffers(blockSize_, window_, Sending())) {
        FailOptions();
        return false;
    }
    // Only an upload with a window has several datagrams waiting at a time.
    link_.ExpectBursts(ReceivesWindows());
    // The OACK carries what the buffers allow.
    if (echo_.Get(OptionName::Blksize)) echo_.Set(OptionName::Blksize, static_cast<std::uint64_t>(blockSize_));
    if (echo_.Get(OptionName::Windowsize)) echo_.Set(OptionName::Windowsize, static_cast<std::uint64_t>(window_));
    return true;
}

void TransferSession::SendOack(std::int64_t nowMs, bool again) {
    std::uint8_t packet[kSmallPacket];
    SendPacket(packet, static_cast<int>(BuildOack(packet, sizeof packet, echo_)));
    oackTimer_.Sent(nowMs, again);
}

SessionEvent TransferSession::AnswerRead(std::int64_t fileSize, std::int64_t nowMs) {
    if (!sender_.Begin(blockSize_, fileSize, window_)) {
        EndSending(kErrDiskFull, SessionEnd::NoBuffers);
        return SessionEvent::Ended;
    }
    if (echo_.Any()) {
        if (echo_.Get(OptionName::Tsize)) echo_.Set(OptionName::Tsize, static_cast<std::uint64_t>(fileSize));
        awaitingAck0_ = true;
        SendOack(nowMs, false);
        return SessionEvent::None;
    }
    exchanging_ = true;
    return OnSenderStep(sender_.SendFirst(nowMs));
}

void TransferSession::AnswerWrite(std::int64_t nowMs) {
    receiver_.Begin(blockSize_, window_);
    exchanging_ = true;
    // With nothing to echo the answer is a plain ACK 0.
    std::uint8_t answer[kSmallPacket];
    const std::size_t length =
        echo_.Any() ? BuildOack(answer, sizeof answer, echo_) : BuildAck(answer, sizeof answer, 0);
    receiver_.AnswerRequest(answer, static_cast<int>(length), nowMs);
}

bool TransferSession::ResendNow(std::int64_t nowMs) {
    if (!Running()) return false;
    bool resent = true;
    if (awaitingAck0_) {
        // The OACK itself went unanswered: offer it again. Block 1 instead
        // would give the client a block size it never saw.
        SendOack(nowMs, true);
    } else if (Sending()) {
        sender_.Resend(nowMs);
    } else {
        resent = receiver_.Resend(nowMs);
    }
    if (resent) ++retransmissions_;
    return resent;
}

// ---- client -----------------------------------------------------------------

void TransferSession::SetRequest(Opcode opcode, std::string_view remoteName, std::string_view mode,
                                 const RequestOffer& offer) {
    requestOpcode_ = opcode;
    remoteName_ = remoteName;
    mode_ = mode;
    offer_ = offer;
    offer_.noOptions = optionsRefused_;
    blockSize_ = static_cast<int>(offer.blockSize);
    askedWindow_ = static_cast<int>(std::max<std::uint32_t>(offer.window, 1));
    offeredTimeout_ = offer.offerTimeout ? static_cast<int>(offer.timeoutSecs) : 0;
    // A buffer of its own: a long name does not fit a packet buffer sized
    // for a small block.
    request_.resize(remoteName.size() + mode.size() + 64);
    request_.resize(BuildRequest(request_.data(), request_.size(), opcode, remoteName, mode, offer_));
    offeredOptions_ = !optionsRefused_ && (opcode == kRrq || offer.offerTimeout ||
                                           offer.blockSize != kDefaultBlockSize || offer.window > 1);
}

void TransferSession::AddressRequest(const platform::PeerAddress& to) {
    requestTo_ = peer_ = to;
    peerKnown_ = false;
    requestTimer_ = RetransmitTimer{};
}

bool TransferSession::SendRequest(std::int64_t nowMs, bool again) {
    const int length = static_cast<int>(request_.size());
    const bool whole = link_.Send(request_.data(), length, peer_) == length;
    if (whole || again) requestTimer_.Sent(nowMs, again);
    return whole;
}

// ---- datagrams --------------------------------------------------------------

TransferSession::Step TransferSession::Stranger(const platform::PeerAddress& from,
                                                const std::uint8_t* data, int length) {
    // An ERROR is never answered, so two confused hosts cannot keep each
    // other busy. A datagram too long to read whole still has its opcode.
    if ((length < 0 || length >= 2) && GetU16(data) == kError) return {};
    std::uint8_t packet[kSmallPacket];
    const std::size_t n =
        BuildError(packet, sizeof packet, kErrUnknownTransferId, ErrorText(kErrUnknownTransferId));
    link_.Send(packet, static_cast<int>(n), from);
    return {SessionEvent::Stranger, false};
}

TransferSession::Step TransferSession::OnDatagram(const platform::PeerAddress& from,
                                                  const std::uint8_t* data, int length,
                                                  std::int64_t nowMs) {
    if (!Running()) {
        if (!Lingering()) return {};
        if (nowMs >= lingerUntilMs_) {
            lingerUntilMs_ = 0;
            return {};
        }
        // Only a repeat of the last block is answered, with the last ACK.
        if (from == peer_ && length >= kHeaderLength && length <= blockSize_ + kHeaderLength &&
            GetU16(data) == kData)
            receiver_.OnData(data, length, nowMs);
        return {};
    }
    // Before the first reply the server's transfer port is not known yet:
    // any port of the host the request went to will do.
    const bool fromPeer = peerKnown_ ? from == peer_ : from.SameHost(peer_);
    if (!fromPeer) return Stranger(from, data, length);
    // Too long for the block size, or too short for an opcode and a block
    // number: dropped.
    if (length < kHeaderLength) return {};
    const std::uint16_t opcode = GetU16(data);
    if (!peerKnown_) {
        peer_ = from;  // the server's transfer port, learnt from its first reply
        peerKnown_ = true;
        requestTimer_.Answered(nowMs);
        // A server that answers with DATA or ACK has taken no option: it
        // works with 512-byte blocks, and so must we, or its first full block
        // would look like the last one.
        if ((opcode == kData || opcode == kAck) && blockSize_ != kDefaultBlockSize) {
            blockSize_ = kDefaultBlockSize;
            link_.BlockSizeChanged(blockSize_);
        }
    }
    if (opcode == kData && length > blockSize_ + kHeaderLength) return {};
    heard_ = true;
    SessionEvent event;
    if (Client()) event = OnClient(opcode, data, length, nowMs);
    else if (Sending()) event = OnServerRead(opcode, data, length, nowMs);
    else event = OnServerWrite(opcode, data, length, nowMs);
    return {event, true};
}

SessionEvent TransferSession::OnPeerError(const std::uint8_t* p, int length) {
    End(SessionEnd::PeerError);
    result_.text = ReadErrorText(p, static_cast<std::size_t>(length));
    return SessionEvent::Ended;
}

SessionEvent TransferSession::OnServerRead(std::uint16_t opcode, const std::uint8_t* p, int length,
                                           std::int64_t nowMs) {
    if (opcode == kError) return OnPeerError(p, length);
    if (opcode != kAck) return SessionEvent::None;
    const std::uint16_t block = GetU16(p + 2);
    if (awaitingAck0_) {
        // After the OACK only ACK 0 starts the data.
        if (block != 0) return SessionEvent::None;
        awaitingAck0_ = false;
        exchanging_ = true;
        return OnSenderStep(sender_.SendFirst(nowMs));
    }
    return OnSenderStep(sender_.OnAck(block, nowMs));
}

SessionEvent TransferSession::OnServerWrite(std::uint16_t opcode, const std::uint8_t* p, int length,
                                            std::int64_t nowMs) {
    if (opcode == kError) return OnPeerError(p, length);
    if (opcode != kData) return SessionEvent::None;
    return OnReceiverStep(receiver_.OnData(p, length, nowMs), nowMs);
}

SessionEvent TransferSession::OnSenderStep(TransferSender::Step step) {
    switch (step) {
    case TransferSender::Step::Ignored:
        return SessionEvent::None;
    case TransferSender::Step::Resent:
        ++retransmissions_;
        return SessionEvent::Resent;
    case TransferSender::Step::Done:
        End(SessionEnd::Finished);
        return SessionEvent::Ended;
    case TransferSender::Step::ReadFailed:
        EndSending(kErrDiskFull, SessionEnd::ReadFailed);
        return SessionEvent::Ended;
    case TransferSender::Step::Sent:
        break;
    }
    return SessionEvent::Sent;
}

SessionEvent TransferSession::OnReceiverStep(TransferReceiver::Step step, std::int64_t nowMs) {
    switch (step) {
    case TransferReceiver::Step::Ignored:
    case TransferReceiver::Step::Reacknowledged:
        return SessionEvent::None;
    case TransferReceiver::Step::WriteFailed:
        EndSending(kErrDiskFull, SessionEnd::WriteFailed);
        return SessionEvent::Ended;
    case TransferReceiver::Step::FinishFailed:
        // Everything was written; only the name could not be given. A
        // server has always said so as an access violation, a client as a
        // full disk.
        EndSending(Client() ? kErrDiskFull : kErrAccessViolation, SessionEnd::FinishFailed);
        return SessionEvent::Ended;
    case TransferReceiver::Step::Written:
        return SessionEvent::Written;
    case TransferReceiver::Step::Done:
        break;
    }
    End(SessionEnd::Finished);
    // The sender may not have heard the last ACK: it sends the last block
    // again, which is answered until the linger ends.
    lingerUntilMs_ = std::max<std::int64_t>(1, nowMs + LingerMs(timeoutSecs_));
    return SessionEvent::Ended;
}

bool TransferSession::TakeOack(const std::uint8_t* p, int length) {
    for (const Option& option : ReadOptions(p, static_cast<std::size_t>(length), 2)) {
        if (option.name == OptionName::Tsize && role_ == SessionRole::ClientRead) {
            tsize_ = static_cast<std::int64_t>(
                std::min<std::uint64_t>(option.value, std::numeric_limits<std::int64_t>::max()));
        } else if (option.name == OptionName::Timeout && offeredTimeout_ > 0) {
            timeoutSecs_ = static_cast<int>(std::min<std::uint64_t>(option.value, kMaxTimeoutOption));
        } else if (option.name == OptionName::Windowsize) {
            // A server may agree to a smaller window than asked, never a
            // larger one; nothing at all means lock-step.
            window_ = static_cast<int>(
                std::clamp<std::uint64_t>(option.value, 1, static_cast<std::uint64_t>(askedWindow_)));
        } else if (option.name == OptionName::Blksize &&
                   option.value != static_cast<std::uint64_t>(blockSize_)) {
            // A size no DATA packet can carry, or one our socket cannot take
            // whole, cannot be agreed to.
            const OptionInfo& info = InfoOf(OptionName::Blksize);
            if (option.value < info.minValue || option.value > info.maxValue) {
                EndSending(kErrUndefined, SessionEnd::OptionsUnusable);
                return false;
            }
            const int agreed = static_cast<int>(option.value);
            blockSize_ = agreed;
            int window = window_;
            if (!link_.SizeBuffers(blockSize_, window, Sending()) || blockSize_ != agreed) {
                EndSending(kErrUndefined, SessionEnd::OptionsUnusable);
                return false;
            }
        }
    }
    return true;
}

SessionEvent TransferSession::StartSending(std::int64_t nowMs) {
    if (!sender_.Begin(blockSize_, -1, window_)) {
        EndSending(kErrUndefined, SessionEnd::NoBuffers);
        return SessionEvent::Ended;
    }
    exchanging_ = true;
    return OnSenderStep(sender_.SendFirst(nowMs));
}

SessionEvent TransferSession::OnClient(std::uint16_t opcode, const std::uint8_t* p, int length,
                                       std::int64_t nowMs) {
    switch (opcode) {
    case kError:
        // A server that does not take options (or not these) may say so with
        // ERROR 8 to the request: ask once more without any, in 512-byte blocks.
        if (!exchanging_ && offeredOptions_ && GetU16(p + 2) == kErrTransferAborted) {
            optionsRefused_ = true;
            if (blockSize_ != kDefaultBlockSize) {
                blockSize_ = kDefaultBlockSize;
                link_.BlockSizeChanged(blockSize_);
            }
            RequestOffer offer = offer_;
            offer.blockSize = kDefaultBlockSize;
            SetRequest(requestOpcode_, std::string(remoteName_), std::string(mode_), offer);
            peer_ = requestTo_;
            peerKnown_ = false;
            SendRequest(nowMs, true);
            return SessionEvent::AskedAgain;
        }
        // The server has given up: answer nothing.
        return OnPeerError(p, length);
    case kOptionFailure:
        EndSending(kErrOptionNegotiation, SessionEnd::PeerOptionFailure);
        return SessionEvent::Ended;
    case kOack:
        if (exchanging_) {
            // The OACK stands for ACK 0. Sending: the server asks for block 1
            // again. Fetching: it did not hear our ACK 0 and offers again; a
            // late copy after the first block changes nothing.
            if (Sending()) return OnSenderStep(sender_.OnAck(0, nowMs));
            if (receiver_.LastBlock() == 0 && receiver_.Resend(nowMs)) ++retransmissions_;
            return SessionEvent::None;
        }
        if (!TakeOack(p, length)) return SessionEvent::Ended;
        if (Sending()) return StartSending(nowMs);
        {
            // A window of DATA arrives as a burst.
            link_.ExpectBursts(ReceivesWindows());
            receiver_.Begin(blockSize_, window_);
            exchanging_ = true;
            std::uint8_t ack[4];
            receiver_.AnswerRequest(ack, static_cast<int>(BuildAck(ack, sizeof ack, 0)), nowMs);
        }
        return SessionEvent::OptionsTaken;
    case kAck:
        if (!Sending()) break;
        if (!exchanging_) return GetU16(p + 2) == 0 ? StartSending(nowMs) : SessionEvent::None;
        return OnSenderStep(sender_.OnAck(GetU16(p + 2), nowMs));
    case kData:
        if (Sending()) break;
        if (!exchanging_) {
            receiver_.Begin(blockSize_);
            exchanging_ = true;
        }
        return OnReceiverStep(receiver_.OnData(p, length, nowMs), nowMs);
    default:
        break;
    }
    EndSending(kErrIllegalOperation, SessionEnd::UnknownOpcode);
    result_.opcode = opcode;
    return SessionEvent::Ended;
}

// ---- time -------------------------------------------------------------------

bool TransferSession::Tick(std::int64_t nowMs) {
    if (Lingering() && nowMs >= lingerUntilMs_) lingerUntilMs_ = 0;
    if (!Running()) return false;
    bool resent = false;
    if (Client() && !exchanging_) {
        // No usable answer yet: the request itself may have been lost.
        if (!peerKnown_ && requestTimer_.Due(nowMs)) {
            SendRequest(nowMs, true);
            resent = true;
        }
    } else if (awaitingAck0_) {
        if (oackTimer_.Due(nowMs)) {
            SendOack(nowMs, true);
            resent = true;
        }
    } else if (Sending()) {
        resent = sender_.ResendDue(nowMs) && sender_.Resend(nowMs);
    } else {
        // Once per silence: the sender resends its own blocks.
        resent = receiver_.ResendDue(nowMs) && receiver_.Resend(nowMs);
    }
    if (resent) ++retransmissions_;
    return resent;
}

}  // namespace tftp
