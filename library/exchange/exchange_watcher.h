#pragma once
#include <atomic>
#include <cstdint>
#include <ctime>
#include <map>
#include <set>
#include <optional>
#include <string>
#include <thread>

#include "exchange/exchange_files.h"
#include "exchange/folder_notifier.h"
#include "exchange/ink_key_writer.h"
#include "exchange/profile_reader.h"
#include "session/press_lock.h"

namespace tsr {

class ActivityLog;
class Clock;
class Configuration;
class EventSink;
class FileSystem;
class UnitControl;
class UnitSetting;
class UnitTable;
class XmlDefaults;

// The library's own thread that answers the neighbours' request files: presets
// and corrected keys go to the press, synchronisation and scan requests
// publish the keys set on the press, scans are released in order, and each
// key transfer is answered by the status message.
//
// Each pass runs the preset half and the closed-loop half, each step in order
// with 2 ms between steps. Between passes the thread sleeps until one of the
// request folders changes, but at most kPeriodMs, so the time rules (the 5 s
// repeat of a Synchronize.xml) still come due without a change on disk.
class ExchangeWatcher {
public:
    static constexpr int kStepPauseMs = 2;
    static constexpr int kPeriodMs = 100;  // between passes when every folder is watched
    static constexpr int kFallbackMs = 10; // when a folder cannot be watched (missing, no inotify, a share)
    // On a polled share a file another machine is still copying is open in
    // no local process: a request is taken once its size and time have
    // stayed the same this long.
    static constexpr std::int64_t kSettleMs = 300;
    static constexpr std::time_t kJobQuietSeconds = 8;
    static constexpr std::time_t kSyncRepeatSeconds = 5;
    // How long a job waits for a ductor-cycle companion that its writer
    // still holds open, from the pass that first saw the job.
    static constexpr std::int64_t kCompanionWaitMs = 2000;

    ExchangeWatcher(Configuration& config, ActivityLog& log, FileSystem& fs, const Clock& clock,
                    UnitTable& table, const EventSink& events, PressLock& pressLock, UnitSetting& setting,
                    UnitControl& control, XmlDefaults& xml);
    // Stops the thread and waits for it to end its current step.
    ~ExchangeWatcher();
    ExchangeWatcher(const ExchangeWatcher&) = delete;
    ExchangeWatcher& operator=(const ExchangeWatcher&) = delete;

    // Starts the thread (once); it passes without work until SetActive(true).
    void Start();
    void Stop();

    // TSR_Init with a non-zero host window makes the watcher work.
    void SetActive(bool active);
    void SetPresetPolling(bool on);
    void SetLoopPolling(bool on);
    bool PresetPolling() const { return presetPolling_; }
    bool LoopPolling() const { return loopPolling_; }

    // One whole pass on the calling thread (tests drive it without the thread).
    void RunPass();
    // Passes finished so far.
    std::uint64_t Passes() const { return passes_; }

    // The unit table to the press: 0, or the first failing result.
    int WriteData();

    // TSR_Init: every *.xml file of the incoming folders is dropped, each
    // backed up first under its role name as a handled request is, and logged.
    void EmptyIncomingFolders();

    ProfileReader& Reader() { return reader_; }
    InkKeyWriter& Writer() { return writer_; }
    ExchangeFiles& Files() { return files_; }

private:
    struct Found {
        std::string name;
        std::time_t time = 0;
        std::uint64_t size = 0;
    };
    // The first entry matching folder/name ("*" allowed); time 0 when none.
    Found FindFile(const std::string& pattern) const;

    void Loop();
    void Pause();
    bool Stopping() const { return stop_; }
    void WatchFolders();
    // False while a file found in a polled folder is still changing (or was
    // first seen less than kSettleMs ago); true at once elsewhere.
    bool Settled(const std::string& folder, const Found& found);
    // The same for a path; a missing file counts as settled.
    bool Settled(const std::string& path);

    void PresetHalf();
    void LoopHalf();
    void SynchronisationCheck();
    void ScanCheck();
    bool TooCloseToJob(std::time_t t) const;

    // The handlers' stamp "%Y%m%d_%H%M%S" in local time (no colons: they are
    // not allowed in Windows file names).
    std::string TimeStamp() const;
    // Whether the job can be taken now; logs each kind of wait once.
    // jobSettled: false while the job on a polled share is still changing.
    bool JobReady(const std::string& path, const std::string& cyclePath, bool jobSettled);
    void ForgetJob();
    // A companion given up on, once its writer is done: backed up and deleted.
    void DropLateCompanion();
    void HandleJob(const std::string& path, bool settled);
    void HandleNewInkKeys(const std::string& path);
    void HandleSynchronize(const std::string& path);
    void HandleScan(const std::string& path);
    // Deletes an existing target first; a file still being written stays.
    void Release(const std::string& from, const std::string& to);

    Configuration& config_;
    ActivityLog& log_;
    FileSystem& fs_;
    const Clock& clock_;
    UnitTable& table_;
    const EventSink& events_;
    PressLock& pressLock_;
    UnitSetting& setting_;
    UnitControl& control_;

    ExchangeFiles files_;
    ProfileReader reader_;
    InkKeyWriter writer_;
    FolderNotifier notifier_;
    bool allWatched_ = false;
    std::set<std::string> polledFolders_; // resolved, ending in "/": shares, or all with "PollFolders"
    struct Settling {
        std::uint64_t size;
        std::time_t time;
        std::int64_t sinceMs;
    };
    std::map<std::string, Settling> settling_; // resolved path -> what it showed since when

    std::atomic<bool> active_{false};
    std::atomic<bool> presetPolling_{false};
    std::atomic<bool> loopPolling_{false};
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> passes_{0};

    // Live only in the pass; not saved.
    std::time_t jobTime_ = 0;
    std::time_t lastSyncTime_ = 0;
    std::time_t lastScanTime_ = 0;
    std::optional<std::int64_t> jobSeenMs_; // monotonic; the job in the preset folder now
    bool jobWaitLogged_ = false;
    bool companionWaitLogged_ = false;
    std::string lateCompanion_; // the job_DC.xml a job went without, while it is still there

    std::thread thread_;
};

} // namespace tsr
