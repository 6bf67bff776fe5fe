// tessaro-press-sim.exe: the simulated press console on Windows, serving the
// named pipe that Tessaro opens for its COM port when TESSARO_SERIAL_DIR
// holds the pipe prefix.
#include "command_line.h"
#include "pipe_console.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

HANDLE g_stop = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD) {
    ::SetEvent(g_stop);
    return TRUE;
}


} // namespace

int main(int argc, char** argv) {
    tsr::sim::ConsoleConfig config;
    config.movementMs = 2000;
    std::string prefix = "\\\\.\\pipe\\tessaro";
    int port = 1;
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
            next(1, 255, config.units);
        else if (arg == "--keys")
            next(1, 500, config.keys);
        else if (arg == "--movement-ms")
            next(0, 600000, config.movementMs);
        else if (arg == "--port")
            next(1, 255, port);
        else if (arg == "--pipe-prefix" && i + 1 < argc)
            prefix = argv[++i];
        else if (arg == "--quiet")
            quiet = true;
        else {
            std::printf("usage: %s [--units N] [--keys N] [--movement-ms N] [--port N] [--pipe-prefix P] [--quiet]\n",
                        argv[0]);
            return arg == "--help" || arg == "-h" ? 0 : 2;
        }
    }
    tsr::sim::PipeConsole console(prefix, port, config);
    if (!console.ok()) {
        std::fprintf(stderr, "%s: %s is in use\n", argv[0], console.PipeName().c_str());
        return 1;
    }
    if (!quiet)
        console.SetTrace([](const std::string& line) {
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        });
    std::printf("press console: %d units, %d keys, COM%d on %s\n", config.units, config.keys, port,
                console.PipeName().c_str());
    std::printf("TESSARO_SERIAL_DIR=%s finds it; Ctrl-C ends\n", prefix.c_str());
    std::fflush(stdout);
    g_stop = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    ::WaitForSingleObject(g_stop, INFINITE);
    std::printf("press console: stopped\n");
    return 0;
}
