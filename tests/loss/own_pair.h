// Skerry's engine against Vantrel's engine through the impairment relay, in
// one process on one manual clock that moves only while nothing is on the
// wire: a lost datagram is resent after a time-out that costs no real time.
#pragma once

#include "client/engine/transfer_socket.h"
#include "platform/scripted_prompt_service.h"
#include "tests/loss/status_log.h"
#include "tests/server_engine/engine_harness.h"
#include "tests/support/event_loop.h"
#include "tests/support/impairment_relay.h"
#include "tests/support/temp_dir.h"

#include <chrono>
#include <string>

namespace tests {

class OwnPair {
public:
    OwnPair() : relay_("127.0.0.1", h.listenAt) {
        h.settings.nMaxClients = 0;  // one client at a time: a repeat must not count twice
        client.inboundPath = local.Path() + "/";
        client.outboundPath = local.Path() + "/";
        client.overwrite = 1;
    }

    EngineHarness h;
    ImpairmentRelay& relay() { return relay_; }
    ClientSettings client;
    TempDir local;

    struct Result {
        bool done = false;
        std::string serverResult;
        std::string clientStatus;
    };

    // One transfer: Skerry fetches (or sends) name through the relay, asking
    // for a window of `window` blocks when it is above 1.
    Result Run(bool sending, const std::string& name, int blockSize, int window = 1, bool octet = true) {
        if (!h.Start()) return {};
        tftp::FixedAddressProvider addresses{"skerry", {"127.0.0.1"}};
        StatusLog status;
        // Time moves only by the loop below.
        ClientContext context{client, h.clock, addresses, status, false};
        CTransferSocket t(context);
        t.blockSize = blockSize;
        t.windowSize = window;
        t.sending = sending ? 1 : 0;
        t.timeoutSecs = 30;
        const platform::PeerAddress front = relay_.Front();
        const int mode = octet ? 1 : 0;
        {
            const auto hold = t.Hold();
            if (!t.OpenLocalPort("127.0.0.1")) return {};
            const int started = sending ? t.StartSend(name, name, front.AddressText(), front.port, mode, {})
                                        : t.StartFetch(name, name, front.AddressText(), front.port, mode);
            if (!started) return {};
        }
        auto done = [&] {
            const auto hold = t.Hold();
            return t.busy == 0 && h.view.Reported(1);
        };
        // Whether the client's thread has taken what reached it.
        auto clientIdle = [&] {
            const auto hold = t.Hold();
            return t.busy != 1 || !t.HasInput();
        };
        // Bounded: at most 600 s of the manual clock, and 180 s of real time
        // while datagrams keep moving.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(180);
        std::int64_t lastSweep = h.clock.Now();
        for (int quiet = 0; quiet < 6000 && !done() && std::chrono::steady_clock::now() < deadline;) {
            const int moved = relay_.Count(Toward::Server) + relay_.Count(Toward::Client);
            RunFor(5);
            if (relay_.Count(Toward::Server) + relay_.Count(Toward::Client) != moved) continue;
            // The server's threads may not have taken what reached them yet,
            // or may have answered while we looked.
            if (!h.listener->TransfersIdle() || !clientIdle()) continue;
            RunFor(1);
            if (relay_.Count(Toward::Server) + relay_.Count(Toward::Client) != moved) continue;
            // Quiet: time passes, and what waits for it happens.
            ++quiet;
            relay_.ReleaseHeld();
            h.clock.AdvanceMs(100);
            h.listener->ResendSilent();
            {
                const auto hold = t.Hold();
                t.CheckTimeout();
            }
            if (h.clock.Now() - lastSweep >= 5) {
                lastSweep = h.clock.Now();
                h.listener->SweepTransfers();
            }
        }
        Result r;
        QCoreApplication::sendPostedEvents();  // the status texts the client's thread posted
        r.done = done();
        r.serverResult = h.view.ResultOf(1);
        r.clientStatus = status.Last();
        return r;
    }

private:
    ImpairmentRelay relay_;
};

}  // namespace tests
