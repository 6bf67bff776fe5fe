#pragma once

#include <string>

// Script texts that call functions of the page's object App. Integers are
// written in decimal; text arguments are inserted as they stand.
namespace page_calls {

std::string LoadSettings(const std::string& settingsJson);
std::string LoadLanguages(const std::string& languagesJson);
std::string LoadUnits(const std::string& unitCount);
std::string ReloadDuctorCycles();
std::string LoadMemory(int position, const std::string& entryJson);
std::string EmptyMemory(int position);
std::string SavingMemory(int position);
std::string MakeDirtyValues();
std::string SetSettingsFolder(const std::string& target, const std::string& folder);
std::string ShowPendingErrors();
std::string ShowSerialError();
std::string SetUnitProgress(int unit, int code);
std::string ResetKey(int unit);
std::string OkDuctorValue(int unit);
std::string OkDuctorCycle(int unit);
std::string StartUnits();
std::string StartUnits(const std::string& units);
std::string ShowCountdown(int seconds);
std::string StopCopyUnit();
std::string SetDuctorValue(int unit, int value);
std::string SetDuctorCycleValue(int unit, int value);

// Additions the page may define: a value that could not be read from the
// press (kind as in the library's events: 1 keys, 2 ductor, 3 cycle), and the
// result of a unit's key write once the console has answered its commit.
std::string ShowReadFailed(int unit, int kind);
std::string UnitKeysResult(int unit, int result);

// The pending message made of a library event.
std::string UnitEventMessage(int unit, int code, int kind);

} // namespace page_calls
