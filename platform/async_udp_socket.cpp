#include "async_udp_socket.h"

#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace platform {
namespace {

// Datagrams per system call, both ways, and OnReceive calls per turn of the
// event loop: a window of blocks in a few calls, and other sockets and timers
// still get their turn during a long burst.
constexpr int kBatch = 64;
// Room a socket may hold for datagrams taken but not yet handed out; a socket
// starts with a few slots and grows only when bursts fill them.
constexpr std::size_t kQueueBytes = 256 * 1024;
constexpr int kFirstSlots = 3;

// A socket address for a socket of the given family: an IPv4 peer of an
// IPv6 socket goes as a mapped address. Zero when the family cannot reach it.
socklen_t ToSockaddr(const PeerAddress& peer, int family, sockaddr_in6& storage) {
    storage = sockaddr_in6{};
    if (family == AF_INET) {
        if (peer.v6) return 0;
        auto& sa = reinterpret_cast<sockaddr_in&>(storage);
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = peer.address;
        sa.sin_port = htons(peer.port);
        return sizeof(sockaddr_in);
    }
    storage.sin6_family = AF_INET6;
    storage.sin6_port = htons(peer.port);
    if (peer.v6) {
        std::memcpy(storage.sin6_addr.s6_addr, peer.address6.data(), 16);
        storage.sin6_scope_id = peer.scope;
    } else {
        storage.sin6_addr.s6_addr[10] = 0xFF;
        storage.sin6_addr.s6_addr[11] = 0xFF;
        std::memcpy(storage.sin6_addr.s6_addr + 12, &peer.address, 4);
    }
    return sizeof(sockaddr_in6);
}

// A mapped IPv4 address comes back as IPv4.
PeerAddress FromIn6(const in6_addr& a, std::uint32_t scope, std::uint16_t networkPort) {
    PeerAddress p;
    p.port = ntohs(networkPort);
    if (IN6_IS_ADDR_V4MAPPED(&a)) {
        std::memcpy(&p.address, a.s6_addr + 12, 4);
    } else {
        p.v6 = true;
        std::memcpy(p.address6.data(), a.s6_addr, 16);
        p.scope = scope;
    }
    return p;
}

PeerAddress FromSockaddr(const sockaddr_in6& storage) {
    if (storage.sin6_family == AF_INET6)
        return FromIn6(storage.sin6_addr, storage.sin6_scope_id, storage.sin6_port);
    const auto& sa = reinterpret_cast<const sockaddr_in&>(storage);
    return PeerAddress{sa.sin_addr.s_addr, ntohs(sa.sin_port)};
}

// The local address a datagram was sent to, from its IP_PKTINFO or
// IPV6_PKTINFO control message.
bool DestinationOf(msghdr& h, PeerAddress& to) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&h); c; c = CMSG_NXTHDR(&h, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO &&
            c->cmsg_len >= CMSG_LEN(sizeof(in_pktinfo))) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            to = PeerAddress{info.ipi_addr.s_addr, 0};
            return true;
        }
        if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO &&
            c->cmsg_len >= CMSG_LEN(sizeof(in6_pktinfo))) {
            in6_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            to = FromIn6(info.ipi6_addr, 0, 0);
            // A link-local address means something only with its interface.
            if (to.v6 && IN6_IS_ADDR_LINKLOCAL(&info.ipi6_addr)) to.scope = info.ipi6_ifindex;
            return true;
        }
    }
    return false;
}

// Room for either control message.
constexpr std::size_t kControlRoom = CMSG_SPACE(sizeof(in6_pktinfo)) + CMSG_SPACE(sizeof(in_pktinfo));

}  // namespace

// Datagrams taken from the system with one recvmmsg call and handed out in
// order. A receive that finds nothing held gets the first datagram straight
// into its own buffer; the others wait in slots of that receive's length.
class AsyncUdpSocket::ReceiveQueue {
public:
    bool Empty() const { return next_ >= count_; }

