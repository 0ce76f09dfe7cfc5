// One transfer from its request to its end, for either side: a server
// answering a read or write request, or a client that sends one. It owns
// the handshake (the request, or the OACK, and the answer that starts the
// blocks), the options, the shared sender or receiver, the retransmission
// timing, ERROR packets both ways, the reply to strangers and the linger
// after the last block. It never touches a socket, a widget or a file name:
// its datagrams go out through a SessionLink, its file is opened by its
// owner, and time comes in as milliseconds of the owner's clock.
//
// Driven by two calls:
//   OnDatagram  a datagram in, with its source
//   Tick        time has passed: the last datagram goes out again when its
//               answer is overdue, and a linger ends when its time is up
//
// After the handshake only the peer's address and port count (a client
// learns the server's port from its first reply, any port of the host being
// accepted until then); anyone else gets ERROR 5 "Unknown transfer ID" and
// changes nothing. An ERROR is never answered.
//
// The linger, the same for both programs: the side that received the file
// keeps answering a repeat of the last block with its last ACK (the sender
// did not hear it) for the sender's retry time (the time-out agreed, at
// least kSenderRetrySecs) and a second's margin after the last ACK went out.
// The sending side does not linger: the last ACK has come.
#pragma once

#include "common/local_file.h"
#include "common/packet_sink.h"
#include "common/retransmit_timer.h"
#include "common/tftp_options.h"
#include "common/tftp_packet.h"
#include "common/transfer_receiver.h"
#include "common/transfer_sender.h"
#include "platform/peer_address.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tftp {

// What the session needs of its owner: the socket, and the buffers sized for
// a block size.
class SessionLink {
public:
    virtual ~SessionLink() = default;
    // The bytes that went, or a negative count on failure.
    virtual int Send(const std::uint8_t* data, int length, const platform::PeerAddress& to) = 0;
    virtual void SendBatch(const PacketView* packets, int count, const platform::PeerAddress& to) {
        for (int i = 0; i < count; ++i) Send(packets[i].data, packets[i].length, to);
    }
    // Sizes the buffers for blockSize-byte blocks, window blocks per ACK;
    // may lower either to what the socket grants. False when they cannot be
    // had.
    virtual bool SizeBuffers(int& blockSize, int& window, bool sending) = 0;
    // The block size changed without new buffers (a server that took no
    // option works in 512-byte blocks).
    virtual void BlockSizeChanged(int /*blockSize*/) {}
    // Several datagrams may wait at a time (a window of DATA coming in).
    virtual void ExpectBursts(bool /*bursts*/) {}
};

enum class SessionRole {
    ServerRead,   // a server sending a file to the client that asked
    ServerWrite,  // a server taking a file from the client
    ClientWrite,  // a client sending a file (its request is a WRQ)
    ClientRead,   // a client fetching a file (an RRQ)
};

// What a call did, for the owner's messages.
enum class SessionEvent {
    None,          // nothing the owner shows
    Stranger,      // someone else's datagram: answered with ERROR 5
    OptionsTaken,  // a client took the server's OACK
    AskedAgain,    // a client asked again without options (the server refused them)
    Sent,          // new blocks went out
    Resent,        // the peer asked for the same again and got it
    Written,       // a block was written
    Ended,         // the transfer ended: see Result
};

// How a transfer ended.
enum class SessionEnd {
    Running,
    Finished,         // the whole file went or came (and was made final)
    PeerError,        // the peer sent ERROR: text is its message
    PeerOptionFailure,  // the peer sent the option-failure packet
    UnknownOpcode,    // the peer sent something no transfer knows (opcode)
    ReadFailed,       // the local file could not be read
    WriteFailed,      // the local file took fewer bytes than it was given
    FinishFailed,     // all written, but the file could not be given its name
    OptionsUnusable,  // an option no block exchange can use, or no buffers for it
    NoBuffers,        // no memory for the blocks
    Refused,          // the owner refused or aborted (Fail)
};

struct SessionResult {
    SessionEnd end = SessionEnd::Running;
    int sentCode = -1;  // the ERROR code sent to the peer; -1: none
    std::string text;   // the peer's message, or the text sent
    int opcode = 0;     // UnknownOpcode: what came
};

class TransferSession : private PacketSink {
public:
    // How long a sender waits before it sends its last block again, at
    // least (tftp-hpa's and most clients' five seconds).
    static constexpr int kSenderRetrySecs = 5;
    static constexpr int kLingerMarginMs = 1000;
    // The linger after the last ACK of a transfer whose time-out is
    // timeoutSecs (0: none agreed).
    static constexpr std::int64_t LingerMs(int timeoutSecs) {
        return (timeoutSecs > kSenderRetrySecs ? timeoutSecs : kSenderRetrySecs) * 1000LL + kLingerMarginMs;
    }

    TransferSession(SessionRole role, SessionLink& link);

    // ---- server ------------------------------------------------------------
    // The client's address and port.
    void SetPeer(const platform::PeerAddress& peer);
    // The request's options under the server's rules, the buffers sized
    // for them. False when they cannot be used: the option-failure packet
    // has gone and the transfer has ended.
    bool AcceptOptions(const std::vector<Option>& offered, const ServerOptionRules& rules);
    // The file is open (Reader()): the OACK (tsize: fileSize) or DATA 1.
    SessionEvent AnswerRead(std::int64_t fileSize, std::int64_t nowMs);
    // The file is open (Writer()): the OACK or ACK 0.
    void AnswerWrite(std::int64_t nowMs);
    // The client has said nothing since its request.
    bool HeardFromPeer() const { return heard_; }
    // Sends the unanswered datagram again now, whatever the timer says (the
    // OACK, the blocks in flight, the last ACK). False when there is none.
    bool ResendNow(std::int64_t nowMs);

