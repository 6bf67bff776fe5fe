// TApp: start sequence, settings, languages and the memory list.
#include "app/app.h"

#include <algorithm>
#include <ctime>
#include <memory>
#include <vector>

#include "app/bug_report.h"
#include "app/folder_browser.h"
#include "app/folder_path.h"
#include "app/languages.h"
#include "app/library_text.h"
#include "app/memory_list.h"
#include "app/page_calls.h"
#include "app/settings.h"
#include "tessarox.h"

namespace {

// The configured folder behind a settings member, where the picker opens.
std::string ConfiguredFolderOf(const std::string& target) {
    const SettingsValues s = ReadLibrarySettings();
    const std::pair<const char*, const std::string*> folders[] = {
        {"preset_input", &s.preset_input},         {"loop_keys_input", &s.loop_keys_input},
        {"loop_keys_output", &s.loop_keys_output}, {"loop_scan_input", &s.loop_scan_input},
        {"loop_scan_output", &s.loop_scan_output}, {"loop_commands", &s.loop_commands},
        {"current_job_path", &s.current_job_path}, {"log_path", &s.log_path}};
    for (const auto& [name, folder] : folders)
        if (target == name)
            return *folder;
    return std::string();
}

// Text for a double-quoted script string.
std::string QuotedScriptText(const std::string& text) {
    return FolderForScript(text);
}

} // namespace

void TApp::startApp() {
    BindCallbacks();
    Initialize(internalBrowser);
}

void TApp::Initialize(Browser* browser) {
    internalBrowser = browser;
    LoadSettings();
    LoadLanguages();
    LoadUnits();
    BindUICommands();
    const char* cycles = TSR_GetDuctorCycleList(1);
    SetductorCycleValues(cycles != nullptr ? cycles : "");
    ExecuteJS(page_calls::ReloadDuctorCycles());
    LoadMemoryList();
    UglyInitialall();
    ExecuteJS(page_calls::ShowPendingErrors());
    if (!FisSerialOpen)
        ExecuteJS(page_calls::ShowSerialError());
}

void TApp::LoadUnits() {
    ExecuteJS(page_calls::LoadUnits(GetConfig("UnitNumber")));
}

void TApp::LoadSettings() {
    const SettingsValues settings = ReadLibrarySettings();
    // The settings page can store any count; the library holds no more keys than this.
    FNumberOfKeys = std::clamp<int32_t>(settings.keys, 0, TSR_MAX_KEYS);
    FenableDuctorCycle = settings.ductorcycle > 0;
    // Handing the switches back is what turns the exchange watcher's halves on or off.
    TSR_INI_SetConnectPSX(settings.preset ? 1 : 0);
    TSR_INI_SetConnectLPX(settings.loop ? 1 : 0);
    CreateLogSubfolders(settings.log_path);
    if (ui.IsUiThread())
        ui.ProcessPending();
    ExecuteJS(page_calls::LoadSettings(WriteJson(SettingsObject(settings), JsonEscaping::Full)));
}

void TApp::saveSettings(const std::string& jsonString) {
    const auto settings = ReadSettingsText(jsonString);
    if (!settings) {
        // Nothing of a text that is no settings object may reach the configuration.
        ShowError("Settings not saved: the settings text is not a JSON object");
        return;
    }
    StoreLibrarySettings(*settings);
    FenableDuctorCycle = settings->ductorcycle > 0;
    BindCallbacks();
    ShowError("Settings saved successfully");
}

void TApp::browseFolder(const std::string& target) {
    Browser* browser = internalBrowser.load();
    if (browser == nullptr)
        return;
    // The picker opens at the folder the setting names now.
    browser->PickFolder(ConfiguredFolderOf(target), [this, target](const std::string& folder) {
        ExecuteJS(page_calls::SetSettingsFolder(FolderForScript(target), FolderForScript(folder)));
    });
}

bool TApp::logFolderExists(const std::string& path) {
    const std::filesystem::path folder = ConfiguredFolder(path);
    std::error_code error;
    return !folder.empty() && std::filesystem::is_directory(folder, error);
}

bool TApp::createLogFolder(const std::string& path) {
    // The empty text would be the root of the disk: nothing to make there.
    if (ConfiguredFolder(path).empty())
        return false;
    return CreateFolderPathIgnoringCase(path + "/Memory") && logFolderExists(path);
}

void TApp::LoadLanguages() {
    LanguagesObject languages = ReadLanguages(PageFolder(paths) / "locales");
    for (const std::string& problem : languages.problems)
        ShowError(problem);
    ExecuteJS(page_calls::LoadLanguages(WriteJson(languages.object, JsonEscaping::Full)));
}

