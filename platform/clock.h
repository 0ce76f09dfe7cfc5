// Whole seconds of the wall clock, and a monotonic millisecond count for the
// short intervals of retransmission, read through one interface so that
// tests can move time without sleeping.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::int64_t Now() const = 0;    // seconds since the epoch
    virtual std::int64_t NowMs() const = 0;  // milliseconds, monotonic, any origin
};

// Nanoseconds of the wall clock: the time base of the system's notes of a
// datagram's arrival (AsyncUdpSocket::LastArrivalNs).
std::int64_t WallClockNs();

class SystemClock final : public Clock {
public:
    std::int64_t Now() const override;
    std::int64_t NowMs() const override;
};

// A clock that only moves when told to; its seconds and milliseconds move
// together.
class ManualClock final : public Clock {
public:
    explicit ManualClock(std::int64_t start = 1'000'000'000) : ms_(start * 1000) {}
    std::int64_t Now() const override { return ms_.load() / 1000; }
    std::int64_t NowMs() const override { return ms_.load(); }
    void Set(std::int64_t seconds) { ms_.store(seconds * 1000); }
    void Advance(std::int64_t seconds) { ms_.fetch_add(seconds * 1000); }
    void AdvanceMs(std::int64_t ms) { ms_.fetch_add(ms); }

private:
    std::atomic<std::int64_t> ms_;
};

}  // namespace platform
