// A thread that runs an empty event loop until it is asked to quit. It holds
// nothing of its own, so ending it never loses work; it exists to carry a
// thread priority.
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

    // Starts the thread and waits until its loop is about to run. False when
    // no thread could be started.
    bool Start();
    // Asks the loop to quit and waits for the thread to end.
    void Quit();
    bool IsRunning() const;
    // The kernel's id of the thread (for its nice value); 0 when not running.
    pid_t NativeId() const;

private:
    class Thread;
    std::unique_ptr<Thread> thread_;
};

}  // namespace platform