    // A receive with nothing held: reads what is waiting, as far as there is
    // room, in one call (without batch, the first datagram alone). The first
    // datagram's result, or kWouldBlock.
    // With destinations, the datagram is read alone with the local address
    // it was sent to.
    int Fill(int fd, void* buffer, int len, PeerAddress& from, int& lastError, bool batch,
             PeerAddress* destination) {
        slotSize_ = static_cast<std::size_t>(len);
        if ((batch && !destination ? Read(fd, buffer) : ReadOne(fd, buffer, destination)) <= 0) {
            lastError = errno;
            return kWouldBlock;
        }
        next_ = 1;
        return Result(0, len, from);
    }

    // Once all is handed out: when the last read filled every slot, more may
    // wait; takes it at the length last asked for. True when something came.
    bool Refill(int fd) { return filledAll_ && Read(fd, nullptr) > 0; }

    // The next held datagram, measured against len as well.
    int Take(void* buffer, int len, PeerAddress& from) {
        const int i = next_++;
        const int n = Result(i, len, from);
        if (n > 0) std::memcpy(buffer, Slot(i), static_cast<std::size_t>(n));
        return n;
    }

private:
    // One datagram straight into the receive's buffer, nothing held.
    int ReadOne(int fd, void* first, PeerAddress* destination) {
        next_ = count_ = 0;
        filledAll_ = firstOutside_ = false;
        if (headers_.empty()) {
            headers_.resize(1);
            names_.resize(1);
        }
        ssize_t n;
        if (destination) {
            alignas(cmsghdr) char control[kControlRoom];
            iovec iov{first, slotSize_};
            msghdr h{};
            h.msg_name = &names_[0];
            h.msg_namelen = sizeof(sockaddr_in6);
            h.msg_iov = &iov;
            h.msg_iovlen = 1;
            h.msg_control = control;
            h.msg_controllen = sizeof control;
            do {
                n = ::recvmsg(fd, &h, MSG_TRUNC);
            } while (n < 0 && errno == EINTR);
            *destination = PeerAddress{};
            if (n >= 0) DestinationOf(h, *destination);
        } else {
            socklen_t nameLength = sizeof(sockaddr_in6);
            do {
                n = ::recvfrom(fd, first, slotSize_, MSG_TRUNC,
                               reinterpret_cast<sockaddr*>(&names_[0]), &nameLength);
            } while (n < 0 && errno == EINTR);
        }
        if (n < 0) return 0;
        headers_[0].msg_len = static_cast<unsigned>(n);
        count_ = 1;
        return 1;
    }

    int Read(int fd, void* first) {
        next_ = count_ = 0;
        filledAll_ = false;
        firstOutside_ = first != nullptr;
        // No slots (one datagram per call) for a length larger than the room.
        const int inside = static_cast<int>(std::min<std::size_t>(
            {static_cast<std::size_t>(wantedSlots_), kBatch - 1u,
             slotSize_ == 0 ? kBatch - 1u : kQueueBytes / slotSize_}));
        const int total = inside + (firstOutside_ ? 1 : 0);
        if (total == 0) return 0;
        Prepare(inside, total, first);
        int n;
        do {
            // MSG_TRUNC makes each msg_len the datagram's real length.
            n = ::recvmmsg(fd, headers_.data(), static_cast<unsigned>(total), MSG_TRUNC, nullptr);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) return 0;
        count_ = n;
        filledAll_ = inside > 0 && n == total;
        if (filledAll_) wantedSlots_ = std::min(2 * wantedSlots_ + 1, kBatch - 1);
        return n;
    }

    void Prepare(int inside, int total, void* first) {
        const std::size_t room = slotSize_ * static_cast<std::size_t>(inside);
        if (room > bytesSize_) {
            bytes_ = std::make_unique<char[]>(room);
            bytesSize_ = room;
        }
        const std::size_t count = static_cast<std::size_t>(total);
        if (headers_.size() < count) {
            headers_.resize(count);
            iovs_.resize(count);
            names_.resize(count);
        }
        for (std::size_t i = 0; i < count; ++i) {
            const bool outside = firstOutside_ && i == 0;
            iovs_[i] = iovec{outside ? first : Slot(static_cast<int>(i)), slotSize_};
            msghdr& h = headers_[i].msg_hdr;
            h = msghdr{};
            h.msg_name = &names_[i];
            h.msg_namelen = sizeof(sockaddr_in6);
            h.msg_iov = &iovs_[i];
            h.msg_iovlen = 1;
        }
    }

