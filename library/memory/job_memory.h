#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "session/press_lock.h"
#include "session/unit_table.h"

namespace tsr {

class ActivityLog;
class Configuration;
class EventSink;
class FileSystem;
class PressProtocol;
class UnitSetting;

// Stored jobs: one INI-style file per job number in the "Memory" folder below
// the log folder. Saving reads every unit back from the press; recalling
// sends the stored values and moves each unit to its working position. The
// files are the whole state; nothing is kept between calls.
class JobMemory {
public:
    // Both limits of what one job holds while it is saved or recalled.
    static constexpr int kMaxJobUnits = kMaxUnits;
    static constexpr int kMaxJobKeys = kMaxKeys;
    // Longest "KEYS" text a recall reads: room for kMaxJobKeys values of any
    // int with their blanks, so a saved job of many keys comes back uncut.
    static constexpr int kMaxKeysText = kMaxJobKeys * 12;
    // Recall's values for a unit section that lacks "DUCTOR" or "DUCTORCYCLE".
    static constexpr int kDefaultDuctor = 14;
    static constexpr int kDefaultDuctorCycle = 14;

    JobMemory(Configuration& config, ActivityLog& log, FileSystem& fs, const EventSink& events,
              PressLock& press, PressProtocol& protocol, UnitSetting& units);
    JobMemory(const JobMemory&) = delete;
    JobMemory& operator=(const JobMemory&) = delete;

    // What a save stored: every unit, some units (the others did not deliver
    // all their values and are marked "SAVED=0", never stored as guesses), or
    // nothing, in which case the job stored before is kept as it was.
    enum class SaveResult { AllUnits = 0, SomeUnits = 1, Nothing = 2 };
    struct SaveOutcome {
        SaveResult result = SaveResult::AllUnits;
        std::vector<int> notSaved; // units, from 1
    };
    // Always 0; Save tells what was stored.
    int SaveJob(int job);
    SaveOutcome Save(int job);
    // 0 recalled, 1 no job file.
    int LoadJob(int job);
    // 0 with name and date filled (at most 999 characters each), 1 no job file.
    int GetInfo(int job, std::string& name, std::string& date) const;
    // 0 written, 1 no job file (nothing written).
    int SetInfo(int job, const std::string& name, const std::string& date);
    // Always 0.
    int DeleteJob(int job);

    // The job file of a number below the given log folder: "_<job>" goes in
    // front of the last "." of folder + "/Memory/memory.qv".
    static std::string JobFileName(const std::string& logFolder, int job);
    std::string JobFileName(int job) const;
    bool JobExists(int job) const;

    // One unit as a job file holds it. keys has at most kMaxJobKeys entries.
    struct UnitValues {
        std::vector<std::int32_t> keys;
        int ductor = 0; // percent
        int ductorCycle = 0;
        bool saved = true; // off: the unit's section says "SAVED=0"; a recall leaves the unit alone
    };
    // "KEYS" text cut at blanks, each piece read as its leading decimal number.
    static UnitValues ParseKeys(const std::string& text);
    static std::string JoinKeys(const std::vector<std::int32_t>& keys);

private:
    std::vector<UnitValues> ReadUnitsFromPress();
    std::vector<UnitValues> ReadUnitsFromFile(const std::string& path) const;
    void SendUnit(int unit, const UnitValues& values, int keyCount);

    Configuration& config_;
    ActivityLog& log_;
    FileSystem& fs_;
    const EventSink& events_;
    PressLock& press_;
    PressProtocol& protocol_;
    UnitSetting& units_;
    // Keeps the file steps of two callers apart (a description written while
    // a save replaces the file); never held while talking to the press.
    mutable std::recursive_mutex files_;
};

} // namespace tsr
