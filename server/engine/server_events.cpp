#include "server_events.h"

#include <cstdio>

namespace {

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

std::string ClientText(const platform::PeerAddress& peer) {
    const std::string address = peer.AddressText();
    const std::string port = std::to_string(peer.port);
    if (address.find(':') != std::string::npos) return "[" + address + "]:" + port;
    return address + ":" + port;
}

std::string FormatEventLine(const TransferEndEvent& e) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(e.millis < 0 ? 0 : e.millis) / 1000.0);
    return "end client=" + e.client + " file=" + Quoted(e.file) +
           (e.requested.empty() ? std::string() : " requested=" + Quoted(e.requested)) + " direction=" + (e.sending ? "sending" : "receiving") + " bytes=" + std::to_string(e.bytes) +
           " result=" + Quoted(e.result) + " seconds=" + seconds;
}

std::string FormatEventLine(const RefusalEvent& e) {
    return std::string(e.kind == RefusalEvent::Kind::Refused ? "refused" : "error") + " client=" + e.client +
           " code=" + std::to_string(e.code) + " reason=" + Quoted(e.reason);
}

void StderrEventSink::OnTransferEnded(const TransferEndEvent& event) { Write(FormatEventLine(event)); }

void StderrEventSink::OnRefused(const RefusalEvent& event) { Write(FormatEventLine(event)); }

void StderrEventSink::Write(const std::string& line) const {
    // One write per line, flushed: lines from a busy server stay whole and
    // reach the journal when they happen.
    const std::string whole = program_ + ": " + line + "\n";
    std::fwrite(whole.data(), 1, whole.size(), stderr);
    std::fflush(stderr);
}
