#include "transfer_socket.h"

#include "client/engine/transfer_messages.h"
#include "common/socket_room.h"
#include "common/tftp_options.h"
#include "common/tftp_packet.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <new>

#include <sys/socket.h>

namespace {

using What = TransferFailure::What;

constexpr std::size_t kStatusLimit = 99;        // a status text of 100 characters with its NUL
constexpr std::size_t kServerMessageLimit = 60;  // "Msg from Server > " and the text

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::uint16_t WirePort(int port) { return static_cast<std::uint16_t>(port & 0xFFFF); }

std::string_view ModeOf(int binary) { return binary == 1 ? "octet" : "netascii"; }

// What the system reports of an address that cannot be reached.
bool Unreachable(int error) {
    return error == ECONNREFUSED || error == EHOSTUNREACH || error == ENETUNREACH ||
           error == EHOSTDOWN;
}

}  // namespace

CTransferSocket::CTransferSocket(ClientContext& app) : app_(app) {
    buffer.resize(520);
}

CTransferSocket::~CTransferSocket() {
    if (busy == 1) busy = 0;
    CloseFile();
}

// ---- start ------------------------------------------------------------------

void CTransferSocket::UseLocalAddress(const std::string& address) { chosenLocal_ = address; }

int CTransferSocket::OpenLocalPort(const std::string& address) {
    failure_ = {};
    chosenLocal_ = localAddress = address;
    Post(WM_TRANSFER_ADDRESS, 0, 0);
    if (!Create(localAddress, 0, false)) {
        Fail(What::NoPort);
        return 0;
    }
    if (!AsyncSelect()) {
        Fail(What::NoReadNotifications);
        return 0;
    }
    return 1;
}

bool CTransferSocket::SocketFor(const platform::PeerAddress& to, bool fresh) {
    if (!fresh && IsOpen() && Family() == (to.v6 ? AF_INET6 : AF_INET)) return true;
    Close();
    std::string bindTo;
    if (to.v6) {
        // The local-address choice is IPv4's; IPv6 sends from the wildcard,
        // and the caption names the address the system sends from.
        bindTo = "::";
        platform::PeerAddress source;
        localAddress = platform::SourceAddressFor(to, source) ? source.AddressText() : bindTo;
    } else {
        // The local IPv4 address its caller chose; none: the system's choice.
        bindTo = localAddress = chosenLocal_.empty() ? std::string("0.0.0.0") : chosenLocal_;
    }
    Post(WM_TRANSFER_ADDRESS, 0, 0);
    if (!Create(bindTo, 0, false)) {
        Fail(What::NoPort);
        return false;
    }
    if (!AsyncSelect()) {
        Fail(What::NoReadNotifications);
        return false;
    }
    return true;
}

bool CTransferSocket::TakeServers(const std::vector<platform::PeerAddress>& servers, int port) {
    candidates_ = servers;
    // No address at all goes nowhere, as an unreadable address text always has.
    if (candidates_.empty()) candidates_.push_back(platform::PeerAddress{platform::kInaddrNone, 0});
    for (platform::PeerAddress& a : candidates_) a.port = WirePort(port);
    candidate_ = 0;
    if (!SocketFor(candidates_[0], false)) return false;
    // Only while there is another address to turn to.
    if (HasNextAddress()) ReportUnreachable(true);
    return true;
}

void CTransferSocket::Begin() {
    lastActivity = app_.clock.Now();
    busy = 1;
    blockCounter = 1;
    exchanging_ = false;
    answered_ = false;
    window_ = 1;  // until the server's OACK agrees to more
    ReadInBatches(false);
    retransmissions_ = 0;
    lingerUntilMs_ = 0;
    completed_ = false;
    serverMessage_.clear();
    requestTimer_ = tftp::RetransmitTimer{};
    requestTo_ = server = candidates_[candidate_];
    // Until the first reply, the request's host and port are the peer.
    serverKnown = false;
}

