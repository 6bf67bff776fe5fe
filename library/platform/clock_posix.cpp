#include "platform/clock.h"

#include <cerrno>
#include <time.h>

namespace tsr {

std::time_t SystemClock::Now() const {
    return std::time(nullptr);
}

std::tm SystemClock::LocalTime(std::time_t t) const {
    std::tm out{};
    localtime_r(&t, &out);
    return out;
}

std::tm SystemClock::UtcTime(std::time_t t) const {
    std::tm out{};
    gmtime_r(&t, &out);
    return out;
}

std::int64_t SystemClock::MonotonicMs() const {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void SystemClock::SleepMs(int ms) const {
    if (ms <= 0)
        return;
    timespec rest{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    // a signal must not cut the pause short
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

} // namespace tsr
