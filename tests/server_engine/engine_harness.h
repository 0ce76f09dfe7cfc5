// What the server engine's tests share: a recording view, a raw UDP client
// for hand-made packets, an event-loop wait that does not add latency to
// every datagram, and a harness that owns an engine (settings, manual clock,
// scripted prompts, fixed local address, folders, listener).
#pragma once

#include "common/local_address.h"
#include "common/tftp_packet.h"
#include "platform/async_udp_socket.h"
#include "platform/clock.h"
#include "platform/scripted_prompt_service.h"
#include "server/engine/engine_settings.h"
#include "server/engine/listen_socket.h"
#include "server/engine/server_context.h"
#include "server/engine/transfer_events.h"
#include "tests/support/temp_dir.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tests {

// Runs the event loop (sleeping in it, not around it) until done() or the
// timeout; returns done().
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 20000);
// Runs the event loop for ms milliseconds.
void Settle(int ms);

// One event as the view saw it, by the name of its message: the text of a
// start (client), file (path), status or result; failed: an end that timed
// out; done and total: a status's bytes.
struct Seen {
    int message = 0;
    int number = 0;
    std::string text;
    int failed = 0;
    std::int64_t done = 0;
    std::int64_t total = 0;
};

class RecordingView final : public TransferView {
public:
    void OnTransferEvent(const TransferEvent& event) override;

    std::vector<Seen> seen;
    // Messages of one kind, in order.
    std::vector<Seen> Of(int message) const;
    // The result text of transfer number, or "" before it is reported.
    std::string ResultOf(int number) const;
    bool Reported(int number) const;
    int CountOf(int message) const;
};

// A client socket of the test's own on 127.0.0.1 (or another address).
class RawClient final : public platform::AsyncUdpSocket {
public:
    explicit RawClient(const std::string& address = "127.0.0.1");

    struct Datagram {
        std::string bytes;
        platform::PeerAddress from;
        std::uint16_t Opcode() const;
        std::uint16_t Block() const;  // second 16-bit field
    };

    void Send(const std::string& bytes, const platform::PeerAddress& to);
    // Waits for the next datagram; false on timeout.
    bool Next(Datagram& out, int timeoutMs = 5000);
    // True when nothing arrives within ms.
    bool Quiet(int ms);
    std::deque<Datagram> received;

protected:
    void OnReceive(int error) override;
};

// Request bytes: opcode, name, NUL, mode, NUL, then name/value pairs.
std::string Request(std::uint16_t opcode, const std::string& name, const std::string& mode,
                    const std::vector<std::pair<std::string, std::string>>& options = {});
std::string Ack(std::uint16_t block);
std::string Data(std::uint16_t block, const std::string& payload);
std::string ErrorPacket(std::uint16_t code, const std::string& text);

class EngineHarness {
public:
    // Binds the listener to address on a free port (port 0: one is found).
    explicit EngineHarness(const std::string& address = "127.0.0.1", int port = 0);
    ~EngineHarness();

    EngineSettings settings;
    platform::ManualClock clock;
    platform::ScriptedPromptService prompts;
    tftp::FixedAddressProvider addresses;
    ServerContext app;
    RecordingView view;
    TempDir outDir;  // OutPath
    TempDir inDir;   // InPath
    std::unique_ptr<CListenSocket> listener;
    platform::PeerAddress listenAt;

    bool Start();
    std::string OutFile(const std::string& name) const { return outDir.File(name); }
    std::string InFile(const std::string& name) const { return inDir.File(name); }
    // The periodic check, and the events it queued handed to the view.
    void Sweep();
    // Runs the periodic check until transfer number has been reported.
    bool WaitReported(int number, int timeoutMs = 20000);
};

// A port that is free on address right now.
int FreePort(const std::string& address);

}  // namespace tests
