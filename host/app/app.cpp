#include "app/app.h"

#include <algorithm>

#include "app/line_status.h"
#include "app/page_calls.h"

namespace {

// The library's callback carries no context, so it reaches the application
// object through this one registration. A callback in flight keeps the object
// alive: the destructor waits for callbacks on other threads to leave.
class EventRoute {
public:
    void Attach(TApp* app) { app_.store(app); }

    void Detach(TApp* app) {
        TApp* expected = app;
        app_.compare_exchange_strong(expected, nullptr);
        while (inFlight_.load() > depth_)
            std::this_thread::yield();
    }

    void Deliver(int32_t unit, int32_t code, int32_t kind) {
        ++inFlight_;
        ++depth_;
        if (TApp* app = app_.load())
            app->HandleUnitEvent(unit, code, kind);
        --depth_;
        --inFlight_;
    }

private:
    std::atomic<TApp*> app_{nullptr};
    std::atomic<int> inFlight_{0};
    static thread_local int depth_;
};

thread_local int EventRoute::depth_ = 0;

thread_local bool tBackgroundReads = false;

EventRoute& Route() {
    static EventRoute route;
    return route;
}

const char* const kStateMembers[] = {"ductor_value", "ductor_cycle", "keys"};

bool NeedsQuotes(const std::string& message) {
    for (unsigned char c : message)
        if (c <= ' ' || c == '"' || c == '|')
            return true;
    return false;
}

} // namespace

std::string JoinPendingMessages(const std::vector<std::string>& messages) {
    if (messages.size() == 1 && messages.front().empty())
        return "\"\"";
    std::string joined;
    for (size_t i = 0; i < messages.size(); ++i) {
        if (i > 0)
            joined += '|';
        const std::string& message = messages[i];
        if (!NeedsQuotes(message)) {
            joined += message;
            continue;
        }
        joined += '"';
        for (char c : message) {
            if (c == '"')
                joined += '"';
            joined += c;
        }
        joined += '"';
    }
    return joined;
}

TApp::TApp(UiLoop& uiLoop, HostPaths hostPaths)
    : ui(uiLoop), paths(std::move(hostPaths)), Fpool(uiLoop, [this](const std::string& what) {
          ReportUnexpectedError(what);
      }) {
    FstateCurrent = nlohmann::json::object();
    for (const char* member : kStateMembers)
        FstateCurrent[member] = nlohmann::json::array();
    Route().Attach(this);
}

TApp::~TApp() {
    Route().Detach(this);
    if (Browser* browser = internalBrowser.load())
        browser->UnbindAll();
}

std::string TApp::GetductorCycleValues() const {
    std::lock_guard lock(FtextLock);
    return FductorCycleValues;
}

void TApp::SetductorCycleValues(const std::string& value) {
    std::lock_guard lock(FtextLock);
    FductorCycleValues = value;
}

std::string TApp::GetselectedUnits() const {
    std::lock_guard lock(FtextLock);
    return FselectedUnits;
}

void TApp::SetselectedUnits(const std::string& value) {
    std::lock_guard lock(FtextLock);
    FselectedUnits = value;
}

std::string TApp::Geterrors() {
    std::vector<std::string> taken;
    {
        std::lock_guard lock(FerrorLock);
        taken.swap(FerrorList);
    }
    return JoinPendingMessages(taken);
}

void TApp::ExecuteJS(const std::string& jsCode) {
    if (Browser* browser = internalBrowser.load())
        browser->ExecuteJS(jsCode);
}

void TApp::ShowError(const std::string& messageText) {
    {
        std::lock_guard lock(FerrorLock);
        FerrorList.push_back(messageText);
    }
    ExecuteJS(page_calls::ShowPendingErrors());
}

std::string TApp::GetConfig(const std::string& paramName) {
    if (paramName == "UnitNumber")
        return std::to_string(TSR_INI_GetUnitsNumber());
    return std::string();
}

nlohmann::json TApp::getLineStatus() {
    return ReadLineStatus(std::min<int32_t>(TSR_INI_GetUnitsNumber(), kUnitSlots - 1));
}

std::string TApp::getVersion() {
    return TSR_VERSION_TEXT;
}

void TApp::setKeys(int32_t unitCode, int32_t keyValue) {
    if (IsUnitSlot(unitCode))
        Fkeys[unitCode] = keyValue;
}

