// When to send a datagram again if its answer does not come: the smoothed
// round trip and its variation (the estimator TCP uses), within bounds,
// doubled on each resend that goes unanswered. A round trip is sampled only
// from an answer to a datagram sent once, so a late answer to the first copy
// cannot pass for a quick answer to the second.
#pragma once

#include <cstdint>

namespace tftp {

class RetransmitTimer {
public:
    // Before the first sample: the usual first interval of a second.
    static constexpr int kInitialMs = 1000;
    // Never sooner: a peer writing to slow storage still answers in time, and
    // a duplicate now and then costs little.
    static constexpr int kMinimumMs = 200;
    // Never later: a lost datagram on a link that had a bad moment is still
    // noticed well within any time-out.
    static constexpr int kMaximumMs = 4000;

    // A datagram that expects an answer went out (again, when resend).
    void Sent(std::int64_t nowMs, bool resend);
    // Its answer came.
    void Answered(std::int64_t nowMs);
    // The answer is overdue: time to send the datagram again.
    bool Due(std::int64_t nowMs) const;
    // The datagram went out at sentAtMs (the time of its last copy).
    std::int64_t SentAt() const { return sentAtMs_; }
    int IntervalMs() const;
    // Consecutive resends of the datagram now waiting for its answer.
    int Resends() const { return resends_; }

private:
    std::int64_t sentAtMs_ = -1;
    std::int64_t firstSentAtMs_ = -1;
    int resends_ = 0;
    int srttMs8_ = -1;  // smoothed round trip, in eighths of a millisecond
    int rttvarMs4_ = 0; // its mean deviation, in quarters
};

}  // namespace tftp
