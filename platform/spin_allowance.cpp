#include "spin_allowance.h"

#include <algorithm>
#include <thread>

namespace platform {

SpinAllowance::SpinAllowance() : limit_(std::max(0, static_cast<int>(std::thread::hardware_concurrency()) - 1)) {}

bool SpinAllowance::Take() {
    int now = taken_.load(std::memory_order_relaxed);
    while (now < limit_) {
        if (taken_.compare_exchange_weak(now, now + 1, std::memory_order_relaxed)) return true;
    }
    return false;
}

}  // namespace platform
