#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "press_console.h"

// The simulated press console of the demo press, and the setting that makes
// the library's COM1 reach it: on Linux a pseudo-terminal linked as
// <ports>/COM1 with TESSARO_SERIAL_DIR naming the ports folder, on Windows a
// named pipe of this process with TESSARO_SERIAL_DIR naming its prefix.
class DemoConsole {
public:
    // Throws std::runtime_error when the console cannot be set up.
    DemoConsole(const std::filesystem::path& portsFolder, const tsr::sim::ConsoleConfig& config,
                std::function<void(const std::string&)> trace);
    ~DemoConsole();
    DemoConsole(const DemoConsole&) = delete;
    DemoConsole& operator=(const DemoConsole&) = delete;

    tsr::sim::UnitState Unit(int unit) const;
    void SetUnit(int unit, const tsr::sim::UnitState& state);
    // A fault for frames of target (an opcode or tsr::sim::kAnyFrame); times < 0: for ever.
    void AddFault(int target, const tsr::sim::Fault& fault, int times);
    // Where the console is: the device or the pipe.
    std::string DevicePath() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