    char* Slot(int i) const {
        return bytes_.get() + static_cast<std::size_t>(i - (firstOutside_ ? 1 : 0)) * slotSize_;
    }

    int Result(int i, int len, PeerAddress& from) const {
        const std::size_t k = static_cast<std::size_t>(i);
        from = FromSockaddr(names_[k]);
        const unsigned n = headers_[k].msg_len;
        if (n > slotSize_ || n > static_cast<unsigned>(len)) return kTooLong;
        return static_cast<int>(n);
    }

    std::vector<mmsghdr> headers_;
    std::vector<iovec> iovs_;
    std::vector<sockaddr_in6> names_;
    std::unique_ptr<char[]> bytes_;
    std::size_t bytesSize_ = 0;
    std::size_t slotSize_ = 0;
    int wantedSlots_ = kFirstSlots;
    int next_ = 0;
    int count_ = 0;
    bool firstOutside_ = false;
    bool filledAll_ = false;
};

AsyncUdpSocket::AsyncUdpSocket() = default;

AsyncUdpSocket::~AsyncUdpSocket() { Close(); }

bool AsyncUdpSocket::Create(const std::string& localAddress, std::uint16_t port,
                            bool notifyReads) {
    Close();
    // Dotted text goes as inet_addr reads it; its no-address value is never
    // a local address (Linux would accept it as the broadcast address).
    PeerAddress local;
    if (localAddress.find(':') == std::string::npos) {
        local.address = InetAddr(localAddress);
        if (local.address == kInaddrNone) {
            lastError_ = EADDRNOTAVAIL;
            return false;
        }
    } else if (!ParseAddress(localAddress, local)) {
        lastError_ = EADDRNOTAVAIL;
        return false;
    }
    local.port = port;
    // The IPv6 wildcard takes both families on one socket; a system without
    // IPv6 still gets the IPv4 wildcard.
    const bool allFamilies = local.v6 && local.IsUnspecified();
    if (!Open(local.v6 ? AF_INET6 : AF_INET, allFamilies)) {
        if (!allFamilies || (lastError_ != EAFNOSUPPORT && lastError_ != EADDRNOTAVAIL)) return false;
        local = PeerAddress{0, port};
        if (!Open(AF_INET, false)) return false;
    }
    sockaddr_in6 sa{};
    const socklen_t length = ToSockaddr(local, family_, sa);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&sa), length) != 0) {
        lastError_ = errno;
        const bool retryV4 = allFamilies && family_ == AF_INET6 && errno == EADDRNOTAVAIL;
        Close();
        if (!retryV4) return false;
        // IPv6 switched off everywhere: the IPv4 wildcard serves.
        return Create("0.0.0.0", port, notifyReads);
    }
    return notifyReads ? AsyncSelect() : true;
}

bool AsyncUdpSocket::Open(int family, bool allFamilies) {
    fd_ = ::socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        lastError_ = errno;
        return false;
    }
    family_ = family;
    if (family == AF_INET6) {
        // Explicit either way: the system default (bindv6only) must not decide.
        const int only = allFamilies ? 0 : 1;
        ::setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
    }
    return true;
}

bool AsyncUdpSocket::ReceiveDestinations() {
    if (fd_ < 0) return false;
    const int on = 1;
    bool ok = ::setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) == 0;
    if (family_ == AF_INET6)
        ok = ::setsockopt(fd_, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on) == 0 && ok;
    if (!ok) lastError_ = errno;
    destinations_ = ok;
    return ok;
}

bool AsyncUdpSocket::ReportUnreachable(bool on) {
    if (fd_ < 0) return false;
    const int value = on ? 1 : 0;
    bool ok;
    if (family_ == AF_INET6) {
        ok = ::setsockopt(fd_, IPPROTO_IPV6, IPV6_RECVERR, &value, sizeof value) == 0;
        // Also for IPv4 peers of a socket of both families (may be refused on
        // an IPv6-only one, which needs none).
        ::setsockopt(fd_, IPPROTO_IP, IP_RECVERR, &value, sizeof value);
    } else {
        ok = ::setsockopt(fd_, IPPROTO_IP, IP_RECVERR, &value, sizeof value) == 0;
    }
    if (!ok) {
        lastError_ = errno;
        return false;
    }
    reportUnreachable_ = on;
    if (!on) DrainErrorReports();
    return true;
}

