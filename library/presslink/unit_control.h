#pragma once
#include <cstdint>

#include "session/press_lock.h"

namespace tsr {

class ActivityLog;
class Configuration;
class EventSink;
class PressProtocol;

// Operations on a unit as a whole: positions, reset, inking-up, information,
// modes, machine type and speed, cassette, ductor calibration, and the ductor
// cycle list. Each writes its log line first and holds the press lock.
class UnitControl {
public:
    static constexpr int kInfoFlags = 56;

    UnitControl(PressProtocol& protocol, Configuration& config, ActivityLog& log, const EventSink& events,
                PressLock& lock);
    UnitControl(const UnitControl&) = delete;
    UnitControl& operator=(const UnitControl&) = delete;

    // percent * 2.56f, truncated: 50 gives 127. percent is limited to 0..100.
    static int InkingUpDuctorByte(int percent);

    int WorkingPosition(int unit); // 0 without action for unit < 1
    int ZeroPosition(int unit);
    int Reset(int unit);
    int InkingUp(int unit); // always 0
    // flags: 56 entries; nonzero entries on entry receive their status bit.
    int GetInfo(int unit, int& first, int& second, int& third, std::uint8_t* flags);
    int SetModeCalibration(int unit);
    int SetModeNormal(int unit);
    int SetModeRemote(int unit, int on); // always 1
    int GetMachineType(int unit, int& type);
    int GetMachineSpeed(int unit, int& speed);
    int ResetCassette(int unit);
    int SetDuctorCalibration(int unit, int on);
    // The list for the press's ductor cycle scale; the text lives for ever.
    const char* GetDuctorCycleList();

private:
    int Position(int unit, const char* logFormat, bool working);
    template <typename Step> void InkingStep(int unit, int kind, Step step);

    PressProtocol& protocol_;
    Configuration& config_;
    ActivityLog& log_;
    const EventSink& events_;
    PressLock& lock_;
};

} // namespace tsr
