#pragma once
// The application object against the simulated console on a pseudo-terminal:
// the library started by the host itself from a configuration file in the
// host's storage folder (a temporary folder), the page replaced by a browser
// that keeps a journal of what it was asked, and the test thread as the
// user-interface thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/app.h"
#include "config/temp_folder.h"
#include "host/page_script.h"
#include "host/recording_browser.h"
#include "simulated_console.h"
#include "tessaro.h"

namespace tsr::test {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// What the page was asked, in one order: script texts, element bindings and
// modal boxes, each with the thread that asked.
class JournalBrowser : public RecordingBrowser {
public:
    struct Entry {
        std::string text; // the script text, "bind:<id>" or "modal:<text>"
        bool onUiThread = false;
        Clock::time_point at;
    };

    explicit JournalBrowser(std::thread::id uiThread) : uiThread_(uiThread) {}

    void ExecuteJS(const std::string& code) override {
        RecordingBrowser::ExecuteJS(code);
        Add(code);
    }
    void BindClick(const std::string& elementId, std::function<void()> onClick) override {
        RecordingBrowser::BindClick(elementId, std::move(onClick));
        Add("bind:" + elementId);
    }
    void ShowModalMessage(const std::string& text) override { Add("modal:" + text); }

    std::vector<Entry> Journal() const {
        std::lock_guard lock(mutex_);
        return journal_;
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> out;
        for (const Entry& e : Journal())
            out.push_back(e.text);
        return out;
    }
    // Texts asked for on the user-interface thread.
    std::vector<std::string> UiTexts() const {
        std::vector<std::string> out;
        for (const Entry& e : Journal())
            if (e.onUiThread)
                out.push_back(e.text);
        return out;
    }
    // Texts that begin with prefix, in order.
    std::vector<std::string> Starting(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const Entry& e : Journal())
            if (e.text.rfind(prefix, 0) == 0)
                out.push_back(e.text);
        return out;
    }
    bool Has(const std::string& text) const {
        for (const Entry& e : Journal())
            if (e.text == text)
                return true;
        return false;
    }
    // Position of the first entry with this text at or after from; -1 if none.
    long IndexOf(const std::string& text, size_t from = 0) const {
        const auto journal = Journal();
        for (size_t i = from; i < journal.size(); ++i)
            if (journal[i].text == text)
                return static_cast<long>(i);
        return -1;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        journal_.clear();
        RecordingBrowser::TakeCalls();
    }

private:
    void Add(std::string text) {
        std::lock_guard lock(mutex_);
        journal_.push_back({std::move(text), std::this_thread::get_id() == uiThread_, Clock::now()});
    }

    const std::thread::id uiThread_;
    mutable std::mutex mutex_;
    std::vector<Entry> journal_;
};

// The texts that begin with one of the prefixes, in order.
inline std::vector<std::string> Only(const std::vector<std::string>& texts,
                                     std::initializer_list<const char*> prefixes) {
    std::vector<std::string> out;
    for (const std::string& t : texts)
        for (const char* prefix : prefixes)
            if (t.rfind(prefix, 0) == 0) {
                out.push_back(t);
                break;
            }
    return out;
}

struct HostRigOptions {
    int units = 4;                // "UnitNumber"
    int keys = 24;                // "KeysNumber"
    int ductorCycle = 2;          // "DuctorCycle" of the press
    bool portOpen = true;         // false: "COM1" names a port that has no device
    int consoleUnits = 0;         // 0: as many as units
    int consoleKeys = 0;          // 0: as many as keys
    std::string language = "";    // "Language"
    std::string logFolder = "";   // "PathLogs"; empty: <folder>/log
    std::string moreGeneral = ""; // further lines for the section GENERAL
    bool writeIni = true;
};

// Reads an entry of the activity log: "<span style='color:x'>text</span>".
inline std::vector<std::string> LogTexts(const std::filesystem::path& logFolder) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(logFolder, error))
        if (entry.path().extension() == ".html")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    static const std::regex item("<span style='color:[a-z]+'>(.*?)</span>");
    std::vector<std::string> out;
    for (const auto& file : files) {
        const std::string all = ReadText(file);
        for (auto it = std::sregex_iterator(all.begin(), all.end(), item); it != std::sregex_iterator(); ++it)
            out.push_back((*it)[1].str());
    }
    return out;
}

class HostRig {
public:
    explicit HostRig(const HostRigOptions& o = {}) : options_(o), browser(std::this_thread::get_id()) {
        storage = folder.Path() / "storage";
        program = folder.Path() / "program";
        locales = program / "htmlapp" / "locales";
        std::filesystem::create_directories(storage);
        std::filesystem::create_directories(locales);
        logFolder = o.logFolder.empty() ? (folder.Path() / "log").string() : o.logFolder;

        sim::SimOptions s;
        s.console.units = o.consoleUnits ? o.consoleUnits : o.units;
        s.console.keys = o.consoleKeys ? o.consoleKeys : o.keys;
        s.console.movementMs = 5;
        s.console.extraReplyMs = 2;
        s.linkFolder = (folder.Path() / "ports").string();
        console = std::make_unique<sim::SimulatedConsole>(s);
        // COM n of the library is the console's link; COM 7 has none.
        ::setenv("TESSARO_SERIAL_DIR", console->LinkFolder().c_str(), 1);
        if (o.writeIni)
            WriteIni();
        app = std::make_unique<TApp>(ui, HostPaths{program, storage});
        // As the main window does once the page has loaded.
        app->internalBrowser = &browser;
    }

