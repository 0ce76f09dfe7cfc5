// Calls queued from any thread and run on the thread that made the queue,
// from its event loop, after the poster's current work has returned, in the
// order posted. The queue is a locked list and its doorbell an eventfd the
// event loop watches: nothing of it rests on another thread's use of the
// event loop, so a race checker sees every hand-over. Calls still queued
// when the queue goes away are dropped with it.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QSocketNotifier;

namespace platform {

class CrossThreadCalls {
public:
    // On the thread that will run the calls (it has an event loop).
    CrossThreadCalls();
    ~CrossThreadCalls();
    CrossThreadCalls(const CrossThreadCalls&) = delete;
    CrossThreadCalls& operator=(const CrossThreadCalls&) = delete;

    // Any thread.
    void Post(std::function<void()> call);
    // Runs what is queued now, on the owning thread, for a reader that must
    // see it at once.
    void Flush();

private:
    void RingBell();

    std::mutex lock_;
    std::deque<std::function<void()>> queue_;
    bool rung_ = false;  // the bell has been rung for what is queued
    int bell_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace platform