bool CTransferSocket::SendFirstRequest() {
    for (;;) {
        const int length = static_cast<int>(request_.size());
        if (SendTo(request_.data(), length, server) == length) {
            requestTimer_.Sent(app_.clock.NowMs(), false);
            return true;
        }
        if (!TryNextAddress()) return false;
    }
}

bool CTransferSocket::TryNextAddress() {
    if (!HasNextAddress()) return false;
    ++candidate_;
    const platform::PeerAddress next = candidates_[candidate_];
    // A fresh socket: a fresh transfer ID for a fresh request, and whatever
    // the system still reports about the last address stays with the old one.
    if (!SocketFor(next, true) || !ResizeBuffers(sending)) return false;
    if (HasNextAddress()) ReportUnreachable(true);
    ReadInBatches(false);
    requestTo_ = server = next;
    serverKnown = false;
    answered_ = false;
    requestTimer_ = tftp::RetransmitTimer{};
    lastActivity = app_.clock.Now();
    return true;
}

void CTransferSocket::GiveUpOnAddress() {
    if (TryNextAddress() && SendFirstRequest()) return;
    // No address left that the request could reach.
    const int error = LastError();
    busy = 0;
    CloseFile();
    Fail(sending == 1 ? What::CannotSendRequest : What::CannotSendFetchRequest, error);
    ReportFailure();
}

platform::PeerAddress CTransferSocket::LiteralServer(const std::string& hostAddress) {
    // Dotted text goes as inet_addr reads it, as it always has.
    platform::PeerAddress to{platform::InetAddr(hostAddress), 0};
    if (hostAddress.find(':') != std::string::npos) platform::ParseAddress(hostAddress, to);
    return to;
}

int CTransferSocket::StartSend(const std::string& remoteName, const std::string& localName,
                               const std::string& hostAddress, int port, int binary,
                               const std::string& fileName) {
    return StartSend(remoteName, localName, std::vector{LiteralServer(hostAddress)}, port, binary,
                     fileName);
}

int CTransferSocket::StartFetch(const std::string& remoteName, const std::string& localName,
                                const std::string& hostAddress, int port, int binary) {
    return StartFetch(remoteName, localName, std::vector{LiteralServer(hostAddress)}, port, binary);
}

int CTransferSocket::StartSend(const std::string& remoteName, const std::string& localName,
                               const std::vector<platform::PeerAddress>& servers, int port,
                               int binary, const std::string& fileName) {
    if (busy == 1) return 0;
    failure_ = {};
    optionsRefused_ = false;
    blockSize = tftp::CappedBlockSize(blockSize, app_.settings.maxBlockSize);  // never offered above the cap
    if (!TakeServers(servers, port)) return 0;
    if (!ResizeBuffers(1)) return 0;
    Begin();
    lastBlockSent = 0;
    bytesSent = 0;

    std::string path = useSourceDir == 1 ? sourceDir : app_.settings.outboundPath;
    BuildRequest(tftp::kWrq, remoteName, ModeOf(binary));
    path += useSourceDir == 1 ? fileName : localName;
    if (!reader_.Open(path, binary != 1)) {
        busy = 0;
        Fail(What::CannotOpenFile);
        return 0;
    }
    total = reader_.Size();
    Status("Offering file to server ...");
    Post(WM_TRANSFER_PROGRESS, kProgressStart, total);

    if (SendFirstRequest()) return 1;
    busy = 0;
    CloseFile();  // a failed start keeps no file open
    Fail(What::CannotSendRequest, LastError());
    return 0;
}

