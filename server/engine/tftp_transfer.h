// One admitted read or write request: answers it from a UDP socket of its
// own, sends a file from the outbound folder or receives one into the
// inbound folder, and tells the view what happens. The transfer itself
// (options, blocks, errors, strangers, the linger) is the shared transfer
// session; this class adds the socket, the file's name and opening, the
// server's refusals and the notifications.
//
// The listener's periodic check retries a transfer that has gone quiet,
// reports its end and deletes it. The transfer's own thread sends its last
// datagram again once the round trip is overdue (and the listener's resend
// pass does too, for tests that move time by hand).
//
// The transfer's own worker thread (its manager's) waits on its socket and
// serves its datagrams and resends; the listener, on the main thread,
// starts it, retries and ends it. Both hold the transfer's lock (Hold) for
// whatever they do with it. After the request, only datagrams from the client's address and port are
// acted on; anyone else is told "Unknown transfer ID" and changes nothing.
#pragma once

#include "common/uninitialized_bytes.h"

#include "common/tftp_packet.h"
#include "common/transfer_session.h"
#include "platform/async_udp_socket.h"
#include "platform/worker_thread.h"
#include "server/engine/server_context.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class CTftpTransfer : public platform::AsyncUdpSocket,
                      public platform::WorkerThread::Owner,
                      private tftp::SessionLink {
public:
    explicit CTftpTransfer(ServerContext& app);
    ~CTftpTransfer() override;

    // Held by whichever thread acts on the transfer or reads its state.
    std::unique_lock<std::mutex> Hold() const { return std::unique_lock<std::mutex>(lock_); }
    // How often the worker thread looks whether a resend is due.
    static constexpr int kResendCheckMs = 20;

    // The worker thread's wait and service (they take the lock).
    Wait NextWait() override;
    void Serve(bool readable) override;

    // The request as the listener received it (at most 512 bytes are kept;
    // a longer one is answered with ERROR 4).
    void SetRequest(const std::uint8_t* data, int length);

    // Answers the request: opens the socket, checks name, mode and options,
    // opens the file and sends the OACK, DATA 1, ACK 0 or an ERROR. Once.
    void HandleRequest();
    // Opens the transfer's socket on localAddress (HandleRequest does when
    // it is not open yet): on a free port of the transfer-port range when
    // one is set, else on the system's choice. False with the socket's
    // reason (EADDRINUSE: every port of the range taken).
    bool OpenSocket();
    // Ends the transfer instead of HandleRequest when it cannot have what it
    // needs (its thread): the result will say why.
    void EndUnstarted(const std::string& why);
    // Sends the next DATA block (read request).
    void SendNextBlock();
    // Sends the last datagram again (the block in flight or the last ACK, or
    // the unanswered OACK) and shows "Retrying". 1 when something was sent.
    int RetryBlock();
    // Sends ERROR code (0..6) or the option-failure packet (7) to the client
    // and ends the transfer.
    void SendError(int code);

    // The same request again from the same client while this transfer runs
    // and the client has not answered it at all: its first answer was lost.
    bool IsRepeatOf(const platform::PeerAddress& from, const std::uint8_t* data, int length) const;
    // Sends the first answer again (OACK, DATA 1 or ACK 0).
    void RepeatFirstAnswer();
    // A copy of the request that arrived (arrivedNs, wall clock) before the
    // client's first answer was heard, but was read by the listener after it:
    // the client has been served already, the copy is only late.
    bool IsLateCopyOf(const platform::PeerAddress& from, const std::uint8_t* data, int length,
                      std::int64_t arrivedNs) const;
    // Sends the block in flight (or the OACK) again when its answer is
    // overdue, more slowly each time; an upload's last ACK once per silence
    // (nowMs from the clock's millisecond count). Quiet: the row keeps its
    // progress.
    void ResendIfDue(std::int64_t nowMs);

    // Set by the listener before HandleRequest.
    platform::PeerAddress peer;  // the client's address and port
    std::string localAddress;    // dotted address the socket binds to
    int number = 0;              // transfer number 1..501

    // Read by the periodic check; lastActivity and retries written at a retry.
    int active = 1;              // 0: ended, to be reported and removed
    int opcode = 0;              // 1 read request (we send), 2 write request
    int timeoutOption = 0;       // client's timeout option; 0 = server's
    std::int64_t lastActivity = 0;
    int retries = 0;             // retries since the client was last heard making progress
    std::string errorText;       // last ERROR received or sent
    std::string rewrittenFrom;   // the name asked for, when a rule rewrote it

    // An upload that ended whole: its socket still answers a repeat of the
    // last block with the last ACK.
    bool AnswersRepeats() const { return !active && session_->Lingering(); }
    // When an upload's answering of repeats ends (clock milliseconds).
    std::int64_t LingerUntilMs() const { return session_->LingerUntilMs(); }
    int BlockSize() const { return session_->BlockSize(); }
    int Window() const { return session_->Window(); }
    const std::string& Path() const { return path_; }
    std::int64_t Total() const { return total_; }
    std::int64_t BytesSent() const { return session_->Sender().BytesSent(); }

protected:
    void OnReceive(int error) override;

private:
    // SessionLink
    int Send(const std::uint8_t* data, int length, const platform::PeerAddress& to) override;
    void SendBatch(const tftp::PacketView* packets, int count, const platform::PeerAddress& to) override;
    // Sizes the packet buffer and the socket's send or receive buffer for
    // the block size; lowers the block size (and a receiving window) to
    // what the socket grants.
    bool SizeBuffers(int& blockSize, int& window, bool sending) override;
    void ExpectBursts(bool bursts) override { ReadInBatches(bursts); }

    // The request as this transfer received it, from the same client port.
    bool SameRequest(const platform::PeerAddress& from, const std::uint8_t* data, int length) const;
    // What the session's last step means for the row and the result.
    void OnSessionEvent(tftp::SessionEvent event);
    void Progress();
    // The file could not be opened: ERROR code, or ERROR 0 naming the
    // shortage when error tells of one (no descriptor, no memory).
    void RefuseFile(int code, int error);
    void Ended();

    ServerContext& app_;
    mutable std::mutex lock_;
    // Made for the request's direction once it is known.
    std::optional<tftp::TransferSession> session_;
    std::string path_;
    int netascii_ = 0;
    // read request: length on disk (netascii: on the wire once the last
    // block is out); write request: bytes written so far.
    std::int64_t total_ = 0;
    // The packet buffer for what arrives: block size + 20 bytes.
    tftp::UninitializedBytes buffer_;
    // The request as received; options are always read from here.
    std::uint8_t request_[tftp::kMaxRequestLength] = {};
    int requestLength_ = 0;
    bool overlong_ = false;  // longer than a request may be
    platform::PeerAddress requestFrom_;
    std::int64_t heardAtNs_ = 0;  // when the client was first heard (wall clock)
    std::vector<platform::DatagramView> batch_;
};
