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

CTftpTransfer::CTftpTransfer(ServerContext& app)
    : app_(app), buffer_(static_cast<std::size_t>(kDefaultBlockSize + kBufferSlack)) {
    session_.emplace(SessionRole::ServerRead, static_cast<SessionLink&>(*this));
    lastActivity = app_.clock.Now();
    NotifyByOwner();
}

platform::WorkerThread::Owner::Wait CTftpTransfer::NextWait() {
    const auto hold = Hold();
    const bool serving = active || AnswersRepeats();
    Wait wait;
    if (serving && ReadsWanted()) wait.descriptor = Descriptor();
    if (serving && HoldsQueued()) wait.timeoutMs = 0;
    else if (active && app_.resendOnTransferThreads) wait.timeoutMs = kResendCheckMs;
    // An upload with a window: the client's next DATA is microseconds away.
    if (active && session_->ReceivesWindows()) wait.PollForBursts(app_.spinners);
    return wait;
}

void CTftpTransfer::Serve(bool readable) {
    const auto hold = Hold();
    if (readable || HoldsQueued()) ServeReads();
    // The round trip's resends go from here, whatever the main thread does.
    if (app_.resendOnTransferThreads) ResendIfDue(app_.clock.NowMs());
}

CTftpTransfer::~CTftpTransfer() {
    session_->CloseFile();
    Close();
}

void CTftpTransfer::SetRequest(const std::uint8_t* data, int length) {
    overlong_ = length > kMaxRequestLength;
    requestLength_ = std::clamp(length, 0, kMaxRequestLength);
    std::memset(request_, 0, sizeof request_);
    if (requestLength_ > 0) std::memcpy(request_, data, static_cast<std::size_t>(requestLength_));
    opcode = ParseRequest(request_, static_cast<std::size_t>(requestLength_)).opcode;
    session_.emplace(opcode == kWrq ? SessionRole::ServerWrite : SessionRole::ServerRead,
                     static_cast<SessionLink&>(*this));
}

void CTftpTransfer::EndUnstarted(const std::string& why) {
    errorText = why;
    active = 0;
}

int CTftpTransfer::Send(const std::uint8_t* data, int length, const platform::PeerAddress& to) {
    return SendTo(data, length, to);
}

void CTftpTransfer::SendBatch(const PacketView* packets, int count, const platform::PeerAddress& to) {
    batch_.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) batch_[static_cast<std::size_t>(i)] = {packets[i].data, packets[i].length};
    AsyncUdpSocket::SendBatch(batch_.data(), count, to);
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
    session_->SetPeer(peer);
    const Request request = ParseRequest(request_, static_cast<std::size_t>(requestLength_));
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
    // The rewriting rules come first: the folder confines what they make.
    const bool forced = opcode == kRrq && settings.bForce == 1;
    const RewrittenName name = forced ? RewrittenName{request.fileName} : app_.RewriteName(request.fileName);
    const std::optional<std::string> relative = forced         ? std::optional<std::string>(settings.ForceFile)
                                                : name.refused ? std::nullopt
                                                               : NameInFolder(name.name);
    path_ = FileInFolder(folder, relative ? *relative : name.name);
    if (name.changed) rewrittenFrom = request.fileName;
    app_.NotifyView(TransferFile{number, path_, rewrittenFrom});

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
    const ServerOptionRules rules{.allowTsize = settings.bAllowTsize != 0,
                                  .allowTimeout = settings.bAllowTimeout != 0,
                                  .readRequest = opcode == kRrq,
                                  .allowWindow = settings.bAllowWindowsize != 0,
                                  .maxWindow = settings.nMaxWindowsize,
                                  .maxBlockSize = settings.nMaxBlksize};
    if (!session_->AcceptOptions(request.options, rules)) {
        Ended();
        return;
    }
    timeoutOption = session_->TimeoutSecs();

    const bool nameAllowed = relative.has_value();
    const std::int64_t nowMs = app_.clock.NowMs();
    if (opcode == kRrq) {
        const bool opened =
            nameAllowed && session_->Reader().Open(path_, netascii_ != 0, forced ? nullptr : &folder);
        if (!opened) {
            RefuseFile(kErrFileNotFound, nameAllowed ? errno : 0);
            return;
        }
        total_ = session_->Reader().Size();
        // The first block (or the OACK) is out; the row moves at its ACK.
        if (session_->AnswerRead(total_, nowMs) == SessionEvent::Ended) Ended();
        return;
    }

    struct stat existing {};
    if (settings.bNoReplace == 1 && nameAllowed && ::lstat(path_.c_str(), &existing) == 0) {
        SendError(kErrFileExists);
        return;
    }
    // Written beside the target and renamed over it once the last block is
    // in (the receiver's Finish): an upload lands whole or not at all.
    const bool created = nameAllowed && session_->Writer().CreateReplacing(path_, netascii_ != 0, folder);
    if (!created) {
        RefuseFile(kErrAccessViolation, nameAllowed ? errno : 0);
        return;
    }
    total_ = 0;
    session_->AnswerWrite(nowMs);
}

bool CTftpTransfer::IsRepeatOf(const platform::PeerAddress& from, const std::uint8_t* data,
                               int length) const {
    return active && !session_->HeardFromPeer() && SameRequest(from, data, length);
}

bool CTftpTransfer::SameRequest(const platform::PeerAddress& from, const std::uint8_t* data, int length) const {
    return !overlong_ && from == requestFrom_ && length == requestLength_ &&
           std::memcmp(data, request_, static_cast<std::size_t>(length)) == 0;
}

