#include "worker_thread.h"

#include <QSemaphore>
#include <QThread>

#include <atomic>
#include <unistd.h>

namespace platform {

class WorkerThread::Thread final : public QThread {
public:
    std::atomic<pid_t> tid{0};
    QSemaphore started;

protected:
    void run() override {
        tid = ::gettid();
        started.release();
        exec();
    }
};

WorkerThread::WorkerThread() = default;

WorkerThread::~WorkerThread() { Quit(); }

bool WorkerThread::Start() {
    if (thread_) return true;
    thread_ = std::make_unique<Thread>();
    // The loop needs little stack; keep a hundred idle threads cheap.
    thread_->setStackSize(256 * 1024);
    thread_->start();
    if (!thread_->isRunning() && thread_->isFinished()) {
        thread_.reset();
        return false;
    }
    thread_->started.acquire();
    return true;
}

void WorkerThread::Quit() {
    if (!thread_) return;
    thread_->quit();
    thread_->wait();
    thread_.reset();
}

bool WorkerThread::IsRunning() const { return thread_ && thread_->isRunning(); }

pid_t WorkerThread::NativeId() const { return thread_ ? thread_->tid.load() : 0; }

}  // namespace platform
