#include "tftp_transfer.h"

#include "common/port_range.h"
#include "common/requested_name.h"
#include "common/socket_room.h"
#include "common/tftp_options.h"
#include "platform/port_range_socket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <sys/stat.h>

using namespace tftp;

namespace {

// Room for any ERROR, ACK or OACK the server sends (the largest, an OACK with
// a 20-digit tsize, is about 70 bytes).
constexpr std::size_t kSmallPacket = 128;

}  // namespace

CTftpTransfer::CTftpTransfer(ServerContext& app)
    : app_(app), buffer_(static_cast<std::size_t>(kDefaultBlockSize + kBufferSlack)) {
    lastActivity = app_.clock.Now();
}

CTftpTransfer::~CTftpTransfer() {
    CloseFile();
    Close();
}

void CTftpTransfer::SetRequest(const std::uint8_t* data, int length) {
    overlong_ = length > kMaxRequestLength;
    requestLength_ = std::clamp(length, 0, kMaxRequestLength);
    std::memset(request_, 0, sizeof request_);
    if (requestLength_ > 0) std::memcpy(request_, data, static_cast<std::size_t>(requestLength_));
}

void CTftpTransfer::EndUnstarted(const std::string& why) {
    opcode = ParseRequest(request_, static_cast<std::size_t>(requestLength_)).opcode;
    errorText = why;
    active = 0;
}

void CTftpTransfer::CloseFile() {
    reader_.Close();
    writer_.Close();
}

void CTftpTransfer::SendPacket(const std::uint8_t* data, int length) {
    if (length > 0) SendTo(data, length, peer);
}

void CTftpTransfer::SendPackets(const PacketView* packets, int count) {
    batch_.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) batch_[static_cast<std::size_t>(i)] = {packets[i].data, packets[i].length};
    SendBatch(batch_.data(), count, peer);
}

bool CTftpTransfer::OpenSocket() {
    const PortRange range = StoredPortRange(app_.settings.nPortRangeLow, app_.settings.nPortRangeHigh);
    if (range.Empty()) return Create(localAddress, 0, false);
    // From the port after the last one taken: a port just given up is not
    // the next one handed out, so a late datagram of an ended transfer
    // seldom meets a new one.
    if (!platform::CreateInPortRange(*this, localAddress, range.low, range.high, app_.nextRangePort, false))
        return false;
    app_.nextRangePort = LocalPort() + 1;
    return true;
}