    // ---- client ------------------------------------------------------------
    // The request to send: its options as offer says (timeout, block size,
    // window).
    void SetRequest(Opcode opcode, std::string_view remoteName, std::string_view mode,
                    const RequestOffer& offer);
    // The request goes to to (the server's port is learnt from its first
    // reply), with a fresh retransmission timer.
    void AddressRequest(const platform::PeerAddress& to);
    // Sends the request (again). False when it did not go whole.
    bool SendRequest(std::int64_t nowMs, bool again);
    bool OfferedOptions() const { return offeredOptions_; }
    // The request's resends (Tick sends it again when due), for the owner's
    // choice of when to try the server's next address.
    const RetransmitTimer& RequestTimer() const { return requestTimer_; }
    bool PeerKnown() const { return peerKnown_; }
    // The tsize of a fetch's OACK; -1 when none came.
    std::int64_t OfferedSize() const { return tsize_; }

    // ---- both --------------------------------------------------------------
    struct Step {
        SessionEvent event = SessionEvent::None;
        bool heard = false;  // a datagram of the transfer was taken (activity)
    };
    // A datagram in: length bytes at data, or length < 0 for one longer than
    // the buffer (only its first bytes were read).
    Step OnDatagram(const platform::PeerAddress& from, const std::uint8_t* data, int length,
                    std::int64_t nowMs);
    // Time has passed. True when something went out again.
    bool Tick(std::int64_t nowMs);
    // Ends the transfer, telling the peer with ERROR code (the table's text,
    // or text when given); code -1 tells it nothing.
    void Fail(int code, std::string_view text = {});
    // The server's refusal of unusable options: the option-failure packet.
    void FailOptions();

    bool Running() const { return result_.end == SessionEnd::Running; }
    bool Lingering() const { return lingerUntilMs_ > 0; }
    // When the linger ends (milliseconds); 0 when there is none.
    std::int64_t LingerUntilMs() const { return lingerUntilMs_; }
    bool Exchanging() const { return exchanging_; }
    bool AwaitingAck0() const { return awaitingAck0_; }
    const SessionResult& Result() const { return result_; }
    const platform::PeerAddress& Peer() const { return peer_; }
    bool Sending() const { return role_ == SessionRole::ServerRead || role_ == SessionRole::ClientWrite; }
    // Several DATA blocks come per ACK: a window of them arrives as a burst.
    bool ReceivesWindows() const { return window_ > 1 && !Sending(); }
    bool Client() const { return role_ == SessionRole::ClientWrite || role_ == SessionRole::ClientRead; }
    int BlockSize() const { return blockSize_; }
    void SetBlockSize(int blockSize) { blockSize_ = blockSize; }  // before the request
    int Window() const { return window_; }
    int TimeoutSecs() const { return timeoutSecs_; }
    // Datagrams sent again since the start.
    int Retransmissions() const { return retransmissions_; }

    LocalFileReader& Reader() { return reader_; }
    LocalFileWriter& Writer() { return writer_; }
    const TransferSender& Sender() const { return sender_; }
    const TransferReceiver& Receiver() const { return receiver_; }
    void CloseFile();

private:
    void SendPacket(const std::uint8_t* data, int length) override;
    void SendPackets(const PacketView* packets, int count) override;
    void SendOack(std::int64_t nowMs, bool again);
    void End(SessionEnd end, std::string text = {});
    void EndSending(int code, SessionEnd end);
    Step Stranger(const platform::PeerAddress& from, const std::uint8_t* data, int length);
    SessionEvent OnServerRead(std::uint16_t opcode, const std::uint8_t* p, int length, std::int64_t nowMs);
    SessionEvent OnServerWrite(std::uint16_t opcode, const std::uint8_t* p, int length, std::int64_t nowMs);
    SessionEvent OnClient(std::uint16_t opcode, const std::uint8_t* p, int length, std::int64_t nowMs);
    SessionEvent OnPeerError(const std::uint8_t* p, int length);
    SessionEvent OnSenderStep(TransferSender::Step step);
    SessionEvent OnReceiverStep(TransferReceiver::Step step, std::int64_t nowMs);
    SessionEvent StartSending(std::int64_t nowMs);
    bool TakeOack(const std::uint8_t* p, int length);

    SessionRole role_;
    SessionLink& link_;
    platform::PeerAddress peer_;
    bool peerKnown_ = true;   // a client learns the server's port from its reply
    bool heard_ = false;
    int blockSize_ = kDefaultBlockSize;
    int window_ = 1;
    int askedWindow_ = 1;
    int timeoutSecs_ = 0;
    int offeredTimeout_ = 0;
    std::int64_t tsize_ = -1;
    SessionResult result_;
    std::int64_t lingerUntilMs_ = 0;
    bool exchanging_ = false;
    bool awaitingAck0_ = false;  // a server's OACK of a read request waits for ACK 0
    OptionValues echo_;
    RetransmitTimer oackTimer_;
    // Client: the request as sent, and what it was built from.
    std::vector<std::uint8_t> request_;
    Opcode requestOpcode_ = kRrq;
    std::string remoteName_, mode_;
    RequestOffer offer_;
    bool offeredOptions_ = false;
    bool optionsRefused_ = false;
    platform::PeerAddress requestTo_;
    RetransmitTimer requestTimer_;
    int retransmissions_ = 0;
    LocalFileReader reader_;
    LocalFileWriter writer_;
    TransferSender sender_{reader_, *this};
    TransferReceiver receiver_{writer_, *this};
};

}  // namespace tftp
