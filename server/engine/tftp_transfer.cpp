#include "tftp_transfer.h"

#include "server/engine/request_name.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

using namespace tftp;

namespace {

// Room for any ERROR, ACK or OACK the server sends (the largest, an OACK with
// a 20-digit tsize, is about 70 bytes).
constexpr std::size_t kSmallPacket = 128;

int ToInt(std::uint64_t v) { return v > INT_MAX ? INT_MAX : static_cast<int>(v); }

}  // namespace

CTftpTransfer::CTftpTransfer(ServerContext& app)
    : app_(app), buffer_(static_cast<std::size_t>(kDefaultBlockSize + kBufferSlack)) {
    // A periodic check that runs before HandleRequest has finished (inside
    // a prompt) must not see a transfer that has been silent since 1970.
    lastActivity = app_.clock.Now();
}

CTftpTransfer::~CTftpTransfer() {
    CloseFile();
    Close();
}

void CTftpTransfer::SetRequest(const std::uint8_t* data, int length) {
    requestLength_ = std::clamp(length, 0, kMaxRequestLength);
    std::memset(request_, 0, sizeof request_);
    if (requestLength_ > 0) std::memcpy(request_, data, static_cast<std::size_t>(requestLength_));
}

void CTftpTransfer::EndUnstarted(const std::string& why) {
    opcode = ParseRequest(request_, static_cast<std::size_t>(requestLength_)).opcode;
    errorText = why;
    active = 0;
    handling_ = false;
}

void CTftpTransfer::CloseFile() {
    reader_.Close();
    writer_.Close();
}

