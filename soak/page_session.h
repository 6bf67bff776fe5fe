#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/script_object.h"
#include "app/ui_loop.h"
#include "host/recording_browser.h"
#include "page_call_check.h"

class HostObject;

// A scripted operator's page against the host's application object: the
// host's user-interface loop on a thread of its own, the page's calls through
// the host object (the entry the page's bridge uses), and the page's answers
// to the host's page calls as the real page gives them (pending messages read,
// ductor values read again, keys cleared on loading the units). Every page
// call the host makes is judged as the page would take it.
class PageSession {
public:
    struct Options {
        std::filesystem::path programFolder; // the page's folder htmlapp/ lies here
        std::filesystem::path storage;       // the host's files, Tessaro.ini among them
        int units = 4;
        int keys = 24;
        unsigned seed = 1;
        // A new start of the page (startApp) about this often; 0: only the first.
        std::chrono::seconds reloadEvery{90};
        // Hears of each start of the page, when set.
        std::function<void(const std::string&)> note;
    };

    struct Stats {
        long hostCalls = 0; // accesses of the host object
        long refused = 0;   // accesses the host object refused
        long stalled = 0;   // accesses the user-interface thread did not answer in time
        long pageCalls = 0; // page calls the host made
        long badPageCalls = 0;
        long progressCalls = 0;      // App.setUnitProgress
        long messages = 0;           // pending messages read
        long unitEvents = 0;         // of them, library events
        long unitProgressEvents = 0; // events of units other than 0 (each has its App.setUnitProgress)
        // Of those, the ones with code 3 (given up): the host also shows a unit
        // as given up when its operation failed without a further event.
        long givenUpProgressCalls = 0;
        long givenUpEvents = 0;
        long badMessages = 0;
        long unexpectedErrors = 0; // the host's error reports
        long portClosed = 0;
        long reloads = 0;
        long unstarted = 0; // press operations that showed no start within kStartWait
    };

    PageSession(Options options, std::shared_mutex& quiet);
    ~PageSession();
    PageSession(const PageSession&) = delete;
    PageSession& operator=(const PageSession&) = delete;

    // Starts the host's loop and opens the page (startApp); returns once the
    // start has run.
    void Open();
    // Runs the operator's script on a thread of its own until Close.
    void StartScript();
    // Ends the script, lets the host's work run out (until its page calls stop),
    // reads the last messages and ends the host's loop.
    void Close();

    Stats stats() const;
    // The first page calls and messages the page could not take, with why.
    std::vector<std::string> Reports() const;

    static constexpr std::chrono::seconds kStartWait{45};

private:
    using Access = ScriptObject::Access;
    void UiThread();
    std::optional<nlohmann::json> Host(Access access, const std::string& name, nlohmann::json args);
    void CallHost(const std::string& name, nlohmann::json args) { Host(Access::Call, name, std::move(args)); }
    void StartPage();
    // Takes the host's page calls, judges them and answers as the page does;
    // returns how many there were.
    int TakePageCalls();
    void ReadMessages();
    void Script();
    void Act();
    // A press operation: no other is started until it has shown its start.
    bool Busy();
    void Started(const std::string& sign);
    void Report(const std::string& text);
    std::vector<int> SelectedUnits();

    const Options options_;
    std::shared_mutex& quiet_;
    const PageCallCheck check_;
    RecordingBrowser browser_;
    std::mt19937 random_;

    std::mutex uiLock_;
    std::condition_variable uiReady_;
    UiLoop* ui_ = nullptr;       // guarded by uiLock_
    HostObject* host_ = nullptr; // guarded by uiLock_
    bool uiDone_ = false;
    std::thread uiThread_;

    std::atomic<bool> scripting_{false};
    std::thread script_;

    // The page's own view, on the script's thread.
    std::vector<int> selection_;
    std::vector<int> percent_; // per unit, 1-based
    bool refreshed_ = false;
    std::vector<std::string> awaited_; // the start signs of the last press operation (any one will do)
    std::chrono::steady_clock::time_point awaitedUntil_{};
    std::chrono::steady_clock::time_point nextReload_{};

    mutable std::mutex statsLock_;
    Stats stats_;
    std::vector<std::string> reports_;
};
