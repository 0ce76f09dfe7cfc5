// What the server tells its operator as it happens, one line each: every
// row's end, every refusal and every ERROR it answers with. The program
// writes them to standard error (the journal, under a service manager);
// tests record them. The log file of finished rows is another matter.
#pragma once

#include "platform/peer_address.h"

#include <cstdint>
#include <string>

// A transfer has ended and its row shows the result.
struct TransferEndEvent {
    std::string client;    // "address:port"
    std::string file;      // the path served or written
    bool sending = true;   // read request (the server sends)
    std::int64_t bytes = 0;
    std::string result;    // "Finished", "TimedOut" or the error text
    std::int64_t millis = 0;  // from admission to the end
    std::string requested{};  // the name asked for, when a rule rewrote it; else empty
};

// A request refused by the listener (kind "refused") or an ERROR a transfer
// sent (kind "error").
struct RefusalEvent {
    enum class Kind { Refused, Error };
    Kind kind = Kind::Refused;
    std::string client;
    int code = 0;        // the ERROR's code
    std::string reason;  // its text as sent
};

class ServerEventSink {
public:
    virtual ~ServerEventSink() = default;
    virtual void OnTransferEnded(const TransferEndEvent& event) = 0;
    virtual void OnRefused(const RefusalEvent& event) = 0;
};

// "address:port" ("[address]:port" for an address with colons in it).
std::string ClientText(const platform::PeerAddress& peer);

// The one line of each event, without its line end. Texts from the network
// are quoted, with quotes, backslashes and control characters escaped, so
// that no client can start a line of its own.
std::string FormatEventLine(const TransferEndEvent& event);
std::string FormatEventLine(const RefusalEvent& event);

// Writes each line to standard error at once, behind the program's name.
class StderrEventSink : public ServerEventSink {
public:
    explicit StderrEventSink(std::string program) : program_(std::move(program)) {}
    void OnTransferEnded(const TransferEndEvent& event) override;
    void OnRefused(const RefusalEvent& event) override;

private:
    void Write(const std::string& line) const;
    std::string program_;
};