void CTftpTransfer::HandleRequest() {
    struct Handled {
        bool& flag;
        ~Handled() { flag = false; }
    } handled{handling_};

    const Request request = ParseRequest(request_, static_cast<std::size_t>(requestLength_));
    opcode = request.opcode;
    const ServerSettings& settings = app_.settings;
    const std::string& folder = opcode == kRrq ? settings.OutPath : settings.InPath;

    if (!Create(localAddress, 0, false)) {
        // No socket of its own (no descriptor left, say): the listener tells
        // the client from its socket, and the result says why.
        errorText = "No socket: " + std::string(std::strerror(LastError()));
        active = 0;
        return;
    }
    if (!AsyncSelect()) {
        app_.prompts.MessageBox("Error preparing local client function", platform::PromptIcon::Error,
                                platform::PromptButtons::Ok);
    }
    lastActivity = app_.clock.Now();

    const bool forced = opcode == kRrq && settings.bForce == 1;
    path_ = folder + (forced ? settings.ForceFile : request.fileName);
    app_.notice.Text = path_;
    app_.NotifyView(2, number);

    if (request.fileName.size() >= static_cast<std::size_t>(kFileNameLimit)) {
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

    bool echoTsize = false, echoTimeout = false, echoBlksize = false, echoAny = false;
    for (const Option& option : request.options) {
        switch (option.name) {
        case OptionName::Tsize:
            if (settings.bAllowTsize) echoTsize = echoAny = true;
            break;
        case OptionName::Timeout:
            timeoutOption = ToInt(option.value);
            if (settings.bAllowTimeout) echoTimeout = echoAny = true;
            break;
        case OptionName::Blksize: {
            // Below the minimum no block could carry data; above the maximum
            // a DATA packet would not fit a datagram.
            if (option.value < static_cast<std::uint64_t>(kMinBlockSize)) {
                SendError(kErrOptionNegotiation);
                return;
            }
            const int wanted = static_cast<int>(std::min<std::uint64_t>(option.value, kMaxBlockSize));
            if (wanted != blockSize_) {
                blockSize_ = wanted;
                if (!ResizeBuffers(opcode == kRrq ? 1 : 0)) return;
            }
            echoBlksize = echoAny = true;
            break;
        }
        case OptionName::Other:
            break;
        }
    }

    // The client's name never leads out of the folder, nor does a link in
    // it; the forced file is the administrator's own choice.
    const bool nameAllowed = forced || StaysInFolder(request.fileName);
    if (opcode == kRrq) {
        const bool opened = nameAllowed && reader_.Open(path_, netascii_ != 0, forced ? nullptr : &folder);
        if (!opened) {
            RefuseFile(kErrFileNotFound, nameAllowed ? errno : 0);
            return;
        }
        total_ = reader_.Size();
        blockCounter_ = 1;
        bytesSent_ = 0;
        if (echoAny) {
            if (echoTsize) oack_.tsize = total_;
            if (echoTimeout) oack_.timeout = static_cast<std::uint32_t>(timeoutOption);
            if (echoBlksize) oack_.blksize = static_cast<std::uint32_t>(blockSize_);
            awaitingAck0_ = true;
            SendOack();
        } else {
            SendNextBlock();
        }
        return;
    }

    // Written beside the target and renamed over it once complete: an
    // upload lands whole or not at all.
    const bool created = nameAllowed && writer_.CreateReplacing(path_, netascii_ != 0, folder);
    if (!created) {
        RefuseFile(kErrAccessViolation, nameAllowed ? errno : 0);
        return;
    }
    blockCounter_ = 0;
    total_ = 0;
    // A write request never echoes tsize; with nothing else to echo the
    // answer is a plain ACK 0.
    if (echoAny && (echoTimeout || echoBlksize)) {
        if (echoTimeout) oack_.timeout = static_cast<std::uint32_t>(timeoutOption);
        if (echoBlksize) oack_.blksize = static_cast<std::uint32_t>(blockSize_);
        SendOack();
    } else {
        std::uint8_t ack[kHeaderLength];
        SendSmall(ack, BuildAck(ack, sizeof ack, 0));
    }
}

void CTftpTransfer::SendOack() {
    std::uint8_t packet[kSmallPacket];
    SendSmall(packet, BuildOack(packet, sizeof packet, oack_));
}

void CTftpTransfer::SendSmall(const std::uint8_t* packet, std::size_t length) {
    if (length > 0) SendTo(packet, static_cast<int>(length), peer);
}

void CTftpTransfer::OnReceive(int error) {
    // An ended transfer takes nothing more; the socket then stays quiet
    // until the periodic check removes the transfer.
    if (error != 0 || !active) return;
    platform::PeerAddress from;
    const int length = ReceiveFrom(buffer_.data(), blockSize_ + kHeaderLength, from);
    if (length == kWouldBlock) return;
    if (!(from == peer)) {
        AnswerStranger(from, length);
        return;
    }
    lastActivity = app_.clock.Now();
    // Too long for the block size, or too short for an opcode and a block
    // number: dropped.
    if (length == kTooLong || length < kHeaderLength) return;
    lastLength_ = length;
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
    if (n > 0) SendTo(packet, static_cast<int>(n), from);
}

void CTftpTransfer::OnAck(int length) {
    const std::uint8_t* p = buffer_.data();
    const std::uint16_t op = GetU16(p);
    if (op == kError) {
        errorText = ReadErrorText(p, static_cast<std::size_t>(length));
        CloseFile();
        active = 0;
        return;
    }
    if (op != kAck) return;
    const std::uint16_t block = GetU16(p + 2);

    if (awaitingAck0_) {
        // After the OACK only ACK 0 starts the data.
        if (block != 0) return;
        awaitingAck0_ = false;
        SendNextBlock();
    } else if (SameBlock(block, blockCounter_)) {
        ++blockCounter_;
        if (lastBlockSent_) {
            CloseFile();
            active = 0;
        } else {
            SendNextBlock();
        }
    } else {
        // The previous block acknowledged again: the current one got lost.
        // (Before block 2 there is no previous block: a second ACK 0 is
        // ignored, never answered with fresh data under block 1.)
        if (blockCounter_ > 1 && SameBlock(block, blockCounter_ - 1)) RetryBlock();
        return;
    }
    app_.notice.BytesTotal = total_;
    app_.notice.BytesDone = bytesSent_;
    app_.NotifyView(3, number);
}

void CTftpTransfer::OnData(int length) {
    const std::uint8_t* p = buffer_.data();
    const std::uint16_t op = GetU16(p);
    if (op == kError) {
        errorText = ReadErrorText(p, static_cast<std::size_t>(length));
        CloseFile();
        active = 0;
        return;
    }
    // Anything but the next block (the block just acknowledged, sent again,
    // included) is ignored.
    if (op != kData || !SameBlock(GetU16(p + 2), blockCounter_ + 1)) return;

    // The ACK of a full block goes out before the block is written, so that
    // the client prepares the next block while we write this one; a failed
    // write then ends the transfer with an ERROR instead. The last block is
    // written first: its ACK tells the client the file is complete.
    const bool last = length < blockSize_ + kHeaderLength;
    std::uint8_t ack[kHeaderLength];
    const std::size_t ackLength = BuildAck(ack, sizeof ack, WireBlock(blockCounter_ + 1));
    if (!last) SendSmall(ack, ackLength);
    const std::int64_t written = writer_.Write(p + kHeaderLength, length - kHeaderLength);
    if (written < 0) {
        SendError(kErrDiskFull);
        return;
    }
    total_ += written;
    ++blockCounter_;
    // The complete file takes its name before the client hears it is done.
    if (last && !writer_.Commit()) { SendError(kErrAccessViolation); return; }
    if (last) SendSmall(ack, ackLength);

    app_.notice.Text = "Receiving";
    app_.notice.BytesDone = total_;
    app_.notice.BytesTotal = 0;  // no total known: the view shows the text
    app_.NotifyView(3, number);
    if (last) {
        CloseFile();
        active = 0;
    }
}

void CTftpTransfer::SendNextBlock() {
    if (ahead_ == kNothingAhead) ReadAhead();
    if (ahead_ < 0) {
        SendError(kErrDiskFull);
        return;
    }
    const int count = ahead_;
    ahead_ = kNothingAhead;
    std::swap(sent_, next_);
    PutDataHeader(sent_.data(), WireBlock(blockCounter_));
    sentLength_ = count + kHeaderLength;
    SendTo(sent_.data(), sentLength_, peer);
    if (count < blockSize_) {
        lastBlockSent_ = 1;
        // netascii: what goes on the wire is shorter than the file on disk.
        if (netascii_) total_ = bytesSent_ + count;
    }
    bytesSent_ += count;
    // Read the following block while the client handles this one.
    if (!lastBlockSent_) ReadAhead();
}

void CTftpTransfer::ReadAhead() {
    const std::int64_t left = total_ - bytesSent_;
    if (left < 0) {
        ahead_ = kReadFailed;
        return;
    }
    const int n = left < blockSize_ ? static_cast<int>(left) : blockSize_;
    const auto size = static_cast<std::size_t>(blockSize_ + kHeaderLength);
    try {
        if (next_.size() < size) next_.resize(size);
    } catch (const std::bad_alloc&) {
        ahead_ = kReadFailed;  // told to the client as ERROR 3, allocation exceeded
        return;
    }
    // Read even when nothing is left: the empty last block is a block too.
    const int count = reader_.Read(next_.data() + kHeaderLength, n);
    ahead_ = count < 0 ? kReadFailed : count;
}

int CTftpTransfer::RetryBlock() {
    if (opcode != kRrq) return 0;
    if (awaitingAck0_) {
        // The OACK itself went unanswered: offer it again. Sending block 1
        // instead would give the client a block size it never saw.
        SendOack();
    } else if (sentLength_ > 0) {
        // The block last sent is kept as it went out.
        SendTo(sent_.data(), sentLength_, peer);
    }
    app_.notice.Text = "Retrying";
    app_.NotifyView(3, number);
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
    SendSmall(packet, BuildError(packet, sizeof packet, kErrUndefined, errorText));
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
    SendSmall(packet, length);
    active = 0;
}

int CTftpTransfer::ResizeBuffers(int sending) {
    const int size = blockSize_ + kBufferSlack;
    try {
        buffer_.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        app_.prompts.MessageBox("Unable to allocate buffers for transfer", platform::PromptIcon::Error,
                                platform::PromptButtons::Ok);
        SendError(kErrOptionNegotiation);
        return 0;
    }
    int readBack = 0;
    const bool ok = sending ? SetSendBufferSize(size) && GetSendBufferSize(readBack)
                            : SetReceiveBufferSize(size) && GetReceiveBufferSize(readBack);
    if (!ok) {
        SendError(kErrOptionNegotiation);
        return 0;
    }
    // Linux reports twice what it grants (the rest is its own bookkeeping).
    const int granted = readBack / 2;
    if (granted >= size) return 1;
    blockSize_ = granted - kBufferSlack;
    if (blockSize_ < kMinBlockSize) {
        SendError(kErrOptionNegotiation);
        return 0;
    }
    buffer_.resize(static_cast<std::size_t>(blockSize_ + kBufferSlack));
    return 1;
}