void CTftpTransfer::HandleRequest() {
    requestFrom_ = peer;
    const Request request = ParseRequest(request_, static_cast<std::size_t>(requestLength_));
    opcode = request.opcode;
    const EngineSettings& settings = app_.settings;
    const std::string& folder = opcode == kRrq ? settings.OutPath : settings.InPath;

    if (!IsOpen() && !OpenSocket()) {
        // No socket of its own (no descriptor left, say): the listener tells
        // the client from its socket, and the result says why.
        errorText = "No socket: " + std::string(std::strerror(LastError()));
        active = 0;
        return;
    }
    // Without read notifications nothing the client sends is heard: the
    // transfer goes on and times out, and the user is told.
    if (!AsyncSelect()) app_.ReportFailure(EngineFailure::TransferNotifications);
    lastActivity = app_.clock.Now();

    // The client's name never leads out of the folder, nor (checked when the
    // file is opened) does a link in it; the forced file is the
    // administrator's own choice. A refused name is shown as it was asked.
    const bool forced = opcode == kRrq && settings.bForce == 1;
    const std::optional<std::string> relative =
        forced ? std::optional<std::string>(settings.ForceFile) : NameInFolder(request.fileName);
    path_ = FileInFolder(folder, relative ? *relative : request.fileName);
    app_.NotifyView(TransferFile{number, path_});

    // Longer than a request may be: only its start was read.
    if (overlong_) {
        SendError(kErrIllegalOperation);
        return;
    }
    if (IsNetasciiMode(request.mode)) {
        netascii_ = 1;
    } else if (IsOctetMode(request.mode)) {
        netascii_ = 0;
    } else {
        SendError(kErrIllegalOperation);
        return;
    }
    if (opcode == kWrq && settings.bRefuseUploads == 1) {
        SendError(kErrAccessViolation);
        return;
    }

    const ServerOptionChoice options = ChooseServerOptions(
        request.options, ServerOptionRules{settings.bAllowTsize != 0, settings.bAllowTimeout != 0,
                                           opcode == kRrq, settings.bAllowWindowsize != 0,
                                           settings.nMaxWindowsize, settings.nMaxBlksize});
    if (options.blockSizeRefused) {
        SendError(kErrOptionNegotiation);
        return;
    }
    timeoutOption = options.timeoutSecs;
    oack_ = options.echo;
    window_ = options.window;
    const bool newBlockSize = options.blockSize != 0 && options.blockSize != blockSize_;
    if (newBlockSize) blockSize_ = options.blockSize;
    if ((newBlockSize || window_ > 1) && !ResizeBuffers(opcode == kRrq ? 1 : 0)) return;
    // Only an upload with a window has several datagrams waiting at a time.
    ReadInBatches(opcode == kWrq && window_ > 1);
    if (oack_.Get(OptionName::Blksize)) oack_.Set(OptionName::Blksize, static_cast<std::uint64_t>(blockSize_));
    if (oack_.Get(OptionName::Windowsize)) oack_.Set(OptionName::Windowsize, static_cast<std::uint64_t>(window_));

    const bool nameAllowed = relative.has_value();
    const std::int64_t nowMs = app_.clock.NowMs();
    if (opcode == kRrq) {
        const bool opened = nameAllowed && reader_.Open(path_, netascii_ != 0, forced ? nullptr : &folder);
        if (!opened) {
            RefuseFile(kErrFileNotFound, nameAllowed ? errno : 0);
            return;
        }
        total_ = reader_.Size();
        if (!sender_.Begin(blockSize_, total_, window_)) {
            SendError(kErrDiskFull);  // no memory for the blocks
            return;
        }
        if (oack_.Any()) {
            if (oack_.Get(OptionName::Tsize)) oack_.Set(OptionName::Tsize, static_cast<std::uint64_t>(total_));
            awaitingAck0_ = true;
            SendOack(false);
        } else {
            SendNextBlock();
        }
        return;
    }

    struct stat existing {};
    if (settings.bNoReplace == 1 && nameAllowed && ::lstat(path_.c_str(), &existing) == 0) {
        SendError(kErrFileExists);
        return;
    }
    // Written beside the target and renamed over it once the last block is
    // in (the receiver's Finish): an upload lands whole or not at all.
    const bool created = nameAllowed && writer_.CreateReplacing(path_, netascii_ != 0, folder);
    if (!created) {
        RefuseFile(kErrAccessViolation, nameAllowed ? errno : 0);
        return;
    }
    total_ = 0;
    receiver_.Begin(blockSize_, window_);
    // With nothing to echo the answer is a plain ACK 0.
    std::uint8_t answer[kSmallPacket];
    const std::size_t length =
        oack_.Any() ? BuildOack(answer, sizeof answer, oack_) : BuildAck(answer, sizeof answer, 0);
    receiver_.AnswerRequest(answer, static_cast<int>(length), nowMs);
}

void CTftpTransfer::SendOack(bool again) {
    std::uint8_t packet[kSmallPacket];
    SendPacket(packet, static_cast<int>(BuildOack(packet, sizeof packet, oack_)));
    oackTimer_.Sent(app_.clock.NowMs(), again);
}

void CTftpTransfer::SendNextBlock() {
    OnSenderStep(sender_.SendFirst(app_.clock.NowMs()));
}

void CTftpTransfer::OnSenderStep(TransferSender::Step step) {
    if (step == TransferSender::Step::ReadFailed) {
        SendError(kErrDiskFull);
        return;
    }
    // netascii: what goes on the wire is shorter than the file on disk.
    if (netascii_ && sender_.LastBlockSent()) total_ = sender_.BytesSent();
}

bool CTftpTransfer::IsRepeatOf(const platform::PeerAddress& from, const std::uint8_t* data,
                               int length) const {
    return active && !heardFromClient_ && !overlong_ && from == requestFrom_ &&
           length == requestLength_ && std::memcmp(data, request_, static_cast<std::size_t>(length)) == 0;
}

void CTftpTransfer::RepeatFirstAnswer() {
    // Already ended: nothing to repeat.
    if (!active) return;
    const std::int64_t nowMs = app_.clock.NowMs();
    if (awaitingAck0_) {
        SendOack(true);
    } else if (opcode == kRrq) {
        sender_.Resend(nowMs);
    } else {
        receiver_.Resend(nowMs);
    }
}

