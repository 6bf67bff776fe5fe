#pragma once
#include <string>
#include <vector>

#include "press_console.h"

namespace tsr::sim {

// How the program reaches the library: a pseudo-terminal with a link to it
// (POSIX), or a named pipe (Windows).
enum class LinkKind { PseudoTerminal, NamedPipe };

// One unit's fault from the command line, for as long as the console runs.
struct UnitFaultOption {
    int unit = 0;
    Fault fault;
};

// What tessaro-press-sim was asked for on its command line.
struct SimCommandLine {
    ConsoleConfig console = WithProgramDefaults();
    int port = 1;
    std::string linkFolder; // pseudo-terminal: where COM<port> goes; empty: a temporary folder
    std::string pipePrefix = "\\\\.\\pipe\\tessaro"; // named pipe: the prefix before \COM<port>
    bool quiet = false;
    bool help = false;
    std::vector<UnitFaultOption> faults;

private:
    static ConsoleConfig WithProgramDefaults() {
        ConsoleConfig c;
        c.movementMs = 2000; // a real unit takes about this long; the tests' fixture is quicker
        return c;
    }
};

// Reads the arguments after the program name into line. Returns the empty
// text when they were good, otherwise what was wrong ("bad value for --units").
std::string ParseSimCommandLine(const std::vector<std::string>& args, LinkKind link, SimCommandLine& line);

// The start of both programs: reads argv into line, prints the usage for
// --help and what was wrong (with the usage) for a bad line. Returns the exit
// code when the program ends there (0 after --help, 2 after a bad line), -1
// when it is to run.
int ReadSimCommandLine(int argc, char** argv, LinkKind link, SimCommandLine& line);

// The options that give the console a fault, each with one value: the host's
// simulated press takes them too.
bool IsFaultOption(const std::string& arg);

// The usage text for --help and after a bad command line.
std::string SimUsage(const std::string& program, LinkKind link);

// One line per fault asked for: "fault: unit 3 never answers".
std::vector<std::string> DescribeFaults(const SimCommandLine& line);

// Gives the console (SimulatedConsole or PipeConsole) the unit faults: every
// frame of that unit, command or value frame, for as long as it runs.
template <typename Console> void AddUnitFaults(Console& console, const SimCommandLine& line) {
    for (const UnitFaultOption& f : line.faults)
        console.AddFault(kAnyFrame, f.fault, -1);
}

} // namespace tsr::sim
