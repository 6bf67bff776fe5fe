// TApp: press operations on worker tasks and the library start.
#include "app/app.h"

#include <algorithm>
#include <optional>
#include <chrono>
#include <iostream>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/library_text.h"
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
        if (!app.UnitKeyRow(u).empty()) {
            add(entry);
        } else if (!app.FKeysIsRelativeOn) {
            const int32_t offset = app.Fkeys[u];
            if (app.StateValue("keys", u) != offset && offset != 0)
                add(entry);
        } else if (app.FkeysPercentage[u] != 0) {
            add(entry);
        }
    }
    return changed;
}

// Keys per unit as the library counts them now, within what it holds.
int32_t LibraryKeyCount(int32_t hostKeys) {
    return std::clamp<int32_t>(std::max<int32_t>(hostKeys, TSR_INI_GetKeysNumber()), 0, TSR_MAX_KEYS);
}

// A key row as the page writes it: integers 0 to 255 separated by commas,
// blanks around them allowed. Nothing for any other text.
std::optional<std::vector<int32_t>> ParseKeyRow(const std::string& text) {
    std::vector<int32_t> row;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        std::string piece = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const size_t first = piece.find_first_not_of(" \t");
        const size_t last = piece.find_last_not_of(" \t");
        piece = first == std::string::npos ? std::string() : piece.substr(first, last - first + 1);
        if (piece.empty() || piece.size() > 3 ||
            !std::all_of(piece.begin(), piece.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        const int32_t value = std::stoi(piece);
        if (value > 255)
            return std::nullopt;
        row.push_back(value);
        if (comma == std::string::npos)
            return row;
        start = comma + 1;
    }
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
        TSR_Init(window, ToLibraryText(configFile).c_str(), &TApp::UnitEventCallback, 0);
        // every start says which program wrote the lines after it
        TSR_WriteLogFile("tessaro " TSR_VERSION_TEXT);
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
                result = TSR_InkingUP(u);
                // Inking-up answers 0 whatever its transactions did; with the
                // port known closed nothing reached the console.
                if (FportClosed)
                    NoteUnitResult(u, TSR_PORT_NOT_OPEN);
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
                if (const std::vector<int32_t> row = UnitKeyRow(u); !row.empty()) {
                    const int32_t result = NoteUnitResult(
                        u, TSR_SetNewKey_Absolute(u, row.data(), static_cast<int32_t>(row.size())));
                    // A row the console did not take stays for the next apply.
                    if (result == TSR_OK) {
                        std::lock_guard lock(FrowLock);
                        if (FunitKeyRows[u] == row)
                            FunitKeyRows[u].clear();
                    }
                    ReadUnitKeys(u);
                    ExecuteJS(page_calls::UnitKeysResult(u, result));
                } else if (!FKeysIsRelativeOn) {
                    const int32_t offset = Fkeys[u];
                    if (StateValue("keys", u) != offset && offset != 0) {
                        const int32_t result = NoteUnitResult(u, TSR_SetNewKey_Relative(u, offset));
                        // The done event after the value frame cleared the offset
                        // before the commit was answered: a failed write keeps it.
                        if (result != TSR_OK && Fkeys[u] == 0)
                            Fkeys[u] = offset;
                        ExecuteJS(page_calls::UnitKeysResult(u, result));
                    }
                } else if (const int32_t percent = FkeysPercentage[u]; percent != 0) {
                    // The library reads one value per key of its current key
                    // count, which may have changed since the settings were read.
                    const int32_t keys = LibraryKeyCount(FNumberOfKeys.load());
                    const std::vector<float> percentages(static_cast<size_t>(keys), static_cast<float>(percent));
                    const int32_t result =
                        NoteUnitResult(u, TSR_SetNewKey_Percentage(u, percentages.data(), FNumberOfKeys));
                    ExecuteJS(page_calls::UnitKeysResult(u, result));
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
            // The page asks for it after a done event: the unit keeps showing that.
            SetBackgroundReads(true);
            ReadUnitDuctor(unitCode);
            SetBackgroundReads(false);
            return 0;
        },
        ReadResult);
}

void TApp::GetDuctorCycle(int32_t unitCode) {
    Fpool.Start(
        [this, unitCode] {
            SetBackgroundReads(true);
            ReadUnitCycle(unitCode, true);
            SetBackgroundReads(false);
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
            for (int32_t u = 1; u <= units; ++u) {
                ReadUnitFromPress(u);
                SetStateValue("keys", u, 0);
                if (IsUnitSlot(u))
                    Fkeys[u] = 0;
            }
            return 0;
        },
        ReadResult);
}