int AsyncUdpSocket::DrainErrorReports() {
    int first = 0;
    // Bounded: the queue holds what the system had learnt when we looked.
    for (int i = 0; i < kBatch; ++i) {
        char byte;
        iovec iov{&byte, 1};
        sockaddr_in6 offender{};
        alignas(cmsghdr) char control[256];
        msghdr h{};
        h.msg_name = &offender;
        h.msg_namelen = sizeof offender;
        h.msg_iov = &iov;
        h.msg_iovlen = 1;
        h.msg_control = control;
        h.msg_controllen = sizeof control;
        ssize_t n;
        do {
            n = ::recvmsg(fd_, &h, MSG_ERRQUEUE | MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
        if (n < 0) break;
        for (cmsghdr* c = CMSG_FIRSTHDR(&h); c && first == 0; c = CMSG_NXTHDR(&h, c)) {
            const bool report = (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR) ||
                                (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR);
            if (!report || c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err))) continue;
            sock_extended_err e{};
            std::memcpy(&e, CMSG_DATA(c), sizeof e);
            first = static_cast<int>(e.ee_errno);
        }
    }
    return first;
}

bool AsyncUdpSocket::AsyncSelect() {
    if (fd_ < 0) return false;
    readsWanted_ = true;
    if (ownerDriven_) return true;
    if (!notifier_) {
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                         [this] { Dispatch(); });
    }
    notifier_->setEnabled(true);
    if (HoldsQueued()) AnnounceQueued();
    return true;
}

