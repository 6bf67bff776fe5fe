#pragma once
// The library through its exports against the simulated console on a
// pseudo-terminal, with its configuration and log in a temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <unistd.h>

#include "simulated_console.h"
#include "tessaro.h"

namespace tsr::test {

using Event = std::tuple<int, int, int>;
using Bytes = std::vector<std::uint8_t>;

class Events {
public:
    static void TSR_CALL Callback(std::int32_t unit, std::int32_t code, std::int32_t kind) {
        std::lock_guard lock(guard_);
        events_.emplace_back(unit, code, kind);
    }
    static std::vector<Event> Take() {
        std::lock_guard lock(guard_);
        return std::exchange(events_, {});
    }

private:
    inline static std::mutex guard_;
    inline static std::vector<Event> events_;
};

struct LogLine {
    std::string colour;
    std::string body;
};

class LibraryRig {
public:
    static sim::ConsoleConfig PromptConsole() {
        sim::ConsoleConfig c;
        c.units = 4;
        c.keys = 24;
        c.movementMs = 20;
        c.extraReplyMs = 2;
        return c;
    }

    explicit LibraryRig(const sim::ConsoleConfig& console = PromptConsole())
        : folder_(std::filesystem::temp_directory_path() /
                  ("tessaro-faults-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++))) {
        std::filesystem::create_directories(folder_ / "log");
        ini_ = (folder_ / "Tessaro.ini").string();
        std::ofstream(ini_, std::ios::binary)
            << "[GENERAL]\r\nPathLogs=" << (folder_ / "log").string()
            << "\r\nCOM1=1\r\nUnitNumber=4\r\nKeysNumber=24\r\nDuctorCycle=2\r\n";
        sim::SimOptions options;
        options.console = console;
        options.linkFolder = (folder_ / "ports").string();
        sim_ = std::make_unique<sim::SimulatedConsole>(options);
        ::setenv("TESSARO_SERIAL_DIR", sim_->LinkFolder().c_str(), 1);
        Init();
    }
    ~LibraryRig() {
        TSR_Destroy();
        sim_.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
        Events::Take();
    }
    LibraryRig(const LibraryRig&) = delete;
    LibraryRig& operator=(const LibraryRig&) = delete;

    void Init() {
        ASSERT_EQ(TSR_Init(0, ini_.c_str(), &Events::Callback, 0), 0);
        Events::Take();
    }

    sim::SimulatedConsole& Console() { return *sim_; }
    const std::filesystem::path& Folder() const { return folder_; }

    // Every entry of the log files, oldest first.
    std::vector<LogLine> Log() const {
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(folder_ / "log"))
            if (entry.path().extension() == ".html")
                files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        std::vector<LogLine> out;
        static const std::regex item("<span style='color:([a-z]+)'>(.*?)</span>");
        for (const auto& file : files) {
            std::ifstream in(file);
            std::stringstream text;
            text << in.rdbuf();
            const std::string all = text.str();
            for (auto it = std::sregex_iterator(all.begin(), all.end(), item); it != std::sregex_iterator();
                 ++it)
                out.push_back({(*it)[1].str(), (*it)[2].str()});
        }
        return out;
    }
    // Log lines from the index on, and the index to continue from.
    std::vector<LogLine> LogSince(std::size_t& mark) const {
        std::vector<LogLine> all = Log();
        std::vector<LogLine> out(all.begin() + static_cast<long>(std::min(mark, all.size())), all.end());
        mark = all.size();
        return out;
    }

private:
    inline static int counter_ = 0;
    std::filesystem::path folder_;
    std::string ini_;
    std::unique_ptr<sim::SimulatedConsole> sim_;
};

inline std::string Hex(const Bytes& bytes) {
    std::string out;
    char piece[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(piece, sizeof piece, " %02X", b);
        out += piece;
    }
    return out;
}

inline Bytes CommandFrame(int opcode, int unit, int byte2) {
    Bytes f{static_cast<std::uint8_t>(opcode), static_cast<std::uint8_t>(unit),
            static_cast<std::uint8_t>(byte2)};
    f.push_back(sim::Checksum(f.data(), f.size()));
    return f;
}

} // namespace tsr::test
