#pragma once
#include <cstdint>
#include <ctime>

namespace tsr {

// Time services the library reads; tests inject a fake to cross hour
// boundaries or age files without waiting.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::time_t Now() const = 0;                // seconds since the epoch
    virtual std::tm LocalTime(std::time_t t) const = 0; // broken-down local time
    virtual std::tm UtcTime(std::time_t t) const = 0;   // broken-down UTC
    virtual std::int64_t MonotonicMs() const = 0;       // for waits and time-outs
    virtual void SleepMs(int ms) const = 0;
};

// The real clock of the machine.
class SystemClock final : public Clock {
public:
    std::time_t Now() const override;
    std::tm LocalTime(std::time_t t) const override;
    std::tm UtcTime(std::time_t t) const override;
    std::int64_t MonotonicMs() const override;
    void SleepMs(int ms) const override;
};

} // namespace tsr
