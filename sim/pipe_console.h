#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "press_console.h"

namespace tsr::sim {

// The simulated press console on Windows: serves the named pipe that the
// library's serial layer opens for COM<port> when TESSARO_SERIAL_DIR holds
// the pipe prefix (\\.\pipe\tessaro gives \\.\pipe\tessaro\COM1). One
// library at a time; when it closes the pipe the next one may connect.
class PipeConsole {
public:
    PipeConsole(const std::string& prefix, int port, const ConsoleConfig& config);
    ~PipeConsole();
    PipeConsole(const PipeConsole&) = delete;
    PipeConsole& operator=(const PipeConsole&) = delete;

    // False when the pipe could not be made (another console serves it).
    bool ok() const;
    const std::string& PipeName() const { return pipeName_; }
    // A copy of what the console holds for a unit.
    UnitState Unit(int unit) const;
    void SetUnit(int unit, const UnitState& state);
    void SetTrace(std::function<void(const std::string&)> trace);
    // A fault for frames of target (an opcode, kAnyFrame or kValueFrame); times < 0: for ever.
    void AddFault(int target, const Fault& fault, int times = 1);

private:
    struct Impl;
    void Run();

    std::string pipeName_;
    mutable std::mutex mutex_;
    PressConsole console_;
    std::unique_ptr<Impl> impl_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace tsr::sim
