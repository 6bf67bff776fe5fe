#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// The main window's browser: a Chromium-family browser in app mode (a window
// of its own without tabs or address bar), started maximised with its own
// profile folder, and driven over its DevTools protocol on a pipe that only
// this process holds (no port another local user could reach).
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

    // Opens the window on address. onClosed runs once, on a thread of its own,
    // when the operator closed the window (its last page is gone), the pipe
    // ended or the browser ended, whichever comes first.
    bool Open(const std::string& address, std::function<void()> onClosed, std::string& error);
    // Restores the window if it is minimised and brings it to the front; false
    // with the reason when the browser does not do so.
    bool BringToFront(std::string& error);
    // Ends the browser (asked first, then made to) and waits for it.
    void Close();
    // Shows the window restored and in front (a later start asked for it).
    void BringToFront();

    // The profile folder the browser runs with: the given one, or a fresh one
    // when the given one is held by something that is not ours to end.
    std::filesystem::path ProfileInUse() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
