#include "retransmit_timer.h"

#include <algorithm>
#include <cstdlib>

namespace tftp {

void RetransmitTimer::Sent(std::int64_t nowMs, bool resend) {
    sentAtMs_ = nowMs;
    if (resend) {
        ++resends_;
    } else {
        resends_ = 0;
        firstSentAtMs_ = nowMs;
    }
}

void RetransmitTimer::Answered(std::int64_t nowMs) {
    if (sentAtMs_ < 0) return;
    if (resends_ == 0) {
        const int sample = static_cast<int>(std::clamp<std::int64_t>(nowMs - firstSentAtMs_, 0, 60000));
        if (srttMs8_ < 0) {
            srttMs8_ = sample * 8;
            rttvarMs4_ = sample * 2;
        } else {
            const int delta = sample - srttMs8_ / 8;
            srttMs8_ += delta;  // srtt += delta / 8
            rttvarMs4_ += std::abs(delta) - rttvarMs4_ / 4;
        }
    }
    resends_ = 0;
    sentAtMs_ = -1;
}

int RetransmitTimer::IntervalMs() const {
    int interval = srttMs8_ < 0 ? kInitialMs : srttMs8_ / 8 + rttvarMs4_;
    interval = std::clamp(interval, kMinimumMs, kMaximumMs);
    for (int i = 0; i < resends_ && interval < kMaximumMs; ++i) interval *= 2;
    return std::min(interval, kMaximumMs);
}

bool RetransmitTimer::Due(std::int64_t nowMs) const {
    return sentAtMs_ >= 0 && nowMs - sentAtMs_ >= IntervalMs();
}

}  // namespace tftp
