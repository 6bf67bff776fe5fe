#pragma once
#include <string>
#include <vector>

// Exit codes of tessaro-service.
enum ExitCode {
    kExitOk = 0,
    kExitPressFailed = 1, // the console did not answer or refused
    kExitUsage = 2,       // bad command line or configuration
    kExitNoPort = 3,      // the serial port did not open
    kExitFile = 4,        // a file to look at could not be read
};

// One command of the tool: its words, what it needs and what it does.
struct Command {
    const char* name;
    const char* synopsis;
    const char* help;
    bool needsPress; // false: runs without the serial port (a dry run)
    int (*run)(const std::vector<std::string>& args);
};

const std::vector<Command>& Commands();
const Command* FindCommand(const std::string& name);