void CTftpTransfer::ResendIfDue(std::int64_t nowMs) {
    if (!active) return;
    if (opcode == kRrq) {
        if (awaitingAck0_) {
            if (oackTimer_.Due(nowMs)) SendOack(true);
        } else if (sender_.ResendDue(nowMs)) {
            sender_.Resend(nowMs);
        }
    } else if (receiver_.ResendDue(nowMs)) {
        // Once per silence: the client resends its own blocks.
        receiver_.Resend(nowMs);
    }
}

void CTftpTransfer::OnReceive(int error) {
    if (error != 0) return;
    // An ended transfer takes nothing more, except that a finished upload
    // still answers a repeat of its last block (the client did not hear the
    // last ACK) for as long as the listener keeps it; the socket otherwise
    // stays quiet until the periodic check removes the transfer.
    const bool lingering = AnswersRepeats();
    if (!active && !lingering) return;
    platform::PeerAddress from;
    const int length = ReceiveFrom(buffer_.data(), ReadCapacity(blockSize_), from);
    if (length == kWouldBlock) return;
    if (!(from == peer)) {
        if (active) AnswerStranger(from, length);
        return;
    }
    // Too long for the block size, or too short for an opcode and a block
    // number: dropped.
    if (length == kTooLong || length < kHeaderLength) return;
    if (GetU16(buffer_.data()) == kData && length > blockSize_ + kHeaderLength) return;
    if (lingering) {
        if (GetU16(buffer_.data()) == kData) receiver_.OnData(buffer_.data(), length, app_.clock.NowMs());
        return;
    }
    lastActivity = app_.clock.Now();
    heardFromClient_ = true;
    if (opcode == kRrq) OnAck(length);
    else OnData(length);
}

void CTftpTransfer::AnswerStranger(const platform::PeerAddress& from, int length) {
    // An ERROR is never answered, so two confused hosts cannot keep each
    // other busy.
    const std::size_t seen = length == kTooLong ? 2 : static_cast<std::size_t>(std::max(length, 0));
    if (OpcodeOf(buffer_.data(), seen) == kError) return;
    std::uint8_t packet[kSmallPacket];
    const std::size_t n =
        BuildError(packet, sizeof packet, kErrUnknownTransferId, ErrorText(kErrUnknownTransferId));
    if (n == 0) return;
    SendTo(packet, static_cast<int>(n), from);
    app_.ReportRefusal(from, kErrUnknownTransferId, ErrorText(kErrUnknownTransferId), false);
}

void CTftpTransfer::EndWithClientError(int length) {
    errorText = ReadErrorText(buffer_.data(), static_cast<std::size_t>(length));
    CloseFile();
    active = 0;
}

void CTftpTransfer::OnAck(int length) {
    const std::uint8_t* p = buffer_.data();
    const std::uint16_t op = GetU16(p);
    if (op == kError) {
        EndWithClientError(length);
        return;
    }
    if (op != kAck) return;
    const std::uint16_t block = GetU16(p + 2);
    const std::int64_t nowMs = app_.clock.NowMs();

    if (awaitingAck0_) {
        // After the OACK only ACK 0 starts the data.
        if (block != 0) return;
        awaitingAck0_ = false;
        retries = 0;
        SendNextBlock();
        if (!active) return;
        Progress();
        return;
    }
    const TransferSender::Step step = sender_.OnAck(block, nowMs);
    switch (step) {
    case TransferSender::Step::Ignored:
        return;
    case TransferSender::Step::Resent:
        // The client asked for the block again: it did not get it.
        app_.NotifyView(TransferProgress{number, sender_.BytesSent(), 0, "Retrying"});
        return;
    case TransferSender::Step::Done:
        retries = 0;
        CloseFile();
        active = 0;
        break;
    case TransferSender::Step::Sent:
    case TransferSender::Step::ReadFailed:
        retries = 0;
        OnSenderStep(step);
        if (!active) return;
        break;
    }
    Progress();
}

void CTftpTransfer::Progress() {
    // An empty file has no percentage: its row shows the file instead.
    app_.NotifyView(TransferProgress{number, sender_.BytesSent(), total_, total_ == 0 ? path_ : std::string()});
}

