#pragma once
#include <array>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>

namespace tsr {

class ActivityLog;
class Clock;

// What the line did for each unit, counted where it happens: replies that came
// in time, late, not at all or malformed, and command frames sent again. Kept
// since the library was loaded and over the last minute. A unit's state
// (answering or not) changes with the outcome of its transactions, and each
// change writes one log line.
class LineCounters {
public:
    enum Counter { Answered, Late, Silent, Malformed, Retries, kCounters };
    enum class State { Unknown, Answering, NotAnswering };
    using Counts = std::array<std::int64_t, kCounters>;
    static constexpr int kUnits = 256; // the unit goes on the line as one byte
    static constexpr int kWindowSeconds = 60;

    LineCounters(const Clock& clock, ActivityLog& log);
    ~LineCounters();
    LineCounters(const LineCounters&) = delete;
    LineCounters& operator=(const LineCounters&) = delete;

    void Count(int unit, Counter what);
    // A transaction of the unit is over: it got its answer, or gave up.
    void TransactionEnded(int unit, bool answered);

    // The unit's counts since load and over the last minute, and its state.
    State Read(int unit, Counts& sinceLoad, Counts& lastMinute) const;
    // When the console last answered a transaction (0: never since load).
    std::time_t LastAnswer() const;

private:
    struct UnitRecord;
    UnitRecord& RecordOf(int unit); // guard held

    const Clock& clock_;
    ActivityLog& log_;
    mutable std::mutex guard_;
    std::array<std::unique_ptr<UnitRecord>, kUnits> units_;
    std::time_t lastAnswer_ = 0;
};

} // namespace tsr
