#pragma once
#include <cstdlib>
#include <mutex>
#include <tuple>
#include <vector>

#include "support/test_platform.h"
#include "tessaro.h"

namespace tsr::test {

using Event = std::tuple<int, int, int>;

// Events delivered to the callbacks below, in order.
class EventRecorder {
public:
    static EventRecorder& First() {
        static EventRecorder r;
        return r;
    }
    static EventRecorder& Second() {
        static EventRecorder r;
        return r;
    }
    void Add(int unit, int code, int kind) {
        std::lock_guard lock(guard_);
        events_.emplace_back(unit, code, kind);
    }
    std::vector<Event> Take() {
        std::lock_guard lock(guard_);
        return std::exchange(events_, {});
    }

private:
    std::mutex guard_;
    std::vector<Event> events_;
};

inline void TSR_CALL RecordFirst(int32_t unit, int32_t code, int32_t kind) {
    EventRecorder::First().Add(unit, code, kind);
}
inline void TSR_CALL RecordSecond(int32_t unit, int32_t code, int32_t kind) {
    EventRecorder::Second().Add(unit, code, kind);
}

// KeepOffRealPorts (support/test_platform.h): COM n reaches no real port of
// the machine, also when a test runs outside ctest.

} // namespace tsr::test