void CTftpTransfer::OnData(int length) {
    const std::uint8_t* p = buffer_.data();
    const std::uint16_t op = GetU16(p);
    if (op == kError) {
        EndWithClientError(length);
        return;
    }
    if (op != kData) return;
    switch (receiver_.OnData(p, length, app_.clock.NowMs())) {
    case TransferReceiver::Step::Ignored:
    case TransferReceiver::Step::Reacknowledged:
        return;
    case TransferReceiver::Step::WriteFailed:
        SendError(kErrDiskFull);
        return;
    case TransferReceiver::Step::FinishFailed:
        // Everything was written; only the name could not be given.
        SendError(kErrAccessViolation);
        return;
    case TransferReceiver::Step::Written:
    case TransferReceiver::Step::Done:
        break;
    }
    retries = 0;
    total_ = receiver_.BytesWritten();
    // No total known: the row shows the text.
    app_.NotifyView(TransferProgress{number, total_, 0, "Receiving"});
    if (receiver_.Finished()) active = 0;
}

int CTftpTransfer::RetryBlock() {
    const std::int64_t nowMs = app_.clock.NowMs();
    if (opcode == kRrq && awaitingAck0_) {
        // The OACK itself went unanswered: offer it again. Sending block 1
        // instead would give the client a block size it never saw.
        SendOack(true);
    } else if (opcode == kRrq) {
        sender_.Resend(nowMs);
    } else if (!receiver_.Resend(nowMs)) {
        return 0;
    }
    app_.NotifyView(TransferProgress{number, opcode == kRrq ? sender_.BytesSent() : total_, 0, "Retrying"});
    return 1;
}

void CTftpTransfer::RefuseFile(int code, int error) {
    if (!IsResourceShortage(error)) {
        SendError(code);
        return;
    }
    // Not the file's fault: say what is short, so that the row tells why.
    CloseFile();
    errorText = "Cannot open file: " + std::string(std::strerror(error));
    std::uint8_t packet[kSmallPacket];
    SendPacket(packet, static_cast<int>(BuildError(packet, sizeof packet, kErrUndefined, errorText)));
    app_.ReportRefusal(peer, kErrUndefined, errorText, false);
    active = 0;
}

void CTftpTransfer::SendError(int code) {
    CloseFile();
    std::uint8_t packet[kSmallPacket];
    std::size_t length;
    if (code == kErrOptionNegotiation) {
        length = BuildOptionFailure(packet, sizeof packet);
        errorText = ErrorText(kErrUndefined);
    } else {
        length = BuildError(packet, sizeof packet, static_cast<std::uint16_t>(code), ErrorText(code));
        errorText = ErrorText(code);
    }
    SendPacket(packet, static_cast<int>(length));
    app_.ReportRefusal(peer, code, errorText, false);
    active = 0;
}

int CTftpTransfer::ResizeBuffers(int sending) {
    const int size = blockSize_ + kBufferSlack;
    try {
        buffer_.resize(static_cast<std::size_t>(PacketBufferSize(blockSize_)));
    } catch (const std::bad_alloc&) {
        SendError(kErrOptionNegotiation);
        app_.ReportFailure(EngineFailure::TransferBuffers);
        return 0;
    }
    // Linux reports twice what it grants (the rest is its own bookkeeping).
    int readBack = 0;
    const bool read = sending ? GetSendBufferSize(readBack) : GetReceiveBufferSize(readBack);
    const int request = SocketBufferRequest(blockSize_, read ? readBack / 2 : 0, window_);
    const bool ok = sending ? SetSendBufferSize(request) && GetSendBufferSize(readBack)
                            : SetReceiveBufferSize(request) && GetReceiveBufferSize(readBack);
    if (!ok) {
        SendError(kErrOptionNegotiation);
        return 0;
    }
    const int granted = readBack / 2;
    if (granted < size) {
        blockSize_ = granted - kBufferSlack;
        if (blockSize_ < kMinBlockSize) {
            SendError(kErrOptionNegotiation);
            return 0;
        }
        buffer_.resize(static_cast<std::size_t>(PacketBufferSize(blockSize_)));
    }
    // A window the receive buffer cannot hold would lose its last blocks
    // every time: offer the one it holds.
    if (!sending) window_ = WindowThatFits(window_, blockSize_, readBack);
    return 1;
}
