#include "page_session.h"

#include <cstdlib>
#include <future>

#include "app/app.h"
#include "app/host_object.h"

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using json = nlohmann::json;

namespace {

constexpr std::size_t kReports = 10;
constexpr auto kHostAnswer = std::chrono::seconds(120);
// After the script: the host's work has run out once it makes no page call for this long.
constexpr auto kQuietEnd = std::chrono::seconds(3);
constexpr auto kDrainLimit = std::chrono::seconds(120);

} // namespace

PageSession::PageSession(Options options, std::shared_mutex& quiet)
    : options_(std::move(options)), quiet_(quiet), check_(options_.units, options_.keys),
      random_(options_.seed), percent_(static_cast<std::size_t>(options_.units) + 1, 0) {}

PageSession::~PageSession() {
    Close();
}

PageSession::Stats PageSession::stats() const {
    std::lock_guard lock(statsLock_);
    return stats_;
}

std::vector<std::string> PageSession::Reports() const {
    std::lock_guard lock(statsLock_);
    return reports_;
}

void PageSession::Report(const std::string& text) {
    std::lock_guard lock(statsLock_);
    if (reports_.size() < kReports)
        reports_.push_back(text.size() > 300 ? text.substr(0, 300) + "..." : text);
}

// The host program's main thread: the loop that every page call and every
// completion of a press operation runs on.
void PageSession::UiThread() {
    UiLoop ui;
    HostPaths paths;
    paths.programFolder = options_.programFolder;
    paths.storageOverride = options_.storage;
    TApp app(ui, paths);
    app.internalBrowser = &browser_; // the page has loaded
    HostObject host(app);
    {
        std::lock_guard lock(uiLock_);
        ui_ = &ui;
        host_ = &host;
    }
    uiReady_.notify_all();
    ui.Run();
    std::lock_guard lock(uiLock_);
    ui_ = nullptr;
    host_ = nullptr;
    uiDone_ = true;
}

std::optional<json> PageSession::Host(Access access, const std::string& name, json args) {
    auto promise = std::make_shared<std::promise<ScriptObject::Reply>>();
    auto answer = promise->get_future();
    {
        std::lock_guard lock(uiLock_);
        if (ui_ == nullptr || host_ == nullptr)
            return std::nullopt;
        HostObject* host = host_;
        const bool posted = ui_->Post([promise, host, access, name, args = std::move(args)] {
            try {
                promise->set_value(host->Invoke(access, name, args));
            } catch (...) {
                promise->set_exception(std::current_exception());
            }
        });
        if (!posted)
            return std::nullopt;
    }
    {
        std::lock_guard lock(statsLock_);
        ++stats_.hostCalls;
    }
    if (answer.wait_for(kHostAnswer) != std::future_status::ready) {
        {
            std::lock_guard lock(statsLock_);
            ++stats_.stalled;
        }
        Report("the host did not answer " + name + " within two minutes");
        return std::nullopt;
    }
    try {
        const ScriptObject::Reply reply = answer.get();
        if (reply.refused) {
            {
                std::lock_guard lock(statsLock_);
                ++stats_.refused;
            }
            Report("the host refused " + name);
            return std::nullopt;
        }
        return reply.value ? reply.value : json();
    } catch (const std::future_error&) {
        return std::nullopt; // the loop ended before the call ran
    } catch (const std::exception& error) {
        {
            std::lock_guard lock(statsLock_);
            ++stats_.unexpectedErrors;
        }
        Report("the host call " + name + " failed: " + error.what());
        return std::nullopt;
    }
}

void PageSession::Open() {
    uiThread_ = std::thread([this] { UiThread(); });
    {
        std::unique_lock lock(uiLock_);
        uiReady_.wait(lock, [this] { return ui_ != nullptr || uiDone_; });
    }
    StartPage();
    nextReload_ = Clock::now() + options_.reloadEvery;
}

// What the page does when it has loaded: the host's start, then its answers.
void PageSession::StartPage() {
    refreshed_ = false;
    {
        // The start empties the incoming exchange folders: never while a request lies there.
        std::unique_lock quiet(quiet_);
        if (options_.note)
            options_.note("page start");
        CallHost("startApp", json::array());
        if (options_.note)
            options_.note("page started");
    }
    const auto open = Host(Access::Get, "isSerialOpen", json::array());
    if (open && *open != json(true)) {
        std::lock_guard lock(statsLock_);
        ++stats_.portClosed;
    }
    TakePageCalls();
}

void PageSession::StartScript() {
    scripting_ = true;
    script_ = std::thread([this] { Script(); });
}

