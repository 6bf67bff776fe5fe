#pragma once
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config/configuration.h"
#include "config/temp_folder.h"
#include "exchange/exchange_watcher.h"
#include "exchange/xml_defaults.h"
#include "log/activity_log.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "presslink/press_protocol.h"
#include "presslink/serial_channel.h"
#include "presslink/unit_control.h"
#include "presslink/unit_setting.h"
#include "session/event_sink.h"
#include "session/press_lock.h"
#include "session/unit_table.h"
#include "simulated_console.h"

namespace tsr::test {

namespace fs = std::filesystem;

using Event = std::tuple<int, int, int>;

// Events of the one rig alive at a time (the callback is a plain function).
class EventRecord {
public:
    static EventRecord& Instance() {
        static EventRecord record;
        return record;
    }
    static void Callback(std::int32_t unit, std::int32_t code, std::int32_t kind) {
        Instance().Add(Event{unit, code, kind});
    }
    void Add(Event e) {
        std::lock_guard lock(guard_);
        events_.push_back(e);
    }
    std::vector<Event> Take() {
        std::lock_guard lock(guard_);
        return std::exchange(events_, {});
    }

private:
    std::mutex guard_;
    std::vector<Event> events_;
};

// Sets a file's last-write time to now + offsetSeconds.
inline void SetFileAge(const std::string& path, std::time_t when) {
    timespec times[2] = {{when, 0}, {when, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// A file held open for writing, as a producer that has not finished it.
class OpenWriter {
public:
    explicit OpenWriter(const std::string& path) : fd_(::open(path.c_str(), O_WRONLY | O_CREAT, 0644)) {}
    ~OpenWriter() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    OpenWriter(const OpenWriter&) = delete;
    OpenWriter& operator=(const OpenWriter&) = delete;
    void Write(const std::string& text) {
        if (fd_ >= 0 && ::write(fd_, text.data(), text.size()) < 0)
            std::abort();
    }

private:
    int fd_;
};

// The machine's clock, whose seconds a test can stop (several requests
// handled "within one second"); waits and sleeps stay real.
class RigClock final : public Clock {
public:
    void Freeze(std::time_t at) { frozen_ = at; }
    std::time_t Now() const override {
        const std::time_t at = frozen_;
        return at != 0 ? at : real_.Now();
    }
    std::tm LocalTime(std::time_t t) const override { return real_.LocalTime(t); }
    std::tm UtcTime(std::time_t t) const override { return real_.UtcTime(t); }
    std::int64_t MonotonicMs() const override { return real_.MonotonicMs(); }
    void SleepMs(int ms) const override { real_.SleepMs(ms); }

private:
    SystemClock real_;
    std::atomic<std::time_t> frozen_{0};
};

struct RigSettings {
    int units = 4;
    int keys = 24;
    int perfector = 4;
    int ductorCycle = 0;
    bool presetActive = true;
    bool withConsole = true;
    int consoleMovementMs = 5;
    bool pollFolders = false; // every folder polled as a network share is
};

// Every object the watcher works with, over real folders in a temporary
// folder and the simulated console on a pseudo-terminal.
struct ExchangeRig {
    using Settings = RigSettings;

    explicit ExchangeRig(const Settings& s = Settings{}) : settings(s) {
        for (const char* folder :
             {"preset", "keysIn", "keysOut", "scanIn", "scanOut", "commands", "logs", "current"})
            fs::create_directories(temp.Path() / folder);
        ini = temp / "Tessaro.ini";
        WriteText(
            ini, "[GENERAL]\r\nPathPresetRCV=" + Folder("preset") +
                     "\r\nPathLoopKeysRCV=" + Folder("keysIn") + "\r\nPathLoopKeysSND=" + Folder("keysOut") +
                     "\r\nPathLoopScanRCV=" + Folder("scanIn") + "\r\nPathLoopScanSND=" + Folder("scanOut") +
                     "\r\nPathCommands=" + Folder("commands") + "\r\nPathLogs=" + Folder("logs") +
                     "\r\nPathCurrentJob=" + Folder("current") + "\r\nUnitNumber=" + std::to_string(s.units) +
                     "\r\nKeysNumber=" + std::to_string(s.keys) + "\r\nPerfector=" +
                     std::to_string(s.perfector) + "\r\nDuctorCycle=" + std::to_string(s.ductorCycle) +
                     "\r\nPresetActive=" + (s.presetActive ? "1" : "0") + "\r\n[EXCHANGE]\r\nPollFolders=" +
                     (s.pollFolders ? "1" : "0") + "\r\n");
        config.Load(ini);
        log.SetFolder(Folder("logs"));
        EventRecord::Instance().Take();
        events.SetCallback(&EventRecord::Callback);
        if (s.withConsole) {
            sim::SimOptions options;
            options.console.units = std::max(s.units, 1);
            options.console.keys = std::max(s.keys, 1);
            options.console.movementMs = s.consoleMovementMs;
            console = std::make_unique<sim::SimulatedConsole>(options);
            std::string error;
            serial.Open(console->DevicePath(), 9600, "N", 8, 1, false, false, 8192, error);
        }
    }
    ~ExchangeRig() {
        watcher.Stop();
        serial.Close();
    }

    std::string Folder(const std::string& name) const { return temp / name; }
    std::string File(const std::string& folder, const std::string& name) const {
        return Folder(folder) + "/" + name;
    }
    std::vector<std::string> Names(const std::string& folder) const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(Folder(folder)))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string LogText() const {
        std::string all;
        for (const std::string& name : Names("logs"))
            if (name.find("_log.html") != std::string::npos)
                all += ReadText(File("logs", name));
        return all;
    }
    void Switches(bool preset, bool loop) {
        watcher.SetActive(true);
        watcher.SetPresetPolling(preset);
        watcher.SetLoopPolling(loop);
    }
    // Waits until the running watcher has finished `count` more whole passes.
    bool WaitPasses(std::uint64_t count, int timeoutMs = 20000) {
        const std::uint64_t target = watcher.Passes() + count;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (watcher.Passes() < target) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    Settings settings;
    TempFolder temp;
    std::string ini;
    std::unique_ptr<FileSystem> files = MakeFileSystem();
    RigClock clock;
    Configuration config{*files};
    ActivityLog log{clock, *files};
    UnitTable table;
    EventSink events;
    PressLock lock;
    std::unique_ptr<sim::SimulatedConsole> console;
    SerialChannel serial;
    PressProtocol protocol{serial, log, config, events, clock};
    UnitSetting setting{protocol, config, log, events, table, lock};
    UnitControl control{protocol, config, log, events, lock};
    XmlDefaults xml;
    ExchangeWatcher watcher{config, log, *files, clock, table, events, lock, setting, control, xml};
};

} // namespace tsr::test