int CTransferSocket::StartFetch(const std::string& remoteName, const std::string& localName,
                                const std::vector<platform::PeerAddress>& servers, int port,
                                int binary) {
    if (busy == 1) return 0;
    failure_ = {};
    optionsRefused_ = false;
    blockSize = tftp::CappedBlockSize(blockSize, app_.settings.maxBlockSize);  // never offered above the cap
    std::string path = app_.settings.inboundPath;
    if (!TakeServers(servers, port)) return 0;
    if (!ResizeBuffers(0)) return 0;
    BuildRequest(tftp::kRrq, remoteName, ModeOf(binary));
    path += localName;
    Begin();
    bytesReceived = 0;
    blocksReceived = 0;
    total = 0;
    // Written beside the file and renamed over it once the last block is
    // in: a fetch that fails leaves no file behind, and an existing file
    // stays as it was.
    // The file may go wherever its own folder is: the user named it.
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    if (!writer_.CreateReplacing(path, binary != 1, folder)) {
        busy = 0;
        Fail(What::CannotCreateFile, 0, path);
        return 0;
    }
    Status("Requesting file from server ...");
    if (SendFirstRequest()) return 1;
    busy = 0;
    CloseFile();
    Fail(What::CannotSendFetchRequest, LastError());
    return 0;
}

std::size_t CTransferSocket::BuildRequest(std::uint16_t opcode, const std::string& remoteName,
                                          std::string_view mode) {
    requestOpcode_ = opcode;
    remoteName_ = remoteName;
    mode_ = mode;
    tftp::RequestOffer offer;
    offer.noOptions = optionsRefused_;
    offer.offerTimeout = offerTimeout == 1;
    offer.timeoutSecs = timeoutSecs < 0 ? 0u : static_cast<std::uint32_t>(timeoutSecs);
    offer.blockSize = static_cast<std::uint32_t>(blockSize);
    offer.window = static_cast<std::uint32_t>(askedWindow_);
    // The request gets a buffer of its own: a long name does not fit a packet
    // buffer sized for a small block.
    request_.resize(remoteName.size() + mode.size() + 64);
    const std::size_t length = tftp::BuildRequest(request_.data(), request_.size(),
                                                  static_cast<tftp::Opcode>(opcode), remoteName,
                                                  mode, offer);
    request_.resize(length);
    offeredOptions_ = !optionsRefused_ && (opcode == tftp::kRrq || offerTimeout == 1 ||
                                           blockSize != tftp::kDefaultBlockSize || offer.window > 1);
    return length;
}

// ---- buffers ----------------------------------------------------------------

