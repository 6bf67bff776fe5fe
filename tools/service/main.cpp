// tessaro-service: the press console's service tool, over the library's
// exports only. What a technician runs when units stop answering, and what a
// prepress integrator runs to check their files against this press.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.h"
#include "service_session.h"
#include "tessaro.h"
#include "tessarox.h"

namespace {

// Where the host keeps its configuration: $XDG_CONFIG_HOME, else ~/.config.
std::filesystem::path DefaultConfig() {
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::filesystem::path(home) / ".config";
    return base / "Tessaro Control" / "Tessaro.ini";
}

void PrintUsage(std::FILE* to) {
    std::fprintf(to, "usage: tessaro-service [--config FILE] COMMAND [ARGUMENTS]\n"
                     "       tessaro-service COMMAND --help | help COMMAND | --version\n\ncommands:\n");
    for (const Command& c : Commands())
        std::fprintf(to, "  %s\n", c.synopsis);
    std::fprintf(to,
                 "\n--config FILE  the configuration (default: %s); the port is COM1 of it, found as the\n"
                 "               program finds it: $TESSARO_SERIAL_DIR/COM<n>, else ports/COM<n> beside the\n"
                 "               file, else /dev/ttyS<n-1>\n"
                 "exit codes: 0 done, 1 the console did not answer or refused, 2 bad command line or\n"
                 "            configuration, 3 the serial port did not open, 4 the file could not be read\n",
                 DefaultConfig().string().c_str());
}

void PrintCommandHelp(const Command& c) {
    std::printf("usage: tessaro-service [--config FILE] %s\n\n%s\n", c.synopsis, c.help);
}

// What the technician can do about a port that did not open.
const char* PortAdvice(const std::string& failure) {
    if (failure.find("permission denied") != std::string::npos)
        return "the user must be in the dialout group: sudo usermod -aG dialout $USER, then log in again";
    if (failure.find("busy") != std::string::npos)
        return "another program holds the port; close the console program (tessaro) while the service tool runs";
    if (failure.find("no such file") != std::string::npos)
        return "no device there: check COM1 in the configuration, the ports/COM<n> link beside it (for example "
               "to /dev/serial/by-id/...) or TESSARO_SERIAL_DIR, and that the adapter is plugged in";
    return "check the cable, the adapter and COM1 in the configuration";
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::filesystem::path config = DefaultConfig();
    std::size_t at = 0;
    for (; at < args.size(); ++at) {
        const std::string& a = args[at];
        if (a == "--version") {
            std::printf("tessaro-service %s\n", TSR_VERSION_TEXT);
            return kExitOk;
        }
        if (a == "--help" || a == "-h") {
            PrintUsage(stdout);
            return kExitOk;
        }
        if (a == "--config") {
            if (at + 1 >= args.size()) {
                std::fprintf(stderr, "tessaro-service: --config wants a file\n");
                return kExitUsage;
            }
            config = args[++at];
            continue;
        }
        break;
    }
    if (at >= args.size()) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    const std::string name = args[at];
    std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(at) + 1, args.end());
    if (name == "help") {
        const Command* c = rest.empty() ? nullptr : FindCommand(rest[0]);
        if (!c) {
            PrintUsage(rest.empty() ? stdout : stderr);
            return rest.empty() ? kExitOk : kExitUsage;
        }
        PrintCommandHelp(*c);
        return kExitOk;
    }
    const Command* command = FindCommand(name);
    if (!command) {
        std::fprintf(stderr, "tessaro-service: no command %s\n\n", name.c_str());
        PrintUsage(stderr);
        return kExitUsage;
    }
    for (const std::string& a : rest)
        if (a == "--help" || a == "-h") {
            PrintCommandHelp(*command);
            return kExitOk;
        }

    ServiceSession session;
    std::string error;
    if (!session.Start(config, error)) {
        std::fprintf(stderr, "tessaro-service: %s\n", error.c_str());
        return kExitUsage;
    }
    if (command->needsPress && !TSRX_IsPortOpen()) {
        const std::string failure = session.AsTheOriginal(TSRX_GetPortFailure());
        std::fprintf(stderr, "tessaro-service: the serial port did not open: %s\n  %s\n", failure.c_str(),
                     PortAdvice(failure));
        return kExitNoPort;
    }
    return command->run(rest);
}
