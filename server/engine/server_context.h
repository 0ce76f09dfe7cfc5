// The part of the server's application state that the listener and the
// transfers use: settings, switches, the events to the display and the
// failures to the application, the admission lock, the transfer counter,
// and the services they need (clock, address lookup, and the prompts of
// the address choice at the listener's start). The application object owns one and hands it to
// every listener it creates; tests build their own.
#pragma once

#include "platform/clock.h"
#include "platform/spin_allowance.h"
#include "platform/cross_thread_calls.h"
#include "platform/prompt_service.h"
#include "platform/socket_library.h"
#include "server/engine/engine_failure.h"
#include "server/engine/engine_settings.h"
#include "server/engine/server_events.h"
#include "server/engine/transfer_events.h"

#include "common/local_address.h"
#include "common/name_rules.h"

#include <QTimer>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

class ServerContext {
public:
    ServerContext(EngineSettings& settings, platform::Clock& clock,
                  platform::PromptService& prompts, tftp::AddressProvider& addresses);
    // Progress reaches the display at most this often per row, so that its
    // cost does not grow with the block rate (0: every one at once).
    static constexpr int kProgressEveryMs = 200;
    void SetProgressEveryMs(int ms);

    EngineSettings& settings;
    platform::Clock& clock;
    platform::PromptService& prompts;
    tftp::AddressProvider& addresses;
    platform::SocketLibraryInfo wsaData;

    // Each transfer's thread sends its last datagram again once the round
    // trip is overdue; off, only ResendSilent does (tests that move time
    // by hand). Set before transfers start.
    bool resendOnTransferThreads = true;
    // Transfer threads that may poll for a burst instead of sleeping.
    platform::SpinAllowance spinners;

    int bServing = 1;         // 0: every request is refused
    int bIdleCheck = 1;       // 1: idle processing runs the periodic check
    std::string listenLabel;  // "<address>.<port>" of the running listener
    std::mutex admissionLock;
    // Numbers admitted transfers 1..501; outlives listener restarts.
    int transferCounter = 0;
    // Where the search for a transfer's port in the transfer-port range starts.
    int nextRangePort = 0;

    // The display, or none (no main window yet): then events go nowhere.
    TransferView* view = nullptr;
    // Restarts the listener when a decision dialog waits for transfers to end.
    std::function<void()> endPendingDecision;
    // Told of every row's end, refusal and ERROR answer; none: untold.
    ServerEventSink* events = nullptr;
    // Shows what the engine could not do; called from the event loop.
    std::function<void(EngineFailure)> onFailure;

    // Queues the event for the display; it sees it once the engine's
    // current work has returned (the display in place then). Progress is
    // held back and only a row's latest goes, within the progress interval
    // and always before any other event. Any thread may call these three.
    void NotifyView(TransferEvent event);
    // Queues the failure for the application, as events are queued.
    void ReportFailure(EngineFailure failure);
    // Hands the display (and the application) what is queued now.
    void DeliverEvents();
    // An ERROR (code, text) sent to peer: by the listener (refused) or by
    // a transfer (error). From a transfer's thread it is queued, as events
    // are, and reaches the sink in the order it was told.
    void ReportRefusal(const platform::PeerAddress& peer, int code, std::string_view text, bool byListener);
    // A row's end, for the sink: queued behind what its transfer told before.
    void ReportEnded(TransferEndEvent event);
    void EndPendingDecision() {
        if (endPendingDecision) endPendingDecision();
    }
    // The requested name through the settings' rewriting rules, compiled
    // again whenever the rules have changed.
    tftp::RewrittenName RewriteName(std::string_view requested);

private:
    void Queue(TransferEvent event);
    void QueuePendingProgress();  // with eventLock_ held
    bool OnOwnThread() const;

    platform::CrossThreadCalls events_;
    // Guards what the transfers' threads queue; taken after a transfer's lock.
    std::mutex eventLock_;
    std::map<int, TransferProgress> pendingProgress_;  // by transfer number
    std::atomic<int> progressEveryMs_{kProgressEveryMs};
    QTimer progressTimer_;  // the window's thread only
    std::vector<tftp::NameRule> compiledRules_;
    tftp::NameRewriter rewriter_;
};
