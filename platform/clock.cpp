#include "clock.h"

#include <ctime>

namespace platform {

std::int64_t SystemClock::Now() const { return static_cast<std::int64_t>(std::time(nullptr)); }

}  // namespace platform
