#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/browser.h"
#include "app/host_paths.h"
#include "app/ui_loop.h"
#include "app/unit_list.h"
#include "app/worker_pool.h"
#include "tessaro.h"

// Press commands that RunAsyncCommand accepts.
enum TCommands : int32_t { tcWorkingPosition = 0, tcZeroPosition = 1, tcInkingUp = 2, tcApplySettings = 3 };

// The application object: binds the page's calls to the library and turns
// library events into calls of the page's App functions.
class TApp {
public:
    // The per-unit arrays hold units 0 to 30.
    static constexpr int kUnitSlots = 31;
    using UnitValues = std::array<std::atomic<int32_t>, kUnitSlots>;

    TApp(UiLoop& ui, HostPaths paths);
    ~TApp();
    TApp(const TApp&) = delete;
    TApp& operator=(const TApp&) = delete;

    // The browser whose page receives page calls; none until the first load-end.
    std::atomic<Browser*> internalBrowser{nullptr};

    // Public properties.
    std::string GetductorCycleValues() const;
    void SetductorCycleValues(const std::string& value);
    std::string Geterrors(); // joins and empties the pending messages
    bool GetisSerialOpen() const { return FisSerialOpen; }
    void SetisSerialOpen(bool value) { FisSerialOpen = value; }
    std::string GetselectedUnits() const;
    void SetselectedUnits(const std::string& value);

    // Operations of the page's host object.
    void startApp();
    void BindCallbacks();
    void Initialize(Browser* browser);
    void ExecuteJS(const std::string& jsCode);
    void ShowError(const std::string& messageText);
    std::string GetConfig(const std::string& paramName);
    std::string GetStoragePath(const std::string& fileName);
    void saveSettings(const std::string& jsonString);
    void browseFolder(const std::string& target);
    void saveConfig(int32_t memoryId, const std::string& memoryName);
    void loadConfig(int32_t memoryId);
    void setKeys(int32_t unitCode, int32_t keyValue);
    void setKeysPercentage(int32_t unitCode, int32_t keyValue);
    void setKeysMode(int32_t isRelative);
    void setUnitDuctorValue(int32_t unitCode, int32_t ductorValue);
    void setUnitDuctorCycle(int32_t unitCode, int32_t ductorValue);
    void RunAsyncCommand(TCommands command);
    void GetDuctor(int32_t unitCode);
    void GetDuctorCycle(int32_t unitCode);
    void LoadInitialState();
    void CopyUnit(int32_t target, int32_t source);
    void SwapUnit(int32_t target, int32_t source);
    void UglyInitialall();
    void InkUp(TUnitList units);
    // A whole key row for a unit ("k1,k2,…", integers 0 to 255, at most the
    // configured keys), sent by the next apply in place of the unit's offset
    // or percentage; the empty text drops a stored row. False (the call is
    // refused) for a unit outside 1 to UnitNumber or a text that is no such row.
    bool setUnitKeys(int32_t unit, const std::string& keys);

    // The log folder as the settings dialog names it: whether it is there
    // (without it the library writes no log, no job memory and no backups),
    // and making it with its job memory folder. Relative to the current
    // folder, as the library takes it.
    bool logFolderExists(const std::string& path);
    bool createLogFolder(const std::string& path);

    // For the page's service view and banners: what the line to the console
    // does (see line_status.h), and the program's version.
    nlohmann::json getLineStatus();
    std::string getVersion();

    // Steps of the start sequence.
    void LoadSettings();
    void LoadLanguages();
    void LoadUnits();
    void LoadMemoryList();
    void BindUICommands();
    void ApplySettings(TUnitList units);

