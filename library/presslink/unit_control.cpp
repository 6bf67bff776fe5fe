#include "presslink/unit_control.h"

#include <algorithm>
#include <array>

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
constexpr int kInkingCalls = 3;

} // namespace

UnitControl::UnitControl(PressProtocol& protocol, Configuration& config, ActivityLog& log,
                         const EventSink& events, PressLock& lock)
    : protocol_(protocol), config_(config), log_(log), events_(events), lock_(lock) {}

int UnitControl::InkingUpDuctorByte(int percent) {
    // The factor is the single-precision 2.56, slightly below it, and the
    // product is taken in double: 50 % gives 127, 100 % gives 255.
    const double product = static_cast<double>(std::clamp(percent, 0, 100)) * static_cast<double>(2.56f);
    return static_cast<int>(product);
}

int UnitControl::Position(int unit, const char* logFormat, bool working) {
    PressGuard guard(lock_);
    WriteLogLine(log_, logFormat, unit);
    if (unit < 1)
        return kResultOk;
    events_.Emit(unit, kEventStart, kKindUnit);
    const int r = working ? protocol_.WorkingPosition(unit) : protocol_.ZeroPosition(unit);
    if (r == kResultOk)
        events_.Emit(unit, kEventDone, kKindUnit);
    WriteLogLine(log_, "u%d=%d", unit, r);
    return r;
}

int UnitControl::WorkingPosition(int unit) {
    return Position(unit, "WorkingPos u%d", true);
}

int UnitControl::ZeroPosition(int unit) {
    return Position(unit, "ZeroPos u%d", false);
}

int UnitControl::Reset(int unit) {
    PressGuard guard(lock_);
    WriteLogLine(log_, "Reset u%d", unit);
    if (unit < 1)
        return kResultOk;
    events_.Emit(unit, kEventStart, kKindUnit);
    const int r = protocol_.Reset(unit);
    if (r == kResultOk)
        events_.Emit(unit, kEventDone, kKindUnit);
    return r;
}

// One setting step of inking-up: up to three calls until one succeeds.
template <typename Step> void UnitControl::InkingStep(int unit, int kind, Step step) {
    events_.Emit(unit, kEventStart, kind);
    for (int call = 0; call < kInkingCalls; ++call) {
        if (step() == kResultOk) {
            events_.Emit(unit, kEventDone, kind);
            return;
        }
    }
}

int UnitControl::InkingUp(int unit) {
    PressGuard guard(lock_);
    WriteLogLine(log_, "Inkingup u%d", unit);
    const int n = std::clamp(config_.KeysNumber(), 0, kMaxKeys);
    std::array<std::int32_t, kMaxKeys> keys{};
    std::fill_n(keys.begin(), n, config_.InkingUpKeys());
    const int ductor = InkingUpDuctorByte(config_.InkingUpDuctor());
    WriteLogLine(log_, "u%d", unit);
    if (unit < 1)
        return kResultOk;

    InkingStep(unit, kKindKeys, [&] { return protocol_.SetKeys(unit, keys.data(), n); });
    InkingStep(unit, kKindDuctor, [&] { return protocol_.SetDuctor(unit, ductor); });
    if (config_.DuctorCycle() > 0) {
        const int cycle = config_.InkingUpDuctorCycle();
        InkingStep(unit, kKindDuctorCycle, [&] { return protocol_.SetDuctorCycle(unit, cycle); });
    }
    events_.Emit(unit, kEventStart, kKindUnit);
    if (protocol_.WorkingPosition(unit) == kResultOk)
        events_.Emit(unit, kEventDone, kKindUnit);
    return kResultOk;
}

int UnitControl::GetInfo(int unit, int& first, int& second, int& third, std::uint8_t* flags) {
    PressGuard guard(lock_);
    WriteLogLine(log_, "Info u%d", unit);
    events_.Emit(unit, kEventStart, kKindUnit);
    std::uint8_t data[PressProtocol::kInfoBytes];
    const int r = protocol_.GetInfo(unit, data);
    if (r != kResultOk)
        return r;
    first = data[0];
    second = data[1];
    third = data[2];
    if (flags != nullptr) {
        // Bit k mod 8 of data byte 9 - k div 8, for the flags the caller marked.
        for (int k = 0; k < kInfoFlags; ++k) {
            if (flags[k] != 0)
                flags[k] = (data[9 - k / 8] >> (k % 8)) & 1;
        }
    }
    events_.Emit(unit, kEventRead, kKindUnit);
    return r;
}

int UnitControl::SetModeCalibration(int unit) {
    PressGuard guard(lock_);
    WriteLogLine(log_, "CalMode u%d", unit);
    return protocol_.SwitchMode(unit, false);
}

int UnitControl::SetModeNormal(int unit) {
    PressGuard guard(lock_);
    WriteLogLine(log_, "NormMode u%d", unit);
    return protocol_.SwitchMode(unit, true);
}

int UnitControl::SetModeRemote(int unit, int on) {
    PressGuard guard(lock_);
    WriteLogLine(log_, "RemoteMode u%d: %d", unit, on & 0xFF);
    return protocol_.Unsupported(unit);
}

int UnitControl::GetMachineType(int unit, int& type) {
    PressGuard guard(lock_);
    WriteLogLine(log_, "MType u%d", unit);
    return protocol_.GetMachineType(unit, type);
}

int UnitControl::GetMachineSpeed(int unit, int& speed) {
    PressGuard guard(lock_);
    WriteLogLine(log_, "MSpeed u%d", unit);
    return protocol_.GetMachineSpeed(unit, speed);
}

int UnitControl::ResetCassette(int unit) {
    PressGuard guard(lock_);
    WriteLogLine(log_, "ResetCast u%d", unit);
    return protocol_.ResetCassette(unit);
}

int UnitControl::SetDuctorCalibration(int unit, int on) {
    PressGuard guard(lock_);
    WriteLogLine(log_, "DucCalib u%d: %d", unit, on & 0xFF);
    return protocol_.DuctorCalibration(unit, (on & 0xFF) != 0);
}

const char* UnitControl::GetDuctorCycleList() {
    const char* list = "";
    switch (config_.DuctorCycle()) {
    case 2:
        list = "2,4,8,16,32,64";
        break;
    case 3:
        list = "3,6,9,18,36,72";
        break;
    default:
        break;
    }
    log_.WriteText(list, 3);
    return list;
}

} // namespace tsr
