// Helpers for the client's tests: a hand-driven UDP peer on loopback that
// plays the server, TFTP packets to send it, recorders for status texts and
// posted messages, and answering a modal dialog from a test.
#pragma once

#include "client/engine/client_context.h"
#include "platform/async_udp_socket.h"
#include "platform/posted_messages.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tests {

using Bytes = std::vector<std::uint8_t>;

// A UDP socket on loopback (port of the system's choice, unless given)
// without notifications: the test receives and sends by hand.
class FakePeer {
public:
    explicit FakePeer(const std::string& address = "127.0.0.1", std::uint16_t port = 0);
    std::uint16_t Port() const { return socket_.LocalPort(); }
    platform::PeerAddress Address() const;
    // Runs the event loop until a datagram arrives; false on time-out.
    bool Receive(Bytes& datagram, platform::PeerAddress& from, int timeoutMs = 10000);
    bool Receive(Bytes& datagram, int timeoutMs = 10000);
    // True when nothing arrives within ms.
    bool Silent(int ms);
    void Send(const Bytes& datagram, const platform::PeerAddress& to);
    platform::PeerAddress LastSender() const { return last_; }

private:
    platform::AsyncUdpSocket socket_;
    platform::PeerAddress last_;
};

Bytes Data(std::uint16_t block, const std::string& payload);
Bytes Ack(std::uint16_t block);
Bytes Error(std::uint16_t code, const std::string& text);
// OACK with name/value pairs in the order given.
Bytes Oack(const std::vector<std::pair<std::string, std::string>>& options);
Bytes OptionFailure();
std::uint16_t Opcode(const Bytes& p);
std::uint16_t Block(const Bytes& p);  // DATA / ACK block, ERROR code
std::string ErrorTextOf(const Bytes& p);
std::string Payload(const Bytes& p);  // DATA bytes after the header
std::string AsText(const Bytes& p);   // the whole datagram as bytes

// A request's fields, for checking what the client sent.
struct SentRequest {
    std::uint16_t opcode = 0;
    std::string name, mode;
    std::vector<std::pair<std::string, std::string>> options;
};
SentRequest ParseSentRequest(const Bytes& p);

class StatusLog final : public StatusSink {
public:
    void SetStatusText(int, const std::string& text) override { texts.push_back(text); }
    std::string Last() const { return texts.empty() ? std::string() : texts.back(); }
    std::vector<std::string> texts;
};

struct PostedMessage {
    int message;
    std::int64_t wParam, lParam;
};

class MessageLog {
public:
    MessageLog();
    platform::PostedMessages* Owner() { return &owner_; }
    std::vector<PostedMessage> messages;

private:
    platform::PostedMessages owner_;
};

// Runs the event loop, blocking in it (so a datagram is handled the moment it
// arrives), until done() or the timeout; returns done().
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 20000);

// Calls act on the next modal dialog to open (polling for it), e.g. to
// press its OK button. The returned flag says whether one was seen.
std::shared_ptr<bool> OnNextModal(std::function<void(QWidget*)> act, int timeoutMs = 10000);

// Whether this process holds path open (from /proc/self/fd).
bool ProcessHasOpen(const std::string& path);

}  // namespace tests