    // The general error report, on the user-interface thread: a report
    // appended to bugreport.txt in the storage folder and a message in the page.
    void ReportUnexpectedError(const std::string& what);
    // The unit's keys, ink name and colour for the page's profile view.
    void ShowUnitKeys(int32_t unit, const int32_t* keys, int32_t count);
    // Reads the unit's keys, ductor and cycle from the press and shows them;
    // a value that could not be read is shown as unknown and changes no state.
    void ReadUnitFromPress(int32_t unit);
    // Asks for a read of the unit after a transfer the host did not run
    // (preset, corrected keys) or one whose result it does not read itself
    // (copy, swap). One reader task serves every request in turn, so no unit
    // is read twice at once; requests made while it reads are served after.
    void RequestUnitRead(int32_t unit);
    // While set on a thread, the start and read events of that thread's reads
    // reach the page neither as messages nor as progress: a unit that has
    // just shown "done" keeps showing it. Retries and failures still do. Set
    // for the reads after others' transfers, copy and swap, and for GetDuctor
    // and GetDuctorCycle, which the page asks for after a done event.
    static void SetBackgroundReads(bool on);

    // The library's event callback, handed to TSR_Init. It reaches the
    // application object that is alive at the moment, if any.
    static void TSR_CALL UnitEventCallback(int32_t unit, int32_t code, int32_t kind);
    void HandleUnitEvent(int32_t unit, int32_t code, int32_t kind);
    // The end of a unit operation: a unit whose operation failed is shown as
    // given up; a "port not open" after the library reported the port closed
    // also shows the serial error. Returns result unchanged.
    int32_t NoteUnitResult(int32_t unit, int32_t result);

    // Reads and writes of the values last read from the press ("ductor_value",
    // "ductor_cycle", "keys"); an element never written reads as 0. Units outside
    // 0 to 30 read 0 and are not written.
    int32_t StateValue(const char* member, int32_t unit) const;
    void SetStateValue(const char* member, int32_t unit, int32_t value);
    nlohmann::json StateSnapshot() const;

    static bool IsUnitSlot(int32_t unit) { return unit >= 0 && unit < kUnitSlots; }

    UiLoop& ui;
    const HostPaths paths;

    std::vector<std::string> FerrorList; // guarded by FerrorLock
    std::mutex FerrorLock;
    std::string FductorCycleValues = "2,0,3"; // guarded by FtextLock
    std::string FselectedUnits;               // guarded by FtextLock
    mutable std::mutex FtextLock;
    UnitValues FductorValues{};
    UnitValues FductorCycles{};
    UnitValues Fkeys{};
    UnitValues FkeysPercentage{};
    std::atomic<bool> FKeysIsRelativeOn{false};
    std::atomic<bool> FenableDuctorCycle{false};
    std::atomic<bool> FisSerialOpen{true};
    // The library reported (0, 10, 0) since the last TSR_Init: the port is closed.
    std::atomic<bool> FportClosed{false};
    std::atomic<int32_t> FNumberOfKeys{0};

    // The stored key row of a unit; empty when none.
    std::vector<int32_t> UnitKeyRow(int32_t unit) const;

private:
    nlohmann::json FstateCurrent; // guarded by FstateLock
    mutable std::mutex FstateLock;

    std::array<std::vector<int32_t>, kUnitSlots> FunitKeyRows; // guarded by FrowLock
    mutable std::mutex FrowLock;

    std::array<bool, kUnitSlots> FreadWanted{}; // guarded by FreadLock
    bool FreaderRunning = false;                // guarded by FreadLock
    std::mutex FreadLock;
    void ServeUnitReads();
    // One value each from the press: shown, and kept as the press's state, when
    // read; shown as unknown otherwise. The cycle is told to the page only
    // when tellPage is set.
    void ReadUnitKeys(int32_t unit);
    void ReadUnitDuctor(int32_t unit);
    void ReadUnitCycle(int32_t unit, bool tellPage);

    // Last, so that it goes first: running bodies end before the fields they use.
    WorkerPool Fpool;
};

// Joins pending messages: "|" between them; a message holding a blank, a
// control character, a double quote or "|" is quoted, inner quotes doubled;
// a single empty message gives two double quotes.
std::string JoinPendingMessages(const std::vector<std::string>& messages);