void TApp::CopyUnit(int32_t target, int32_t source) {
    Fpool.Start(
        [this, target, source] {
            ExecuteJS(page_calls::StopCopyUnit());
            const int32_t result = NoteUnitResult(source, NoteUnitResult(target, TSR_CopyUnit(source, target)));
            // The library copies onto the unit passed as source.
            RequestUnitRead(source);
            return result;
        },
        ReadResult);
}

void TApp::SwapUnit(int32_t target, int32_t source) {
    Fpool.Start(
        [this, target, source] {
            ExecuteJS(page_calls::StopCopyUnit());
            const int32_t result = NoteUnitResult(source, NoteUnitResult(target, TSR_SwapUnits(source, target)));
            RequestUnitRead(target);
            RequestUnitRead(source);
            return result;
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

bool TApp::setUnitKeys(int32_t unit, const std::string& keys) {
    if (unit < 1 || unit > TSR_INI_GetUnitsNumber() || !IsUnitSlot(unit))
        return false;
    std::vector<int32_t> row;
    if (!keys.empty()) {
        auto parsed = ParseKeyRow(keys);
        if (!parsed || static_cast<int32_t>(parsed->size()) > LibraryKeyCount(0))
            return false;
        row = std::move(*parsed);
    }
    std::lock_guard lock(FrowLock);
    FunitKeyRows[unit] = std::move(row);
    return true;
}

std::vector<int32_t> TApp::UnitKeyRow(int32_t unit) const {
    if (!IsUnitSlot(unit))
        return {};
    std::lock_guard lock(FrowLock);
    return FunitKeyRows[unit];
}

void TApp::ReadUnitKeys(int32_t unit) {
    const int32_t keyCount = LibraryKeyCount(FNumberOfKeys.load());
    std::vector<int32_t> keys(static_cast<size_t>(keyCount) + 1, 0);
    if (TSR_GetKeys(unit, keys.data(), keyCount) == TSR_OK) {
        ShowUnitKeys(unit, keys.data(), keyCount);
    } else {
        ExecuteJS(page_calls::ShowReadFailed(unit, TSR_KIND_KEYS));
        ShowUnitKeys(unit, nullptr, 0); // the ink is the unit table's, not the press's
    }
}

void TApp::ReadUnitDuctor(int32_t unit) {
    int32_t value = 0;
    if (TSR_GetDuctor(unit, &value) != TSR_OK) {
        // The state keeps what was last read: nothing is compared with a guess.
        ExecuteJS(page_calls::ShowReadFailed(unit, TSR_KIND_DUCTOR));
        return;
    }
    SetStateValue("ductor_value", unit, value);
    if (IsUnitSlot(unit))
        FductorValues[unit] = value;
    ExecuteJS(page_calls::SetDuctorValue(unit, value));
}

void TApp::ReadUnitCycle(int32_t unit, bool tellPage) {
    int32_t value = 0;
    if (TSR_GetDuctorCycle(unit, &value) != TSR_OK) {
        if (tellPage)
            ExecuteJS(page_calls::ShowReadFailed(unit, TSR_KIND_DUCTOR_CYCLE));
        return;
    }
    SetStateValue("ductor_cycle", unit, value);
    if (IsUnitSlot(unit))
        FductorCycles[unit] = value;
    if (tellPage)
        ExecuteJS(page_calls::SetDuctorCycleValue(unit, value));
}

void TApp::ReadUnitFromPress(int32_t unit) {
    ReadUnitKeys(unit);
    ReadUnitDuctor(unit);
    ReadUnitCycle(unit, FenableDuctorCycle);
}

void TApp::RequestUnitRead(int32_t unit) {
    if (unit < 1 || !IsUnitSlot(unit))
        return;
    {
        std::lock_guard lock(FreadLock);
        FreadWanted[unit] = true;
        if (FreaderRunning)
            return;
        FreaderRunning = true;
    }
    Fpool.Start(
        [this] {
            ServeUnitReads();
            return 0;
        },
        ReadResult);
}

void TApp::ServeUnitReads() {
    // A transfer raises several events per unit (keys, ductor, cycle, each
    // with its value and its execution): a short pause lets them gather so
    // that one read follows them, not one per event.
    constexpr auto kGather = std::chrono::milliseconds(200);
    for (;;) {
        std::this_thread::sleep_for(kGather);
        std::vector<int32_t> units;
        {
            std::lock_guard lock(FreadLock);
            for (int32_t u = 1; u < kUnitSlots; ++u)
                if (FreadWanted[u]) {
                    FreadWanted[u] = false;
                    units.push_back(u);
                }
            if (units.empty()) {
                FreaderRunning = false;
                return;
            }
        }
        SetBackgroundReads(true);
        for (const int32_t u : units)
            ReadUnitFromPress(u);
        SetBackgroundReads(false);
    }
}
