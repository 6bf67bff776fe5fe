#pragma once
#include <cstdint>

#include "session/press_lock.h"

namespace tsr {

class ActivityLog;
class Configuration;
class EventSink;
class PressProtocol;
class UnitTable;

// Reading and setting the keys, ductor and ductor cycle of the units, copy,
// swap and read-back into the unit table. Every operation writes its log line
// first and holds the press lock for its whole run (nested ones take it again).
// Key counts are limited to 0..500 wherever they come in.
class UnitSetting {
public:
    UnitSetting(PressProtocol& protocol, Configuration& config, ActivityLog& log, const EventSink& events,
                UnitTable& table, PressLock& lock);
    UnitSetting(const UnitSetting&) = delete;
    UnitSetting& operator=(const UnitSetting&) = delete;

    // Ductor scales: percent 0..100 at the exports, 0..255 on the wire.
    static int PercentToWire(int percent); // limits percent to 0..100 first
    static int WireToPercent(int value);
    // key + key * percent * 0.01f + 0.5 in extended precision, truncated, 0..255.
    static int PercentageKey(int key, float percent);

    int SetNewKeyAbsolute(int unit, const std::int32_t* values, int count);
    int SetNewKeyRelative(int unit, int delta);
    // percentages holds "KeysNumber" values (at most 500 are read).
    int SetNewKeyPercentage(int unit, const float* percentages);
    int SetNewDuctorAbsolute(int unit, int percent);
    int SetNewDuctorRelative(int unit, int delta);
    int SetNewDuctorCycleAbsolute(int unit, int cycle);
    int SetNewDuctorCycleRelative(int unit, int delta);
    int GetKeys(int unit, std::int32_t* values, int count);
    int GetDuctor(int unit, int& percent);
    int GetDuctorCycle(int unit, int& cycle);
    int CopyUnit(int destination, int source);
    int SwapUnits(int unitA, int unitB);
    // Always 0.
    int ReadBack();

private:
    struct UnitValues;
    int KeysInUse() const;
    int ApplyKeys(int unit, const std::int32_t* keys, int count);
    int ApplyDuctor(int unit, int percent);
    int ApplyDuctorCycle(int unit, int cycle);
    int ReadKeysForChange(int unit, std::int32_t* keys, int count);
    int ReadUnit(int unit, UnitValues& values);
    int WriteUnit(int unit, const UnitValues& values);
    void MoveToWorking(int unit);
    void PutBack(int unit, const UnitValues& values);

    PressProtocol& protocol_;
    Configuration& config_;
    ActivityLog& log_;
    const EventSink& events_;
    UnitTable& table_;
    PressLock& lock_;
};

} // namespace tsr
