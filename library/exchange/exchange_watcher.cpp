#include "exchange/exchange_watcher.h"

#include <algorithm>
#include <set>
#include <vector>

#include "config/configuration.h"
#include "exchange/exchange_text.h"
#include "exchange/open_for_writing.h"
#include "log/activity_log.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "presslink/unit_control.h"
#include "presslink/unit_setting.h"
#include "session/event_sink.h"
#include "session/unit_table.h"
#include "tessaro.h"

namespace tsr {

namespace {

constexpr int kLevel = 3;

// The folder part of a lookup pattern, kept with its slash so that "/x" means the root.
std::string FolderOf(const std::string& pattern) {
    std::size_t slash = pattern.rfind('/');
    return slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
}

std::string NameOf(const std::string& pattern) {
    std::size_t slash = pattern.rfind('/');
    return slash == std::string::npos ? pattern : pattern.substr(slash + 1);
}

} // namespace

ExchangeWatcher::ExchangeWatcher(Configuration& config, ActivityLog& log, FileSystem& fs, const Clock& clock,
                                 UnitTable& table, const EventSink& events, PressLock& pressLock,
                                 UnitSetting& setting, UnitControl& control, XmlDefaults& xml)
    : config_(config), log_(log), fs_(fs), clock_(clock), table_(table), events_(events),
      pressLock_(pressLock), setting_(setting), control_(control), files_(fs, clock, log),
      reader_(files_, config, log, table, xml), writer_(reader_, files_, config, log, table, xml) {}

ExchangeWatcher::~ExchangeWatcher() {
    Stop();
}

void ExchangeWatcher::Start() {
    if (thread_.joinable())
        return;
    stop_ = false;
    thread_ = std::thread([this] { Loop(); });
}

void ExchangeWatcher::Stop() {
    stop_ = true;
    notifier_.Wake();
    if (!thread_.joinable())
        return;
    // The host may end the process from inside an event raised on this thread.
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();
    else
        thread_.join();
}

void ExchangeWatcher::SetActive(bool active) {
    active_ = active;
    notifier_.Wake();
}

void ExchangeWatcher::SetPresetPolling(bool on) {
    presetPolling_ = on;
    notifier_.Wake();
}

void ExchangeWatcher::SetLoopPolling(bool on) {
    loopPolling_ = on;
    notifier_.Wake();
}

void ExchangeWatcher::Loop() {
    while (!Stopping()) {
        try {
            RunPass();
        } catch (...) {
            // A request that exhausts memory is met again; the watcher goes on.
        }
        if (Stopping())
            break;
        Pause();
        notifier_.Wait(allWatched_ ? kPeriodMs : kFallbackMs);
    }
}

void ExchangeWatcher::Pause() {
    clock_.SleepMs(kStepPauseMs);
}

void ExchangeWatcher::WatchFolders() {
    std::vector<std::string> folders;
    if (active_) {
        if (presetPolling_) {
            folders.push_back(fs_.Resolve(FolderOf(config_.PathPresetRCV() + "//job.xml")));
            folders.push_back(fs_.Resolve(FolderOf(config_.PathCommands() + "/Synchronize.xml")));
        }
        if (loopPolling_) {
            folders.push_back(fs_.Resolve(FolderOf(config_.PathLoopScanRCV() + "/*.TVF")));
            folders.push_back(fs_.Resolve(FolderOf(config_.PathLoopKeysRCV() + "/NewInkKeys.xml")));
            folders.push_back(fs_.Resolve(FolderOf(config_.PathCommands() + "/Synchronize.xml")));
        }
    }
    allWatched_ = notifier_.WatchOnly(folders);
}

void ExchangeWatcher::RunPass() {
    WatchFolders();
    if (active_) {
        if (presetPolling_ && !Stopping())
            PresetHalf();
        if (loopPolling_ && !Stopping())
            LoopHalf();
    }
    ++passes_;
}

ExchangeWatcher::Found ExchangeWatcher::FindFile(const std::string& pattern) const {
    for (const DirEntry& entry : fs_.List(FolderOf(pattern), NameOf(pattern)))
        if (!entry.isFolder)
            return Found{entry.name, entry.lastWrite};
    return Found{};
}

void ExchangeWatcher::PresetHalf() {
    const std::string folder = config_.PathPresetRCV();
    Found job = FindFile(folder + "//job.xml");
    if (!job.name.empty())
        HandleJob(folder + "/" + job.name);
    jobTime_ = job.time;
    Pause();
    if (Stopping())
        return;
    SynchronisationCheck();
    Pause();
}

void ExchangeWatcher::LoopHalf() {
    const std::string scanIn = config_.PathLoopScanRCV();
    Found scan = FindFile(scanIn + "/*.TVF");
    if (!scan.name.empty())
        files_.ReleaseRequestFile(scanIn + "/" + scan.name, config_.PathLoopScanSND() + "/" + scan.name);
    Pause();
    if (Stopping())
        return;
    const std::string keysIn = config_.PathLoopKeysRCV();
    Found keys = FindFile(keysIn + "/NewInkKeys.xml");
    if (!keys.name.empty())
        HandleNewInkKeys(keysIn + "/" + keys.name);
    Pause();
    if (Stopping())
        return;
    SynchronisationCheck();
    Pause();
    if (Stopping())
        return;
    ScanCheck();
}

bool ExchangeWatcher::TooCloseToJob(std::time_t t) const {
    return t < jobTime_ || (t > jobTime_ && t - jobTime_ < kJobQuietSeconds);
}

void ExchangeWatcher::SynchronisationCheck() {
    const std::string folder = config_.PathCommands();
    Found sync = FindFile(folder + "/Synchronize.xml");
    const std::time_t t = sync.time;
    if (!sync.name.empty() && t != 0) {
        const std::string path = folder + "/" + sync.name;
        if (TooCloseToJob(t))
            files_.DeleteRequestFile(path);
        else if (t != lastSyncTime_)
            HandleSynchronize(path);
        else if (clock_.Now() - t > kSyncRepeatSeconds)
            HandleSynchronize(path); // the same file could not be deleted: ask the press again
    }
    lastSyncTime_ = t;
}

void ExchangeWatcher::ScanCheck() {
    const std::string folder = config_.PathLoopScanRCV();
    Found scan = FindFile(folder + "/Scan.xml");
    const std::time_t t = scan.time;
    if (!scan.name.empty() && t != 0 && t != lastScanTime_) {
        const std::string path = folder + "/" + scan.name;
        if (TooCloseToJob(t))
            files_.DeleteRequestFile(path);
        else
            HandleScan(path);
    }
    lastScanTime_ = t;
}

std::string ExchangeWatcher::TimeStamp() const {
    std::tm local = clock_.LocalTime(clock_.Now());
    char text[64];
    std::size_t n = std::strftime(text, sizeof text, "%Y%m%d_%H:%M:%S", &local);
    return std::string(text, n);
}

void ExchangeWatcher::HandleJob(const std::string& path) {
    // Either file still being written: both are found again at the next pass.
    const std::string cyclePath = DuctorCyclePath(path);
    if (HeldOpenForWriting(fs_.Resolve(path)) || HeldOpenForWriting(fs_.Resolve(cyclePath)))
        return;
    files_.BackupExchangeFile(TimeStamp() + "job.xml", path, true);
    PressGuard press(pressLock_);
    if (config_.PresetActive() && reader_.ReadInkZoneProfile(path)) {
        files_.DeleteRequestFile(path);
        reader_.ReadDuctorCycleProfile(cyclePath);
        // Deleted before the transfer: a cycle file for the next job, dropped
        // while this one is on its way to the press, stays for that job.
        files_.DeleteRequestFile(cyclePath);
        WriteData();
    } else {
        files_.DeleteRequestFile(path);
        // The companion goes with its job: left behind, it would give its
        // cycles to the next job that comes without one.
        files_.DeleteRequestFile(cyclePath);
    }
}

void ExchangeWatcher::HandleNewInkKeys(const std::string& path) {
    // Still being written: found again at the next pass, then backed up whole.
    if (HeldOpenForWriting(fs_.Resolve(path)))
        return;
    files_.BackupExchangeFile(TimeStamp() + "newInkKeys.xml", path, false);
    const std::string status = config_.PathCommands() + "/" + "statusTessaro.xml";
    PressGuard press(pressLock_);
    if (reader_.ReadInkZoneProfile(path)) {
        files_.DeleteRequestFile(path);
        const int result = WriteData();
        files_.WriteStatusMessage(status, result == 0);
    } else {
        files_.WriteStatusMessage(status, false);
        files_.DeleteRequestFile(path);
    }
}

void ExchangeWatcher::HandleSynchronize(const std::string& path) {
    files_.BackupExchangeFile(TimeStamp() + "Synch.xml", path, false);
    files_.DeleteRequestFile(path);
    PressGuard press(pressLock_);
    setting_.ReadBack();
    log_.WriteText("read file success", kLevel);
    writer_.WriteInkKeys();
}

void ExchangeWatcher::HandleScan(const std::string& path) {
    files_.BackupExchangeFile(TimeStamp() + "Scan.xml", path, false);
    {
        PressGuard press(pressLock_);
        setting_.ReadBack();
        log_.WriteText("read file success", kLevel);
        writer_.WriteInkKeys();
    }
    files_.ReleaseRequestFile(path, config_.PathLoopScanSND() + "/Scan.xml");
}

int ExchangeWatcher::WriteData() {
    PressGuard press(pressLock_);
    log_.WriteText("WriteData", kLevel);
    const int keys = std::clamp(config_.KeysNumber(), 0, kMaxKeys);
    const int units = std::clamp(config_.UnitNumber(), 0, kMaxUnits);
    int result = 0;
    auto count = [&result](int r) {
        if (result == 0)
            result = r;
    };
    for (int u = 1; u <= units; ++u) {
        const UnitRecord row = table_.Get(u - 1);
        const bool send = row.present && row.transfer && row.updateUnit;
        if (Stopping()) {
            // the library is going away: a unit left unsent fails the transfer
            if (send)
                count(TSR_NO_REPLY);
            continue;
        }
        if (!send) {
            log_.WriteText("tF", kLevel);
            continue;
        }
        log_.WriteText("tA", kLevel);
        events_.Emit(u, TSR_EVENT_START, TSR_KIND_KEYS);
        int r = setting_.SetNewKeyAbsolute(u, row.keys.data(), keys);
        if (r == 0)
            events_.Emit(u, TSR_EVENT_DONE, TSR_KIND_KEYS);
        count(r);

        events_.Emit(u, TSR_EVENT_START, TSR_KIND_DUCTOR);
        r = setting_.SetNewDuctorAbsolute(u, DuctorToPercent(row.ductor));
        if (r == 0)
            events_.Emit(u, TSR_EVENT_DONE, TSR_KIND_DUCTOR);
        count(r);

        if (config_.DuctorCycle() > 0) {
            events_.Emit(u, TSR_EVENT_START, TSR_KIND_DUCTOR_CYCLE);
            r = setting_.SetNewDuctorCycleAbsolute(u, row.ductorCycle);
            if (r == 0)
                events_.Emit(u, TSR_EVENT_DONE, TSR_KIND_DUCTOR_CYCLE);
            // a cycle the press refuses does not fail the transfer
        }
        count(control_.WorkingPosition(u));
    }
    return result;
}

} // namespace tsr
