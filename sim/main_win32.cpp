// tessaro-press-sim.exe: the simulated press console on Windows, serving the
// named pipe that Tessaro opens for its COM port when TESSARO_SERIAL_DIR
// holds the pipe prefix.
#include "pipe_console.h"
#include "sim_options.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

HANDLE g_stop = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD) {
    ::SetEvent(g_stop);
    return TRUE;
}

} // namespace

int main(int argc, char** argv) {
    tsr::sim::SimCommandLine line;
    if (const int exitCode = tsr::sim::ReadSimCommandLine(argc, argv, tsr::sim::LinkKind::NamedPipe, line);
        exitCode >= 0)
        return exitCode;
    tsr::sim::PipeConsole console(line.pipePrefix, line.port, line.console);
    if (!console.ok()) {
        std::fprintf(stderr, "%s: %s is in use\n", argv[0], console.PipeName().c_str());
        return 1;
    }
    tsr::sim::AddUnitFaults(console, line);
    if (!line.quiet)
        console.SetTrace([](const std::string& text) {
            std::printf("%s\n", text.c_str());
            std::fflush(stdout);
        });
    for (const std::string& fault : tsr::sim::DescribeFaults(line))
        std::printf("%s\n", fault.c_str());
    std::printf("press console: %d units, %d keys, COM%d on %s\n", line.console.units, line.console.keys,
                line.port, console.PipeName().c_str());
    std::printf("TESSARO_SERIAL_DIR=%s finds it; Ctrl-C ends\n", line.pipePrefix.c_str());
    std::fflush(stdout);
    g_stop = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    ::WaitForSingleObject(g_stop, INFINITE);
    std::printf("press console: stopped\n");
    return 0;
}
