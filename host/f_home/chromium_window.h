#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>

// The main window's browser: a Chromium-family browser in app mode (a window
// of its own without tabs or address bar), started maximised with its own
// profile folder.
class ChromiumWindow {
public:
    // $TSR_BROWSER, else on Linux the first of chromium, chromium-browser,
    // google-chrome on the PATH, on Windows Edge, else Chrome, as the
    // registry's App Paths name them.
    static std::optional<std::filesystem::path> FindBrowser();
    // A display the browser can open a window on.
    static bool DisplayAvailable();

    ChromiumWindow(std::filesystem::path browser, std::filesystem::path profileFolder);
    ~ChromiumWindow();
    ChromiumWindow(const ChromiumWindow&) = delete;
    ChromiumWindow& operator=(const ChromiumWindow&) = delete;

    // Opens the window on address. onClosed runs on a thread of its own when
    // the browser ends (the operator closed the window).
    bool Open(const std::string& address, std::function<void()> onClosed, std::string& error);
    // Ends the browser and waits for it.
    void Close();
    // Shows the window restored and in front (a later start asked for it).
    void BringToFront();

private:
    std::filesystem::path browser_;
    std::filesystem::path profile_;
    std::mutex lock_;
    pid_t pid_ = -1;
    bool reaped_ = false;
    std::thread watcher_;
};
