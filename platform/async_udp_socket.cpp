#include "async_udp_socket.h"

#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
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

sockaddr_in ToSockaddr(const PeerAddress& peer) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = peer.address;
    sa.sin_port = htons(peer.port);
    return sa;
}

PeerAddress FromSockaddr(const sockaddr_in& sa) {
    return PeerAddress{sa.sin_addr.s_addr, ntohs(sa.sin_port)};
}

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
    int Fill(int fd, void* buffer, int len, PeerAddress& from, int& lastError, bool batch) {
        slotSize_ = static_cast<std::size_t>(len);
        if ((batch ? Read(fd, buffer) : ReadOne(fd, buffer)) <= 0) {
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
    int ReadOne(int fd, void* first) {
        next_ = count_ = 0;
        filledAll_ = firstOutside_ = false;
        if (headers_.empty()) {
            headers_.resize(1);
            names_.resize(1);
        }
        socklen_t nameLength = sizeof(sockaddr_in);
        ssize_t n;
        do {
            n = ::recvfrom(fd, first, slotSize_, MSG_TRUNC, reinterpret_cast<sockaddr*>(&names_[0]),
                           &nameLength);
        } while (n < 0 && errno == EINTR);
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
            h.msg_namelen = sizeof(sockaddr_in);
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
    std::vector<sockaddr_in> names_;
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
    // The no-address value of a failed conversion is never a local address
    // (Linux would accept it as the broadcast address).
    if (InetAddr(localAddress) == kInaddrNone) {
        lastError_ = EADDRNOTAVAIL;
        return false;
    }
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        lastError_ = errno;
        return false;
    }
    const PeerAddress local{InetAddr(localAddress), port};
    const sockaddr_in sa = ToSockaddr(local);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        lastError_ = errno;
        Close();
        return false;
    }
    return notifyReads ? AsyncSelect() : true;
}

bool AsyncUdpSocket::AsyncSelect() {
    if (fd_ < 0) return false;
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
}

bool AsyncUdpSocket::HoldsQueued() const { return queue_ && !queue_->Empty(); }

void AsyncUdpSocket::AnnounceQueued() {
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
        if (notifier_) notifier_->setEnabled(false);
        return;
    }
    // Still held after this turn's share: the rest on the next turn. Whatever
    // the system still has keeps the socket readable by itself.
    if (HoldsQueued()) AnnounceQueued();
}

void AsyncUdpSocket::OnReceive(int) {}

int AsyncUdpSocket::ReceiveFrom(void* buffer, int len, PeerAddress& from) {
    receiveTried_ = true;
    if (notifier_ && !notifier_->isEnabled()) notifier_->setEnabled(true);
    if (fd_ < 0 || len < 0) return kWouldBlock;
    if (HoldsQueued()) {
        const int n = queue_->Take(buffer, len, from);
        if (dispatchDepth_ == 0 && HoldsQueued()) AnnounceQueued();
        return n;
    }
    if (!queue_) queue_ = std::make_unique<ReceiveQueue>();
    const int n = queue_->Fill(fd_, buffer, len, from, lastError_, readInBatches_);
    if (dispatchDepth_ == 0 && HoldsQueued()) AnnounceQueued();
    return n;
}

int AsyncUdpSocket::SendTo(const void* data, int len, const PeerAddress& to) {
    if (fd_ < 0 || len < 0) return -1;
    const sockaddr_in sa = ToSockaddr(to);
    const ssize_t n = ::sendto(fd_, data, static_cast<size_t>(len), 0,
                               reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    if (n < 0) {
        lastError_ = errno;
        return -1;
    }
    return static_cast<int>(n);
}

int AsyncUdpSocket::SendBatch(const DatagramView* datagrams, int count, const PeerAddress& to) {
    if (fd_ < 0 || datagrams == nullptr) return 0;
    sockaddr_in sa = ToSockaddr(to);
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
            headers[n].msg_hdr.msg_namelen = sizeof sa;
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
    return SendTo(data, len, PeerAddress{InetAddr(hostText), port});
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

std::uint16_t AsyncUdpSocket::LocalPort() const {
    if (fd_ < 0) return 0;
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
    return ntohs(sa.sin_port);
}

}  // namespace platform
