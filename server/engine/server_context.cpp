#include "server_context.h"

ServerContext::ServerContext(EngineSettings& settings, platform::Clock& clock, platform::PromptService& prompts,
                             tftp::AddressProvider& addresses)
    : settings(settings), clock(clock), prompts(prompts), addresses(addresses) {
    progressTimer_.setSingleShot(true);
    progressTimer_.setInterval(kProgressEveryMs);
    QObject::connect(&progressTimer_, &QTimer::timeout, [this] { QueuePendingProgress(); });
}

void ServerContext::SetProgressEveryMs(int ms) { progressTimer_.setInterval(ms); }

void ServerContext::NotifyView(TransferEvent event) {
    auto* progress = std::get_if<TransferProgress>(&event);
    if (progress && progressTimer_.interval() > 0) {
        // The latest progress of a row stands for all before it.
        pendingProgress_[progress->number] = std::move(*progress);
        if (!progressTimer_.isActive()) progressTimer_.start();
        return;
    }
    // Whatever a row showed before goes first.
    QueuePendingProgress();
    Queue(std::move(event));
}

void ServerContext::Queue(TransferEvent event) {
    events_.Post([this, event = std::move(event)] {
        if (view) view->OnTransferEvent(event);
    });
}

void ServerContext::QueuePendingProgress() {
    progressTimer_.stop();
    for (auto& [number, progress] : pendingProgress_) Queue(std::move(progress));
    pendingProgress_.clear();
}

void ServerContext::DeliverEvents() {
    QueuePendingProgress();
    events_.Flush();
}

void ServerContext::ReportFailure(EngineFailure failure) {
    events_.Post([this, failure] {
        if (onFailure) onFailure(failure);
    });
}

tftp::RewrittenName ServerContext::RewriteName(std::string_view requested) {
    if (settings.NameRules.empty()) return tftp::RewrittenName{std::string(requested), false, false};
    if (settings.NameRules != compiledRules_) {
        rewriter_ = tftp::NameRewriter(settings.NameRules);
        compiledRules_ = settings.NameRules;
    }
    return rewriter_.Rewrite(requested);
}
