// How many transfer threads may poll their sockets without sleeping at one
// time. A thread that polls keeps a processor to itself, so at most one
// fewer than the machine has (none on a single processor): the peer, and
// every other transfer, keep the rest.
#pragma once

#include <atomic>

namespace platform {

class SpinAllowance {
public:
    // Processors less one.
    SpinAllowance();
    explicit SpinAllowance(int limit) : limit_(limit) {}
    SpinAllowance(const SpinAllowance&) = delete;
    SpinAllowance& operator=(const SpinAllowance&) = delete;

    // True when the caller may poll now; it then calls Give when it stops.
    bool Take();
    void Give() { taken_.fetch_sub(1, std::memory_order_relaxed); }

private:
    const int limit_;
    std::atomic<int> taken_{0};
};

}  // namespace platform
