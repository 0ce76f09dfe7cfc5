// The part of the server's application state that the listener and the
// transfers use: settings, switches, the notice record and its delivery, the
// admission lock, the transfer counter, and the services they need (clock,
// prompts, address lookup). The application object owns one and hands it to
// every listener it creates; tests build their own.
#pragma once

#include "platform/clock.h"
#include "platform/prompt_service.h"
#include "platform/socket_library.h"
#include "server/engine/engine_settings.h"
#include "server/engine/transfer_notice.h"

#include "common/local_address.h"

#include <functional>
#include <mutex>
#include <string>

class ServerContext {
public:
    ServerContext(EngineSettings& settings, platform::Clock& clock,
                  platform::PromptService& prompts, tftp::AddressProvider& addresses)
        : settings(settings), clock(clock), prompts(prompts), addresses(addresses) {}

    EngineSettings& settings;
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

    // Sends notification type 0..5 about transfer number to the view:
    // 0 ended, 1 started, 2 file, 3 status, 4 result, 5 result (timed out).
    void NotifyView(int type, int number);
    void EndPendingDecision() {
        if (endPendingDecision) endPendingDecision();
    }
};