void TApp::LoadMemoryList() {
    for (const std::string& call : MemoryListCalls())
        ExecuteJS(call);
}

namespace {

// "units 2, 4" of a save that could not read them.
std::string UnitNames(const std::vector<int32_t>& units) {
    std::string text = units.size() == 1 ? "unit " : "units ";
    for (std::size_t i = 0; i < units.size(); ++i)
        text += (i ? ", " : "") + std::to_string(units[i]);
    return text;
}

} // namespace

void TApp::saveConfig(int32_t memoryId, const std::string& memoryName) {
    struct SaveReport {
        int32_t stored = TSRX_SAVED_ALL;
        std::vector<int32_t> notSaved;
    };
    auto report = std::make_shared<SaveReport>();
    Fpool.Start(
        [this, memoryId, memoryName, report] {
            TSR_WriteLogFile(("Saving memory " + std::to_string(memoryId)).c_str());
            ExecuteJS(page_calls::SavingMemory(memoryId));
            const std::string date = SaveDateText(std::time(nullptr));
            int32_t units[256] = {};
            int32_t count = 0;
            report->stored = TSRX_MemorySaveJob(memoryId, units, 256, &count);
            report->notSaved.assign(units, units + std::clamp<int32_t>(count, 0, 256));
            TSR_WriteLogFile("Memory saved");
            // Nothing was read: the job stored before keeps its own description.
            if (report->stored == TSRX_SAVED_NOTHING)
                return int32_t{1};
            // The description write finds the job file missing when no job could be written.
            const int32_t described = TSR_MemorySetInfo(memoryId, ToLibraryText(memoryName).c_str(), date.c_str());
            TSR_WriteLogFile("Memory info updated");
            return described;
        },
        [this, memoryId, report](const TaskResult& result) {
            // Counted from 1 in 64 bits: the page may name any 32-bit position.
            const std::string position = " to position " + std::to_string(int64_t{memoryId} + 1);
            if (report->stored == TSRX_SAVED_NOTHING)
                ShowError("Configuration not saved" + position +
                          ": no unit answered; the job stored there before is kept");
            else if (result.Get() != 0)
                ShowError("Configuration not saved" + position);
            else if (report->stored == TSRX_SAVED_SOME)
                ShowError("Configuration saved" + position + " without " + UnitNames(report->notSaved) +
                          ", which did not answer: a recall leaves them as they are");
            else
                ShowError("Configuration saved" + position);
            LoadMemoryList();
        });
}

void TApp::loadConfig(int32_t memoryId) {
    Fpool.Start(
        [this, memoryId] {
            // An empty position is said at once; nothing on the page goes stale.
            char name[1000] = {}, date[1000] = {};
            if (TSR_MemoryGetInfo(memoryId, name, date) != 0)
                return int32_t{-1};
            ExecuteJS(page_calls::MakeDirtyValues());
            return TSR_MemoryLoadJob(memoryId);
        },
        [this, memoryId](const TaskResult& result) {
            const int32_t r = result.Get();
            if (r != 0) {
                ShowError("Nothing recalled: no job is stored in position " + std::to_string(int64_t{memoryId} + 1));
                LoadMemoryList(); // the page's empty position ends its "Recalling"
                if (r == -1)
                    return;
            }
            ExecuteJS(page_calls::MakeDirtyValues());
            LoadInitialState();
        });
}

void TApp::ReportUnexpectedError(const std::string& what) {
    const BugReport report(GetStoragePath("bugreport.txt"));
    ShowError(report.Report(what, std::time(nullptr)));
}

void TApp::ShowUnitKeys(int32_t unit, const int32_t* keys, int32_t count) {
    if (keys != nullptr && count > 0) {
        std::string joined;
        for (int32_t i = 0; i < count; ++i) {
            if (i > 0)
                joined += ','; // apart: GCC 12 warns falsely on "," + a temporary (-Wrestrict)
            joined += std::to_string(keys[i]);
        }
        ExecuteJS("App.showUnitKeys(" + std::to_string(unit) + ", \"" + joined + "\")");
    }
    char separation[1000] = {};
    int32_t colour = 0;
    uint8_t present = 0;
    if (TSR_GetUnitDetails(unit - 1, separation, &colour, &present) != 0)
        return;
    separation[sizeof separation - 1] = '\0';
    char rgb[8];
    std::snprintf(rgb, sizeof rgb, "#%02x%02x%02x", colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
    ExecuteJS("App.showUnitInk(" + std::to_string(unit) + ", \"" + QuotedScriptText(FromLibraryText(separation)) + "\", \"" + rgb +
              "\")");
}
