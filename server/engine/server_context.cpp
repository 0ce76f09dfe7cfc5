#include "server_context.h"

#include <QThread>

ServerContext::ServerContext(EngineSettings& settings, platform::Clock& clock, platform::PromptService& prompts,
                             tftp::AddressProvider& addresses)
    : settings(settings), clock(clock), prompts(prompts), addresses(addresses) {
    progressTimer_.setSingleShot(true);
    progressTimer_.setInterval(kProgressEveryMs);
    QObject::connect(&progressTimer_, &QTimer::timeout, [this] {
        const std::lock_guard<std::mutex> hold(eventLock_);
        QueuePendingProgress();
    });
}

void ServerContext::SetProgressEveryMs(int ms) {
    progressEveryMs_.store(ms);
    progressTimer_.setInterval(ms);
}

bool ServerContext::OnOwnThread() const { return QThread::currentThread() == progressTimer_.thread(); }

void ServerContext::NotifyView(TransferEvent event) {
    const std::lock_guard<std::mutex> hold(eventLock_);
    auto* progress = std::get_if<TransferProgress>(&event);
    if (progress && progressEveryMs_.load(std::memory_order_relaxed) > 0) {
        // The latest progress of a row stands for all before it.
        const bool first = pendingProgress_.empty();
        pendingProgress_[progress->number] = std::move(*progress);
        if (!first) return;
        // The interval starts on the window's thread, where its timer lives.
        if (OnOwnThread()) {
            if (!progressTimer_.isActive()) progressTimer_.start();
        } else {
            events_.Post([this] {
                if (!progressTimer_.isActive()) progressTimer_.start();
            });
        }
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
    for (auto& [number, progress] : pendingProgress_) Queue(std::move(progress));
    pendingProgress_.clear();
}

void ServerContext::DeliverEvents() {
    {
        const std::lock_guard<std::mutex> hold(eventLock_);
        QueuePendingProgress();
    }
    progressTimer_.stop();
    events_.Flush();
}

void ServerContext::ReportRefusal(const platform::PeerAddress& peer, int code, std::string_view text,
                                  bool byListener) {
    if (!events) return;
    RefusalEvent refusal{byListener ? RefusalEvent::Kind::Refused : RefusalEvent::Kind::Error, ClientText(peer),
                         code, std::string(text)};
    if (OnOwnThread()) {
        events->OnRefused(refusal);
        return;
    }
    const std::lock_guard<std::mutex> hold(eventLock_);
    events_.Post([this, refusal = std::move(refusal)] {
        if (events) events->OnRefused(refusal);
    });
}

void ServerContext::ReportEnded(TransferEndEvent event) {
    events_.Post([this, event = std::move(event)] {
        if (events) events->OnTransferEnded(event);
    });
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
