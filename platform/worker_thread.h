// A thread that waits, doing nothing, until it is asked to quit. It holds
// nothing of its own, so ending it never loses work; it exists to carry a
// thread priority. It has no event loop, so it costs no descriptor: only
// its small stack.
#pragma once

#include <sys/types.h>

#include <memory>

namespace platform {

class WorkerThread {
public:
    WorkerThread();
    ~WorkerThread();  // quits and joins
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts the thread and waits until it runs. False, at once, when no
    // thread could be started (errno tells why).
    bool Start();
    // Asks the thread to quit and waits for it to end.
    void Quit();
    bool IsRunning() const;
    // The kernel's id of the thread (for its nice value); 0 when not running.
    pid_t NativeId() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
