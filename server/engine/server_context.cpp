#include "server_context.h"

void ServerContext::NotifyView(TransferEvent event) {
    events_.Post([this, event = std::move(event)] {
        if (view) view->OnTransferEvent(event);
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
