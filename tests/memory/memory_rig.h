#pragma once
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "config/configuration.h"
#include "config/temp_folder.h"
#include "log/activity_log.h"
#include "memory/job_memory.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "presslink/press_protocol.h"
#include "presslink/serial_channel.h"
#include "presslink/unit_setting.h"
#include "session/event_sink.h"
#include "session/press_lock.h"
#include "session/unit_table.h"
#include "simulated_console.h"

namespace tsr::test {

using Event = std::tuple<int, int, int>; // unit, code, kind

// Events of the callback; the callback is a plain function, so it reaches
// the one recorder of the running test through this.
class EventRecorder {
public:
    static EventRecorder*& Current() {
        static EventRecorder* current = nullptr;
        return current;
    }
    static void TSR_CALL Callback(int32_t unit, int32_t code, int32_t kind) {
        if (EventRecorder* r = Current())
            r->Add(unit, code, kind);
    }
    void Add(int unit, int code, int kind) {
        std::lock_guard lock(guard_);
        events_.emplace_back(unit, code, kind);
        if (onEvent_)
            onEvent_();
    }
    std::vector<Event> Events() const {
        std::lock_guard lock(guard_);
        return events_;
    }
    // Events of one unit, in order.
    std::vector<Event> Of(int unit) const {
        std::vector<Event> out;
        for (const Event& e : Events())
            if (std::get<0>(e) == unit)
                out.push_back(e);
        return out;
    }
    void Clear() {
        std::lock_guard lock(guard_);
        events_.clear();
    }
    void OnEvent(std::function<void()> f) {
        std::lock_guard lock(guard_);
        onEvent_ = std::move(f);
    }

private:
    mutable std::mutex guard_;
    std::vector<Event> events_;
    std::function<void()> onEvent_;
};

struct RigOptions {
    int units = 4;
    int keys = 24;
    int ductorCycle = 0;
    int consoleUnits = 0; // 0: as many as units
    int consoleKeys = 0;  // 0: as many as keys
};

// The job memory over the real press link, talking to the simulated console
// through a pseudo-terminal; files in a temporary folder.
class MemoryRig {
public:
    explicit MemoryRig(const RigOptions& o = {})
        : fs(MakeFileSystem()), config(*fs), log(clock, *fs), sim(SimOptionsFor(o, folder)),
          protocol(serial, log, config, events, clock), units(protocol, config, log, events, table, press),
          memory(config, log, *fs, events, press, protocol, units) {
        WriteText(folder / "Tessaro.ini", "[GENERAL]\r\nUnitNumber=" + std::to_string(o.units) +
                                              "\r\nKeysNumber=" + std::to_string(o.keys) +
                                              "\r\nDuctorCycle=" + std::to_string(o.ductorCycle) + "\r\n");
        config.Load(folder / "Tessaro.ini");
        logFolder = folder / "log";
        std::filesystem::create_directories(logFolder + "/Memory");
        log.SetFolder(logFolder);
        // the console's link, whatever the test runner points the library at
        ::setenv("TESSARO_SERIAL_DIR", sim.LinkFolder().c_str(), 1);
        std::string error;
        serial.Open(sim.PortName(), 9600, "N", 8, 1, false, false, 8192, error);
        EventRecorder::Current() = &recorder;
        events.SetCallback(&EventRecorder::Callback);
    }
    ~MemoryRig() {
        events.SetCallback(nullptr);
        EventRecorder::Current() = nullptr;
        serial.Close();
    }

    std::string JobFile(int job) const { return logFolder + "/Memory/memory_" + std::to_string(job) + ".qv"; }

    // Command frames the console took, as (opcode, unit).
    std::vector<std::pair<int, int>> Commands() const {
        std::vector<std::pair<int, int>> out;
        for (const sim::Frame& f : sim.Frames())
            if (!f.value && f.bytes.size() == 4)
                out.emplace_back(f.bytes[0], f.bytes[1]);
        return out;
    }
    // The value frame that followed the last command frame of opcode for unit.
    std::vector<std::uint8_t> ValuesSent(int opcode, int unit) const {
        std::vector<std::uint8_t> out;
        bool after = false;
        for (const sim::Frame& f : sim.Frames()) {
            if (!f.value)
                after = f.bytes.size() == 4 && f.bytes[0] == opcode && f.bytes[1] == unit;
            else if (after) {
                out.assign(f.bytes.begin(), f.bytes.end() - 1);
                after = false;
            }
        }
        return out;
    }

    TempFolder folder;
    std::string logFolder;
    SystemClock clock;
    std::unique_ptr<FileSystem> fs;
    Configuration config;
    ActivityLog log;
    sim::SimulatedConsole sim;
    SerialChannel serial;
    EventSink events;
    UnitTable table;
    PressLock press;
    PressProtocol protocol;
    UnitSetting units;
    JobMemory memory;
    EventRecorder recorder;

private:
    static sim::SimOptions SimOptionsFor(const RigOptions& o, const TempFolder& folder) {
        sim::SimOptions s;
        s.console.units = o.consoleUnits ? o.consoleUnits : o.units;
        s.console.keys = o.consoleKeys ? o.consoleKeys : o.keys;
        s.console.movementMs = 5;
        s.console.extraReplyMs = 2;
        s.linkFolder = (folder.Path() / "ports").string();
        return s;
    }
};

} // namespace tsr::test
