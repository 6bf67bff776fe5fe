#include "presslink/line_counters.h"

#include <cstdio>

#include "log/activity_log.h"
#include "platform/clock.h"

namespace tsr {

namespace {

constexpr int kLevel = 3;

} // namespace

// One second per slot; a slot whose second has passed out of the window is
// emptied when that second comes round again.
struct LineCounters::UnitRecord {
    Counts total{};
    std::array<Counts, kWindowSeconds> slots{};
    std::array<std::int64_t, kWindowSeconds> slotSecond{};
    State state = State::Unknown;

    Counts& SlotFor(std::int64_t second) {
        const auto i = static_cast<std::size_t>(second % kWindowSeconds);
        if (slotSecond[i] != second) {
            slots[i] = Counts{};
            slotSecond[i] = second;
        }
        return slots[i];
    }
};

LineCounters::LineCounters(const Clock& clock, ActivityLog& log) : clock_(clock), log_(log) {}

LineCounters::~LineCounters() = default;

LineCounters::UnitRecord& LineCounters::RecordOf(int unit) {
    auto& record = units_[static_cast<std::size_t>(unit & 0xFF)];
    if (!record)
        record = std::make_unique<UnitRecord>();
    return *record;
}

void LineCounters::Count(int unit, Counter what) {
    if (what < 0 || what >= kCounters)
        return;
    const std::int64_t second = clock_.MonotonicMs() / 1000;
    std::lock_guard lock(guard_);
    UnitRecord& r = RecordOf(unit);
    ++r.total[what];
    ++r.SlotFor(second)[what];
}

void LineCounters::TransactionEnded(int unit, bool answered) {
    const State now = answered ? State::Answering : State::NotAnswering;
    State before;
    {
        std::lock_guard lock(guard_);
        UnitRecord& r = RecordOf(unit);
        before = r.state;
        r.state = now;
        if (answered)
            lastAnswer_ = clock_.Now();
    }
    // One line per change, not one per attempt; a first answer is no news.
    if (before == now || (before == State::Unknown && answered))
        return;
    char text[64];
    std::snprintf(text, sizeof text, answered ? "u%d answers again" : "u%d does not answer", unit & 0xFF);
    log_.WriteText(text, kLevel);
}

LineCounters::State LineCounters::Read(int unit, Counts& sinceLoad, Counts& lastMinute) const {
    sinceLoad = Counts{};
    lastMinute = Counts{};
    const std::int64_t second = clock_.MonotonicMs() / 1000;
    std::lock_guard lock(guard_);
    const auto& record = units_[static_cast<std::size_t>(unit & 0xFF)];
    if (!record)
        return State::Unknown;
    sinceLoad = record->total;
    for (int i = 0; i < kWindowSeconds; ++i) {
        const std::int64_t at = record->slotSecond[static_cast<std::size_t>(i)];
        if (at > second - kWindowSeconds && at <= second)
            for (int c = 0; c < kCounters; ++c)
                lastMinute[c] += record->slots[static_cast<std::size_t>(i)][c];
    }
    return record->state;
}

std::time_t LineCounters::LastAnswer() const {
    std::lock_guard lock(guard_);
    return lastAnswer_;
}

} // namespace tsr
