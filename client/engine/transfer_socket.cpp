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
    NotifyByOwner();
}

CTransferSocket::~CTransferSocket() {
    // Nothing runs on the worker thread from here on.
    thread_.Quit();
    if (busy == 1) busy = 0;
    CloseFile();
}

// ---- the worker thread --------------------------------------------------------

platform::WorkerThread::Owner::Wait CTransferSocket::NextWait() {
    const auto hold = Hold();
    // Done: only a lingering fetch still listens, for a repeat of its last block.
    const bool serving = busy == 1 || (session_ && session_->Lingering());
    Wait wait;
    if (serving && ReadsWanted()) wait.descriptor = Descriptor();
    if (serving && HoldsQueued()) {
        wait.timeoutMs = 0;
        return wait;
    }
    if (busy == 1 && app_.timeOnTransferThreads) wait.timeoutMs = kCheckEveryMs;
    const int due = ReportDueInMs();
    if (due >= 0 && (wait.timeoutMs < 0 || due < wait.timeoutMs)) wait.timeoutMs = due;
    // A fetch with a window: the server's next DATA is microseconds away.
    if (busy == 1 && session_ && session_->ReceivesWindows()) wait.PollForBursts(app_.spinners);
    return wait;
}

void CTransferSocket::Serve(bool readable) {
    const auto hold = Hold();
    if (readable || HoldsQueued()) ServeReads();
    // Resends and the time-out go from here, whatever the window does.
    if (busy == 1 && app_.timeOnTransferThreads) CheckTimeout();
    FlushReportsIfDue();
}

