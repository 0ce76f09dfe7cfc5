#include "cross_thread_calls.h"

#include <QSocketNotifier>

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

CrossThreadCalls::CrossThreadCalls() : bell_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (bell_ < 0) return;  // Flush still delivers; posts then wait for it
    notifier_ = std::make_unique<QSocketNotifier>(bell_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        std::uint64_t count = 0;
        // Emptied before the queue is read: a post that finds the bell
        // quiet after this rings it again.
        [[maybe_unused]] const ssize_t n = ::read(bell_, &count, sizeof count);
        Flush();
    });
}

CrossThreadCalls::~CrossThreadCalls() {
    notifier_.reset();
    if (bell_ >= 0) ::close(bell_);
}

void CrossThreadCalls::Post(std::function<void()> call) {
    bool ring = false;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        queue_.push_back(std::move(call));
        ring = !rung_;
        rung_ = true;
    }
    if (ring) RingBell();
}

void CrossThreadCalls::RingBell() {
    if (bell_ < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(bell_, &one, sizeof one);
}

void CrossThreadCalls::Flush() {
    // One at a time, so that a call that flushes or posts keeps the order.
    for (;;) {
        std::function<void()> call;
        {
            const std::lock_guard<std::mutex> hold(lock_);
            if (queue_.empty()) {
                rung_ = false;
                return;
            }
            call = std::move(queue_.front());
            queue_.pop_front();
        }
        call();
    }
}

}  // namespace platform