void PageSession::Close() {
    scripting_ = false;
    if (script_.joinable())
        script_.join();
    if (!uiThread_.joinable())
        return;
    // The press operations already started run out and their answers come in.
    const auto end = Clock::now() + kDrainLimit;
    auto lastCall = Clock::now();
    while (Clock::now() < end && Clock::now() - lastCall < kQuietEnd) {
        if (TakePageCalls() > 0)
            lastCall = Clock::now();
        std::this_thread::sleep_for(milliseconds(100));
    }
    ReadMessages();
    {
        std::lock_guard lock(uiLock_);
        if (ui_ != nullptr)
            ui_->Quit();
    }
    uiThread_.join();
    TakePageCalls();
}

void PageSession::Script() {
    auto nextAction = Clock::now();
    while (scripting_) {
        TakePageCalls();
        if (Clock::now() >= nextAction) {
            Act();
            nextAction = Clock::now() + milliseconds(std::uniform_int_distribution<>(300, 1500)(random_));
        }
        std::this_thread::sleep_for(milliseconds(50));
    }
}

int PageSession::TakePageCalls() {
    const std::vector<std::string> calls = browser_.TakeCalls();
    bool readMessages = false;
    for (const std::string& code : calls) {
        {
            std::lock_guard lock(statsLock_);
            ++stats_.pageCalls;
        }
        const auto call = PageCallCheck::Parse(code);
        const std::string why = call ? check_.Judge(*call) : std::string("no page call");
        if (!why.empty()) {
            {
                std::lock_guard lock(statsLock_);
                ++stats_.badPageCalls;
            }
            Report(why + ": " + code);
            continue;
        }
        for (const std::string& sign : awaited_) {
            if (code.rfind(sign, 0) == 0) {
                awaited_.clear();
                break;
            }
        }
        const std::string& name = call->name;
        const auto unit = [&call](std::size_t i) { return std::atoi(call->args[i].c_str()); };
        if (name == "setUnitProgress") {
            std::lock_guard lock(statsLock_);
            ++stats_.progressCalls;
            if (call->args.size() > 1 && unit(1) == 3)
                ++stats_.givenUpProgressCalls;
        } else if (name == "showPendingErrors") {
            readMessages = true;
        } else if (name == "okDuctorValue") {
            CallHost("GetDuctor", json::array({unit(0)}));
        } else if (name == "okDuctorCycle") {
            CallHost("GetDuctorCycle", json::array({unit(0)}));
        } else if (name == "resetKey") {
            int& percent = percent_[static_cast<std::size_t>(unit(0))];
            if (percent != 0) {
                percent = 0;
                CallHost("setKeysPercentage", json::array({unit(0), 0}));
            }
        } else if (name == "loadUnits") {
            // The page takes over the selection the host holds and starts with no pending key changes.
            const auto held = Host(Access::Get, "selectedUnits", json::array());
            selection_.clear();
            if (held && held->is_string())
                for (int u : PageCallCheck::SplitUnits(held->get<std::string>()))
                    if (u >= 1 && u <= options_.units)
                        selection_.push_back(u);
            Host(Access::Set, "selectedUnits", json::array({PageCallCheck::JoinUnits(selection_)}));
            CallHost("setKeysMode", json::array({0}));
            for (int u = 1; u <= options_.units; ++u) {
                CallHost("setKeys", json::array({u, 0}));
                CallHost("setKeysPercentage", json::array({u, 0}));
                percent_[static_cast<std::size_t>(u)] = 0;
            }
            if (!refreshed_) {
                refreshed_ = true;
                CallHost("LoadInitialState", json::array());
            }
        }
    }
    if (readMessages)
        ReadMessages();
    return static_cast<int>(calls.size());
}

void PageSession::ReadMessages() {
    const auto text = Host(Access::Get, "errors", json::array());
    if (!text || !text->is_string())
        return;
    for (const std::string& message : PageCallCheck::SplitPending(text->get<std::string>())) {
        const PageCallCheck::Message m = check_.Classify(message);
        std::lock_guard lock(statsLock_);
        ++stats_.messages;
        if (m.kind == PageCallCheck::MessageKind::UnitEvent) {
            ++stats_.unitEvents;
            if (m.unit != 0) {
                ++stats_.unitProgressEvents;
                if (m.code == 3)
                    ++stats_.givenUpEvents;
            }
            if (m.unit == 0 && m.code == 10)
                ++stats_.portClosed;
        }
        if (m.kind == PageCallCheck::MessageKind::UnexpectedError)
            ++stats_.unexpectedErrors;
        else if (!m.sane)
            ++stats_.badMessages;
        else
            continue;
        if (reports_.size() < kReports)
            reports_.push_back("message: " + message);
    }
}