bool CTransferSocket::WatchSocket() {
    if (!thread_.IsRunning()) return thread_.Start(this);
    if (!thread_.IsCurrent()) thread_.Wake();
    return true;
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
    if (!AsyncSelect() || !WatchSocket()) {
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
    if (!AsyncSelect() || !WatchSocket()) {
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
    answered_ = false;
    ReadInBatches(false);
    completed_ = false;
    serverMessage_.clear();
    session_ = std::make_unique<tftp::TransferSession>(
        sending == 1 ? tftp::SessionRole::ClientWrite : tftp::SessionRole::ClientRead,
        static_cast<tftp::SessionLink&>(*this));
    session_->SetBlockSize(blockSize);
    // Until the first reply, the request's host and port are the peer.
    session_->AddressRequest(candidates_[candidate_]);
    server = session_->Peer();
    serverKnown = false;
}

bool CTransferSocket::SendFirstRequest() {
    for (;;) {
        if (session_->SendRequest(app_.clock.NowMs(), false)) return true;
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
    session_->SetBlockSize(blockSize);
    session_->AddressRequest(next);
    server = next;
    serverKnown = false;
    answered_ = false;
    lastActivity = app_.clock.Now();
    return true;
}

void CTransferSocket::GiveUpOnAddress() {
    if (TryNextAddress() && SendFirstRequest()) return;
    // No address left that the request could reach.
    const int error = LastError();
    busy = 0;
    CloseFile();  // the session ends with it
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
    blockSize = tftp::CappedBlockSize(blockSize, app_.settings.maxBlockSize);  // never offered above the cap
    if (!TakeServers(servers, port)) return 0;
    if (!ResizeBuffers(1)) return 0;
    Begin();
    lastBlockSent = 0;
    bytesSent = 0;

    std::string path = useSourceDir == 1 ? sourceDir : app_.settings.outboundPath;
    BuildRequest(tftp::kWrq, remoteName, ModeOf(binary));
    path += useSourceDir == 1 ? fileName : localName;
    if (!session_->Reader().Open(path, binary != 1)) {
        busy = 0;
        CloseFile();
        Fail(What::CannotOpenFile);
        return 0;
    }
    total = session_->Reader().Size();
    Status("Offering file to server ...");
    Post(WM_TRANSFER_PROGRESS, kProgressStart, total);

    if (SendFirstRequest()) {
        WatchSocket();  // its thread now keeps the time
        return 1;
    }
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
    blockSize = tftp::CappedBlockSize(blockSize, app_.settings.maxBlockSize);  // never offered above the cap
    std::string path = app_.settings.inboundPath;
    if (!TakeServers(servers, port)) return 0;
    if (!ResizeBuffers(0)) return 0;
    Begin();
    BuildRequest(tftp::kRrq, remoteName, ModeOf(binary));
    path += localName;
    bytesReceived = 0;
    blocksReceived = 0;
    total = 0;
    // Written beside the file and renamed over it once the last block is
    // in: a fetch that fails leaves no file behind, and an existing file
    // stays as it was.
    // The file may go wherever its own folder is: the user named it.
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    if (!session_->Writer().CreateReplacing(path, binary != 1, folder)) {
        busy = 0;
        CloseFile();
        Fail(What::CannotCreateFile, 0, path);
        return 0;
    }
    Status("Requesting file from server ...");
    if (SendFirstRequest()) {
        WatchSocket();  // its thread now keeps the time
        return 1;
    }
    busy = 0;
    CloseFile();
    Fail(What::CannotSendFetchRequest, LastError());
    return 0;
}

void CTransferSocket::BuildRequest(std::uint16_t opcode, const std::string& remoteName,
                                   std::string_view mode) {
    tftp::RequestOffer offer;
    offer.offerTimeout = offerTimeout == 1;
    offer.timeoutSecs = timeoutSecs < 0 ? 0u : static_cast<std::uint32_t>(timeoutSecs);
    offer.blockSize = static_cast<std::uint32_t>(blockSize);
    offer.window = static_cast<std::uint32_t>(askedWindow_);
    session_->SetRequest(static_cast<tftp::Opcode>(opcode), remoteName, mode, offer);
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
    // A fetch asks only for a window its receive buffer holds whole, a send
    // for one a server's untouched receive buffer holds.
    askedWindow_ = std::clamp(windowSize, tftp::kMinWindow, tftp::kMaxWindow);
    const auto fitWindow = [&] {
        askedWindow_ = sendBuffer ? tftp::WindowAPeerHolds(askedWindow_, blockSize)
                                  : tftp::WindowThatFits(askedWindow_, blockSize, readBack);
    };
    // The block size in use must fit the buffer the socket grants.
    const int granted = GrantedBufferSize(readBack);
    if (granted >= size) {
        fitWindow();
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
    fitWindow();
    return 1;
}

// ---- datagrams --------------------------------------------------------------

int CTransferSocket::Send(const std::uint8_t* data, int length, const platform::PeerAddress& to) {
    return SendTo(data, length, to);
}

void CTransferSocket::SendBatch(const tftp::PacketView* packets, int count, const platform::PeerAddress& to) {
    batch_.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) batch_[static_cast<std::size_t>(i)] = {packets[i].data, packets[i].length};
    AsyncUdpSocket::SendBatch(batch_.data(), count, to);
}

bool CTransferSocket::SizeBuffers(int& size, int& /*window*/, bool sendBuffer) {
    blockSize = size;
    const bool ok = ResizeBuffers(sendBuffer ? 1 : 0) != 0;
    size = blockSize;
    return ok;
}

void CTransferSocket::BlockSizeChanged(int size) {
    blockSize = size;
    Post(WM_TRANSFER_BLOCKSIZE, 0, blockSize);
}

void CTransferSocket::OnReceive(int error) {
    if (error != 0) return;
    // Done: only a lingering fetch still answers a repeat of its last block.
    if (busy != 1 && (!session_ || !session_->Lingering())) return;
    platform::PeerAddress from;
    const int capacity = tftp::ReadCapacity(blockSize);
    const int n = ReceiveFrom(buffer.data(), capacity, from);
    if (n == kWouldBlock) {
        // An address that says it cannot be reached gives way to the next.
        if (busy == 1 && !answered_ && HasNextAddress() && Unreachable(LastError())) GiveUpOnAddress();
        return;
    }
    const tftp::TransferSession::Step step =
        session_->OnDatagram(from, buffer.data(), n == kTooLong ? -1 : n, app_.clock.NowMs());
    if (busy != 1 || step.event == tftp::SessionEvent::Stranger) return;
    // A datagram longer than a block is dropped: it counts as one of no length.
    lastLength = n == kTooLong ? 0 : n;
    if (!answered_ && session_->PeerKnown()) {
        // This address it is: the others are not needed, nor word of them.
        answered_ = true;
        if (HasNextAddress()) ReportUnreachable(false);
    }
    server = session_->Peer();
    serverKnown = session_->PeerKnown();
    if (step.heard) lastActivity = app_.clock.Now();
    OnSessionEvent(step.event);
}

void CTransferSocket::OnSessionEvent(tftp::SessionEvent event) {
    switch (event) {
    case tftp::SessionEvent::None:
    case tftp::SessionEvent::Stranger:
    case tftp::SessionEvent::Resent:
        return;
    case tftp::SessionEvent::OptionsTaken:
        if (session_->OfferedSize() >= 0) {
            total = session_->OfferedSize();
            Post(WM_TRANSFER_PROGRESS, kProgressStart, total);
        }
        return;
    case tftp::SessionEvent::AskedAgain:
        Status("Server refused the options : asking again without them");
        return;
    case tftp::SessionEvent::Sent:
        ShowSent();
        return;
    case tftp::SessionEvent::Written:
        ShowReceived();
        return;
    case tftp::SessionEvent::Ended:
        Ended();
        return;
    }
}

void CTransferSocket::ShowSent() {
    const tftp::TransferSender& sender = session_->Sender();
    bytesSent = sender.BytesSent();
    blockCounter = sender.LastBlock() + 1;
    lastBlockSent = sender.LastBlockSent() ? 1 : 0;
    // The block is out first: the server waits for it, the status line can wait.
    HoldProgress(kProgressSent, bytesSent);
    if (bytesSent != 0 && total != 0) {
        const int percent = static_cast<int>(
            100.0 / (static_cast<double>(total) / static_cast<double>(bytesSent)));
        Status(Format("Sent %" PRId64 " bytes (%d%%)", bytesSent, percent), true);
    } else {
        Status(Format("Sent %" PRId64 " bytes", bytesSent), true);
    }
    FlushReportsIfDue();
}

void CTransferSocket::ShowReceived() {
    const tftp::TransferReceiver& receiver = session_->Receiver();
    bytesReceived = receiver.BytesWritten();
    blocksReceived = receiver.Blocks();
    blockCounter = receiver.LastBlock() + 1;
    // The status line after the ACK: the server waits for the ACK.
    Status(Format("Received %" PRId64 " bytes (%" PRId64 " blocks)", bytesReceived, blocksReceived), true);
    if (total != 0) HoldProgress(kProgressReceived, bytesReceived);
    FlushReportsIfDue();
}

void CTransferSocket::Ended() {
    const tftp::SessionResult& result = session_->Result();
    busy = 0;
    switch (result.end) {
    case tftp::SessionEnd::Finished:
        completed_ = true;
        if (sending == 1) {
            // The file has been delivered: all of it, whatever netascii made
            // of its length on the wire.
            Post(WM_TRANSFER_PROGRESS, kProgressDone, bytesSent);
            Status(total != 0 ? Format("Sent %" PRId64 " bytes (100%%) - Done", bytesSent)
                              : Format("Sent %" PRId64 " bytes - Done", bytesSent));
            return;
        }
        ShowReceived();
        // A bar in use (the size was known) ends full.
        if (total != 0) Post(WM_TRANSFER_PROGRESS, kProgressDone, bytesReceived);
        Status(Format("Received %" PRId64 " bytes (%" PRId64 " blocks) - Done", bytesReceived,
                      blocksReceived));
        return;
    case tftp::SessionEnd::PeerError:
        // The server has given up: show why.
        serverMessage_ = result.text;
        Status(("Msg from Server > " + serverMessage_).substr(0, kServerMessageLimit));
        return;
    case tftp::SessionEnd::PeerOptionFailure:
        Status("Option Failure");
        return;
    case tftp::SessionEnd::UnknownOpcode:
        Status(Format("Unknown TFTP command received %d", result.opcode));
        return;
    case tftp::SessionEnd::ReadFailed:
        Status("Error reading local file");
        return;
    case tftp::SessionEnd::WriteFailed:
    case tftp::SessionEnd::FinishFailed:
        // The server has heard of it; the user once this datagram is done.
        Fail(What::CannotWriteFile);
        ReportFailure();
        return;
    case tftp::SessionEnd::OptionsUnusable:
        ReportFailure();  // what the buffers said, if anything
        return;
    case tftp::SessionEnd::NoBuffers:
        Status("Unable to allocate buffers for transfer");
        return;
    case tftp::SessionEnd::Running:
    case tftp::SessionEnd::Refused:
        return;
    }
}

// ---- end --------------------------------------------------------------------

void CTransferSocket::Abort(int code) {
    // The bar gets its last count; the status line is the caller's to write.
    statusHeld_ = false;
    FlushReports();
    if (!thread_.IsCurrent()) ++statusEpoch_;
    Stop(code);
}

void CTransferSocket::Stop(int code) {
    if (busy == 1 && code != -1 && session_) session_->Fail(code);
    CloseFile();
    busy = 0;
}

void CTransferSocket::CheckTimeout() {
    if (busy != 1) return;
    const std::int64_t nowMs = app_.clock.NowMs();
    // A silent address gives way to the next after its share of resends, or
    // at the time-out; only the last address times the transfer out.
    const bool silent = !answered_ && HasNextAddress();
    if (silent && session_->RequestTimer().Due(nowMs) &&
        session_->RequestTimer().Resends() >= kRequestResendsPerAddress) {
        GiveUpOnAddress();
        return;
    }
    if (app_.clock.Now() - lastActivity > static_cast<std::int64_t>(timeoutSecs)) {
        if (silent) {
            GiveUpOnAddress();
            return;
        }
        Status("Timed out");
        Stop(-1);
        return;
    }
    // The last datagram again when its answer is overdue.
    session_->Tick(nowMs);
}

void CTransferSocket::CloseFile() {
    // A running session ends with its file; a lingering one keeps answering.
    if (session_) session_->Fail(-1);
}

// ---- reporting ----------------------------------------------------------------

void CTransferSocket::Status(const std::string& text, bool progress) {
    statusText = text.substr(0, kStatusLimit);
    if (progress) {
        heldStatus_ = statusText;
        statusHeld_ = true;
        return;
    }
    // The last state before this one first.
    FlushReports();
    ShowStatus(statusText);
}

void CTransferSocket::Post(int message, std::int64_t wParam, std::int64_t lParam) {
    FlushReports();
    if (owner) owner->PostMessage(message, wParam, lParam);
}

void CTransferSocket::HoldProgress(int wParam, std::int64_t lParam) {
    progressHeld_ = true;
    heldProgressW_ = wParam;
    heldProgressL_ = lParam;
}

void CTransferSocket::FlushReports() {
    lastReport_ = ReportClock::now();
    if (progressHeld_) {
        progressHeld_ = false;
        if (owner) owner->PostMessage(WM_TRANSFER_PROGRESS, heldProgressW_, heldProgressL_);
    }
    if (statusHeld_) {
        statusHeld_ = false;
        ShowStatus(heldStatus_);
    }
}

void CTransferSocket::FlushReportsIfDue() {
    if (ReportDueInMs() == 0) FlushReports();
}

int CTransferSocket::ReportDueInMs() const {
    if (!progressHeld_ && !statusHeld_) return -1;
    if (reportEveryMs_ <= 0) return 0;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        lastReport_ + std::chrono::milliseconds(reportEveryMs_) - ReportClock::now());
    return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

void CTransferSocket::ShowStatus(const std::string& text) {
    if (!thread_.IsCurrent()) {
        // The window's thread itself: whatever the worker posted before is older.
        ++statusEpoch_;
        app_.status.SetStatusText(0, text);
        return;
    }
    statusPosts_.Post([this, text, epoch = statusEpoch_.load()] {
        if (epoch == statusEpoch_.load()) app_.status.SetStatusText(0, text);
    });
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
