// The server's UDP socket on the TFTP port: it refuses clients by the serving
// switch, the deny list, the allow list and the client limit, admits every
// other read or write request as one transfer, and runs the periodic check
// that retries, times out, reports and removes transfers.
#pragma once

#include "platform/async_udp_socket.h"
#include "server/engine/server_context.h"

#include <sys/types.h>

#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CManager;

// Why the listener cannot serve.
enum class ListenFailure {
    None,
    NoAddress,            // no local address was chosen (the choice has said why)
    CannotBind,           // the port on that address could not be had
    NoReadNotifications,  // the socket gives no read notifications
};

class CListenSocket : public platform::AsyncUdpSocket {
public:
    explicit CListenSocket(ServerContext& app);
    // Ends every transfer at once; nothing is reported to the view.
    ~CListenSocket() override;

    // Binds the port of the Port setting (69 when it reads as 0) on every
    // local address (bListenAll), or on the one address the local address
    // selection chooses. False when the server cannot serve: Failure says
    // why (and LastError the socket's reason).
    bool StartListening();
    ListenFailure Failure() const { return failure_; }

    // Admits the request last received: 1 = started (or refused with an
    // ERROR for want of a thread, socket or memory; the row says why), 0 =
    // refused for the client limit, which counts running transfers only,
    // or for want of a free port in the transfer-port range.
    // Runs under the application's admission lock.
    int Admit();

    // The periodic check: retries silent transfers, times transfers out,
    // reports ended ones to the view and removes them.
    void SweepTransfers();

    // Lets every transfer whose answer is overdue send its last datagram
    // again, and tells the event sink of each that has just ended; called
    // often (from idle processing), between periodic checks.
    void ResendSilent();

    // Entries in the transfer list: running, and ended but not yet reported.
    // Finished uploads still answering a repeat of their last block are not
    // counted: to the view and the user they have ended.
    int TransferCount() const;
    // Finished uploads whose socket still answers a repeat of the last block.
    int LingeringCount() const { return static_cast<int>(lingering_.size()); }
    // No transfer has a datagram waiting for its thread (they may still be
    // waiting for their peers): for tests that move time by hand once the
    // wire is quiet.
    bool TransfersIdle() const;
    // Kernel thread ids of the transfers' worker threads, in list order.
    std::vector<pid_t> WorkerThreadIds() const;

    // What the local address selection found, for the info dialog. On all
    // addresses, LocalAddress is kAllAddressesText and AllAddresses lists
    // what the socket is reached at.
    static constexpr const char* kAllAddressesText = "All addresses";
    const std::string& HostName() const { return hostName_; }
    int AddressCount() const { return addressCount_; }
    const std::string& LocalAddress() const { return localAddress_; }
    bool ListeningOnAll() const { return listeningAll_; }
    const std::vector<std::string>& AllAddresses() const { return allAddresses_; }

protected:
    void OnReceive(int error) override;

private:
    ServerContext& app_;
    std::string localAddress_;
    std::string hostName_;
    int addressCount_ = 0;
    bool listeningAll_ = false;
    std::vector<std::string> allAddresses_;
    platform::PeerAddress client_;
    // The local address the last request was sent to (on all addresses).
    platform::PeerAddress asked_;
    // The last datagram: room for any, so that a request longer than a
    // request may be is known as one and answered, not dropped unread.
    std::vector<std::uint8_t> request_;
    int requestLength_ = 0;
    std::list<std::unique_ptr<CManager>> transfers_;
    // Reported uploads kept a while after their last ACK: a client that did
    // not hear it sends its last block again after its own time-out, and is
    // answered instead of giving up on a file that arrived whole.
    struct Lingering {
        std::unique_ptr<CManager> manager;
        std::int64_t untilMs = 0;
    };
    std::vector<Lingering> lingering_;
    ListenFailure failure_ = ListenFailure::None;
    // Since when no transfer has been here (clock milliseconds; -1: busy).
    std::int64_t idleSinceMs_ = -1;
    bool memoryGivenBack_ = false;
    static constexpr std::int64_t kGiveBackAfterIdleMs = 10'000;
    void GiveBackMemoryWhenIdle(std::int64_t nowMs);

    bool ListenOnOne(int port);
    bool ListenOnAll(int port);
    bool Listen(int port, const std::string& bindAddress);
    void Refuse(std::string_view text);
    void RefuseWith(std::string_view text, const platform::PeerAddress& to,
                    const platform::PeerAddress& from);
    // The address a transfer's socket binds to: the one the request was
    // sent to, so that the client hears its answers from where it asked.
    std::string TransferAddress(const platform::PeerAddress& asked,
                                const platform::PeerAddress& client) const;
    // Tells the event sink, once, that the transfer has ended with result
    // (the transfer's lock held).
    void ReportEnd(CManager& manager, const std::string& result);
    int RunningCount() const;
    // Ends the lingering uploads whose time is up, or every one with all.
    void EndLingering(std::int64_t nowMs, bool all);
};
