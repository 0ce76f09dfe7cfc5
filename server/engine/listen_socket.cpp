#include "listen_socket.h"

#include "common/digits.h"
#include "common/local_address.h"
#include "common/port_range.h"
#include "common/tftp_packet.h"
#include "common/uninitialized_bytes.h"
#include "server/engine/manager.h"

#include <cerrno>
#include <cstring>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <algorithm>
#include <iterator>
#include <new>

namespace {

constexpr int kDefaultPort = 69;
constexpr int kMaxPort = 65535;
constexpr int kMinTimeout = 1;
constexpr int kMaxTimeout = 7200;
constexpr int kLastTransferNumber = 501;
// The largest UDP datagram there is.
constexpr std::size_t kDatagramRoom = 65536;

// Running transfers at which a new request is refused, by slider position;
// -1: no limit. Ended transfers waiting to be reported do not count.
int ClientLimit(int nMaxClients) {
    switch (nMaxClients) {
    case 1: return 5;
    case 2: return 10;
    case 3: return 15;
    case 4: return 30;
    case 5: return -1;
    default: return 1;
    }
}

}  // namespace

CListenSocket::CListenSocket(ServerContext& app) : app_(app), request_(kDatagramRoom) {}

CListenSocket::~CListenSocket() {
    // The threads end first; each manager then deletes its transfer.
    for (auto& manager : transfers_) manager->TerminateThread();
    transfers_.clear();
    EndLingering(0, true);
}

void CListenSocket::EndLingering(std::int64_t nowMs, bool all) {
    for (auto it = lingering_.begin(); it != lingering_.end();) {
        if (all || nowMs >= it->untilMs) {
            it->manager->TerminateThread();
            it = lingering_.erase(it);
        } else {
            ++it;
        }
    }
}

bool CListenSocket::StartListening() {
    EngineSettings& settings = app_.settings;
    int port = tftp::LeadingDigits(settings.Port);
    if (port == 0) port = kDefaultPort;
    return settings.bListenAll != 0 ? ListenOnAll(port) : ListenOnOne(port);
}

bool CListenSocket::ListenOnOne(int port) {
    EngineSettings& settings = app_.settings;
    failure_ = ListenFailure::NoAddress;
    tftp::LocalAddressChoice choice;
    if (!tftp::SelectLocalAddress(app_.addresses, app_.prompts,
                                  tftp::ServerAddressSettings{settings.nDefAddress,
                                                              settings.bShowMultihomed},
                                  choice)) {
        return false;
    }
    hostName_ = choice.hostName;
    addressCount_ = choice.addressCount;
    localAddress_ = choice.address;
    listeningAll_ = false;
    allAddresses_.clear();
    return Listen(port, localAddress_);
}

bool CListenSocket::ListenOnAll(int port) {
    // Nothing to choose: the host's name and addresses are only shown.
    int error = 0;
    hostName_.clear();
    app_.addresses.HostName(hostName_, error);
    std::vector<std::uint32_t> list;
    addressCount_ = app_.addresses.HostAddresses(hostName_, list) ? static_cast<int>(list.size()) : 0;
    allAddresses_ = app_.addresses.AllAddresses();
    localAddress_ = kAllAddressesText;
    listeningAll_ = true;
    // Every address of both families on one socket: one read path for all
    // clients, and a client is known by one address value whichever family
    // it came by.
    return Listen(port, "::");
}

bool CListenSocket::Listen(int port, const std::string& bindAddress) {
    // A port number past the 16-bit range would silently become another one.
    if (port > kMaxPort || !Create(bindAddress, static_cast<std::uint16_t>(port), true) ||
        (listeningAll_ && !ReceiveDestinations())) {
        failure_ = ListenFailure::CannotBind;
        return false;
    }
    NoteArrivals();
    app_.listenLabel = localAddress_ + "." + std::to_string(port);
    if (!AsyncSelect()) {
        failure_ = ListenFailure::NoReadNotifications;
        return false;
    }
    failure_ = ListenFailure::None;
    return true;
}

void CListenSocket::Refuse(std::string_view text) { RefuseWith(text, client_, asked_); }

void CListenSocket::RefuseWith(std::string_view text, const platform::PeerAddress& to,
                               const platform::PeerAddress& from) {
    std::uint8_t packet[128];
    const std::size_t n = tftp::BuildError(packet, sizeof packet, tftp::kErrUndefined, text);
    if (n == 0) return;
    // From the address the client asked, or it would not know the answer.
    SendFrom(packet, static_cast<int>(n), to, from);
    app_.ReportRefusal(to, tftp::kErrUndefined, text, true);
}

std::string CListenSocket::TransferAddress(const platform::PeerAddress& asked,
                                           const platform::PeerAddress& client) const {
    if (!listeningAll_) return localAddress_;
    if (!asked.IsUnspecified()) return asked.BindText();
    // Not told: the client's family's wildcard still reaches it.
    return client.v6 ? "::" : "0.0.0.0";
}

