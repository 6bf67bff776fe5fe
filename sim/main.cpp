// tessaro-press-sim: the simulated press console as a program, for the demo
// and for service work without a press.
#include "sim_options.h"
#include "simulated_console.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    tsr::sim::SimCommandLine line;
    if (const int exitCode =
            tsr::sim::ReadSimCommandLine(argc, argv, tsr::sim::LinkKind::PseudoTerminal, line);
        exitCode >= 0)
        return exitCode;
    tsr::sim::SimOptions options;
    options.console = line.console;
    options.port = line.port;
    options.linkFolder = line.linkFolder;
    if (!line.quiet)
        options.trace = [](const std::string& text) {
            std::printf("%s\n", text.c_str());
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
        tsr::sim::AddUnitFaults(console, line);
        for (const std::string& fault : tsr::sim::DescribeFaults(line))
            std::printf("%s\n", fault.c_str());
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
