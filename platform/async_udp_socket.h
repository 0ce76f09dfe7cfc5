// A UDP socket bound to one local address (IPv4 or IPv6, or every address of
// both families), whose read notifications arrive as calls of OnReceive on
// the thread that created it.
//
// Notifications follow the asynchronous-socket rule the programs were written
// against: after a notification, the next one comes only once the owner has
// tried a receive. An owner that ignores a notification (an ended transfer,
// for example) is therefore not called again and again for the same datagram.
//
// A burst (a window of blocks) is taken from the system a batch at a time and
// handed out one datagram per ReceiveFrom. While datagrams wait, OnReceive is
// called again in the same turn of the event loop, as long as the owner keeps
// receiving, up to a bound after which the event loop gets its turn first.
#pragma once

#include "peer_address.h"

#include <memory>
#include <string>

class QSocketNotifier;
class QTimer;

namespace platform {

// One datagram of a batch to send.
struct DatagramView {
    const void* data = nullptr;
    int length = 0;
};

class AsyncUdpSocket {
public:
    // ReceiveFrom results besides a length.
    static constexpr int kWouldBlock = -1;    // nothing queued, or a socket error
    static constexpr int kTooLong = -2;       // a datagram longer than the buffer: dropped

    AsyncUdpSocket();
    virtual ~AsyncUdpSocket();
    AsyncUdpSocket(const AsyncUdpSocket&) = delete;
    AsyncUdpSocket& operator=(const AsyncUdpSocket&) = delete;

    // Opens a non-blocking UDP socket bound to localAddress and port (0: the
    // system's choice). The address is dotted IPv4 text, or an IPv6 literal
    // (that family only); "::" means every local address of both families on
    // one socket (IPv4 peers then appear as IPv4), or of IPv4 alone where the
    // system has no IPv6. With notifyReads, OnReceive is called for arriving
    // datagrams from now on. False on failure (see LastError); the address
    // 255.255.255.255 is refused.
    bool Create(const std::string& localAddress, std::uint16_t port, bool notifyReads);
    // From now on each receive also tells the local address the datagram was
    // sent to (LastDestination); such a socket reads one datagram per call.
    bool ReceiveDestinations();
    // The local address the datagram last received was sent to (port 0);
    // unspecified when not known.
    const PeerAddress& LastDestination() const { return lastDestination_; }
    // While on, the errors the system learns of for datagrams this socket
    // sent (ICMP port, host or network unreachable) are reported: a receive
    // that finds nothing then returns kWouldBlock with LastError
    // ECONNREFUSED, EHOSTUNREACH or ENETUNREACH, and takes the reports off the
    // socket, so that they do not keep it readable. Off (the default), such
    // errors go unnoticed. Switching off drops what is pending.
    bool ReportUnreachable(bool on);
    // Starts (or restarts) read notifications. False when there is no socket.
    bool AsyncSelect();
    // Notifications come from the owner's own wait on Descriptor() (a thread
    // of its own, without an event loop) instead of the event loop: the
    // owner waits for reads while ReadsWanted, serves again at once while
    // HoldsQueued, and calls ServeReads when the socket is readable. Set
    // before AsyncSelect; nothing of the event loop is used then.
    void NotifyByOwner() { ownerDriven_ = true; }
    int Descriptor() const { return fd_; }
    bool ReadsWanted() const { return readsWanted_ && fd_ >= 0; }
    bool HoldsQueued() const;
    void ServeReads() { Dispatch(); }
    // A datagram waits to be taken: held here or queued in the system.
    bool HasInput() const;
    // From now on the system notes when each datagram arrives, and the
    // socket reads one datagram per receive (so that the note is its own).
    void NoteArrivals();
    // When the datagram last received arrived, in nanoseconds of the wall
    // clock (WallClockNs); 0 when not known.
    std::int64_t LastArrivalNs() const;
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // Takes one datagram: its length when it fits into len bytes, kTooLong when
    // it was longer (the datagram is gone), kWouldBlock when none was queued.
    // Datagrams taken from the system together are held at the len of the
    // receive that took them: a later receive with a larger len reports one
    // that was longer than that as kTooLong too.
    int ReceiveFrom(void* buffer, int len, PeerAddress& from);
    // Whether a receive also takes what else is waiting (on by default). Off
    // for a socket that expects one datagram per answer (lock-step): a
    // batch read costs more when it finds only one.
    void ReadInBatches(bool on) { readInBatches_ = on; }

    // Bytes sent, or -1. An IPv6 peer cannot be reached from an IPv4 socket.
    int SendTo(const void* data, int len, const PeerAddress& to);
    // The same, sent from the given local address of a socket bound to every
    // address (a reply goes from the address that was asked); an unspecified
    // source leaves the choice to the system.
    int SendFrom(const void* data, int len, const PeerAddress& to, const PeerAddress& source);
    // Several datagrams to one peer, in order, with as few system calls as
    // the kernel allows. The number sent; fewer when the socket's buffer
    // filled up or an error stopped it (see LastError).
    int SendBatch(const DatagramView* datagrams, int count, const PeerAddress& to);
    // To an address text (dotted, or an IPv6 literal) and port; no name is
    // resolved.
    int SendTo(const void* data, int len, const std::string& hostText, std::uint16_t port);

    // SO_SNDBUF / SO_RCVBUF. The value read back is what the kernel reports
    // (on Linux double the size granted).
    bool SetSendBufferSize(int bytes);
    bool SetReceiveBufferSize(int bytes);
    bool GetSendBufferSize(int& bytes) const;
    bool GetReceiveBufferSize(int& bytes) const;

    std::uint16_t LocalPort() const;
    // The address and port the socket is bound to.
    PeerAddress LocalName() const;
    // AF_INET or AF_INET6 while open.
    int Family() const { return family_; }
    // errno of the last failed call on this socket.
    int LastError() const { return lastError_; }

protected:
    // Read notification; error is always 0 on this platform. The owner may
    // Close the socket here, but must not delete it.
    virtual void OnReceive(int error);

private:
    class ReceiveQueue;

    bool Open(int family, bool allFamilies);
    // Takes the pending error reports off the socket: the errno of the
    // first, or 0.
    int DrainErrorReports();
    void Dispatch();
    // Notifications on or off, by the event loop's notifier or the owner's.
    void EnableReads(bool on);
    // Announces held datagrams from the event loop: the system no longer
    // reports the socket readable for them.
    void AnnounceQueued();

    int fd_ = -1;
    int lastError_ = 0;
    int family_ = 0;
    bool destinations_ = false;
    bool reportUnreachable_ = false;
    PeerAddress lastDestination_;
    bool receiveTried_ = false;
    bool readInBatches_ = true;
    bool ownerDriven_ = false;
    bool readsWanted_ = false;
    int dispatchDepth_ = 0;
    unsigned generation_ = 0;  // counts Close calls
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unique_ptr<QTimer> queuedTimer_;
    std::unique_ptr<ReceiveQueue> queue_;
};

// The local address the system would send from to reach to (no datagram
// is sent); false when there is no route.
bool SourceAddressFor(const PeerAddress& to, PeerAddress& source);

}  // namespace platform