void CListenSocket::OnReceive(int error) {
    if (error != 0) return;
    // Nothing is read past the datagram's length, so nothing needs zeroing.
    const int n = ReceiveFrom(request_.data(), static_cast<int>(request_.size()), client_);
    if (n == kWouldBlock) return;
    asked_ = LastDestination();
    const std::int64_t arrivedNs = LastArrivalNs();
    requestLength_ = n == kTooLong ? 0 : n;

    if (app_.bServing != 1) {
        Refuse(tftp::kServiceNotAvailable);
        return;
    }
    const std::string clientText = client_.AddressText();
    const EngineSettings& settings = app_.settings;
    if (settings.bDeny == 1 && settings.MatchesDenyList(clientText)) {
        Refuse(tftp::kServiceNotAvailable);
        return;
    }
    if (settings.bAllow == 1 && !settings.MatchesAllowList(clientText)) {
        Refuse(tftp::kServiceNotAvailable);
        return;
    }
    if (requestLength_ <= 3) return;
    const std::uint16_t opcode = tftp::GetU16(request_.data());
    if (opcode != tftp::kRrq && opcode != tftp::kWrq) return;
    // A client that heard nothing asks again: answer it from the transfer it
    // already has rather than start a second one (or refuse it for the
    // limit its own first request holds).
    for (auto& manager : transfers_) {
        CTftpTransfer* x = manager->transfer.get();
        if (!x) continue;
        const auto hold = x->Hold();
        if (x->IsRepeatOf(client_, request_.data(), requestLength_)) {
            x->RepeatFirstAnswer();
            return;
        }
        // Its own thread heard the client before this copy was read here.
        if (x->IsLateCopyOf(client_, request_.data(), requestLength_, arrivedNs)) return;
    }
    if (Admit() == 0) Refuse(tftp::kTooManyClients);
}

int CListenSocket::Admit() {
    std::lock_guard<std::mutex> lock(app_.admissionLock);

    if (app_.transferCounter >= kLastTransferNumber) app_.transferCounter = 0;
    const int limit = ClientLimit(app_.settings.nMaxClients);
    if (limit >= 0 && RunningCount() >= limit) return 0;

    const platform::PeerAddress client = client_;
    const platform::PeerAddress asked = asked_;
    CManager* admitted = nullptr;
    bool threadStarted = false;
    int threadError = 0;
    try {
        auto manager = std::make_unique<CManager>(app_);
        manager->admittedMs = app_.clock.NowMs();
        CTftpTransfer& transfer = *manager->transfer;
        transfer.SetRequest(request_.data(), requestLength_);
        transfer.peer = client;
        transfer.localAddress = TransferAddress(asked, client);
        threadStarted = manager->InitInstance();
        threadError = errno;
        // No port of the transfer-port range free: refused as for the client
        // limit, the thread ended with the manager. (Any other socket
        // failure, the system's own ports all taken included, is the
        // transfer's own to tell.)
        const EngineSettings& settings = app_.settings;
        const bool inRange = !tftp::StoredPortRange(settings.nPortRangeLow, settings.nPortRangeHigh).Empty();
        if (threadStarted && inRange) {
            auto hold = transfer.Hold();
            if (!transfer.OpenSocket() && transfer.LastError() == EADDRINUSE) {
                hold.unlock();
                return 0;
            }
        }
        admitted = manager.get();
        transfers_.push_back(std::move(manager));
    } catch (const std::bad_alloc&) {
        RefuseWith("Out of memory", client, asked);
        return 1;
    }
    CTftpTransfer& transfer = *admitted->transfer;

    ++app_.transferCounter;
    app_.NotifyView(TransferStarted{app_.transferCounter, client.AddressText()});

    bool unanswered = false;
    std::string why;
    {
        const auto hold = transfer.Hold();
        transfer.number = app_.transferCounter;
        if (threadStarted) {
            transfer.HandleRequest();
        } else {
            // No thread to carry it: the transfer ends before it starts.
            transfer.EndUnstarted("No thread: " + std::string(std::strerror(threadError)));
        }
        unanswered = !transfer.IsOpen() && !transfer.active;
        if (unanswered) why = transfer.errorText;
    }
    // Its thread waits on the socket from now on.
    admitted->Wake();
    // A transfer without a socket of its own is answered from this one.
    if (unanswered) RefuseWith(why, client, asked);
    return 1;
}

int CListenSocket::RunningCount() const {
    int running = 0;
    for (const auto& manager : transfers_) {
        if (!manager->transfer) continue;
        const auto hold = manager->transfer->Hold();
        if (manager->transfer->active) ++running;
    }
    return running;
}

