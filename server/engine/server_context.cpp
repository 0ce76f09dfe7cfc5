#include "server_context.h"

void ServerContext::NotifyView(int type, int number) {
    if (!view) return;
    switch (type) {
    case 0: view->OnTransferMessage(WM_TRANSFER_ENDED, number, nullptr); break;
    case 1: view->OnTransferMessage(WM_TRANSFER_STARTED, number, &notice); break;
    case 2: view->OnTransferMessage(WM_TRANSFER_FILE, number, &notice); break;
    case 3: view->OnTransferMessage(WM_TRANSFER_STATUS, number, &notice); break;
    case 4:
        notice.Failed = 0;
        view->OnTransferMessage(WM_TRANSFER_RESULT, number, &notice);
        break;
    case 5:
        notice.Failed = 1;
        view->OnTransferMessage(WM_TRANSFER_RESULT, number, &notice);
        break;
    default: break;
    }
}
