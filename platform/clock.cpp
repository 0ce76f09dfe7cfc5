#include "clock.h"

#include <time.h>

#include <chrono>
#include <ctime>

namespace platform {

std::int64_t WallClockNs() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

std::int64_t SystemClock::Now() const { return static_cast<std::int64_t>(std::time(nullptr)); }

std::int64_t SystemClock::NowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace platform
