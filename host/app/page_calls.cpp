#include "page_calls.h"

#include <cstdio>

namespace page_calls {
namespace {

// The texts carry only %d placeholders here; %s arguments are concatenated.
template <typename... Ints> std::string Format(const char* format, Ints... values) {
    char buffer[160];
    const int n = std::snprintf(buffer, sizeof buffer, format, static_cast<int>(values)...);
    return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

} // namespace

std::string LoadSettings(const std::string& settingsJson) {
    return "App.loadSettings('" + settingsJson + "')";
}
std::string LoadLanguages(const std::string& languagesJson) {
    return "App.loadLanguages('" + languagesJson + "')";
}
std::string LoadUnits(const std::string& unitCount) {
    return "App.loadUnits(" + unitCount + ")";
}
std::string ReloadDuctorCycles() {
    return "App.reloadDuctorCycles()";
}
std::string LoadMemory(int position, const std::string& entryJson) {
    return Format("App.loadMemory(%d, ", position) + entryJson + ")";
}
std::string EmptyMemory(int position) {
    return Format("App.emptyMemory(%d)", position);
}
std::string SavingMemory(int position) {
    return Format("App.savingMemory(%d)", position);
}
std::string MakeDirtyValues() {
    return "App.makeDirtyValues()";
}
std::string SetSettingsFolder(const std::string& target, const std::string& folder) {
    return "App.setSettingsFolder(\"" + target + "\", \"" + folder + "\")";
}
std::string ShowPendingErrors() {
    return "App.showPendingErrors()";
}
std::string ShowSerialError() {
    return "App.showSerialError()";
}
std::string SetUnitProgress(int unit, int code) {
    return Format("App.setUnitProgress(%d, %d)", unit, code);
}
std::string ResetKey(int unit) {
    return Format("App.resetKey(%d)", unit);
}
std::string OkDuctorValue(int unit) {
    return Format("App.okDuctorValue(%d)", unit);
}
std::string OkDuctorCycle(int unit) {
    return Format("App.okDuctorCycle(%d)", unit);
}
std::string StartUnits() {
    return "App.startUnits()";
}
std::string StartUnits(const std::string& units) {
    return "App.startUnits(\"" + units + "\")";
}
std::string ShowCountdown(int seconds) {
    return Format("App.showCountdown(%d)", seconds);
}
std::string StopCopyUnit() {
    return "App.stopCopyUnit()";
}
std::string SetDuctorValue(int unit, int value) {
    return Format("App.setDuctorValue(%d, %d)", unit, value);
}
std::string SetDuctorCycleValue(int unit, int value) {
    return Format("App.setDuctorCycleValue(%d, %d)", unit, value);
}
std::string ShowReadFailed(int unit, int kind) {
    return Format("App.showReadFailed(%d, %d)", unit, kind);
}
std::string UnitKeysResult(int unit, int result) {
    return Format("App.unitKeysResult(%d, %d)", unit, result);
}

std::string UnitEventMessage(int unit, int code, int kind) {
    return Format("Unit <b>%d</b>: <b>%d</b> / type: %d", unit, code, kind);
}

} // namespace page_calls
