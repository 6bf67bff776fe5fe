// TApp: press operations on worker tasks and the library start.
#include "app/app.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/page_calls.h"
#include "app/storage_path.h"

namespace {

// The console needs a moment between the units of one command.
constexpr auto kUnitPause = std::chrono::milliseconds(400);

void PauseAfterUnit() {
    std::this_thread::sleep_for(kUnitPause);
}

// The completion of every task here: reading the result raises the body's error.
void ReadResult(const TaskResult& result) {
    result.Get();
}

std::vector<std::string> ChangedUnits(TApp& app, const TUnitList& units) {
    std::vector<std::string> changed;
    auto add = [&changed](const std::string& entry) {
        for (const auto& known : changed)
            if (known == entry)
                return;
        changed.push_back(entry);
    };
    for (const std::string& entry : units) {
        const int32_t u = UnitNumber(entry);
        // The per-unit arrays hold units 0 to 30; no other unit has values to send.
        if (!TApp::IsUnitSlot(u))
            continue;
        if (app.StateValue("ductor_value", u) != app.FductorValues[u])
            add(entry);
        if (app.StateValue("ductor_cycle", u) != app.FductorCycles[u])
            add(entry);
        if (!app.FKeysIsRelativeOn) {
            const int32_t offset = app.Fkeys[u];
            if (app.StateValue("keys", u) != offset && offset != 0)
                add(entry);
        } else if (app.FkeysPercentage[u] != 0) {
            add(entry);
        }
    }
    return changed;
}

} // namespace

int32_t TApp::NoteUnitResult(int32_t unit, int32_t result) {
    if (result == TSR_OK)
        return result;
    // Its start event was the last the page heard of the unit: it is shown as given up.
    if (unit != 0) // unit 0 stands for the whole press: the page has no unit to show
        ExecuteJS(page_calls::SetUnitProgress(unit, TSR_EVENT_RETRY3));
    // "Port not open" also answers a read that failed on an open line; only the
    // library's port-closed event says that the line is gone.
    if (result == TSR_PORT_NOT_OPEN && FportClosed) {
        FisSerialOpen = false;
        ExecuteJS(page_calls::ShowSerialError());
    }
    return result;
}

std::string TApp::GetStoragePath(const std::string& fileName) {
    const StoragePath storage = BuildStoragePath(paths, fileName);
    if (storage.fallback) {
        std::cerr << "tessaro: " << kStorageFallbackMessage << "\n";
        if (Browser* browser = internalBrowser.load(); browser != nullptr && ui.IsUiThread())
            browser->ShowModalMessage(kStorageFallbackMessage);
    }
    return storage.path;
}

void TApp::BindCallbacks() {
    const std::string configFile = GetStoragePath("Tessaro.ini");
    // The configuration names the press's port and the exchange folders: the user's alone.
    CreatePrivateFile(configFile);
    // The library wants a window handle other than 0 to run its exchange
    // watcher; the process id stands in for the window the host does not have.
    const int32_t window = static_cast<int32_t>(::getpid());
    FportClosed = false; // the start says again whether the port opens
    Fpool.RunAndWait([configFile, window] {
        TSR_Init(window, configFile.c_str(), &TApp::UnitEventCallback, 0);
        return 0;
    });
}

void TApp::RunAsyncCommand(TCommands command) {
    TUnitList units = BuildUnitList(GetselectedUnits());
    switch (command) {
    case tcWorkingPosition:
        Fpool.Start(
            [this, units = std::move(units)] {
                ExecuteJS(page_calls::StartUnits());
                int32_t result = 0;
                for (const std::string& entry : units) {
                    TSR_WriteLogFile(("log for " + entry).c_str());
                    const int32_t u = UnitNumber(entry);
                    result = NoteUnitResult(u, TSR_WorkingPosition(u));
                    PauseAfterUnit();
                }
                return result;
            },
            ReadResult);
        break;
    case tcZeroPosition:
        Fpool.Start(
            [this, units = std::move(units)] {
                ExecuteJS(page_calls::StartUnits());
                int32_t result = 0;
                for (const std::string& entry : units) {
                    const int32_t u = UnitNumber(entry);
                    result = NoteUnitResult(u, TSR_ZeroPosition(u));
                    PauseAfterUnit();
                }
                return result;
            },
            ReadResult);
        break;
    case tcInkingUp:
        InkUp(std::move(units));
        break;
    case tcApplySettings:
        ApplySettings(std::move(units));
        break;
    }
}

void TApp::InkUp(TUnitList units) {
    Fpool.Start(
        [this, units = std::move(units)] {
            ExecuteJS(page_calls::StartUnits());
            ExecuteJS(page_calls::ShowCountdown(TSR_INI_Inkingup_GetTimmer()));
            int32_t result = 0;
            for (const std::string& entry : units) {
                const int32_t u = UnitNumber(entry);
                result = NoteUnitResult(u, TSR_InkingUP(u));
                PauseAfterUnit();
            }
            return result;
        },
        ReadResult);
}

