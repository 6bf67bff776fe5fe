#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/ui_loop.h"

// What the program needs of the system around it, one implementation per platform.

// Standard output and error reach whoever started the program: on Windows a
// program without a console window writes to its parent's console, or to the
// file or pipe it was given. First thing in main.
void ConnectStandardStreams();

// Whether what the program writes to standard output reaches anybody (on
// Windows a start from the desktop has neither console nor file).
bool StandardOutputSeen();
// Tells the operator why the program cannot go on: on standard error, or on
// Windows in a message box when nobody sees standard error.
void TellOperator(const std::string& text);

// The program's arguments in UTF-8, as the host works: on Windows read from
// the wide command line (argv holds them in the ANSI code page, which may
// lack a character of a folder name).
std::vector<std::string> ProgramArguments(int argc, char** argv);

// The operator's or the system's requests to end (Ctrl-C, SIGTERM, SIGHUP on
// Linux; Ctrl-C, closing the console, logging off, shutting down on Windows)
// stop the loop. PrepareAllThreads runs before any thread starts.
class StopRequests {
public:
    static void PrepareAllThreads();
    explicit StopRequests(UiLoop& ui);
    ~StopRequests();
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The user may create files in folder.
bool CanWriteIn(const std::filesystem::path& folder);
