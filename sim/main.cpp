// tessaro-press-sim: the simulated press console as a program, for the demo
// and for service work without a press.
#include "command_line.h"
#include "simulated_console.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

void Usage(const char* program) {
    std::printf("usage: %s [options]\n"
                "  --units N          printing units (default 4)\n"
                "  --keys N           ink keys per unit, 1..500 (default 24)\n"
                "  --movement-ms N    time until a position or execute command completes (default 2000)\n"
                "  --extra-reply-ms N time from a commit's answer to the reply after it (default 20)\n"
                "  --pacing           deliver bytes at 9600 baud 8N1 (about 1.04 ms per byte)\n"
                "  --link-folder DIR  folder for the link COM<port> (default: a temporary folder)\n"
                "  --port N           port number of the link (default 1)\n"
                "  --quiet            no trace\n"
                "faults, to train an operator or rehearse a service call:\n"
                "  --silent-unit N    unit N never answers (may be given more than once)\n"
                "  --late-unit N:MS   every answer of unit N comes MS milliseconds late\n"
                "  --bad-checksum-every N  every N-th reply goes out with a wrong last byte\n",
                program);
}


// "3:700" -> unit 3, 700 ms.
bool UnitAndMs(const char* text, int& unit, int& ms) {
    const char* colon = std::strchr(text, ':');
    if (!colon)
        return false;
    const std::string unitText(text, colon);
    return tsr::sim::ParseNumber(unitText.c_str(), 1, 255, unit) && tsr::sim::ParseNumber(colon + 1, 0, 600000, ms);
}

} // namespace

int main(int argc, char** argv) {
    tsr::sim::SimOptions options;
    struct UnitFault {
        int unit;
        tsr::sim::Fault fault;
    };
    std::vector<UnitFault> unitFaults;
    options.console.movementMs = 2000;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&](int low, int high, int& value) {
            if (i + 1 >= argc || !tsr::sim::ParseNumber(argv[++i], low, high, value)) {
                std::fprintf(stderr, "%s: bad value for %s\n", argv[0], arg.c_str());
                std::exit(2);
            }
        };
        if (arg == "--units")
            next(1, 255, options.console.units);
        else if (arg == "--keys")
            next(1, 500, options.console.keys);
        else if (arg == "--movement-ms")
            next(0, 600000, options.console.movementMs);
        else if (arg == "--extra-reply-ms")
            next(0, 10000, options.console.extraReplyMs);
        else if (arg == "--port")
            next(1, 255, options.port);
        else if (arg == "--silent-unit") {
            UnitFault f{0, {}};
            next(1, 255, f.unit);
            f.fault.kind = tsr::sim::FaultKind::NoAnswer;
            unitFaults.push_back(f);
        } else if (arg == "--late-unit") {
            UnitFault f{0, {}};
            if (i + 1 >= argc || !UnitAndMs(argv[++i], f.unit, f.fault.delayMs)) {
                std::fprintf(stderr, "%s: bad value for %s (UNIT:MS, e.g. 3:700)\n", argv[0], arg.c_str());
                return 2;
            }
            f.fault.kind = tsr::sim::FaultKind::Delay;
            unitFaults.push_back(f);
        } else if (arg == "--bad-checksum-every")
            next(1, 1000000, options.console.badChecksumEvery);
        else if (arg == "--pacing")
            options.console.pacing = true;
        else if (arg == "--quiet")
            quiet = true;
        else if (arg == "--link-folder" && i + 1 < argc)
            options.linkFolder = argv[++i];
        else if (arg == "--help" || arg == "-h") {
            Usage(argv[0]);
            return 0;
        } else {
            std::fprintf(stderr, "%s: unknown option %s\n", argv[0], arg.c_str());
            Usage(argv[0]);
            return 2;
        }
    }
    if (!quiet)
        options.trace = [](const std::string& line) {
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        };

    // Ctrl-C and SIGTERM are taken by sigwait below; the console's thread
    // inherits the blocked mask and never sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        tsr::sim::SimulatedConsole console(options);
        for (UnitFault& f : unitFaults) {
            f.fault.unit = f.unit;
            // command frames and value frames of that unit, for as long as it runs
            console.AddFault(tsr::sim::kAnyFrame, f.fault, -1);
            std::printf("fault: unit %d %s\n", f.unit,
                        f.fault.kind == tsr::sim::FaultKind::NoAnswer
                            ? "never answers"
                            : ("answers " + std::to_string(f.fault.delayMs) + " ms late").c_str());
        }
        if (options.console.badChecksumEvery > 0)
            std::printf("fault: every %d. reply with a wrong last byte\n", options.console.badChecksumEvery);
        std::printf("press console: %d units, %d keys, %s on %s (link %s)\n", options.console.units,
                    options.console.keys, console.PortName().c_str(), console.DevicePath().c_str(),
                    console.LinkPath().c_str());
        std::printf("TESSARO_SERIAL_DIR=%s finds it; Ctrl-C ends\n", console.LinkFolder().c_str());
        std::fflush(stdout);
        int signal = 0;
        sigwait(&stopSignals, &signal);
        std::printf("press console: stopped (%s)\n", strsignal(signal));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
    return 0;
}