void TApp::ApplySettings(TUnitList units) {
    // The task owns the list; it goes with the task once the handler has run.
    auto owned = std::make_shared<TUnitList>(std::move(units));
    Fpool.Start(
        [this, owned] {
            const TUnitList& list = *owned;
            const std::vector<std::string> changed = ChangedUnits(*this, list);
            if (!changed.empty()) {
                std::string joined;
                for (const std::string& entry : changed)
                    joined += (joined.empty() ? "" : ",") + entry;
                ExecuteJS(page_calls::StartUnits(joined));
            }
            for (const std::string& entry : list) {
                const int32_t u = UnitNumber(entry);
                if (!IsUnitSlot(u))
                    continue;
                const int32_t ductor = FductorValues[u];
                if (StateValue("ductor_value", u) != ductor)
                    NoteUnitResult(u, TSR_SetNewDuctor_Absolute(u, ductor));
                const int32_t cycle = FductorCycles[u];
                if (FenableDuctorCycle && StateValue("ductor_cycle", u) != cycle)
                    NoteUnitResult(u, TSR_SetNewDuctorCycle_Absolute(u, cycle));
                if (!FKeysIsRelativeOn) {
                    const int32_t offset = Fkeys[u];
                    if (StateValue("keys", u) != offset && offset != 0)
                        NoteUnitResult(u, TSR_SetNewKey_Relative(u, offset));
                } else if (const int32_t percent = FkeysPercentage[u]; percent != 0) {
                    // The library reads one value per key of its current key
                    // count, which may have changed since the settings were read.
                    const int32_t keys = std::clamp<int32_t>(
                        std::max<int32_t>(FNumberOfKeys.load(), TSR_INI_GetKeysNumber()), 0, TSR_MAX_KEYS);
                    const std::vector<float> percentages(static_cast<size_t>(keys), static_cast<float>(percent));
                    NoteUnitResult(u, TSR_SetNewKey_Percentage(u, percentages.data(), FNumberOfKeys));
                }
            }
            return 0;
        },
        [owned](const TaskResult& result) {
            result.Get();
            owned->clear();
        });
}

void TApp::GetDuctor(int32_t unitCode) {
    Fpool.Start(
        [this, unitCode] {
            int32_t value = 0;
            TSR_GetDuctor(unitCode, &value);
            SetStateValue("ductor_value", unitCode, value);
            if (IsUnitSlot(unitCode))
                FductorValues[unitCode] = value;
            ExecuteJS(page_calls::SetDuctorValue(unitCode, value));
            return 0;
        },
        ReadResult);
}

void TApp::GetDuctorCycle(int32_t unitCode) {
    Fpool.Start(
        [this, unitCode] {
            int32_t value = 0;
            TSR_GetDuctorCycle(unitCode, &value);
            SetStateValue("ductor_cycle", unitCode, value);
            if (IsUnitSlot(unitCode))
                FductorCycles[unitCode] = value;
            ExecuteJS(page_calls::SetDuctorCycleValue(unitCode, value));
            return 0;
        },
        ReadResult);
}

void TApp::LoadInitialState() {
    const std::string configured = GetConfig("UnitNumber");
    int32_t units = 0;
    try {
        units = UnitNumber(configured);
    } catch (const std::invalid_argument&) {
        units = 0;
    }
    Fpool.Start(
        [this, units] {
            const int32_t keyCount = std::max<int32_t>(FNumberOfKeys.load(), 0);
            std::vector<int32_t> keys(static_cast<size_t>(keyCount) + 1, 0);
            for (int32_t u = 1; u <= units; ++u) {
                std::fill(keys.begin(), keys.end(), 0);
                const int32_t read = TSR_GetKeys(u, keys.data(), keyCount);
                int32_t ductor = 0;
                TSR_GetDuctor(u, &ductor);
                SetStateValue("ductor_value", u, ductor);
                if (IsUnitSlot(u))
                    FductorValues[u] = ductor;
                ExecuteJS(page_calls::SetDuctorValue(u, ductor));
                int32_t cycle = 0;
                TSR_GetDuctorCycle(u, &cycle);
                SetStateValue("ductor_cycle", u, cycle);
                if (IsUnitSlot(u))
                    FductorCycles[u] = cycle;
                if (FenableDuctorCycle)
                    ExecuteJS(page_calls::SetDuctorCycleValue(u, cycle));
                SetStateValue("keys", u, 0);
                if (IsUnitSlot(u))
                    Fkeys[u] = 0;
                if (read == TSR_OK)
                    ShowUnitKeys(u, keys.data(), keyCount);
            }
            return 0;
        },
        ReadResult);
}

void TApp::CopyUnit(int32_t target, int32_t source) {
    Fpool.Start(
        [this, target, source] {
            ExecuteJS(page_calls::StopCopyUnit());
            return NoteUnitResult(source, NoteUnitResult(target, TSR_CopyUnit(source, target)));
        },
        ReadResult);
}

void TApp::SwapUnit(int32_t target, int32_t source) {
    Fpool.Start(
        [this, target, source] {
            ExecuteJS(page_calls::StopCopyUnit());
            return NoteUnitResult(source, NoteUnitResult(target, TSR_SwapUnits(source, target)));
        },
        ReadResult);
}

void TApp::UglyInitialall() {
    Fpool.Start(
        [this] {
            TSR_ReadBack();
            // The read-back fills the library's unit table: the inks can be shown.
            const int32_t units = TSR_INI_GetUnitsNumber();
            for (int32_t u = 1; u <= units; ++u)
                ShowUnitKeys(u, nullptr, 0);
            return 0;
        },
        ReadResult);
}
