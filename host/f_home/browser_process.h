#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "f_home/devtools_client.h"

// The browser as a process of ours with its DevTools pipe: commands go to the
// browser, replies and events come back on the same stream. One
// implementation per platform (browser_process_<platform>.cpp).
class BrowserProcess : public ByteStream {
public:
    // Starts program with arguments (the pipe's own switch is added here);
    // nullptr with the reason when it cannot start.
    static std::unique_ptr<BrowserProcess> Start(const std::filesystem::path& program,
                                                 const std::vector<std::string>& arguments, std::string& error);

    // Before a start: a browser left running by a host that is gone and still
    // holding profile (its lock) is ended when it is ours (this user's, this
    // profile's); true when the profile is free now. False with the reason
    // when something else holds it.
    static bool FreeProfile(const std::filesystem::path& profile, std::string& why);

    // Waits up to wait for the process to end; true when it has ended.
    virtual bool WaitForEnd(std::chrono::milliseconds wait) = 0;
    // Asks the process to end (a signal it may act on), then makes it.
    virtual void Terminate() = 0;
    virtual void Kill() = 0;
};
