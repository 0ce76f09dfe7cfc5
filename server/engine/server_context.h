// The part of the server's application state that the listener and the
// transfers use: settings, switches, the notice record and its delivery, the
// admission lock, the transfer counter, and the services they need (clock,
// prompts, address lookup). The application object owns one and hands it to
// every listener it creates; tests build their own.
#pragma once

#include "platform/clock.h"
#include "platform/prompt_service.h"
#include "platform/socket_library.h"
#include "server/app/server_settings.h"
#include "server/engine/server_events.h"
#include "server/engine/transfer_notice.h"

#include "common/local_address.h"

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

class ServerContext {
public:
    ServerContext(ServerSettings& settings, platform::Clock& clock,
                  platform::PromptService& prompts, tftp::AddressProvider& addresses)
        : settings(settings), clock(clock), prompts(prompts), addresses(addresses) {}

    ServerSettings& settings;
    platform::Clock& clock;
    platform::PromptService& prompts;
    tftp::AddressProvider& addresses;
    platform::SocketLibraryInfo wsaData;

    int bServing = 1;         // 0: every request is refused
    int bIdleCheck = 1;       // 1: idle processing runs the periodic check
    std::string listenLabel;  // "<address>.<port>" of the running listener
    TransferNotice notice;
    std::recursive_mutex admissionLock;
    // Numbers admitted transfers 1..501; outlives listener restarts.
    int transferCounter = 0;

    // The display, or none (no main window yet): then notifications go nowhere.
    TransferView* view = nullptr;
    // Restarts the listener when a decision dialog waits for transfers to end.
    std::function<void()> endPendingDecision;
    // Told of every row's end, refusal and ERROR answer; none: untold.
    ServerEventSink* events = nullptr;

    // Sends notification type 0..5 about transfer number to the view:
    // 0 ended, 1 started, 2 file, 3 status, 4 result, 5 result (timed out).
    void NotifyView(int type, int number);
    // An ERROR (code, text) sent to peer: by the listener (refused) or by
    // a transfer (error).
    void ReportRefusal(const platform::PeerAddress& peer, int code, std::string_view text, bool byListener) {
        if (events)
            events->OnRefused(RefusalEvent{byListener ? RefusalEvent::Kind::Refused : RefusalEvent::Kind::Error,
                                           ClientText(peer), code, std::string(text)});
    }
    void EndPendingDecision() {
        if (endPendingDecision) endPendingDecision();
    }
};
