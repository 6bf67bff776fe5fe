// Runs press exports against the simulated console with 9600-baud pacing and
// prompt answers, and prints each as measured time / the time a real line and
// console need: the bytes that crossed the line (10 bits per byte at 9600
// baud) plus the console's own waits (its short processing time per answered
// frame, the pause before the reply after a commit, the movement before a
// completion). Target <= 1.05.
//
// The waits are small but not zero: a console that sends the reply after a
// commit or a completion in the same breath as the acknowledgement lets the
// library read both in one chunk, and it drops what lies beyond the reply it
// waits for, then sits out a time-out.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "simulated_console.h"
#include "tessaro.h"

namespace {

void TSR_CALL IgnoreEvent(int32_t, int32_t, int32_t) {}

struct Result {
    std::string name;
    double measuredMs = 0;
    double lineMs = 0;
    double consoleMs = 0;
};

// What the console itself spends on the frames it took.
double ConsoleMs(const tsr::sim::ConsoleConfig& c, const std::vector<tsr::sim::Frame>& frames) {
    double us = 0;
    for (const tsr::sim::Frame& f : frames) {
        if (!f.checksumOk)
            continue;
        if (f.value) {
            if (f.bytes.size() == 2)
                continue; // a single value is not answered
            us += c.processingUs;
            if (f.bytes.size() != static_cast<std::size_t>(c.keys) + 1)
                us += c.valueGapMs * 1000.0; // a short key frame ends at a gap
            continue;
        }
        us += c.processingUs;
        switch (f.bytes[0]) {
        case 0x03:
            us += c.extraReplyMs * 1000.0;
            break;
        case 0x05:
        case 0x06:
        case 0x24:
        case 0x25:
            us += c.movementMs * 1000.0;
            break;
        default:
            break;
        }
    }
    return us / 1000.0;
}

Result Measure(tsr::sim::SimulatedConsole& console, const tsr::sim::ConsoleConfig& config,
               const std::string& name, int rounds, const std::function<int()>& operation) {
    operation(); // warm-up: log file, first frames
    console.WaitIdle(1000);
    console.ClearRecord();
    std::size_t bytes = 0;
    double measured = 0;
    int failures = 0;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (operation() != 0)
            ++failures;
        measured +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }
    console.WaitIdle(1000);
    for (const tsr::sim::RecordEntry& e : console.Record())
        bytes += e.bytes.size();
    const double consoleMs = ConsoleMs(config, console.Frames());
    if (failures)
        std::fprintf(stderr, "%s: %d of %d rounds failed\n", name.c_str(), failures, rounds);
    Result r;
    r.name = name;
    r.measuredMs = measured / rounds;
    r.lineMs = static_cast<double>(bytes) / rounds * 10.0 * 1000.0 / 9600.0;
    r.consoleMs = consoleMs / rounds;
    return r;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    tsr::sim::SimOptions options;
    options.console.units = 4;
    options.console.keys = 24;
    options.console.pacing = true;
    options.console.movementMs = 5;
    options.console.extraReplyMs = 5;
    tsr::sim::SimulatedConsole console(options);

    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("bench-presslink-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string ini = (folder / "Tessaro.ini").string();
    std::ofstream(ini) << "[GENERAL]\nCOM1=" << console.Port()
                       << "\nKeysNumber=24\nUnitNumber=4\nDuctorCycle=0\n"
                       << "PathLogs=" << (folder / "log").string() << "\n";
    ::setenv("TESSARO_SERIAL_DIR", console.LinkFolder().c_str(), 1);
    TSR_Init(0, ini.c_str(), IgnoreEvent, 0);

    std::vector<int32_t> keys(24);
    for (int i = 0; i < 24; ++i)
        keys[static_cast<std::size_t>(i)] = 10 * i;
    std::vector<int32_t> read(24);
    const Result results[] = {
        Measure(console, options.console, "TSR_SetNewKey_Absolute (24 keys)", rounds,
                [&] { return TSR_SetNewKey_Absolute(1, keys.data(), 24); }),
        Measure(console, options.console, "TSR_SetNewDuctor_Absolute", rounds,
                [] { return TSR_SetNewDuctor_Absolute(2, 60); }),
        Measure(console, options.console, "TSR_GetKeys (24 keys)", rounds,
                [&] { return TSR_GetKeys(1, read.data(), 24); }),
        Measure(console, options.console, "TSR_ReadBack (4 units)", rounds,
                [] { return static_cast<int>(TSR_ReadBack()); }),
    };
    TSR_Destroy();

    std::printf("%-36s %12s %9s %11s %8s\n", "operation", "measured ms", "line ms", "console ms", "ratio");
    bool met = true;
    for (const Result& r : results) {
        const double ratio = r.measuredMs / (r.lineMs + r.consoleMs);
        met = met && ratio <= 1.05;
        std::printf("%-36s %12.2f %9.2f %11.2f %8.3f\n", r.name.c_str(), r.measuredMs, r.lineMs, r.consoleMs,
                    ratio);
    }
    std::printf("target <= 1.05: %s\n", met ? "met" : "missed");
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
