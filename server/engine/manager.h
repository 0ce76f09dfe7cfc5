// One admitted transfer and the worker thread that carries it: the thread
// waits on the transfer's socket and serves its datagrams and resends, so
// that neither the window nor another transfer holds it up, and the idle
// processing can give each transfer a priority of its own.
#pragma once

#include "platform/worker_thread.h"
#include "server/engine/tftp_transfer.h"

#include <sys/types.h>

#include <cstdint>
#include <memory>

class CManager {
public:
    explicit CManager(ServerContext& app);
    // Ends the thread, then deletes the transfer (closing file and socket).
    ~CManager();
    CManager(const CManager&) = delete;
    CManager& operator=(const CManager&) = delete;

    // Starts the thread. False, at once, when no thread could be had
    // (errno says why): the listener then refuses the request.
    bool InitInstance();
    // Asks the thread to quit and waits for it to end (the transfer's lock
    // must not be held).
    void TerminateThread();
    // The transfer's socket or state has changed: its thread looks again.
    void Wake() { thread_.Wake(); }
    // The kernel's id of the thread; 0 when it is not running.
    pid_t ThreadId() const { return thread_.NativeId(); }

    // The owned transfer; cleared by the periodic check once it is reported.
    std::unique_ptr<CTftpTransfer> transfer;
    // When the listener admitted it (the clock's milliseconds).
    std::int64_t admittedMs = 0;
    // Its end has been told to the event sink.
    bool endReported = false;

private:
    platform::WorkerThread thread_;
};