void TApp::setKeysPercentage(int32_t unitCode, int32_t keyValue) {
    if (IsUnitSlot(unitCode))
        FkeysPercentage[unitCode] = keyValue;
}

void TApp::setKeysMode(int32_t isRelative) {
    FKeysIsRelativeOn = (isRelative == 1);
}

void TApp::setUnitDuctorValue(int32_t unitCode, int32_t ductorValue) {
    if (IsUnitSlot(unitCode))
        FductorValues[unitCode] = ductorValue;
}

void TApp::setUnitDuctorCycle(int32_t unitCode, int32_t ductorValue) {
    if (IsUnitSlot(unitCode))
        FductorCycles[unitCode] = ductorValue;
}

void TApp::BindUICommands() {
    Browser* browser = internalBrowser.load();
    if (browser == nullptr)
        return;
    const std::pair<const char*, TCommands> commands[] = {{"set-working", tcWorkingPosition},
                                                          {"set-zero", tcZeroPosition},
                                                          {"ink-up", tcInkingUp},
                                                          {"ductor-apply", tcApplySettings}};
    for (const auto& [id, command] : commands)
        browser->BindClick(id, [this, command = command] { RunAsyncCommand(command); });
    browser->BindClick("production-refresh", [this] { LoadInitialState(); });
}

void TSR_CALL TApp::UnitEventCallback(int32_t unit, int32_t code, int32_t kind) {
    Route().Deliver(unit, code, kind);
}

void TApp::SetBackgroundReads(bool on) {
    tBackgroundReads = on;
}

void TApp::HandleUnitEvent(int32_t unit, int32_t code, int32_t kind) {
    if (tBackgroundReads && (code == TSR_EVENT_START || code == TSR_EVENT_READ))
        return;
    ShowError(page_calls::UnitEventMessage(unit, code, kind));
    if (ui.IsUiThread())
        ui.ProcessPending();
    if (unit == 0) {
        if (code == TSR_EVENT_PORT_CLOSED) {
            FportClosed = true;
            FisSerialOpen = false;
        }
        return;
    }
    ExecuteJS(page_calls::SetUnitProgress(unit, code));
    // A value the library's own threads (the exchange watcher) wrote or gave
    // up on: the press is read so that the page shows what it now holds.
    const bool transferEnd = code == TSR_EVENT_DONE || code == TSR_EVENT_RETRY3;
    if (transferEnd && kind >= TSR_KIND_KEYS && kind <= TSR_KIND_DUCTOR_CYCLE && !WorkerPool::OnWorkerThread())
        RequestUnitRead(unit);
    if (code != TSR_EVENT_DONE)
        return;
    switch (kind) {
    case TSR_KIND_KEYS:
        // A unit number the arrays do not hold changes no value.
        if (IsUnitSlot(unit)) {
            Fkeys[unit] = 0;
            SetStateValue("keys", unit, 0);
        }
        ExecuteJS(page_calls::ResetKey(unit));
        break;
    case TSR_KIND_DUCTOR:
        ExecuteJS(page_calls::OkDuctorValue(unit));
        break;
    case TSR_KIND_DUCTOR_CYCLE:
        ExecuteJS(page_calls::OkDuctorCycle(unit));
        break;
    default:
        break;
    }
}

int32_t TApp::StateValue(const char* member, int32_t unit) const {
    if (!IsUnitSlot(unit))
        return 0;
    std::lock_guard lock(FstateLock);
    const auto found = FstateCurrent.find(member);
    if (found == FstateCurrent.end() || !found->is_array() || static_cast<size_t>(unit) >= found->size())
        return 0;
    const auto& element = (*found)[static_cast<size_t>(unit)];
    return element.is_number_integer() ? element.get<int32_t>() : 0;
}

void TApp::SetStateValue(const char* member, int32_t unit, int32_t value) {
    if (!IsUnitSlot(unit))
        return;
    std::lock_guard lock(FstateLock);
    auto& array = FstateCurrent[member];
    if (!array.is_array())
        array = nlohmann::json::array();
    while (array.size() <= static_cast<size_t>(unit))
        array.push_back(0);
    array[static_cast<size_t>(unit)] = value;
}

nlohmann::json TApp::StateSnapshot() const {
    std::lock_guard lock(FstateLock);
    return FstateCurrent;
}
