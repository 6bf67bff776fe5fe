#include "sim_options.h"

#include "command_line.h"

#include <cstdio>

namespace tsr::sim {

namespace {

// "3:700" -> unit 3, 700 ms.
bool UnitAndMs(const std::string& text, int& unit, int& ms) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    return ParseNumber(text.substr(0, colon).c_str(), 1, 255, unit) &&
           ParseNumber(text.c_str() + colon + 1, 0, 600000, ms);
}

} // namespace

std::string ParseSimCommandLine(const std::vector<std::string>& args, LinkKind link, SimCommandLine& line) {
    const bool pipe = link == LinkKind::NamedPipe;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        // The option's value as a number from low to high.
        auto number = [&](int low, int high, int& value) -> std::string {
            if (!hasValue || !ParseNumber(args[++i].c_str(), low, high, value))
                return "bad value for " + arg + " (a whole number from " + std::to_string(low) + " to " +
                       std::to_string(high) + ")";
            return std::string();
        };
        std::string error;
        if (arg == "--units")
            error = number(1, 255, line.console.units);
        else if (arg == "--keys")
            error = number(1, 500, line.console.keys);
        else if (arg == "--movement-ms")
            error = number(0, 600000, line.console.movementMs);
        else if (arg == "--extra-reply-ms")
            error = number(0, 10000, line.console.extraReplyMs);
        else if (arg == "--port")
            error = number(1, 255, line.port);
        else if (arg == "--bad-checksum-every")
            error = number(1, 1000000, line.console.badChecksumEvery);
        else if (arg == "--silent-unit") {
            UnitFaultOption f;
            error = number(1, 255, f.unit);
            f.fault.kind = FaultKind::NoAnswer;
            f.fault.unit = f.unit;
            line.faults.push_back(f);
        } else if (arg == "--late-unit") {
            UnitFaultOption f;
            if (!hasValue || !UnitAndMs(args[++i], f.unit, f.fault.delayMs))
                error = "bad value for --late-unit (UNIT:MS, e.g. 3:700)";
            f.fault.kind = FaultKind::Delay;
            f.fault.unit = f.unit;
            line.faults.push_back(f);
        } else if (arg == "--pacing")
            line.console.pacing = true;
        else if (arg == "--quiet")
            line.quiet = true;
        else if (arg == "--help" || arg == "-h")
            line.help = true;
        else if (arg == "--link-folder" || arg == "--pipe-prefix") {
            const bool ours = (arg == "--pipe-prefix") == pipe;
            if (!ours)
                error = arg + " is not for this console: it serves " +
                        (pipe ? "a named pipe (--pipe-prefix)" : "a pseudo-terminal (--link-folder)");
            else if (!hasValue || args[i + 1].empty())
                error = arg + (pipe ? " needs a pipe prefix" : " needs a folder");
            else
                (pipe ? line.pipePrefix : line.linkFolder) = args[++i];
        } else
            error = "unknown option " + arg;
        if (!error.empty())
            return error;
    }
    for (const UnitFaultOption& f : line.faults)
        if (f.unit > line.console.units)
            return "unit " + std::to_string(f.unit) + " of a fault is not on this console: it has " +
                   std::to_string(line.console.units) + " units";
    return std::string();
}

bool IsFaultOption(const std::string& arg) {
    return arg == "--silent-unit" || arg == "--late-unit" || arg == "--bad-checksum-every";
}

int ReadSimCommandLine(int argc, char** argv, LinkKind link, SimCommandLine& line) {
    const std::string error =
        ParseSimCommandLine(std::vector<std::string>(argv + 1, argv + argc), link, line);
    const std::string usage = SimUsage(argv[0], link);
    if (!error.empty()) {
        std::fprintf(stderr, "%s: %s\n%s", argv[0], error.c_str(), usage.c_str());
        return 2;
    }
    if (line.help) {
        std::printf("%s", usage.c_str());
        return 0;
    }
    return -1;
}

std::string SimUsage(const std::string& program, LinkKind link) {
    const bool pipe = link == LinkKind::NamedPipe;
    return "usage: " + program +
           " [options]\n"
           "  --units N          printing units (default 4)\n"
           "  --keys N           ink keys per unit, 1..500 (default 24)\n"
           "  --movement-ms N    time until a position or execute command completes (default 2000)\n"
           "  --extra-reply-ms N time from a commit's answer to the reply after it (default 20)\n"
           "  --pacing           deliver bytes at 9600 baud 8N1 (about 1.04 ms per byte)\n" +
           (pipe ? "  --pipe-prefix P    the pipe is P\\COM<port> (default \\\\.\\pipe\\tessaro)\n"
                 : "  --link-folder DIR  folder for the link COM<port> (default: a temporary folder)\n") +
           "  --port N           port number of the link (default 1)\n"
           "  --quiet            no trace\n"
           "faults, to train an operator or rehearse a service call:\n"
           "  --silent-unit N    unit N never answers (may be given more than once)\n"
           "  --late-unit N:MS   every answer of unit N comes MS milliseconds late (may be given more than "
           "once)\n"
           "  --bad-checksum-every N  every N-th reply goes out with a wrong last byte\n";
}

std::vector<std::string> DescribeFaults(const SimCommandLine& line) {
    std::vector<std::string> lines;
    for (const UnitFaultOption& f : line.faults)
        lines.push_back("fault: unit " + std::to_string(f.unit) + " " +
                        (f.fault.kind == FaultKind::NoAnswer
                             ? std::string("never answers")
                             : "answers " + std::to_string(f.fault.delayMs) + " ms late"));
    if (line.console.badChecksumEvery > 0)
        lines.push_back("fault: every " + std::to_string(line.console.badChecksumEvery) +
                        ". reply with a wrong last byte");
    return lines;
}

} // namespace tsr::sim
