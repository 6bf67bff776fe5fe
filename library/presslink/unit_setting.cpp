#include "presslink/unit_setting.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "config/configuration.h"
#include "log/activity_log.h"
#include "presslink/log_line.h"
#include "presslink/press_protocol.h"
#include "session/event_sink.h"
#include "session/unit_table.h"

namespace tsr {

namespace {

constexpr int kKindUnit = 0;
constexpr int kKindKeys = 1;
constexpr int kKindDuctor = 2;
constexpr int kKindDuctorCycle = 3;
constexpr int kEventStart = 0;
constexpr int kEventDone = 4;
constexpr int kEventRead = 5;
constexpr int kResultOk = 0;
constexpr int kResultFailed = 1;

using KeyBuffer = std::array<std::int32_t, kMaxKeys>;

int LimitKey(std::int64_t key) {
    return static_cast<int>(std::clamp<std::int64_t>(key, 0, 255));
}

} // namespace

struct UnitSetting::UnitValues {
    KeyBuffer keys{};
    int count = 0;
    int percent = 0;
    int cycle = 0;
};

UnitSetting::UnitSetting(PressProtocol& protocol, Configuration& config, ActivityLog& log,
                         const EventSink& events, UnitTable& table, PressLock& lock)
    : protocol_(protocol), config_(config), log_(log), events_(events), table_(table), lock_(lock) {}

int UnitSetting::PercentToWire(int percent) {
    const int p = std::clamp(percent, 0, 100);
    return std::min(p * 256 / 100, 255);
}

int UnitSetting::WireToPercent(int value) {
    if (value == 0)
        return 0;
    // v * 100 / 256 rounded half up
    return static_cast<int>((static_cast<std::int64_t>(value) * 100 + 128) / 256);
}

int UnitSetting::PercentageKey(int key, float percent) {
    if (std::isnan(percent))
        percent = 0.0f;
    // The factor is the single-precision 0.01 (slightly below it) and the sum
    // is formed in extended precision: key 3 with +50 % gives 4.
    const long double k = key;
    const long double changed =
        k + k * static_cast<long double>(percent) * static_cast<long double>(0.01f) + 0.5L;
    // A closed key times an infinite change is no number: it stays closed.
    if (!(changed > 0.0L))
        return 0;
    if (changed >= 255.0L)
        return 255;
    return static_cast<int>(changed);
}

int UnitSetting::KeysInUse() const {
    return std::clamp(config_.KeysNumber(), 0, kMaxKeys);
}

int UnitSetting::ApplyKeys(int unit, const std::int32_t* keys, int count) {
    events_.Emit(unit, kEventStart, kKindKeys);
    const int set = protocol_.SetKeys(unit, keys, count);
    if (set == kResultOk)
        events_.Emit(unit, kEventDone, kKindKeys);
    // The execute command goes out all the same, but an answered execute
    // does not make keys the console never took a success.
    const int r = protocol_.ExecuteKeys(unit);
    if (r == kResultOk)
        events_.Emit(unit, kEventDone, kKindKeys);
    return r != kResultOk ? r : set;
}

int UnitSetting::ApplyDuctor(int unit, int percent) {
    events_.Emit(unit, kEventStart, kKindDuctor);
    const int set = protocol_.SetDuctor(unit, PercentToWire(percent));
    if (set == kResultOk)
        events_.Emit(unit, kEventDone, kKindDuctor);
    const int r = protocol_.ExecuteDuctor(unit);
    if (r == kResultOk)
        events_.Emit(unit, kEventDone, kKindDuctor);
    return r != kResultOk ? r : set;
}

int UnitSetting::ApplyDuctorCycle(int unit, int cycle) {
    events_.Emit(unit, kEventStart, kKindDuctorCycle);
    const int r = protocol_.SetDuctorCycle(unit, cycle);
    if (r == kResultOk)
        events_.Emit(unit, kEventDone, kKindDuctorCycle);
    return r;
}

int UnitSetting::SetNewKeyAbsolute(int unit, const std::int32_t* values, int count) {
    PressGuard guard(lock_);
    count = values == nullptr ? 0 : std::clamp(count, 0, kMaxKeys);
    WriteLogLine(log_, "setkeys abs %d", unit);
    log_.WriteValues(values, count, 3);
    return ApplyKeys(unit, values, count);
}

// The current keys for a relative or percentage change, logged as "get".
int UnitSetting::ReadKeysForChange(int unit, std::int32_t* keys, int count) {
    const int r = GetKeys(unit, keys, count);
    log_.WriteText("get", 3);
    log_.WriteValues(keys, count, 3);
    return r;
}

int UnitSetting::SetNewKeyRelative(int unit, int delta) {
    PressGuard guard(lock_);
    WriteLogLine(log_, "setkeys rel %d - v %d", unit, delta);
    const int n = KeysInUse();
    KeyBuffer keys{};
    if (ReadKeysForChange(unit, keys.data(), n) != kResultOk)
        return kResultFailed;
    for (int i = 0; i < n; ++i)
        keys[i] = LimitKey(static_cast<std::int64_t>(keys[i]) + delta);
    log_.WriteText("Set", 3);
    log_.WriteValues(keys.data(), n, 3);
    return ApplyKeys(unit, keys.data(), n);
}

int UnitSetting::SetNewKeyPercentage(int unit, const float* percentages) {
    PressGuard guard(lock_);
    WriteLogLine(log_, "setpercentagekeys abs %d", unit);
    const int n = KeysInUse();
    KeyBuffer keys{};
    if (ReadKeysForChange(unit, keys.data(), n) != kResultOk)
        return kResultFailed;
    for (int i = 0; i < n; ++i)
        keys[i] = PercentageKey(keys[i], percentages == nullptr ? 0.0f : percentages[i]);
    log_.WriteText("Set", 3);
    log_.WriteValues(keys.data(), n, 3);
    return ApplyKeys(unit, keys.data(), n);
}

int UnitSetting::SetNewDuctorAbsolute(int unit, int percent) {
    PressGuard guard(lock_);
    WriteLogLine(log_, "setDuctor abs %d - v %d", unit, percent);
    return ApplyDuctor(unit, percent);
}

int UnitSetting::SetNewDuctorRelative(int unit, int delta) {
    PressGuard guard(lock_);
    WriteLogLine(log_, "setDuctor rel %d - v %d", unit, delta);
    int value = 0;
    if (protocol_.GetDuctor(unit, value) != kResultOk) {
        WriteLogLine(log_, "getDuctor %d", 0);
        return kResultFailed;
    }
    const int current = WireToPercent(value);
    WriteLogLine(log_, "getDuctor %d", current);
    const int changed =
        static_cast<int>(std::clamp<std::int64_t>(static_cast<std::int64_t>(current) + delta, 0, 100));
    WriteLogLine(log_, "getDuctor %d", changed);
    return ApplyDuctor(unit, changed);
}

int UnitSetting::SetNewDuctorCycleAbsolute(int unit, int cycle) {
    PressGuard guard(lock_);
    WriteLogLine(log_, "setDuctorCycle abs %d - v %d", unit, cycle);
    if (config_.DuctorCycle() == 0)
        return kResultFailed;
    return ApplyDuctorCycle(unit, cycle);
}

int UnitSetting::SetNewDuctorCycleRelative(int unit, int delta) {
    PressGuard guard(lock_);
    WriteLogLine(log_, "setDuctorCycle rel %d - v %d", unit, delta);
    if (config_.DuctorCycle() == 0)
        return kResultFailed;
    int value = 0;
    const int r = protocol_.GetDuctorCycle(unit, value);
    WriteLogLine(log_, "getDuctorC %d", r == kResultOk ? value : 0);
    if (r != kResultOk)
        return kResultFailed;
    // No limit: the console judges cycle numbers outside its list.
    const int changed =
        static_cast<int>(static_cast<std::uint32_t>(value) + static_cast<std::uint32_t>(delta));
    WriteLogLine(log_, "newDuctorC %d", changed);
    return ApplyDuctorCycle(unit, changed);
}

int UnitSetting::GetKeys(int unit, std::int32_t* values, int count) {
    PressGuard guard(lock_);
    count = std::clamp(count, 0, kMaxKeys);
    WriteLogLine(log_, "getkeys %d", unit);
    events_.Emit(unit, kEventStart, kKindKeys);
    const int r = protocol_.GetKeys(unit, values, count);
    events_.Emit(unit, kEventRead, kKindKeys);
    return r;
}

int UnitSetting::GetDuctor(int unit, int& percent) {
    PressGuard guard(lock_);
    WriteLogLine(log_, "getductor %d", unit);
    events_.Emit(unit, kEventStart, kKindDuctor);
    int value = 0;
    const int r = protocol_.GetDuctor(unit, value);
    if (r == kResultOk) {
        events_.Emit(unit, kEventRead, kKindDuctor);
        percent = WireToPercent(value);
    }
    return r;
}

int UnitSetting::GetDuctorCycle(int unit, int& cycle) {
    PressGuard guard(lock_);
    WriteLogLine(log_, "getductorcycle %d", unit);
    if (config_.DuctorCycle() == 0)
        return kResultFailed;
    events_.Emit(unit, kEventStart, kKindDuctorCycle);
    int value = 0;
    const int r = protocol_.GetDuctorCycle(unit, value);
    if (r == kResultOk) {
        events_.Emit(unit, kEventRead, kKindDuctorCycle);
        cycle = value;
    }
    return r;
}

// Keys, ductor and (with a cycle scale) ductor cycle through the reading
// operations, with their own log lines and events.
int UnitSetting::ReadUnit(int unit, UnitValues& values) {
    values.count = KeysInUse();
    int r = GetKeys(unit, values.keys.data(), values.count);
    if (r != kResultOk)
        return r;
    r = GetDuctor(unit, values.percent);
    if (r != kResultOk)
        return r;
    if (config_.DuctorCycle() > 0)
        r = GetDuctorCycle(unit, values.cycle);
    return r;
}

// The transactions directly, without start events.
int UnitSetting::WriteUnit(int unit, const UnitValues& values) {
    int r = protocol_.SetKeys(unit, values.keys.data(), values.count);
    if (r != kResultOk)
        return r;
    r = protocol_.SetDuctor(unit, PercentToWire(values.percent));
    if (r != kResultOk)
        return r;
    if (config_.DuctorCycle() > 0)
        r = protocol_.SetDuctorCycle(unit, values.cycle);
    return r;
}

void UnitSetting::MoveToWorking(int unit) {
    events_.Emit(unit, kEventStart, kKindUnit);
    if (protocol_.WorkingPosition(unit) == kResultOk)
        events_.Emit(unit, kEventDone, kKindUnit);
}

// A unit's own values, as read before a swap, written back to it.
void UnitSetting::PutBack(int unit, const UnitValues& values) {
    if (WriteUnit(unit, values) == kResultOk)
        MoveToWorking(unit);
}

int UnitSetting::CopyUnit(int destination, int source) {
    PressGuard guard(lock_);
    WriteLogLine(log_, "copyunit d=%d s=%d", destination, source);
    UnitValues values;
    int r = ReadUnit(source, values);
    if (r != kResultOk)
        return r;
    r = WriteUnit(destination, values);
    if (r != kResultOk)
        return r;
    MoveToWorking(destination);
    return kResultOk;
}

int UnitSetting::SwapUnits(int unitA, int unitB) {
    PressGuard guard(lock_);
    WriteLogLine(log_, "swapunit u1=%d u2=%d", unitA, unitB);
    UnitValues a;
    UnitValues b;
    int r = ReadUnit(unitA, a);
    if (r != kResultOk)
        return r;
    r = ReadUnit(unitB, b);
    if (r != kResultOk)
        return r;
    // A write that fails part-way would leave a unit with the other's keys
    // and its own ductor, or a's values nowhere on the press: the units
    // written so far get their own values back before the failure is returned.
    r = WriteUnit(unitA, b);
    if (r != kResultOk) {
        PutBack(unitA, a);
        return r;
    }
    MoveToWorking(unitA);
    r = WriteUnit(unitB, a);
    if (r != kResultOk) {
        PutBack(unitB, b);
        PutBack(unitA, a);
        return r;
    }
    MoveToWorking(unitB);
    // Rows exist only for units in use that the table can hold.
    const int units = std::clamp(config_.UnitNumber(), 0, kMaxUnits);
    if (unitA < 1 || unitA > units || unitB < 1 || unitB > units)
        return kResultFailed;
    table_.Swap(unitA - 1, unitB - 1);
    return kResultOk;
}

int UnitSetting::ReadBack() {
    PressGuard guard(lock_);
    log_.WriteText("readData", 3);
    // Units beyond what the table holds have no row to read into.
    const int units = std::clamp(config_.UnitNumber(), 0, kMaxUnits);
    for (int unit = 1; unit <= units; ++unit) {
        const int row = unit - 1;
        const int n = KeysInUse();
        table_.Update(row, [n](UnitRecord& record) {
            record.zoneCount = n;
            record.present = true;
        });

        events_.Emit(unit, kEventStart, kKindKeys);
        KeyBuffer keys{};
        if (GetKeys(unit, keys.data(), n) == kResultOk) {
            table_.Update(
                row, [&keys, n](UnitRecord& record) { std::copy_n(keys.begin(), n, record.keys.begin()); });
            events_.Emit(unit, kEventRead, kKindKeys);
        }

        events_.Emit(unit, kEventStart, kKindDuctor);
        int percent = 0;
        if (GetDuctor(unit, percent) == kResultOk) {
            table_.Update(row, [percent](UnitRecord& record) { record.ductor = percent; });
            events_.Emit(unit, kEventRead, kKindDuctor);
        }

        if (config_.DuctorCycle() > 0) {
            events_.Emit(unit, kEventStart, kKindDuctorCycle);
            int cycle = 0;
            if (GetDuctorCycle(unit, cycle) == kResultOk) {
                table_.Update(row, [cycle](UnitRecord& record) { record.ductorCycle = cycle; });
                events_.Emit(unit, kEventRead, kKindDuctorCycle);
            }
        }
    }
    return kResultOk;
}

} // namespace tsr
