#include "worker_thread.h"

#include "spin_allowance.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

namespace platform {

namespace {

// A real-time signal nobody else uses: it only interrupts a worker's wait.
int WakeSignal() { return SIGRTMIN + 3; }

void IgnoreWake(int) {}

std::int64_t MonotonicUs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
}

// Polls without sleeping for up to budgetUs: 1 readable, 0 the budget
// passed, -1 woken (the wake signal came in).
int PollFor(pollfd& watched, std::int64_t budgetUs, const sigset_t& waiting) {
    const timespec zero{0, 0};
    const std::int64_t until = MonotonicUs() + budgetUs;
    for (;;) {
        const int n = ::ppoll(&watched, 1, &zero, &waiting);
        if (n != 0) return n > 0 ? 1 : (errno == EINTR ? -1 : 0);
        if (MonotonicUs() >= until) return 0;
    }
}

void InstallWakeHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = &IgnoreWake;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no SA_RESTART: the wait returns EINTR
        ::sigaction(WakeSignal(), &action, nullptr);
    });
}

}  // namespace

struct WorkerThread::State {
    pthread_t handle{};
    Owner* owner = nullptr;
    std::atomic<pid_t> tid{0};  // 0 until the thread runs
    std::atomic<bool> quit{false};
    // The last two waits for a readable descriptor, in microseconds, while
    // the owner asked for polling. Polling is tried only when the shorter
    // fitted its budget: one long turn at the end of a window does not stop
    // it, a link slower than the budget does.
    std::int64_t gapsUs[2] = {0, 0};

    static void* Run(void* arg) {
        auto* self = static_cast<State*>(arg);
        self->tid.store(::gettid());
        self->Loop();
        return nullptr;
    }

    void Loop() {
        // The wake signal is blocked here (inherited from Start) except
        // inside the wait, so a wake sent at any moment ends the next wait.
        sigset_t waiting;
        ::pthread_sigmask(SIG_SETMASK, nullptr, &waiting);
        sigdelset(&waiting, WakeSignal());
        while (!quit.load(std::memory_order_acquire)) {
            const Owner::Wait wait = owner ? owner->NextWait() : Owner::Wait{};
            pollfd watched{wait.descriptor, POLLIN, 0};
            const bool timed = wait.spinUs > 0 && wait.descriptor >= 0 && wait.timeoutMs != 0;
            const std::int64_t startUs = timed ? MonotonicUs() : 0;
            int n = 0;
            bool waited = false;
            if (timed && std::min(gapsUs[0], gapsUs[1]) <= wait.spinUs && wait.spinners &&
                wait.spinners->Take()) {
                n = PollFor(watched, wait.spinUs, waiting);
                wait.spinners->Give();
                waited = n != 0;
            }
            if (!waited) {
                timespec limit{wait.timeoutMs / 1000, (wait.timeoutMs % 1000) * 1'000'000L};
                n = ::ppoll(wait.descriptor >= 0 ? &watched : nullptr, wait.descriptor >= 0 ? 1 : 0,
                            wait.timeoutMs >= 0 ? &limit : nullptr, &waiting);
            }
            if (timed && n >= 0) {
                gapsUs[1] = gapsUs[0];
                gapsUs[0] = MonotonicUs() - startUs;
            }
            if (quit.load(std::memory_order_acquire)) break;
            if (!owner) continue;
            owner->Serve(n > 0 && (watched.revents & (POLLIN | POLLERR)) != 0);
        }
    }
};

WorkerThread::WorkerThread() = default;

WorkerThread::~WorkerThread() { Quit(); }

bool WorkerThread::Start(Owner* owner) {
    if (state_) return true;
    InstallWakeHandler();
    auto state = std::make_unique<State>();
    state->owner = owner;
    pthread_attr_t attr;
    if (::pthread_attr_init(&attr) != 0) return false;
    // Keep a thousand of them cheap.
    ::pthread_attr_setstacksize(&attr, 256 * 1024);
    // The new thread inherits the blocked wake signal.
    sigset_t wake, before;
    sigemptyset(&wake);
    sigaddset(&wake, WakeSignal());
    ::pthread_sigmask(SIG_BLOCK, &wake, &before);
    const int rc = ::pthread_create(&state->handle, &attr, &State::Run, state.get());
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    ::pthread_attr_destroy(&attr);
    if (rc != 0) {
        errno = rc;
        return false;
    }
    // Not waited for: the transfer's first answer goes out meanwhile.
    state_ = std::move(state);
    return true;
}

void WorkerThread::Wake() {
    if (state_) ::pthread_kill(state_->handle, WakeSignal());
}

void WorkerThread::Quit() {
    if (!state_) return;
    state_->quit.store(true, std::memory_order_release);
    ::pthread_kill(state_->handle, WakeSignal());
    ::pthread_join(state_->handle, nullptr);
    state_.reset();
}

bool WorkerThread::IsRunning() const { return state_ != nullptr; }

pid_t WorkerThread::NativeId() const {
    if (!state_) return 0;
    pid_t id;
    // Known once the thread has run its first instructions.
    while ((id = state_->tid.load()) == 0) ::sched_yield();
    return id;
}

bool WorkerThread::IsCurrent() const { return state_ && ::pthread_equal(state_->handle, ::pthread_self()); }

}  // namespace platform