    ~HostRig() {
        app.reset(); // running bodies end first
        TSR_Destroy();
    }
    HostRig(const HostRig&) = delete;
    HostRig& operator=(const HostRig&) = delete;

    std::string IniPath() const { return (storage / "Tessaro.ini").string(); }
    std::string Inside(const std::string& name) const { return (folder.Path() / name).string(); }

    void WriteIni() {
        const HostRigOptions& o = options_;
        WriteText(
            IniPath(),
            "[GENERAL]\r\nPathLogs=" + logFolder + "\r\nPathPresetRCV=" + Inside("preset") +
                "\r\nPathLoopKeysRCV=" + Inside("keyout") + "\r\nPathLoopKeysSND=" + Inside("keyin") +
                "\r\nPathLoopScanRCV=" + Inside("scan-tmp") + "\r\nPathLoopScanSND=" + Inside("scan") +
                "\r\nPathCommands=" + Inside("commands") + "\r\nPathCurrentJob=" + Inside("currentjob") +
                "\r\nCOM1=" + std::to_string(o.portOpen ? console->Port() : 7) +
                "\r\nUnitNumber=" + std::to_string(o.units) + "\r\nKeysNumber=" + std::to_string(o.keys) +
                "\r\nDuctorCycle=" + std::to_string(o.ductorCycle) + "\r\nLanguage=" + o.language + "\r\n" +
                o.moreGeneral);
    }

    void WriteLocale(const std::string& name, const std::string& text) { WriteText(locales / name, text); }

    // Runs the user-interface thread's work until done() holds; false after timeout.
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 20s) {
        const auto end = Clock::now() + timeout;
        for (;;) {
            ui.ProcessPending();
            if (done())
                return true;
            if (Clock::now() > end)
                return false;
            std::this_thread::sleep_for(2ms);
        }
    }

    // Runs exactly count tasks of the user-interface thread (the completion
    // handlers of that many worker tasks, nothing else posts there), so that
    // the tasks are known to have ended. False if they did not come in time.
    bool RunCompletions(int count, std::chrono::milliseconds timeout = 30s) {
        std::mutex m;
        std::condition_variable cv;
        bool finished = false;
        std::atomic<bool> expired{false};
        std::thread watchdog([&] {
            std::unique_lock lock(m);
            if (!cv.wait_for(lock, timeout, [&] { return finished; })) {
                expired = true;
                ui.Wake();
            }
        });
        int asked = 0;
        // done() is asked once before the first task and once after each.
        ui.RunUntil([&] { return expired.load() || ++asked > count; });
        {
            std::lock_guard lock(m);
            finished = true;
        }
        cv.notify_all();
        watchdog.join();
        return !expired;
    }

    // Command frames the console took, as (opcode, unit), in order.
    std::vector<std::pair<int, int>> Commands() const {
        std::vector<std::pair<int, int>> out;
        for (const sim::Frame& f : console->Frames())
            if (!f.value && f.bytes.size() == 4)
                out.emplace_back(f.bytes[0], f.bytes[1]);
        return out;
    }
    std::vector<std::pair<int, int>> CommandsOf(int opcode) const {
        std::vector<std::pair<int, int>> out;
        for (const auto& c : Commands())
            if (c.first == opcode)
                out.push_back(c);
        return out;
    }

    std::vector<std::string> Log() const { return LogTexts(logFolder); }
    std::vector<std::string> LogStarting(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& line : Log())
            if (line.rfind(prefix, 0) == 0)
                out.push_back(line);
        return out;
    }

    // The keys of a console unit all set to value.
    void SetConsoleKeys(int unit, std::uint8_t value) {
        sim::UnitState state = console->Unit(unit);
        std::fill(state.keys.begin(), state.keys.end(), value);
        console->SetUnit(unit, state);
    }
    void SetConsoleDuctor(int unit, std::uint8_t wire, std::uint8_t cycle) {
        sim::UnitState state = console->Unit(unit);
        state.ductor = wire;
        state.ductorCycle = cycle;
        console->SetUnit(unit, state);
    }

    // The library started the way the page's startApp would, without the
    // rest of the start sequence.
    void StartLibrary() {
        app->BindCallbacks();
        app->LoadSettings();
        browser.Clear();
        app->Geterrors();
    }

private:
    HostRigOptions options_;

public:
    TempFolder folder;
    std::filesystem::path storage, program, locales;
    std::string logFolder;
    std::unique_ptr<sim::SimulatedConsole> console;
    UiLoop ui; // the test thread is the user-interface thread
    JournalBrowser browser;
    std::unique_ptr<TApp> app;
};

} // namespace tsr::test
