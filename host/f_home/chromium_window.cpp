#include "f_home/chromium_window.h"

#include "app/host_paths.h"
#include "f_home/browser_process.h"
#include "f_home/devtools_client.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr auto kCallWait = std::chrono::seconds(5);
constexpr auto kStartWait = std::chrono::seconds(30); // a cold start on a loaded machine
constexpr auto kEndWait = std::chrono::seconds(5);

// A profile folder of this start alone, beside the usual one.
std::filesystem::path FreshProfile(const std::filesystem::path& usual) {
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const auto candidate =
            usual.parent_path() / (usual.filename().string() + "-" + std::to_string(random() % 1000000000u));
        std::error_code error;
        if (!std::filesystem::exists(candidate, error) && CreatePrivateFolder(candidate))
            return candidate;
    }
    return usual;
}

} // namespace

struct ChromiumWindow::Impl {
    std::filesystem::path browser;
    std::filesystem::path profile;
    std::filesystem::path profileInUse;
    bool freshProfile = false;

    std::unique_ptr<BrowserProcess> process;
    std::unique_ptr<DevToolsClient> devtools;
    std::thread watcher; // starts the session, then waits for the process to end
    std::atomic<bool> closing{false};
    // Held while a later start's bring-to-front drives the browser (on the
    // instance's thread), so that Close does not take the client away under it.
    std::mutex drivingLock;

    std::function<void()> onClosed;
    std::atomic<bool> closedReported{false};

    std::mutex pagesLock;
    std::vector<std::string> pages; // the browser's page targets, oldest first
    bool hadPage = false;

    void ReportClosed() {
        if (!closedReported.exchange(true) && onClosed)
            onClosed();
    }

    // On the DevTools reader thread.
    void OnEvent(const std::string& method, const nlohmann::json& params) {
        bool lastPageGone = false;
        if (method == "Target.targetCreated") {
            const auto& info = params.value("targetInfo", nlohmann::json::object());
            if (info.value("type", "") != "page")
                return;
            std::lock_guard guard(pagesLock);
            const std::string id = info.value("targetId", "");
            if (!id.empty() && std::find(pages.begin(), pages.end(), id) == pages.end())
                pages.push_back(id);
            hadPage = true;
        } else if (method == "Target.targetDestroyed") {
            std::lock_guard guard(pagesLock);
            const auto gone = std::find(pages.begin(), pages.end(), params.value("targetId", ""));
            if (gone == pages.end())
                return;
            pages.erase(gone);
            // The app window, and any window its page opened, are closed: the
            // browser would stay running for the pipe's sake, so the window is gone.
            lastPageGone = hadPage && pages.empty();
        }
        if (lastPageGone)
            ReportClosed();
    }

    std::string FirstPage() {
        std::lock_guard guard(pagesLock);
        return pages.empty() ? std::string() : pages.front();
    }
};

ChromiumWindow::ChromiumWindow(std::filesystem::path browser, std::filesystem::path profileFolder)
    : impl_(std::make_unique<Impl>()) {
    impl_->browser = std::move(browser);
    impl_->profile = std::move(profileFolder);
    impl_->profileInUse = impl_->profile;
}

ChromiumWindow::~ChromiumWindow() {
    Close();
}

std::filesystem::path ChromiumWindow::ProfileInUse() const {
    return impl_->profileInUse;
}

