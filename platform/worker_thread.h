// A thread that carries one transfer: it waits on its owner's socket and
// deadlines and calls the owner on its own thread, away from the window's.
// It has no event loop, so it costs no descriptor: only its small stack. It
// is woken (to look at the owner again, or to quit) by a signal that only
// its wait lets in. Without an owner it only waits until it is asked to quit
// (it then exists to carry a thread priority).
#pragma once

#include <sys/types.h>

#include <memory>

namespace platform {

class SpinAllowance;

class WorkerThread {
public:
    // What the thread waits for and serves. Both calls come from the thread;
    // the owner guards what it shares with other threads itself.
    class Owner {
    public:
        virtual ~Owner() = default;
        struct Wait {
            int descriptor = -1;  // readable wakes the thread; -1: none
            int timeoutMs = -1;   // -1: until woken
            // A peer in the middle of a burst sends again within
            // microseconds: poll the descriptor for up to this long before
            // sleeping, when the allowance has room. A sleeping thread's
            // wake-up costs the sender more than the poll costs us. The
            // thread stops polling on its own when the gaps it waited
            // out were longer than this (a slow link).
            int spinUs = 0;
            static constexpr int kBurstSpinUs = 50;  // longer than a gap inside a burst
            void PollForBursts(SpinAllowance& allowance) {
                spinUs = kBurstSpinUs;
                spinners = &allowance;
            }
            SpinAllowance* spinners = nullptr;
        };
        virtual Wait NextWait() = 0;
        // After a wait: readable, or the time-out passed, or woken.
        virtual void Serve(bool readable) = 0;
    };

    WorkerThread();
    ~WorkerThread();  // quits and joins
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts the thread; it may not run yet when this returns. False, at
    // once, when no thread could be started (errno tells why). The owner
    // must outlive the thread (Quit before it goes).
    bool Start(Owner* owner = nullptr);
    // The owner's wait has changed (a socket opened, a deadline moved): the
    // thread asks it again.
    void Wake();
    // Asks the thread to quit and waits for it to end; the owner is not
    // called after it returns.
    void Quit();
    bool IsRunning() const;
    // The kernel's id of the thread (for its nice value), once it runs; 0
    // when not started.
    pid_t NativeId() const;
    // Whether the caller is this thread.
    bool IsCurrent() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
