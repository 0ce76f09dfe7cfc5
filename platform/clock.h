// Whole seconds of the wall clock, read through one interface so that tests
// can move time without sleeping.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::int64_t Now() const = 0;  // seconds since the epoch
};

class SystemClock final : public Clock {
public:
    std::int64_t Now() const override;
};

// A clock that only moves when told to.
class ManualClock final : public Clock {
public:
    explicit ManualClock(std::int64_t start = 1'000'000'000) : now_(start) {}
    std::int64_t Now() const override { return now_.load(); }
    void Set(std::int64_t seconds) { now_.store(seconds); }
    void Advance(std::int64_t seconds) { now_.fetch_add(seconds); }

private:
    std::atomic<std::int64_t> now_;
};

}  // namespace platform
