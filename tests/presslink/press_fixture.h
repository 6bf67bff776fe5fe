#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "config/configuration.h"
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

using Event = std::tuple<int, int, int>;
using Bytes = std::vector<std::uint8_t>;

// The callback is a plain function, so the events land in one shared record.
class EventRecord {
public:
    static EventRecord& Get() {
        static EventRecord record;
        return record;
    }
    static void Callback(std::int32_t unit, std::int32_t code, std::int32_t kind) {
        std::lock_guard lock(Get().guard_);
        Get().events_.emplace_back(unit, code, kind);
    }
    std::vector<Event> Take() {
        std::lock_guard lock(guard_);
        std::vector<Event> taken;
        taken.swap(events_);
        return taken;
    }

private:
    std::mutex guard_;
    std::vector<Event> events_;
};

struct LogEntry {
    std::string colour;
    std::string body;
};

// The press link over a real pseudo-terminal against the simulated console,
// built of the library's real objects.
class PressLinkTest : public ::testing::Test {
protected:
    static sim::ConsoleConfig PromptConsole() {
        sim::ConsoleConfig c;
        c.units = 50;
        c.keys = 24;
        c.movementMs = 5;
        c.extraReplyMs = 2;
        return c;
    }

    void SetUp() override { Start(PromptConsole(), "KeysNumber=24\nUnitNumber=4\nDuctorCycle=0\n"); }

    void Start(const sim::ConsoleConfig& console, const std::string& general,
               const std::string& inkingUp = "") {
        folder_ = std::filesystem::temp_directory_path() /
                  ("presslink-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
        std::filesystem::create_directories(folder_ / "log");
        const std::string ini = (folder_ / "Tessaro.ini").string();
        std::ofstream(ini) << "[GENERAL]\nPathLogs=" << (folder_ / "log").string() << "\n"
                           << general << "[INKINGUP]\n"
                           << inkingUp;
        sim::SimOptions options;
        options.console = console;
        sim_ = std::make_unique<sim::SimulatedConsole>(options);
        fs_ = MakeFileSystem();
        config_ = std::make_unique<Configuration>(*fs_);
        config_->Load(ini);
        log_ = std::make_unique<ActivityLog>(clock_, *fs_);
        log_->SetFolder((folder_ / "log").string());
        events_.SetCallback(&EventRecord::Callback);
        protocol_ = std::make_unique<PressProtocol>(serial_, *log_, *config_, events_, clock_);
        setting_ = std::make_unique<UnitSetting>(*protocol_, *config_, *log_, events_, table_, lock_);
        control_ = std::make_unique<UnitControl>(*protocol_, *config_, *log_, events_, lock_);
        std::string error;
        ASSERT_TRUE(serial_.Open(sim_->DevicePath(), 9600, "N", 8, 1, false, false, 8192, error)) << error;
        EventRecord::Get().Take();
    }

    void TearDown() override {
        serial_.Close();
        sim_.reset();
        log_.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
        EventRecord::Get().Take();
    }

    std::vector<Event> Events() { return EventRecord::Get().Take(); }

    // The frames the console took, command and value frames alike.
    std::vector<Bytes> Frames() const {
        std::vector<Bytes> out;
        for (const sim::Frame& f : sim_->Frames())
            out.push_back(f.bytes);
        return out;
    }
    std::vector<Bytes> CommandFrames() const {
        std::vector<Bytes> out;
        for (const sim::Frame& f : sim_->Frames())
            if (!f.value)
                out.push_back(f.bytes);
        return out;
    }
    std::vector<int> Opcodes() const {
        std::vector<int> out;
        for (const Bytes& f : CommandFrames())
            out.push_back(f[0]);
        return out;
    }

    std::vector<LogEntry> LogEntries() const {
        std::vector<LogEntry> out;
        for (const auto& entry : std::filesystem::directory_iterator(folder_ / "log")) {
            if (entry.path().extension() != ".html")
                continue;
            std::ifstream in(entry.path());
            std::stringstream text;
            text << in.rdbuf();
            const std::string all = text.str();
            static const std::regex item("<span style='color:([a-z]+)'>(.*?)</span>");
            for (auto it = std::sregex_iterator(all.begin(), all.end(), item); it != std::sregex_iterator();
                 ++it)
                out.push_back({(*it)[1].str(), (*it)[2].str()});
        }
        return out;
    }
    // Text entries at level 3 other than raw chunks.
    std::vector<std::string> LogTexts() const {
        std::vector<std::string> out;
        for (const LogEntry& e : LogEntries())
            if (e.colour != "red" && e.colour != "blue" && (e.body.empty() || e.body[0] != ' '))
                out.push_back(e.body);
        return out;
    }

    void SetKeysOnConsole(int unit, const Bytes& keys) {
        sim_->Update([&](sim::PressConsole& c) { c.Unit(unit).keys = keys; });
    }

    inline static int counter_ = 0;
    std::filesystem::path folder_;
    SystemClock clock_;
    std::unique_ptr<sim::SimulatedConsole> sim_;
    std::unique_ptr<FileSystem> fs_;
    std::unique_ptr<Configuration> config_;
    std::unique_ptr<ActivityLog> log_;
    EventSink events_;
    UnitTable table_;
    PressLock lock_;
    SerialChannel serial_;
    std::unique_ptr<PressProtocol> protocol_;
    std::unique_ptr<UnitSetting> setting_;
    std::unique_ptr<UnitControl> control_;
};

inline std::string Hex(const Bytes& bytes) {
    std::string out;
    char piece[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(piece, sizeof piece, "%s%02X", out.empty() ? "" : " ", b);
        out += piece;
    }
    return out;
}

} // namespace tsr::test
