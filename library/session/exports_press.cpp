#include <algorithm>

#include "presslink/press_protocol.h"
#include "presslink/unit_control.h"
#include "presslink/unit_setting.h"
#include "session/library.h"
#include "session/shield.h"
#include "tessaro.h"

using tsr::Library;
using tsr::Shield;

namespace {

// What a press export answers when something inside failed unexpectedly.
constexpr int32_t kFailed = TSR_BAD_REPLY;

int32_t LimitKeyCount(int32_t count) {
    return std::clamp<int32_t>(count, 0, tsr::kMaxKeys);
}

template <class Body> int32_t Press(Body&& body) noexcept {
    return Shield<int32_t>(kFailed, body);
}

// Runs a reading operation into a local value and copies it out on success.
template <class Body> int32_t ReadInto(int32_t* out, Body&& body) noexcept {
    return Press([&]() -> int32_t {
        int value = 0;
        const int r = body(value);
        if (r == TSR_OK && out != nullptr)
            *out = value;
        return r;
    });
}

} // namespace

extern "C" {

TSR_API int32_t TSR_CALL TSR_SetNewKey_Absolute(int32_t unit, const int32_t* values, int32_t count) {
    return Press([&] {
        return Library::Instance().Setting().SetNewKeyAbsolute(unit, values,
                                                               values ? LimitKeyCount(count) : 0);
    });
}

TSR_API int32_t TSR_CALL TSR_SetNewKey_Relative(int32_t unit, int32_t delta) {
    return Press([&] { return Library::Instance().Setting().SetNewKeyRelative(unit, delta); });
}

TSR_API int32_t TSR_CALL TSR_SetNewKey_Percentage(int32_t unit, const float* percentages,
                                                  int32_t /*reserved*/) {
    return Press([&] { return Library::Instance().Setting().SetNewKeyPercentage(unit, percentages); });
}

TSR_API int32_t TSR_CALL TSR_SetNewDuctor_Absolute(int32_t unit, int32_t percent) {
    return Press([&] { return Library::Instance().Setting().SetNewDuctorAbsolute(unit, percent); });
}

TSR_API int32_t TSR_CALL TSR_SetNewDuctor_Relative(int32_t unit, int32_t delta) {
    return Press([&] { return Library::Instance().Setting().SetNewDuctorRelative(unit, delta); });
}

TSR_API int32_t TSR_CALL TSR_SetNewDuctorCycle_Absolute(int32_t unit, int32_t cycle) {
    return Press([&] { return Library::Instance().Setting().SetNewDuctorCycleAbsolute(unit, cycle); });
}

TSR_API int32_t TSR_CALL TSR_SetNewDuctorCycle_Relative(int32_t unit, int32_t delta) {
    return Press([&] { return Library::Instance().Setting().SetNewDuctorCycleRelative(unit, delta); });
}

TSR_API int32_t TSR_CALL TSR_GetKeys(int32_t unit, int32_t* values, int32_t count) {
    return Press([&] {
        return Library::Instance().Setting().GetKeys(unit, values, values ? LimitKeyCount(count) : 0);
    });
}

TSR_API int32_t TSR_CALL TSR_GetDuctor(int32_t unit, int32_t* percent) {
    return ReadInto(percent, [&](int& v) { return Library::Instance().Setting().GetDuctor(unit, v); });
}

TSR_API int32_t TSR_CALL TSR_GetDuctorCycle(int32_t unit, int32_t* cycle) {
    return ReadInto(cycle, [&](int& v) { return Library::Instance().Setting().GetDuctorCycle(unit, v); });
}

TSR_API int32_t TSR_CALL TSR_CopyUnit(int32_t destination, int32_t source) {
    return Press([&] { return Library::Instance().Setting().CopyUnit(destination, source); });
}

TSR_API int32_t TSR_CALL TSR_SwapUnits(int32_t unitA, int32_t unitB) {
    return Press([&] { return Library::Instance().Setting().SwapUnits(unitA, unitB); });
}

TSR_API uint8_t TSR_CALL TSR_ReadBack(void) {
    Press([] { return Library::Instance().Setting().ReadBack(); });
    return 0;
}

TSR_API int32_t TSR_CALL TSR_WorkingPosition(int32_t unit) {
    return Press([&] { return Library::Instance().Control().WorkingPosition(unit); });
}

TSR_API int32_t TSR_CALL TSR_ZeroPosition(int32_t unit) {
    return Press([&] { return Library::Instance().Control().ZeroPosition(unit); });
}

TSR_API int32_t TSR_CALL TSR_InkingUP(int32_t unit) {
    Press([&] { return Library::Instance().Control().InkingUp(unit); });
    return 0;
}

TSR_API int32_t TSR_CALL TSR_Reset(int32_t unit) {
    return Press([&] { return Library::Instance().Control().Reset(unit); });
}

TSR_API int32_t TSR_CALL TSR_GetInfo(int32_t unit, int32_t* first, int32_t* second, int32_t* third,
                                     uint8_t* flags56) {
    return Press([&]() -> int32_t {
        int a = 0, b = 0, c = 0;
        const int r = Library::Instance().Control().GetInfo(unit, a, b, c, flags56);
        if (r == TSR_OK) {
            if (first)
                *first = a;
            if (second)
                *second = b;
            if (third)
                *third = c;
        }
        return r;
    });
}

TSR_API int32_t TSR_CALL TSR_SetModeCalibration(int32_t unit) {
    return Press([&] { return Library::Instance().Control().SetModeCalibration(unit); });
}

TSR_API int32_t TSR_CALL TSR_SetModeNormal(int32_t unit) {
    return Press([&] { return Library::Instance().Control().SetModeNormal(unit); });
}

TSR_API int32_t TSR_CALL TSR_SetModeRemote(int32_t unit, int32_t on) {
    Press([&] { return Library::Instance().Control().SetModeRemote(unit, on); });
    return 1;
}

TSR_API int32_t TSR_CALL TSR_GetMachineType(int32_t unit, int32_t* type) {
    return ReadInto(type, [&](int& v) { return Library::Instance().Control().GetMachineType(unit, v); });
}

TSR_API int32_t TSR_CALL TSR_GetMachineSpeed(int32_t unit, int32_t* speed) {
    return ReadInto(speed, [&](int& v) { return Library::Instance().Control().GetMachineSpeed(unit, v); });
}

TSR_API int32_t TSR_CALL TSR_ResetCassette(int32_t unit) {
    return Press([&] { return Library::Instance().Control().ResetCassette(unit); });
}

TSR_API int32_t TSR_CALL TSR_SetDuctorCalibration(int32_t unit, int32_t on) {
    return Press([&] { return Library::Instance().Control().SetDuctorCalibration(unit, on); });
}

TSR_API const char* TSR_CALL TSR_GetDuctorCycleList(int32_t /*reserved*/) {
    return Shield<const char*>("", [] { return Library::Instance().Control().GetDuctorCycleList(); });
}

} // extern "C"
