#include "platform/clock.h"

#include "platform/win32_api.h"

namespace tsr {

std::time_t SystemClock::Now() const {
    return std::time(nullptr);
}

std::tm SystemClock::LocalTime(std::time_t t) const {
    std::tm out{};
    localtime_s(&out, &t);
    return out;
}

std::tm SystemClock::UtcTime(std::time_t t) const {
    std::tm out{};
    gmtime_s(&out, &t);
    return out;
}

std::int64_t SystemClock::MonotonicMs() const {
    LARGE_INTEGER count{}, frequency{};
    ::QueryPerformanceCounter(&count);
    ::QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart > 0 ? count.QuadPart / (frequency.QuadPart / 1000) : 0;
}

void SystemClock::SleepMs(int ms) const {
    if (ms > 0)
        ::Sleep(static_cast<DWORD>(ms));
}

} // namespace tsr