bool CTftpTransfer::IsLateCopyOf(const platform::PeerAddress& from, const std::uint8_t* data, int length,
                                 std::int64_t arrivedNs) const {
    return active && session_->HeardFromPeer() && heardAtNs_ > 0 && arrivedNs > 0 && arrivedNs < heardAtNs_ &&
           SameRequest(from, data, length);
}

void CTftpTransfer::RepeatFirstAnswer() {
    // Already ended: nothing to repeat.
    if (active) session_->ResendNow(app_.clock.NowMs());
}

void CTftpTransfer::ResendIfDue(std::int64_t nowMs) {
    if (active) session_->Tick(nowMs);
}

int CTftpTransfer::RetryBlock() {
    if (!session_->ResendNow(app_.clock.NowMs())) return 0;
    app_.NotifyView(TransferProgress{number, opcode == kRrq ? BytesSent() : total_, 0, "Retrying"});
    return 1;
}

void CTftpTransfer::OnReceive(int error) {
    if (error != 0) return;
    // An ended transfer takes nothing more, except that a finished upload
    // still answers a repeat of its last block (the client did not hear the
    // last ACK) for as long as it lingers; the socket otherwise stays quiet
    // until the periodic check removes the transfer.
    if (!active && !AnswersRepeats()) return;
    platform::PeerAddress from;
    const int length = ReceiveFrom(buffer_.data(), ReadCapacity(session_->BlockSize()), from);
    if (length == kWouldBlock) return;
    const TransferSession::Step step =
        session_->OnDatagram(from, buffer_.data(), length == kTooLong ? -1 : length, app_.clock.NowMs());
    if (step.event == SessionEvent::Stranger)
        app_.ReportRefusal(from, kErrUnknownTransferId, ErrorText(kErrUnknownTransferId), false);
    if (heardAtNs_ == 0 && session_->HeardFromPeer()) heardAtNs_ = platform::WallClockNs();
    if (!active) return;
    if (step.heard) lastActivity = app_.clock.Now();
    OnSessionEvent(step.event);
}

void CTftpTransfer::OnSessionEvent(SessionEvent event) {
    switch (event) {
    case SessionEvent::None:
    case SessionEvent::Stranger:
    case SessionEvent::OptionsTaken:
    case SessionEvent::AskedAgain:
        return;
    case SessionEvent::Resent:
        // The client asked for the block again: it did not get it.
        app_.NotifyView(TransferProgress{number, BytesSent(), 0, "Retrying"});
        return;
    case SessionEvent::Sent:
    case SessionEvent::Written:
        retries = 0;
        Progress();
        return;
    case SessionEvent::Ended:
        Ended();
        return;
    }
}

void CTftpTransfer::Ended() {
    const SessionResult& result = session_->Result();
    active = 0;
    if (result.end == SessionEnd::Finished) {
        retries = 0;
        Progress();
        return;
    }
    errorText = result.text;
    if (result.sentCode >= 0) app_.ReportRefusal(peer, result.sentCode, errorText, false);
}

void CTftpTransfer::Progress() {
    if (opcode == kRrq) {
        // netascii: what goes on the wire is shorter than the file on disk.
        if (netascii_ && session_->Sender().LastBlockSent()) total_ = BytesSent();
        // An empty file has no percentage: its row shows the file instead.
        app_.NotifyView(TransferProgress{number, BytesSent(), total_, total_ == 0 ? path_ : std::string()});
        return;
    }
    total_ = session_->Receiver().BytesWritten();
    // No total known: the row shows the text.
    app_.NotifyView(TransferProgress{number, total_, 0, "Receiving"});
}

void CTftpTransfer::RefuseFile(int code, int error) {
    if (!IsResourceShortage(error)) {
        SendError(code);
        return;
    }
    // Not the file's fault: say what is short, so that the row tells why.
    session_->Fail(kErrUndefined, "Cannot open file: " + std::string(std::strerror(error)));
    Ended();
}

void CTftpTransfer::SendError(int code) {
    if (code == kErrOptionNegotiation) session_->FailOptions();
    else session_->Fail(code);
    Ended();
}

bool CTftpTransfer::SizeBuffers(int& blockSize, int& window, bool sending) {
    const int size = blockSize + kBufferSlack;
    try {
        buffer_.resize(static_cast<std::size_t>(PacketBufferSize(blockSize)));
    } catch (const std::bad_alloc&) {
        app_.ReportFailure(EngineFailure::TransferBuffers);
        return false;
    }
    // Linux reports twice what it grants (the rest is its own bookkeeping).
    int readBack = 0;
    const bool read = sending ? GetSendBufferSize(readBack) : GetReceiveBufferSize(readBack);
    const int request = SocketBufferRequest(blockSize, read ? readBack / 2 : 0, window);
    const bool ok = sending ? SetSendBufferSize(request) && GetSendBufferSize(readBack)
                            : SetReceiveBufferSize(request) && GetReceiveBufferSize(readBack);
    if (!ok) return false;
    const int granted = readBack / 2;
    if (granted < size) {
        blockSize = granted - kBufferSlack;
        if (blockSize < kMinBlockSize) return false;
        buffer_.resize(static_cast<std::size_t>(PacketBufferSize(blockSize)));
    }
    // A window the receiving buffer cannot hold would lose its last blocks
    // every time: offer the one it holds (ours, or a client's left as the
    // system made it).
    window = sending ? WindowAPeerHolds(window, blockSize) : WindowThatFits(window, blockSize, readBack);
    return true;
}