bool ChromiumWindow::Open(const std::string& address, std::function<void()> onClosed, std::string& error) {
    Impl& impl = *impl_;
    if (impl.process) {
        error = "the window is open already";
        return false;
    }
    CreatePrivateFolder(impl.profile); // the browser keeps the page's storage and cookies there
    std::string why;
    if (!BrowserProcess::FreeProfile(impl.profile, why)) {
        impl.profileInUse = FreshProfile(impl.profile);
        impl.freshProfile = impl.profileInUse != impl.profile;
        std::cerr << "tessaro: " << why << "; the window uses the profile folder " << impl.profileInUse.string()
                  << " for this run\n";
    } else if (!why.empty()) {
        std::cerr << "tessaro: " << why << "\n";
    }
    const std::vector<std::string> arguments = {"--app=" + address,
                                                "--user-data-dir=" + impl.profileInUse.string(),
                                                "--start-maximized",
                                                "--no-first-run",
                                                "--no-default-browser-check",
                                                "--disable-translate",
                                                "--disable-features=Translate"};
    impl.process = BrowserProcess::Start(impl.browser, arguments, error);
    if (!impl.process)
        return false;
    impl.onClosed = std::move(onClosed);
    {
        std::lock_guard driving(impl.drivingLock); // a later start may ask for the window already
        impl.devtools = std::make_unique<DevToolsClient>(
            *impl.process,
            [&impl](const std::string& method, const nlohmann::json& params) { impl.OnEvent(method, params); },
            [&impl] { impl.ReportClosed(); });
    }
    impl.watcher = std::thread([&impl] {
        std::string discoverError;
        // The browser announces its pages from now on, those it has already first.
        if (!impl.devtools->Call("Target.setDiscoverTargets", {{"discover", true}}, kStartWait, discoverError) &&
            !impl.closing)
            std::cerr << "tessaro: the browser window is not driven: " << discoverError << "\n";
        while (!impl.closing && !impl.process->WaitForEnd(std::chrono::milliseconds(200))) {
        }
        if (!impl.closing)
            impl.ReportClosed();
    });
    return true;
}

bool ChromiumWindow::BringToFront(std::string& error) {
    Impl& impl = *impl_;
    std::lock_guard driving(impl.drivingLock);
    if (!impl.devtools || impl.closing) {
        error = "the window is not open";
        return false;
    }
    std::string target = impl.FirstPage();
    if (target.empty()) {
        error = "the browser shows no page";
        return false;
    }
    const auto window = impl.devtools->Call("Browser.getWindowForTarget", {{"targetId", target}}, kCallWait, error);
    if (!window)
        return false;
    const auto windowId = window->find("windowId");
    if (windowId == window->end() || !windowId->is_number_integer()) {
        error = "Browser.getWindowForTarget: no window";
        return false;
    }
    const std::string state = window->value("/bounds/windowState"_json_pointer, "");
    // "normal" restores a minimised window to what it was before (maximised as it started).
    if (state == "minimized" &&
        !impl.devtools->Call("Browser.setWindowBounds",
                             {{"windowId", *windowId}, {"bounds", {{"windowState", "normal"}}}}, kCallWait, error))
        return false;
    if (impl.process)
        impl.process->AllowForeground();
    return impl.devtools->Call("Target.activateTarget", {{"targetId", target}}, kCallWait, error).has_value();
}

void ChromiumWindow::Close() {
    Impl& impl = *impl_;
    if (!impl.process)
        return;
    impl.closing = true;
    impl.closedReported = true; // the host is ending the window: no "closed" for it
    std::string ignored;
    if (impl.devtools && !impl.devtools->Ended())
        impl.devtools->Call("Browser.close", nlohmann::json::object(), kCallWait, ignored);
    if (!impl.process->WaitForEnd(kEndWait)) {
        impl.process->Terminate();
        if (!impl.process->WaitForEnd(kEndWait))
            impl.process->Kill();
        impl.process->WaitForEnd(kEndWait);
    }
    if (impl.watcher.joinable()) {
        if (impl.watcher.get_id() == std::this_thread::get_id())
            impl.watcher.detach();
        else
            impl.watcher.join();
    }
    {
        std::lock_guard driving(impl.drivingLock); // a bring-to-front under way fails fast now: the pipe has ended
        impl.devtools.reset();
    }
    impl.process.reset();
    if (impl.freshProfile) {
        std::error_code error;
        std::filesystem::remove_all(impl.profileInUse, error);
    }
}
