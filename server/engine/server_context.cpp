#include "server_context.h"

void ServerContext::NotifyView(TransferEvent event) {
    events_.Post([this, event = std::move(event)] {
        if (view) view->OnTransferEvent(event);
    });
}
