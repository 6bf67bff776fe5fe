// Where the browser is and whether it can show a window, on Linux.
#include "f_home/chromium_window.h"

#include <cstdlib>
#include <unistd.h>

std::optional<std::filesystem::path> ChromiumWindow::FindBrowser() {
    if (const char* chosen = std::getenv("TSR_BROWSER"); chosen != nullptr && chosen[0] != '\0')
        return std::filesystem::path(chosen);
    const char* path = std::getenv("PATH");
    const std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    for (const char* name : {"chromium", "chromium-browser", "google-chrome"}) {
        size_t start = 0;
        while (start <= folders.size()) {
            const size_t end = std::min(folders.find(':', start), folders.size());
            const auto candidate = std::filesystem::path(folders.substr(start, end - start)) / name;
            if (end > start && ::access(candidate.c_str(), X_OK) == 0)
                return candidate;
            start = end + 1;
        }
    }
    return std::nullopt;
}

bool ChromiumWindow::DisplayAvailable() {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && value[0] != '\0')
            return true;
    }
    return false;
}
