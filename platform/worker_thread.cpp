#include "worker_thread.h"

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <pthread.h>
#include <unistd.h>

namespace platform {

struct WorkerThread::State {
    pthread_t handle{};
    std::mutex lock;
    std::condition_variable changed;
    pid_t tid = 0;
    bool started = false;
    bool quit = false;

    static void* Run(void* arg) {
        auto* self = static_cast<State*>(arg);
        std::unique_lock<std::mutex> hold(self->lock);
        self->tid = ::gettid();
        self->started = true;
        self->changed.notify_all();
        self->changed.wait(hold, [self] { return self->quit; });
        return nullptr;
    }
};

WorkerThread::WorkerThread() = default;

WorkerThread::~WorkerThread() { Quit(); }

bool WorkerThread::Start() {
    if (state_) return true;
    auto state = std::make_unique<State>();
    pthread_attr_t attr;
    if (::pthread_attr_init(&attr) != 0) return false;
    // The thread only waits; keep a thousand of them cheap.
    ::pthread_attr_setstacksize(&attr, 256 * 1024);
    const int rc = ::pthread_create(&state->handle, &attr, &State::Run, state.get());
    ::pthread_attr_destroy(&attr);
    if (rc != 0) {
        errno = rc;
        return false;
    }
    {
        std::unique_lock<std::mutex> hold(state->lock);
        state->changed.wait(hold, [&] { return state->started; });
    }
    state_ = std::move(state);
    return true;
}

void WorkerThread::Quit() {
    if (!state_) return;
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        state_->quit = true;
    }
    state_->changed.notify_all();
    ::pthread_join(state_->handle, nullptr);
    state_.reset();
}

bool WorkerThread::IsRunning() const { return state_ != nullptr; }

pid_t WorkerThread::NativeId() const { return state_ ? state_->tid : 0; }

}  // namespace platform
