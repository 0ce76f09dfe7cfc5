// One send (write request) or one fetch (read request) of the client against
// any TFTP server: the request with its options, the local file, the DATA and
// ACK exchange, the server's options, progress messages to the view, status
// texts to the status bar, and the end on completion, error, time-out or the
// user's abort. The transfer itself (request, options, blocks, errors,
// strangers, the linger) is the shared transfer session; this class adds the
// socket, the server's addresses, the local file and the messages.
//
// When nothing arrives for longer than the round trip allows, the client
// sends its last datagram again (the request or the block in flight, more
// slowly each time; a fetch's last ACK once per silence); only a whole
// time-out without a word from the server ends the transfer. After a fetch, the last ACK is sent again
// to a server that repeats the last block, for as long as the session lingers.
//
// The view creates one object per start, sets its members, and calls
// OpenLocalPort and then StartSend or StartFetch. From then on the transfer's
// own worker thread waits on its socket, serves its datagrams and runs
// CheckTimeout (resends and the time-out), so that a busy window neither
// stalls nor times it out. Every other thread holds the transfer's lock
// (Hold) for whatever it reads or does of it. Progress and status texts reach
// the view a few times a second; the start, the end and the last state
// before it always do.
#pragma once

#include "client/engine/client_context.h"
#include "client/engine/transfer_failure.h"
#include "common/transfer_session.h"
#include "platform/async_udp_socket.h"
#include "platform/posted_messages.h"
#include "platform/worker_thread.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class CTransferSocket : public platform::AsyncUdpSocket,
                        public platform::WorkerThread::Owner,
                        private tftp::SessionLink {
public:
    explicit CTransferSocket(ClientContext& app);
    // A running transfer is dropped without a word to the server; its local
    // file is closed. Its thread ends first: the caller must not hold the lock.
    ~CTransferSocket() override;

    // Held by every thread but the transfer's own while it reads or changes
    // the transfer's state or calls it.
    std::unique_lock<std::mutex> Hold() const { return std::unique_lock<std::mutex>(lock_); }
    // How often the worker thread looks whether a resend or the time-out is due.
    static constexpr int kCheckEveryMs = 20;
    // Progress messages and status texts reach the view at most this often
    // (0: each one at once).
    static constexpr int kReportEveryMs = 200;
    void SetReportEveryMs(int ms) { reportEveryMs_ = ms; }

    // The worker thread's wait and service (they take the lock).
    Wait NextWait() override;
    void Serve(bool readable) override;

    // Binds a UDP socket on the local address (chosen by the caller) and a
    // port of the system's choice, and tells the owner. 0 on failure (see
    // Failure). The address is also the one an IPv4 server is asked from.
    int OpenLocalPort(const std::string& address);
    // Only the local IPv4 address, for a start whose first server address
    // may be IPv6: the socket comes with the start. None: the system's choice.
    void UseLocalAddress(const std::string& address);

    // Why the last start, or the transfer, failed; None when nothing did.
    // A start that returns 0 leaves it for its caller to tell; a failure
    // that ends a running transfer also goes to onFailure, queued.
    const TransferFailure& Failure() const { return failure_; }
    std::function<void(const TransferFailure&)> onFailure;

    // 1 when the request went out (0: see Failure). A fetch replaces an
    // existing file: its caller asks first. fileName is the file of a dropped or
    // chosen path (read from sourceDir when useSourceDir is 1); empty for the
    // Send button. hostAddress is a literal address.
    int StartSend(const std::string& remoteName, const std::string& localName,
                  const std::string& hostAddress, int port, int binary,
                  const std::string& fileName);
    int StartFetch(const std::string& remoteName, const std::string& localName,
                   const std::string& hostAddress, int port, int binary);
    // The same against the server's addresses in order (skerry::HostCandidates):
    // while none has answered, an address that reports itself unreachable, or
    // stays silent through its request and kRequestResendsPerAddress resends,
    // gives way to the next, which gets the request afresh from a fresh
    // socket. The last address is asked until the time-out, as a single one
    // always is. IPv4 addresses are sent to from the chosen local address,
    // IPv6 ones from the family's wildcard.
    int StartSend(const std::string& remoteName, const std::string& localName,
                  const std::vector<platform::PeerAddress>& servers, int port, int binary,
                  const std::string& fileName);
    int StartFetch(const std::string& remoteName, const std::string& localName,
                   const std::vector<platform::PeerAddress>& servers, int port, int binary);

    // Resends of the request an address gets before the next one is tried.
    static constexpr int kRequestResendsPerAddress = 1;

    // Ends the transfer; code -1 sends nothing, any other code sends the ERROR
    // with that code and its text. A status text not yet shown is dropped:
    // the caller tells how the transfer ended.
    void Abort(int code);
    // Ends a transfer that has heard nothing for more than timeoutSecs, and
    // sends the last datagram again when its answer is overdue. The worker
    // thread calls it, unless the context leaves time to its caller.
    void CheckTimeout();

    // How long a finished fetch still answers a repeat of its last block
    // when no time-out was agreed.
    static constexpr int kLingerMs = static_cast<int>(tftp::TransferSession::LingerMs(0));

    // ---- set by the view -----------------------------------------------
    int offerTimeout = 0;  // 1: offer the timeout option
    int blockSize = 512;   // may be changed by the server's OACK or the socket buffer
    int windowSize = 1;    // blocks per ACK to ask for (1: no windowsize option); the
                           // server's OACK may lower it, or leave lock-step
    int sending = 0;       // 1: send (write request); 0: fetch (read request)
    int useSourceDir = 0;  // 1: the file to send is sourceDir + fileName
    std::string sourceDir; // folder of a dropped or chosen file, ending with '/'
    int timeoutSecs = 0;
    platform::PostedMessages* owner = nullptr;  // receives the three messages

    // ---- state -----------------------------------------------------------
    std::string localAddress;      // dotted text of the address bound to
    platform::PeerAddress server;  // where every packet after the request goes
    bool serverKnown = false;      // the server's transfer port has been learnt
    int busy = 0;                  // 1 while a transfer runs
    int lastBlockSent = 0;         // send: the short last block has gone
    std::vector<std::uint8_t> buffer;  // receive buffer: blockSize + 20 bytes
    std::string statusText;        // the last status text composed
    int lastLength = 0;            // length of the last datagram acted on
    std::uint64_t blockCounter = 1;  // send: next block to send; fetch: next expected
    std::int64_t total = 0;          // send: file length; fetch: tsize, 0 when unknown
    std::int64_t bytesSent = 0;
    std::int64_t blocksReceived = 0;
    std::int64_t bytesReceived = 0;
    std::int64_t lastActivity = 0;   // seconds; start, or the last datagram acted on

    bool FileOpen() const {
        return session_ && (session_->Reader().IsOpen() || session_->Writer().IsOpen());
    }
    // The last transfer ended with the whole file delivered (a fetch: written
    // and under its name).
    bool Completed() const { return completed_; }
    // The text of the server's ERROR that ended the last transfer, whole;
    // empty when it ended otherwise.
    const std::string& ServerMessage() const { return serverMessage_; }
    // Datagrams sent again since the transfer started.
    int Retransmissions() const { return session_ ? session_->Retransmissions() : 0; }
    // Blocks per ACK in use: what the server agreed to, else 1.
    int Window() const { return session_ ? session_->Window() : 1; }
    // The server address the request goes to now (index into the start's list).
    std::size_t AddressTried() const { return candidate_; }

    // How much of a socket buffer the system grants, from the size it reports
    // back (Linux reports double what it grants).
    static int GrantedBufferSize(int readBack) { return readBack / 2; }

protected:
    void OnReceive(int error) override;
    // Asks for a send (sending 1) or receive buffer of size bytes and reads
    // back what the socket reports. Tests replace it to play a stingy socket.
    virtual bool SetSocketBuffer(int sendBuffer, int size, int& readBack);

private:
    // The state every start shares: busy, block 1, the request's peer.
    void Begin();
    // Takes the start's server addresses; false (shown) when there are none
    // or no socket can be had for the first.
    bool TakeServers(const std::vector<platform::PeerAddress>& servers, int port);
    // A socket of the family of to (the one there is when it fits, unless
    // fresh); false when none can be had, which has been shown.
    bool SocketFor(const platform::PeerAddress& to, bool fresh);
    // The request goes to the current address, and on to the next ones while
    // sending fails; false when it reached none.
    bool SendFirstRequest();
    // Gives up on the current address for the next; false when there is none
    // (or no socket for it).
    bool TryNextAddress();
    // The current address has failed: the next one is asked, or the
    // transfer ends when the request reaches none.
    void GiveUpOnAddress();
    static platform::PeerAddress LiteralServer(const std::string& hostAddress);
    bool HasNextAddress() const { return candidate_ + 1 < candidates_.size(); }
    void BuildRequest(std::uint16_t opcode, const std::string& remoteName, std::string_view mode);
    int ResizeBuffers(int sendBuffer);
    bool ResizeBuffer(std::size_t size);

    // SessionLink
    int Send(const std::uint8_t* data, int length, const platform::PeerAddress& to) override;
    void SendBatch(const tftp::PacketView* packets, int count, const platform::PeerAddress& to) override;
    bool SizeBuffers(int& size, int& window, bool sendBuffer) override;
    void BlockSizeChanged(int size) override;
    void ExpectBursts(bool bursts) override { ReadInBatches(bursts); }

    // What the session's last step means for the view and the status bar.
    void OnSessionEvent(tftp::SessionEvent event);
    void ShowSent();
    void ShowReceived();
    void Ended();

    // A text for the status bar; progress texts may wait for the next report.
    void Status(const std::string& text, bool progress = false);
    void Post(int message, std::int64_t wParam, std::int64_t lParam);
    // A sent or received count for the bar: it may wait for the next report.
    void HoldProgress(int wParam, std::int64_t lParam);
    // What waits goes to the view now, or once the report interval has passed.
    void FlushReports();
    void FlushReportsIfDue();
    // Milliseconds until what waits is due; -1: nothing waits.
    int ReportDueInMs() const;
    // To the status bar, on the window's thread.
    void ShowStatus(const std::string& text);
    // A socket has been opened: the worker thread starts, or waits on it.
    bool WatchSocket();
    // The end of a transfer, from the inside (no status text dropped).
    void Stop(int code);
    void Fail(TransferFailure::What what, int error = 0, const std::string& path = {});
    void ReportFailure();
    void CloseFile();

    ClientContext& app_;
    TransferFailure failure_;
    platform::PostedCalls failures_;
    std::vector<platform::PeerAddress> candidates_;  // the server's addresses, in order
    std::size_t candidate_ = 0;                      // the one being asked
    std::string chosenLocal_;                        // the local IPv4 address chosen
    // One per start, for its direction.
    std::unique_ptr<tftp::TransferSession> session_;
    bool answered_ = false;    // the address asked now has replied
    int askedWindow_ = 1;      // windowSize, or the part of it the receive buffer holds
    std::vector<platform::DatagramView> batch_;
    bool completed_ = false;
    std::string serverMessage_;

    mutable std::mutex lock_;
    // What the view has not been told yet, held until the report interval ends.
    using ReportClock = std::chrono::steady_clock;
    int reportEveryMs_ = kReportEveryMs;
    ReportClock::time_point lastReport_{};
    bool progressHeld_ = false;
    int heldProgressW_ = 0;
    std::int64_t heldProgressL_ = 0;
    bool statusHeld_ = false;
    std::string heldStatus_;
    // Counts the status texts the window's thread set itself: a text posted
    // before one of them is stale when it arrives.
    std::atomic<unsigned> statusEpoch_{0};
    platform::PostedCalls statusPosts_;
    // Declared last: it ends (in the destructor) before anything it serves.
    platform::WorkerThread thread_;
};
