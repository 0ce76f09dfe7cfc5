#include "async_udp_socket.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

sockaddr_in ToSockaddr(const PeerAddress& peer) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = peer.address;
    sa.sin_port = htons(peer.port);
    return sa;
}

}  // namespace

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
    return true;
}

void AsyncUdpSocket::Close() {
    if (notifier_) {
        notifier_->setEnabled(false);
        // A notifier must not be deleted while it is emitting its signal.
        if (dispatching_) notifier_.release()->deleteLater();
        else notifier_.reset();
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void AsyncUdpSocket::Dispatch() {
    receiveTried_ = false;
    dispatching_ = true;
    OnReceive(0);
    dispatching_ = false;
    // The owner may have closed the socket inside OnReceive.
    if (!receiveTried_ && notifier_) notifier_->setEnabled(false);
}

void AsyncUdpSocket::OnReceive(int) {}

int AsyncUdpSocket::ReceiveFrom(void* buffer, int len, PeerAddress& from) {
    receiveTried_ = true;
    if (notifier_ && !notifier_->isEnabled()) notifier_->setEnabled(true);
    if (fd_ < 0 || len < 0) return kWouldBlock;
    sockaddr_in sa{};
    socklen_t salen = sizeof sa;
    // MSG_TRUNC makes recvfrom report the datagram's real length.
    const ssize_t n = ::recvfrom(fd_, buffer, static_cast<size_t>(len), MSG_TRUNC,
                                 reinterpret_cast<sockaddr*>(&sa), &salen);
    if (n < 0) {
        lastError_ = errno;
        return kWouldBlock;
    }
    from.address = sa.sin_addr.s_addr;
    from.port = ntohs(sa.sin_port);
    if (n > len) return kTooLong;
    return static_cast<int>(n);
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
    int sent = 0;
    while (sent < count && SendTo(datagrams[sent].data, datagrams[sent].length, to) >= 0) ++sent;
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
