#pragma once
#include "press_console.h"
#include "pty_pair.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tsr::sim {

struct SimOptions {
    ConsoleConfig console;
    // Folder that receives the link COM<port> to the device; a fresh temporary
    // folder (removed at the end) when empty.
    std::string linkFolder;
    int port = 1;
    // Readable trace lines, called on the console's thread.
    std::function<void(const std::string&)> trace;
};

// Bytes as they crossed the line, with the time since the console started.
struct RecordEntry {
    std::int64_t timeUs = 0;
    bool received = false; // from the library (else sent by the console)
    std::vector<std::uint8_t> bytes;
};

// The simulated press console on a pseudo-terminal, running on a thread of
// its own from construction to destruction. Every member may be called from
// any thread.
class SimulatedConsole {
public:
    explicit SimulatedConsole(SimOptions options = {});
    ~SimulatedConsole();
    SimulatedConsole(const SimulatedConsole&) = delete;
    SimulatedConsole& operator=(const SimulatedConsole&) = delete;

    int Port() const { return options_.port; }
    // "COM1" for port 1 (the library's name for it)
    std::string PortName() const;
    const std::string& LinkFolder() const { return linkFolder_; }
    std::string LinkPath() const;
    std::string DevicePath() const;

    std::vector<RecordEntry> Record() const;
    std::vector<std::uint8_t> Received() const;
    std::vector<std::uint8_t> Sent() const;
    std::vector<Frame> Frames() const;
    // Waits until the console has taken at least count frames in all.
    bool WaitForFrames(std::size_t count, int timeoutMs) const;
    // Waits until nothing is arriving, going out or scheduled to go out.
    bool WaitIdle(int timeoutMs) const;
    void ClearRecord();

    void AddFault(int target, const Fault& fault, int times = 1);
    void ClearFaults();
    UnitState Unit(int unit) const;
    void SetUnit(int unit, const UnitState& state);
    // Runs change on the console under its lock.
    void Update(const std::function<void(PressConsole&)>& change);

    // Sends bytes unasked, as soon as the line is free.
    void Send(const std::vector<std::uint8_t>& bytes);
    // The device goes away now; a library holding it sees a hang-up.
    void HangUp();
    bool HungUp() const;
    // A fresh device behind the same link; the units keep their state.
    bool Reconnect();

private:
    std::int64_t NowUs() const;
    void Run();
    void ReadIn();                       // lock held
    void WriteOut(const Output& out);    // lock held
    void CloseDevice(const char* why);   // lock held
    void Publish();                      // lock held
    void Trace(const std::string& line); // lock held
    void Wake();

    SimOptions options_;
    std::string linkFolder_;
    bool ownFolder_ = false;
    const std::int64_t startNs_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    PressConsole console_;
    PtyPair pty_;
    int generation_ = 0;
    int loopGeneration_ = 0; // the generation the console's thread last polled with
    bool hungUp_ = false;
    bool stop_ = false;
    std::vector<RecordEntry> record_;
    std::vector<std::uint8_t> sending_; // the reply going out, for the trace
    std::vector<std::string> traceLines_;
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

} // namespace tsr::sim