void CListenSocket::SweepTransfers() {
    EngineSettings& settings = app_.settings;
    int limitSetting = tftp::LeadingDigits(settings.Timeout);
    if (limitSetting < kMinTimeout || limitSetting > kMaxTimeout) {
        settings.Timeout.assign(1, '1');  // not = "1": GCC 12 warns falsely (-Wrestrict)
        limitSetting = 1;
    }
    EndLingering(app_.clock.NowMs(), false);
    GiveBackMemoryWhenIdle(app_.clock.NowMs());
    if (transfers_.empty()) {
        // May replace (delete) this listener: nothing of it is touched after.
        app_.EndPendingDecision();
        return;
    }

    const std::int64_t now = app_.clock.Now();
    for (auto it = transfers_.begin(); it != transfers_.end();) {
        const auto next = std::next(it);
        CTftpTransfer* x = (*it)->transfer.get();
        if (!x) {
            it = next;
            continue;
        }
        bool ended = false, timedOut = false, lingers = false;
        {
            const auto hold = x->Hold();
            if (!x->active) {
                ended = true;
            } else {
                const std::int64_t limit = x->timeoutOption == 0 ? limitSetting : x->timeoutOption;
                if (now - x->lastActivity > limit) {
                    // Five retries in a row without progress, in either direction.
                    if (x->retries > 4) {
                        ended = timedOut = true;
                    } else {
                        ++x->retries;
                        x->lastActivity = now;
                        if (!x->RetryBlock()) ended = true;
                    }
                }
            }
            if (ended) {
                const int number = x->number;
                app_.NotifyView(TransferEnded{number, timedOut});
                const std::string result = timedOut ? std::string("TimedOut")
                                                    : (!x->errorText.empty() ? x->errorText : std::string("Finished"));
                app_.NotifyView(
                    TransferResult{number, result + (x->opcode == tftp::kRrq ? " : Sending" : " : Receiving")});
                ReportEnd(**it, result);
                lingers = x->AnswersRepeats();
            }
        }
        if (ended) {
            std::unique_ptr<CManager> manager = std::move(*it);
            transfers_.erase(it);
            if (lingers) {
                const std::int64_t until = x->LingerUntilMs();
                lingering_.push_back(Lingering{std::move(manager), until});
            } else {
                manager->TerminateThread();
                manager->transfer.reset();
            }
        }
        it = next;
    }
}

void CListenSocket::GiveBackMemoryWhenIdle(std::int64_t nowMs) {
    if (!transfers_.empty() || !lingering_.empty()) {
        idleSinceMs_ = -1;
        memoryGivenBack_ = false;
        return;
    }
    if (idleSinceMs_ < 0) idleSinceMs_ = nowMs;
    if (memoryGivenBack_ || nowMs - idleSinceMs_ < kGiveBackAfterIdleMs) return;
    // Quiet a while: hand the memory of a busy spell back to the system
    // rather than keep it. (Not at once: a client that fetches one file after
    // another would have it all again, page by page, for every file.)
    memoryGivenBack_ = true;
    tftp::kept_buffers::Release();
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

void CListenSocket::ResendSilent() {
    const std::int64_t nowMs = app_.clock.NowMs();
    for (auto& manager : transfers_) {
        CTftpTransfer* x = manager->transfer.get();
        if (!x) continue;
        const auto hold = x->Hold();
        // Ended: told now, not at the row's next tick (a time-out is only
        // known there).
        if (!x->active) ReportEnd(*manager, x->errorText.empty() ? "Finished" : x->errorText);
        else x->ResendIfDue(nowMs);
    }
}

void CListenSocket::ReportEnd(CManager& manager, const std::string& result) {
    const CTftpTransfer* x = manager.transfer.get();
    if (!x || manager.endReported || !app_.events) return;
    manager.endReported = true;
    const bool sending = x->opcode == tftp::kRrq;
    app_.ReportEnded(TransferEndEvent{ClientText(x->peer), x->Path(), sending, sending ? x->BytesSent() : x->Total(),
                                      result, app_.clock.NowMs() - manager.admittedMs, x->rewrittenFrom});
}

bool CListenSocket::TransfersIdle() const {
    const auto idle = [](const std::unique_ptr<CManager>& manager) {
        const CTftpTransfer* x = manager->transfer.get();
        if (!x) return true;
        const auto hold = x->Hold();
        return !x->HasInput();
    };
    return std::all_of(transfers_.begin(), transfers_.end(), idle) &&
           std::all_of(lingering_.begin(), lingering_.end(),
                       [&](const Lingering& l) { return idle(l.manager); });
}

int CListenSocket::TransferCount() const { return static_cast<int>(transfers_.size()); }

std::vector<pid_t> CListenSocket::WorkerThreadIds() const {
    std::vector<pid_t> ids;
    ids.reserve(transfers_.size());
    for (const auto& manager : transfers_) ids.push_back(manager->ThreadId());
    return ids;
}
