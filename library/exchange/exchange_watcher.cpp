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

// The name a request's backup carries: the handlers' role names for the
// request files, the file's own name for any other.
std::string RoleName(const std::string& fileName) {
    static const char* const kRoles[][2] = {{"job.xml", "job.xml"},
                                           {"NewInkKeys.xml", "newInkKeys.xml"},
                                           {"Synchronize.xml", "Synch.xml"},
                                           {"Scan.xml", "Scan.xml"}};
    for (const auto& role : kRoles)
        if (EqualsIgnoringCase(fileName, role[0]))
            return role[1];
    return fileName;
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
    const bool watched = notifier_.WatchOnly(folders);
    polledFolders_.clear();
    const bool pollAll = config_.PollFolders();
    for (const std::string& folder : folders)
        if (pollAll || FolderNotifier::OnNetworkShare(folder))
            polledFolders_.insert(folder);
    allWatched_ = watched && polledFolders_.empty();
}

bool ExchangeWatcher::Settled(const std::string& folder, const Found& found) {
    if (found.name.empty() || polledFolders_.count(fs_.Resolve(folder + "/")) == 0)
        return true;
    const std::string path = fs_.Resolve(folder + "/" + found.name);
    const std::int64_t now = clock_.MonotonicMs();
    if (settling_.size() > 64) // names of files that went away unsettled
        settling_.clear();
    auto [it, fresh] = settling_.try_emplace(path, Settling{found.size, found.time, now});
    if (!fresh && (it->second.size != found.size || it->second.time != found.time))
        it->second = Settling{found.size, found.time, now};
    if (now - it->second.sinceMs < kSettleMs)
        return false;
    settling_.erase(it);
    return true;
}

bool ExchangeWatcher::Settled(const std::string& path) {
    return Settled(FolderOf(path), FindFile(path));
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
            return Found{entry.name, entry.lastWrite, entry.size};
    return Found{};
}

void ExchangeWatcher::PresetHalf() {
    const std::string folder = config_.PathPresetRCV();
    Found job = FindFile(folder + "//job.xml");
    if (!job.name.empty()) {
        HandleJob(folder + "/" + job.name, Settled(folder, job));
    } else {
        ForgetJob();
        DropLateCompanion();
    }
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
    if (!scan.name.empty() && Settled(scanIn, scan))
        files_.ReleaseRequestFile(scanIn + "/" + scan.name, config_.PathLoopScanSND() + "/" + scan.name);
    Pause();
    if (Stopping())
        return;
    const std::string keysIn = config_.PathLoopKeysRCV();
    Found keys = FindFile(keysIn + "/NewInkKeys.xml");
    if (!keys.name.empty() && Settled(keysIn, keys))
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
    if (!Settled(folder, sync))
        return; // looked at again, as new, once it has settled
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
    if (!Settled(folder, scan))
        return;
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
    std::size_t n = std::strftime(text, sizeof text, "%Y%m%d_%H%M%S", &local);
    return std::string(text, n);
}

bool ExchangeWatcher::JobReady(const std::string& path, const std::string& cyclePath, bool jobSettled) {
    const std::int64_t now = clock_.MonotonicMs();
    if (!jobSeenMs_)
        jobSeenMs_ = now;
    // The job itself still being written: found again at the next pass.
    if (!jobSettled || HeldOpenForWriting(fs_.Resolve(path))) {
        if (!jobWaitLogged_)
            log_.WriteText("job.xml still being written, waiting", kLevel);
        jobWaitLogged_ = true;
        return false;
    }
    const bool cycleSettled = Settled(cyclePath); // asked at every pass, so that it can settle
    if (cycleSettled && !HeldOpenForWriting(fs_.Resolve(cyclePath))) {
        lateCompanion_.clear(); // a companion there now goes with this job
        return true;
    }
    // One handle left open on the companion must not stop every preset.
    if (now - *jobSeenMs_ < kCompanionWaitMs) {
        if (!companionWaitLogged_)
            log_.WriteText("job_DC.xml still being written, job waits up to 2 s", kLevel);
        companionWaitLogged_ = true;
        return false;
    }
    log_.WriteText("job_DC.xml still being written after 2 s, job applied without its cycles", kLevel);
    lateCompanion_ = cyclePath;
    return true;
}

void ExchangeWatcher::DropLateCompanion() {
    if (lateCompanion_.empty())
        return;
    const Found found = FindFile(lateCompanion_);
    if (found.name.empty()) {
        lateCompanion_.clear();
        return;
    }
    // Its job went without it; left behind, it would give its cycles to the
    // next job that comes without a companion of its own.
    if (HeldOpenForWriting(fs_.Resolve(lateCompanion_)) || !Settled(lateCompanion_))
        return;
    const std::string backup = files_.BackupExchangeFile(TimeStamp() + "job_DC.xml", lateCompanion_, false);
    files_.DeleteRequestFile(lateCompanion_);
    log_.WriteText("job_DC.xml finished after its job, dropped, backup " +
                       (backup.empty() ? std::string("none") : EscapeMarkup(backup)),
                   kLevel);
    lateCompanion_.clear();
}

void ExchangeWatcher::ForgetJob() {
    jobSeenMs_.reset();
    jobWaitLogged_ = false;
    companionWaitLogged_ = false;
}

void ExchangeWatcher::HandleJob(const std::string& path, bool settled) {
    const std::string cyclePath = DuctorCyclePath(path);
    if (!JobReady(path, cyclePath, settled))
        return;
    ForgetJob();
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
        files_.WriteStatusMessage(status, result == 0, config_.MeasurementNamespace());
    } else {
        files_.WriteStatusMessage(status, false, config_.MeasurementNamespace());
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

void ExchangeWatcher::EmptyIncomingFolders() {
    const std::string folders[] = {config_.PathCommands(), config_.PathLoopKeysRCV(), config_.PathLoopScanRCV(),
                                   config_.PathPresetRCV()};
    for (const std::string& folder : folders)
        for (const DirEntry& entry : fs_.List(folder, "*.xml")) {
            if (entry.isFolder)
                continue;
            const std::string path = folder + "/" + entry.name;
            const std::string backup = files_.BackupExchangeFile(TimeStamp() + RoleName(entry.name), path, false);
            fs_.DeleteFile(path);
            log_.WriteText("dropped at start: " + EscapeMarkup(path) + ", backup " +
                               (backup.empty() ? std::string("none") : EscapeMarkup(backup)),
                           kLevel);
        }
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

        if (row.ductorGiven) {
            events_.Emit(u, TSR_EVENT_START, TSR_KIND_DUCTOR);
            r = setting_.SetNewDuctorAbsolute(u, DuctorToPercent(row.ductor));
            if (r == 0)
                events_.Emit(u, TSR_EVENT_DONE, TSR_KIND_DUCTOR);
            count(r);
        } else {
            log_.WriteText("no ductor given u" + std::to_string(u) + ", ductor left as set", kLevel);
        }

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
