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
