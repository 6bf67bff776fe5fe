#pragma once
#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace tsr::test {

// Broken-down UTC computed here (days to a civil date), so the test does
// not depend on the system's own conversion functions.
inline std::tm CivilTime(std::time_t t) {
    std::int64_t days = t / 86400, seconds = t % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    std::tm out{};
    out.tm_hour = static_cast<int>(seconds / 3600);
    out.tm_min = static_cast<int>(seconds / 60 % 60);
    out.tm_sec = static_cast<int>(seconds % 60);
    out.tm_wday = static_cast<int>(((days % 7) + 11) % 7); // 1 January 1970 was a Thursday
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const std::int64_t year = yoe + era * 400 + (month <= 2);
    out.tm_mday = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    out.tm_mon = month - 1;
    out.tm_year = static_cast<int>(year - 1900);
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    static const int before[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    out.tm_yday = before[out.tm_mon] + out.tm_mday - 1 + (leap && out.tm_mon > 1);
    return out;
}

// A clock that stands where the test puts it; local time is taken as UTC so
// that the expected texts do not depend on the machine's time zone.
class FakeClock final : public Clock {
public:
    explicit FakeClock(std::time_t now) : now_(now) {}
    void Set(std::time_t now) { now_ = now; }
    std::time_t Now() const override { return now_; }
    std::tm LocalTime(std::time_t t) const override { return UtcTime(t); }
    std::tm UtcTime(std::time_t t) const override { return CivilTime(t); }
    std::int64_t MonotonicMs() const override { return static_cast<std::int64_t>(now_.load()) * 1000; }
    void SleepMs(int) const override {}

private:
    std::atomic<std::time_t> now_;
};

// 2016-05-27 14:03:11 UTC
constexpr std::time_t kMay27At140311 = 1464357791;

} // namespace tsr::test