bool CTransferSocket::ResizeBuffer(std::size_t size) {
    try {
        buffer.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool CTransferSocket::SetSocketBuffer(int sendBuffer, int size, int& readBack) {
    if (sendBuffer) return SetSendBufferSize(size) && GetSendBufferSize(readBack);
    return SetReceiveBufferSize(size) && GetReceiveBufferSize(readBack);
}

int CTransferSocket::ResizeBuffers(int sendBuffer) {
    if (blockSize < tftp::kMinBlockSize || blockSize > tftp::kMaxBlockSize) {
        Fail(What::SocketBuffersRefused);
        return 0;
    }
    const int size = blockSize + tftp::kBufferSlack;
    if (!ResizeBuffer(static_cast<std::size_t>(tftp::PacketBufferSize(blockSize)))) {
        Fail(What::NoBuffers);
        return 0;
    }
    int readBack = 0;
    const bool read = sendBuffer ? GetSendBufferSize(readBack) : GetReceiveBufferSize(readBack);
    const int request = tftp::SocketBufferRequest(blockSize, read ? GrantedBufferSize(readBack) : 0,
                                                  std::clamp(windowSize, tftp::kMinWindow, tftp::kMaxWindow));
    if (!SetSocketBuffer(sendBuffer, request, readBack)) {
        Fail(What::SocketBuffersRefused);
        return 0;
    }
    // A fetch asks only for a window its receive buffer holds whole.
    askedWindow_ = std::clamp(windowSize, tftp::kMinWindow, tftp::kMaxWindow);
    // The block size in use must fit the buffer the socket grants.
    const int granted = GrantedBufferSize(readBack);
    if (granted >= size) {
        if (!sendBuffer) askedWindow_ = tftp::WindowThatFits(askedWindow_, blockSize, readBack);
        return 1;
    }
    if (granted - tftp::kBufferSlack < tftp::kMinBlockSize) {
        Fail(What::SocketBuffersRefused);
        return 0;
    }
    blockSize = granted - tftp::kBufferSlack;
    if (!ResizeBuffer(static_cast<std::size_t>(tftp::PacketBufferSize(blockSize)))) {
        Fail(What::NoBuffers);
        return 0;
    }
    Post(WM_TRANSFER_BLOCKSIZE, 0, blockSize);
    if (!sendBuffer) askedWindow_ = tftp::WindowThatFits(askedWindow_, blockSize, readBack);
    return 1;
}

// ---- datagrams --------------------------------------------------------------

bool CTransferSocket::FromTransferPeer(const platform::PeerAddress& from) const {
    // Before the first reply the server's transfer port is not known yet: any
    // port of the host the request went to will do.
    return serverKnown ? from == server : from.SameHost(server);
}

void CTransferSocket::RejectStranger(const platform::PeerAddress& from, int length) {
    // No one answers an ERROR: two peers rejecting each other would never stop.
    if (length >= 2 && tftp::GetU16(buffer.data()) == tftp::kError) return;
    std::uint8_t packet[64];
    const std::size_t n = tftp::BuildError(packet, sizeof packet, tftp::kErrUnknownTransferId,
                                           tftp::ErrorText(tftp::kErrUnknownTransferId));
    SendTo(packet, static_cast<int>(n), from);
}

void CTransferSocket::OnReceive(int error) {
    if (error != 0) return;
    if (busy != 1) {
        OnLingering();
        return;
    }
    platform::PeerAddress from;
    const int capacity = tftp::ReadCapacity(blockSize);
    const int n = ReceiveFrom(buffer.data(), capacity, from);
    if (n == kWouldBlock) {
        // An address that says it cannot be reached gives way to the next.
        if (!answered_ && HasNextAddress() && Unreachable(LastError())) GiveUpOnAddress();
        return;
    }
    if (!FromTransferPeer(from)) {
        RejectStranger(from, n == kTooLong ? capacity : n);
        return;
    }
    // A datagram longer than a block is dropped: it counts as one of no length.
    lastLength = n == kTooLong ? 0 : n;
    if (lastLength <= 3) return;
    const std::uint16_t opcode = tftp::GetU16(buffer.data());
    if (!answered_) {
        // This address it is: the others are not needed, nor word of them.
        answered_ = true;
        if (HasNextAddress()) ReportUnreachable(false);
    }
    if (!serverKnown) {
        server = from;  // the server's transfer port, learnt from its first reply
        serverKnown = true;
        requestTimer_.Answered(app_.clock.NowMs());
        // A server that answers with DATA or ACK has taken no option: it
        // works with 512-byte blocks, and so must we, or its first full block
        // would look like the last one.
        if ((opcode == tftp::kData || opcode == tftp::kAck) &&
            blockSize != tftp::kDefaultBlockSize) {
            blockSize = tftp::kDefaultBlockSize;
            Post(WM_TRANSFER_BLOCKSIZE, 0, blockSize);
        }
    }
    // A block longer than the block size agreed is no block of ours.
    if (opcode == tftp::kData && lastLength > blockSize + tftp::kHeaderLength) return;
    lastActivity = app_.clock.Now();
    if (sending == 1) OnSendPacket(opcode);
    else OnFetchPacket(opcode);
}

bool CTransferSocket::TakeOptions(int sendBuffer) {
    // Read from a copy of the OACK: ResizeBuffers may replace the buffer.
    const std::vector<tftp::Option> options =
        tftp::ReadOptions(buffer.data(), static_cast<std::size_t>(lastLength), 2);
    for (const tftp::Option& option : options) {
        if (option.name == tftp::OptionName::Tsize && sending == 0) {
            total = static_cast<std::int64_t>(
                std::min<std::uint64_t>(option.value, std::numeric_limits<std::int64_t>::max()));
            Post(WM_TRANSFER_PROGRESS, kProgressStart, total);
        } else if (option.name == tftp::OptionName::Windowsize) {
            // A server may agree to a smaller window than asked, never a
            // larger one; nothing at all means lock-step.
            window_ = static_cast<int>(std::clamp<std::uint64_t>(
                option.value, 1, static_cast<std::uint64_t>(askedWindow_)));
        } else if (option.name == tftp::OptionName::Blksize &&
                   option.value != static_cast<std::uint64_t>(blockSize)) {
            // A size no DATA packet can carry, or one our socket cannot take
            // whole, cannot be agreed to.
            if (option.value < static_cast<std::uint64_t>(tftp::kMinBlockSize) ||
                option.value > static_cast<std::uint64_t>(tftp::kMaxBlockSize)) {
                Abort(tftp::kErrUndefined);
                return false;
            }
            const int agreed = static_cast<int>(option.value);
            blockSize = agreed;
            if (!ResizeBuffers(sendBuffer) || blockSize != agreed) {
                Abort(tftp::kErrUndefined);
                ReportFailure();  // what the buffers said, if anything
                return false;
            }
        }
    }
    return true;
}

void CTransferSocket::EndWithServerError() {
    // A server that does not take options (or not these) may say so with
    // ERROR 8 to the request: ask once more without any, in 512-byte blocks.
    if (!exchanging_ && offeredOptions_ && lastLength >= tftp::kHeaderLength &&
        tftp::GetU16(buffer.data() + 2) == tftp::kErrTransferAborted) {
        RequestWithoutOptions();
        return;
    }
    // The server has given up: show why, and answer nothing.
    const auto len = static_cast<std::size_t>(lastLength);
    serverMessage_ = tftp::ReadErrorText(buffer.data(), len);
    Status(("Msg from Server > " + serverMessage_).substr(0, kServerMessageLimit));
    Abort(-1);
}

void CTransferSocket::OnFetchPacket(std::uint16_t opcode) {
    switch (opcode) {
    case tftp::kError:
        EndWithServerError();
        return;
    case tftp::kOptionFailure:
        Status("Option Failure");
        Abort(tftp::kErrOptionNegotiation);
        return;
    case tftp::kOack: {
        const std::int64_t nowMs = app_.clock.NowMs();
        if (exchanging_) {
            // The server did not hear our ACK 0 and offers again; a late copy
            // after the first block changes nothing.
            if (receiver_.LastBlock() == 0 && receiver_.Resend(nowMs)) ++retransmissions_;
            return;
        }
        if (!TakeOptions(0)) return;
        // A window of DATA arrives as a burst.
        ReadInBatches(window_ > 1);
        receiver_.Begin(blockSize, window_);
        exchanging_ = true;
        std::uint8_t ack[4];
        receiver_.AnswerRequest(ack, static_cast<int>(tftp::BuildAck(ack, sizeof ack, 0)), nowMs);
        return;
    }
    case tftp::kData: {
        if (!exchanging_) {
            receiver_.Begin(blockSize);
            exchanging_ = true;
        }
        const auto step = receiver_.OnData(buffer.data(), lastLength, app_.clock.NowMs());
        if (step == tftp::TransferReceiver::Step::Ignored ||
            step == tftp::TransferReceiver::Step::Reacknowledged)
            return;
        if (step == tftp::TransferReceiver::Step::WriteFailed ||
            step == tftp::TransferReceiver::Step::FinishFailed) {
            // The server hears of it first; the user once this datagram is done.
            Abort(tftp::kErrDiskFull);
            Fail(What::CannotWriteFile);
            ReportFailure();
            return;
        }
        bytesReceived = receiver_.BytesWritten();
        blocksReceived = receiver_.Blocks();
        blockCounter = receiver_.LastBlock() + 1;
        // The status line after the ACK: the server waits for the ACK.
        Status(Format("Received %" PRId64 " bytes (%" PRId64 " blocks)", bytesReceived,
                      blocksReceived));
        if (total != 0) Post(WM_TRANSFER_PROGRESS, kProgressReceived, bytesReceived);
        if (step != tftp::TransferReceiver::Step::Done) return;
        // A bar in use (the size was known) ends full.
        if (total != 0) Post(WM_TRANSFER_PROGRESS, kProgressDone, bytesReceived);
        Status(Format("Received %" PRId64 " bytes (%" PRId64 " blocks) - Done", bytesReceived,
                      blocksReceived));
        completed_ = true;
        Abort(-1);
        // A server that missed the last ACK sends the last block again.
        lingerUntilMs_ = app_.clock.NowMs() + kLingerMs;
        return;
    }
    default:
        Status(Format("Unknown TFTP command received %d", opcode));
        Abort(tftp::kErrIllegalOperation);
        return;
    }
}

void CTransferSocket::OnSendPacket(std::uint16_t opcode) {
    switch (opcode) {
    case tftp::kError:
        EndWithServerError();
        return;
    case tftp::kOptionFailure:
        Status("Option Failure");
        Abort(tftp::kErrOptionNegotiation);
        return;
    case tftp::kOack:
        // The OACK stands for ACK 0: before the first block it starts the
        // data; later it is the server asking for block 1 again.
        if (exchanging_) {
            OnSenderStep(sender_.OnAck(0, app_.clock.NowMs()));
            return;
        }
        if (!TakeOptions(1)) return;
        StartSending();
        return;
    case tftp::kAck: {
        const std::uint16_t block = tftp::GetU16(buffer.data() + 2);
        if (!exchanging_) {
            if (block == 0) StartSending();
            return;
        }
        OnSenderStep(sender_.OnAck(block, app_.clock.NowMs()));
        return;
    }
    default:
        Status(Format("Unknown TFTP command received %d", opcode));
        Abort(tftp::kErrIllegalOperation);
        return;
    }
}

void CTransferSocket::StartSending() {
    if (!sender_.Begin(blockSize, -1, window_)) {
        Status("Unable to allocate buffers for transfer");
        Abort(tftp::kErrUndefined);
        return;
    }
    exchanging_ = true;
    OnSenderStep(sender_.SendFirst(app_.clock.NowMs()));
}

void CTransferSocket::OnSenderStep(tftp::TransferSender::Step step) {
    switch (step) {
    case tftp::TransferSender::Step::Ignored:
        return;
    case tftp::TransferSender::Step::Resent:
        ++retransmissions_;
        return;
    case tftp::TransferSender::Step::Done:
        // The file has been delivered: all of it, whatever netascii made of
        // its length on the wire.
        Post(WM_TRANSFER_PROGRESS, kProgressDone, bytesSent);
        Status(total != 0 ? Format("Sent %" PRId64 " bytes (100%%) - Done", bytesSent)
                          : Format("Sent %" PRId64 " bytes - Done", bytesSent));
        completed_ = true;
        Abort(-1);
        return;
    case tftp::TransferSender::Step::ReadFailed:
        Status("Error reading local file");
        Abort(tftp::kErrDiskFull);
        return;
    case tftp::TransferSender::Step::Sent:
        break;
    }
    bytesSent = sender_.BytesSent();
    blockCounter = sender_.LastBlock() + 1;
    lastBlockSent = sender_.LastBlockSent() ? 1 : 0;
    // The block is out first: the server waits for it, the status line can wait.
    Post(WM_TRANSFER_PROGRESS, kProgressSent, bytesSent);
    if (bytesSent != 0 && total != 0) {
        const int percent = static_cast<int>(
            100.0 / (static_cast<double>(total) / static_cast<double>(bytesSent)));
        Status(Format("Sent %" PRId64 " bytes (%d%%)", bytesSent, percent));
    } else {
        Status(Format("Sent %" PRId64 " bytes", bytesSent));
    }
}

void CTransferSocket::RequestWithoutOptions() {
    optionsRefused_ = true;
    if (blockSize != tftp::kDefaultBlockSize) {
        blockSize = tftp::kDefaultBlockSize;
        Post(WM_TRANSFER_BLOCKSIZE, 0, blockSize);
    }
    const std::string name = remoteName_, mode = mode_;
    BuildRequest(requestOpcode_, name, mode);
    server = requestTo_;
    serverKnown = false;
    lastActivity = app_.clock.Now();
    Status("Server refused the options : asking again without them");
    SendRequest(false);
}

void CTransferSocket::SendPacket(const std::uint8_t* data, int length) {
    SendTo(data, length, server);
}

void CTransferSocket::SendPackets(const tftp::PacketView* packets, int count) {
    batch_.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) batch_[static_cast<std::size_t>(i)] = {packets[i].data, packets[i].length};
    SendBatch(batch_.data(), count, server);
}

void CTransferSocket::SendRequest(bool again) {
    SendTo(request_.data(), static_cast<int>(request_.size()), server);
    requestTimer_.Sent(app_.clock.NowMs(), again);
}

void CTransferSocket::OnLingering() {
    if (lingerUntilMs_ == 0) return;
    const std::int64_t nowMs = app_.clock.NowMs();
    if (nowMs >= lingerUntilMs_) {
        lingerUntilMs_ = 0;
        return;
    }
    platform::PeerAddress from;
    const int n = ReceiveFrom(buffer.data(), tftp::ReadCapacity(blockSize), from);
    if (n < tftp::kHeaderLength || n > blockSize + tftp::kHeaderLength || !(from == server)) return;
    if (tftp::GetU16(buffer.data()) == tftp::kData) receiver_.OnData(buffer.data(), n, nowMs);
}

// ---- end --------------------------------------------------------------------

void CTransferSocket::Abort(int code) {
    if (busy == 1 && code != -1) {
        std::uint8_t packet[64];
        const std::size_t n = tftp::BuildError(packet, sizeof packet,
                                               static_cast<std::uint16_t>(code),
                                               tftp::ErrorText(code));
        SendTo(packet, static_cast<int>(n), server);
    }
    CloseFile();
    busy = 0;
}

void CTransferSocket::CheckTimeout() {
    if (busy != 1) return;
    const std::int64_t nowMs = app_.clock.NowMs();
    // A silent address gives way to the next after its share of resends, or
    // at the time-out; only the last address times the transfer out.
    const bool silent = !answered_ && HasNextAddress();
    if (silent && requestTimer_.Due(nowMs) &&
        requestTimer_.Resends() >= kRequestResendsPerAddress) {
        GiveUpOnAddress();
        return;
    }
    if (app_.clock.Now() - lastActivity > static_cast<std::int64_t>(timeoutSecs)) {
        if (silent) {
            GiveUpOnAddress();
            return;
        }
        Status("Timed out");
        Abort(-1);
        return;
    }
    bool resent = false;
    if (!exchanging_) {
        // No usable answer yet: the request itself may have been lost.
        if (!serverKnown && requestTimer_.Due(nowMs)) {
            SendRequest(true);
            resent = true;
        }
    } else if (sending == 1) {
        resent = sender_.ResendDue(nowMs) && sender_.Resend(nowMs);
    } else {
        // Once per silence: the server resends its own blocks.
        resent = receiver_.ResendDue(nowMs) && receiver_.Resend(nowMs);
    }
    if (resent) ++retransmissions_;
}

void CTransferSocket::CloseFile() {
    reader_.Close();
    writer_.Close();
}

// ---- reporting ----------------------------------------------------------------

void CTransferSocket::Status(const std::string& text) {
    statusText = text.substr(0, kStatusLimit);
    app_.status.SetStatusText(0, statusText);
}

void CTransferSocket::Post(int message, std::int64_t wParam, std::int64_t lParam) {
    if (owner) owner->PostMessage(message, wParam, lParam);
}

void CTransferSocket::Fail(TransferFailure::What what, int error, const std::string& path) {
    failure_ = TransferFailure{what, error, path};
}

void CTransferSocket::ReportFailure() {
    // Told once the datagram's handling has returned: the transfer has
    // already ended (and told the server) when the view shows it.
    if (!onFailure || failure_.what == What::None) return;
    failures_.Post([this, failure = failure_] {
        if (onFailure) onFailure(failure);
    });
}