bool PageSession::Busy() {
    if (awaited_.empty())
        return false;
    if (Clock::now() < awaitedUntil_)
        return true;
    {
        std::lock_guard lock(statsLock_);
        ++stats_.unstarted;
    }
    Report("no start of the press operation within " + std::to_string(kStartWait.count()) + " s (" +
           awaited_.front() + ")");
    awaited_.clear();
    return false;
}

void PageSession::Started(const std::string& sign) {
    awaited_ = {sign};
    awaitedUntil_ = Clock::now() + kStartWait;
}

std::vector<int> PageSession::SelectedUnits() {
    if (selection_.empty()) {
        selection_.push_back(std::uniform_int_distribution<>(1, options_.units)(random_));
        Host(Access::Set, "selectedUnits", json::array({PageCallCheck::JoinUnits(selection_)}));
    }
    return selection_;
}

// One step of the operator: a selection, values for the selected units and
// their apply, a command, a copy or swap, a memory save or load, a refresh,
// the messages, a look at the settings; now and then a new start of the page.
void PageSession::Act() {
    auto between = [this](int low, int high) { return std::uniform_int_distribution<>(low, high)(random_); };
    if (options_.reloadEvery.count() > 0 && Clock::now() >= nextReload_) {
        StartPage();
        {
            std::lock_guard lock(statsLock_);
            ++stats_.reloads;
        }
        nextReload_ = Clock::now() + options_.reloadEvery;
        return;
    }
    int pick = between(0, 99);
    const bool press = (pick >= 15 && pick < 85);
    if (press && Busy())
        pick = between(85, 99); // the operator waits for the press; meanwhile something light
    if (pick < 15) {
        selection_.clear();
        for (int u = 1; u <= options_.units; ++u)
            if (between(0, 1) == 1)
                selection_.push_back(u);
        Host(Access::Set, "selectedUnits", json::array({PageCallCheck::JoinUnits(selection_)}));
    } else if (pick < 45) {
        const int kind = pick < 30 ? 0 : pick < 40 ? 1 : 2;
        const int percentMode = between(0, 1);
        if (kind == 1)
            CallHost("setKeysMode", json::array({percentMode}));
        for (int u : SelectedUnits()) {
            if (kind == 0) {
                CallHost("setUnitDuctorValue", json::array({u, between(0, 100)}));
            } else if (kind == 1 && percentMode == 0) {
                CallHost("setKeys", json::array({u, between(1, 20) * (between(0, 1) ? 1 : -1)}));
            } else if (kind == 1) {
                const int percent = between(1, 30) * (between(0, 1) ? 1 : -1);
                percent_[static_cast<std::size_t>(u)] = percent;
                CallHost("setKeysPercentage", json::array({u, percent}));
            } else {
                const int cycles[] = {0, 2, 3};
                CallHost("setUnitDuctorCycle", json::array({u, cycles[between(0, 2)]}));
            }
        }
        CallHost("RunAsyncCommand", json::array({static_cast<int>(tcApplySettings)}));
        // Nothing starts when the press already holds these values.
        awaited_.clear();
    } else if (pick < 60) {
        SelectedUnits();
        CallHost("RunAsyncCommand", json::array({between(tcWorkingPosition, tcInkingUp)}));
        Started("App.startUnits()");
    } else if (pick < 68) {
        const int a = between(1, options_.units);
        int b = between(1, options_.units - 1);
        b += b >= a ? 1 : 0;
        const bool swap = between(0, 1) == 1;
        CallHost(swap ? "SwapUnit" : "CopyUnit", json::array({a, b}));
        Started("App.stopCopyUnit()");
    } else if (pick < 73) {
        const int position = between(0, 3);
        CallHost("saveConfig", json::array({position, "Soak " + std::to_string(position)}));
        Started("App.savingMemory(" + std::to_string(position) + ")");
    } else if (pick < 78) {
        const int position = between(0, 3);
        CallHost("loadConfig", json::array({position}));
        // A stored job goes to the press; an empty position is said at once
        // and shown empty again.
        Started("App.makeDirtyValues()");
        awaited_.push_back("App.emptyMemory(" + std::to_string(position) + ")");
    } else if (pick < 85) {
        CallHost("LoadInitialState", json::array());
        Started("App.setDuctorValue(");
    } else if (pick < 93) {
        ReadMessages();
    } else {
        const auto count = Host(Access::Call, "GetConfig", json::array({"UnitNumber"}));
        if (count && *count != json(std::to_string(options_.units))) {
            {
                std::lock_guard lock(statsLock_);
                ++stats_.badPageCalls;
            }
            Report("GetConfig(\"UnitNumber\") gave " + count->dump());
        }
        Host(Access::Get, "ductorCycleValues", json::array());
        const auto open = Host(Access::Get, "isSerialOpen", json::array());
        if (open && *open != json(true)) {
            std::lock_guard lock(statsLock_);
            ++stats_.portClosed;
        }
    }
}
