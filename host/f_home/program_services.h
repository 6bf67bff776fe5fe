#pragma once

#include <filesystem>
#include <memory>

#include "app/ui_loop.h"

// What the program needs of the system around it, one implementation per platform.

// Standard output and error reach whoever started the program: on Windows a
// program without a console window writes to its parent's console, or to the
// file or pipe it was given. First thing in main.
void ConnectStandardStreams();

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