void AsyncUdpSocket::Close() {
    ++generation_;
    readsWanted_ = false;
    if (queuedTimer_) queuedTimer_->stop();
    queue_.reset();  // what it held is dropped with the socket
    if (notifier_) {
        notifier_->setEnabled(false);
        // A notifier must not be deleted while it is emitting its signal.
        if (dispatchDepth_ > 0) notifier_.release()->deleteLater();
        else notifier_.reset();
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    destinations_ = false;
    reportUnreachable_ = false;
    lastDestination_ = PeerAddress{};
}

bool AsyncUdpSocket::HoldsQueued() const { return queue_ && !queue_->Empty(); }

void AsyncUdpSocket::NoteArrivals() {
    readInBatches_ = false;
    // The first ask switches the system's notes on (it knows of no datagram yet).
    timespec stamp{};
    if (fd_ >= 0) ::ioctl(fd_, SIOCGSTAMPNS, &stamp);
}

std::int64_t AsyncUdpSocket::LastArrivalNs() const {
    timespec stamp{};
    if (fd_ < 0 || ::ioctl(fd_, SIOCGSTAMPNS, &stamp) != 0) return 0;
    return static_cast<std::int64_t>(stamp.tv_sec) * 1'000'000'000 + stamp.tv_nsec;
}

bool AsyncUdpSocket::HasInput() const {
    if (HoldsQueued()) return true;
    int queued = 0;
    return fd_ >= 0 && ::ioctl(fd_, FIONREAD, &queued) == 0 && queued > 0;
}

void AsyncUdpSocket::EnableReads(bool on) {
    readsWanted_ = on;
    if (notifier_ && notifier_->isEnabled() != on) notifier_->setEnabled(on);
}

void AsyncUdpSocket::AnnounceQueued() {
    // The owner of its own wait looks at HoldsQueued itself.
    if (!notifier_) return;
    if (!queuedTimer_) {
        queuedTimer_ = std::make_unique<QTimer>();
        queuedTimer_->setSingleShot(true);
        queuedTimer_->setInterval(0);
        QObject::connect(queuedTimer_.get(), &QTimer::timeout, queuedTimer_.get(), [this] {
            if (HoldsQueued() && notifier_ && notifier_->isEnabled()) Dispatch();
        });
    }
    queuedTimer_->start();
}

void AsyncUdpSocket::Dispatch() {
    if (queuedTimer_) queuedTimer_->stop();
    const unsigned generation = generation_;
    ++dispatchDepth_;
    bool tried = false;
    for (int calls = 0; calls < kBatch; ++calls) {
        receiveTried_ = false;
        OnReceive(0);
        // The owner may have closed the socket inside OnReceive (and even
        // opened it again): nothing of this turn is left to serve.
        if (generation != generation_) break;
        tried = receiveTried_;
        if (!tried) break;
        // Called again only for a datagram already in hand.
        if (!HoldsQueued() && !(queue_ && queue_->Refill(fd_))) break;
    }
    --dispatchDepth_;
    if (generation != generation_) return;
    if (!tried) {
        EnableReads(false);
        return;
    }
    // Still held after this turn's share: the rest on the next turn. Whatever
    // the system still has keeps the socket readable by itself.
    if (HoldsQueued()) AnnounceQueued();
}

void AsyncUdpSocket::OnReceive(int) {}

int AsyncUdpSocket::ReceiveFrom(void* buffer, int len, PeerAddress& from) {
    receiveTried_ = true;
    if ((notifier_ || ownerDriven_) && !readsWanted_) EnableReads(true);
    if (fd_ < 0 || len < 0) return kWouldBlock;
    if (HoldsQueued()) {
        const int n = queue_->Take(buffer, len, from);
        if (dispatchDepth_ == 0 && HoldsQueued()) AnnounceQueued();
        return n;
    }
    if (!queue_) queue_ = std::make_unique<ReceiveQueue>();
    const int n = queue_->Fill(fd_, buffer, len, from, lastError_, readInBatches_,
                               destinations_ ? &lastDestination_ : nullptr);
    if (n == kWouldBlock && reportUnreachable_) {
        // The receive itself may have reported the error (or a send took
        // it); the reports wait in the error queue either way.
        if (const int reported = DrainErrorReports(); reported != 0) lastError_ = reported;
    }
    if (dispatchDepth_ == 0 && HoldsQueued()) AnnounceQueued();
    return n;
}

int AsyncUdpSocket::SendTo(const void* data, int len, const PeerAddress& to) {
    return SendFrom(data, len, to, PeerAddress{});
}

int AsyncUdpSocket::SendFrom(const void* data, int len, const PeerAddress& to,
                             const PeerAddress& source) {
    if (fd_ < 0 || len < 0) return -1;
    sockaddr_in6 sa{};
    const socklen_t length = ToSockaddr(to, family_, sa);
    if (length == 0) {
        lastError_ = EAFNOSUPPORT;
        return -1;
    }
    iovec iov{const_cast<void*>(data), static_cast<std::size_t>(len)};
    msghdr h{};
    h.msg_name = &sa;
    h.msg_namelen = length;
    h.msg_iov = &iov;
    h.msg_iovlen = 1;
    alignas(cmsghdr) char control[kControlRoom] = {};
    if (!source.IsUnspecified() && source.v6 == to.v6) {
        h.msg_control = control;
        cmsghdr* c = reinterpret_cast<cmsghdr*>(control);
        if (source.v6) {
            in6_pktinfo info{};
            std::memcpy(info.ipi6_addr.s6_addr, source.address6.data(), 16);
            info.ipi6_ifindex = source.scope;
            c->cmsg_level = IPPROTO_IPV6;
            c->cmsg_type = IPV6_PKTINFO;
            c->cmsg_len = CMSG_LEN(sizeof info);
            std::memcpy(CMSG_DATA(c), &info, sizeof info);
            h.msg_controllen = CMSG_SPACE(sizeof info);
        } else {
            in_pktinfo info{};
            info.ipi_spec_dst.s_addr = source.address;
            c->cmsg_level = IPPROTO_IP;
            c->cmsg_type = IP_PKTINFO;
            c->cmsg_len = CMSG_LEN(sizeof info);
            std::memcpy(CMSG_DATA(c), &info, sizeof info);
            h.msg_controllen = CMSG_SPACE(sizeof info);
        }
    }
    ssize_t n;
    do {
        n = h.msg_control ? ::sendmsg(fd_, &h, 0)
                          : ::sendto(fd_, data, static_cast<size_t>(len), 0,
                                     reinterpret_cast<const sockaddr*>(&sa), length);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        lastError_ = errno;
        return -1;
    }
    return static_cast<int>(n);
}

int AsyncUdpSocket::SendBatch(const DatagramView* datagrams, int count, const PeerAddress& to) {
    if (fd_ < 0 || datagrams == nullptr) return 0;
    sockaddr_in6 sa{};
    const socklen_t length = ToSockaddr(to, family_, sa);
    if (length == 0) {
        lastError_ = EAFNOSUPPORT;
        return 0;
    }
    mmsghdr headers[kBatch];
    iovec iovs[kBatch];
    int sent = 0;
    while (sent < count) {
        // A datagram of negative length ends the batch before it.
        int n = 0;
        while (n < kBatch && sent + n < count && datagrams[sent + n].length >= 0) {
            const DatagramView& d = datagrams[sent + n];
            iovs[n] = iovec{const_cast<void*>(d.data), static_cast<std::size_t>(d.length)};
            headers[n] = mmsghdr{};
            headers[n].msg_hdr.msg_name = &sa;
            headers[n].msg_hdr.msg_namelen = length;
            headers[n].msg_hdr.msg_iov = &iovs[n];
            headers[n].msg_hdr.msg_iovlen = 1;
            ++n;
        }
        if (n == 0) break;
        // One alone (lock-step) goes the cheaper way.
        const int done = n == 1 ? (SendTo(datagrams[sent].data, datagrams[sent].length, to) < 0 ? -1 : 1)
                                : ::sendmmsg(fd_, headers, static_cast<unsigned>(n), 0);
        if (done < 0 && errno == EINTR) continue;
        if (done < 0) {
            // A full buffer (EAGAIN, ENOBUFS) or an error: the rest is the
            // caller's to send again later.
            lastError_ = errno;
            break;
        }
        if (done == 0) break;
        // Fewer than asked: the next call meets the reason and reports it.
        sent += done;
    }
    return sent;
}

int AsyncUdpSocket::SendTo(const void* data, int len, const std::string& hostText,
                           std::uint16_t port) {
    PeerAddress to{InetAddr(hostText), port};
    if (hostText.find(':') != std::string::npos && !ParseAddress(hostText, to)) {
        lastError_ = EDESTADDRREQ;
        return -1;
    }
    return SendTo(data, len, to);
}

static bool SetIntOption(int fd, int option, int value, int& lastError) {
    if (fd < 0) return false;
    if (::setsockopt(fd, SOL_SOCKET, option, &value, sizeof value) != 0) {
        lastError = errno;
        return false;
    }
    return true;
}

static bool GetIntOption(int fd, int option, int& value) {
    if (fd < 0) return false;
    socklen_t len = sizeof value;
    return ::getsockopt(fd, SOL_SOCKET, option, &value, &len) == 0;
}

bool AsyncUdpSocket::SetSendBufferSize(int bytes) {
    return SetIntOption(fd_, SO_SNDBUF, bytes, lastError_);
}
bool AsyncUdpSocket::SetReceiveBufferSize(int bytes) {
    return SetIntOption(fd_, SO_RCVBUF, bytes, lastError_);
}
bool AsyncUdpSocket::GetSendBufferSize(int& bytes) const {
    return GetIntOption(fd_, SO_SNDBUF, bytes);
}
bool AsyncUdpSocket::GetReceiveBufferSize(int& bytes) const {
    return GetIntOption(fd_, SO_RCVBUF, bytes);
}

std::uint16_t AsyncUdpSocket::LocalPort() const { return LocalName().port; }

PeerAddress AsyncUdpSocket::LocalName() const {
    if (fd_ < 0) return {};
    sockaddr_in6 sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return {};
    return FromSockaddr(sa);
}

bool SourceAddressFor(const PeerAddress& to, PeerAddress& source) {
    const int family = to.v6 ? AF_INET6 : AF_INET;
    const int fd = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    PeerAddress probe = to;
    if (probe.port == 0) probe.port = 9;  // connect wants some port
    sockaddr_in6 sa{};
    const socklen_t length = ToSockaddr(probe, family, sa);
    // Connecting a datagram socket only picks the route and the source.
    bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&sa), length) == 0;
    if (ok) {
        sockaddr_in6 local{};
        socklen_t localLength = sizeof local;
        ok = ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) == 0;
        if (ok) {
            source = FromSockaddr(local);
            source.port = 0;
        }
    }
    ::close(fd);
    return ok;
}

}  // namespace platform
