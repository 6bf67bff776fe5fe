#pragma once
#include <atomic>

#include "platform/clock.h"

namespace tsr::test {

// A clock that stands where the test puts it; local time is taken as UTC so
// that the expected texts do not depend on the machine's time zone.
class FakeClock final : public Clock {
public:
    explicit FakeClock(std::time_t now) : now_(now) {}
    void Set(std::time_t now) { now_ = now; }
    std::time_t Now() const override { return now_; }
    std::tm LocalTime(std::time_t t) const override { return UtcTime(t); }
    std::tm UtcTime(std::time_t t) const override {
        std::tm out{};
        gmtime_r(&t, &out);
        return out;
    }
    std::int64_t MonotonicMs() const override { return static_cast<std::int64_t>(now_.load()) * 1000; }
    void SleepMs(int) const override {}

private:
    std::atomic<std::time_t> now_;
};

// 2016-05-27 14:03:11 UTC
constexpr std::time_t kMay27At140311 = 1464357791;

} // namespace tsr::test
