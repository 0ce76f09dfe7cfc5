#include "manager.h"

CManager::CManager(ServerContext& app) : transfer(std::make_unique<CTftpTransfer>(app)) {}

CManager::~CManager() {
    TerminateThread();
    transfer.reset();
}

bool CManager::InitInstance() { return thread_.Start(transfer.get()); }

void CManager::TerminateThread() { thread_.Quit(); }
