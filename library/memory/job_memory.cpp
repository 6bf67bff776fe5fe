#include "memory/job_memory.h"

#include <algorithm>

#include "config/configuration.h"
#include "config/ini_file.h"
#include "config/split_string.h"
#include "log/activity_log.h"
#include "platform/file_system.h"
#include "presslink/log_line.h"
#include "presslink/press_protocol.h"
#include "presslink/unit_setting.h"
#include "session/event_sink.h"
#include "tessaro.h"

namespace tsr {
namespace {

const char* const kGeneral = "GENERAL";

std::string UnitSection(int unit) {
    return "UNIT " + std::to_string(unit);
}

} // namespace

JobMemory::JobMemory(Configuration& config, ActivityLog& log, FileSystem& fs, const EventSink& events,
                     PressLock& press, PressProtocol& protocol, UnitSetting& units)
    : config_(config), log_(log), fs_(fs), events_(events), press_(press), protocol_(protocol),
      units_(units) {}

std::string JobMemory::JobFileName(const std::string& logFolder, int job) {
    // "memory.qv" with the position before its extension: memory_3.qv
    return logFolder + "/Memory/memory_" + std::to_string(job) + ".qv";
}

std::string JobMemory::JobFileName(int job) const {
    return JobFileName(log_.Folder(), job);
}

bool JobMemory::JobExists(int job) const {
    const std::string path = JobFileName(job);
    return fs_.Exists(path) && !fs_.IsFolder(path);
}

JobMemory::UnitValues JobMemory::ParseKeys(const std::string& text) {
    UnitValues values;
    const std::vector<std::string> pieces = SplitString(text, " ");
    // a hand-edited file may hold more values than a unit has keys: the rest is ignored
    const std::size_t kept = std::min<std::size_t>(pieces.size(), kMaxJobKeys);
    values.keys.reserve(kept);
    for (std::size_t i = 0; i < kept; ++i)
        values.keys.push_back(IniFile::LeadingInt(pieces[i]));
    return values;
}

std::string JobMemory::JoinKeys(const std::vector<std::int32_t>& keys) {
    std::string text;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (i > 0)
            text += ' ';
        text += std::to_string(keys[i]);
    }
    return text;
}

// A unit whose keys, ductor or cycle the console does not deliver is marked
// not saved: nothing is stored for it that the press did not say.
std::vector<JobMemory::UnitValues> JobMemory::ReadUnitsFromPress() {
    const int unitCount = config_.UnitsInTable();
    const int keyCount = config_.KeysInTable();
    std::vector<UnitValues> units(static_cast<std::size_t>(unitCount));
    for (int u = 1; u <= unitCount; ++u) {
        UnitValues& v = units[static_cast<std::size_t>(u - 1)];
        v.keys.assign(static_cast<std::size_t>(keyCount), 0);

        events_.Emit(u, TSR_EVENT_START, TSR_KIND_KEYS);
        if (units_.GetKeys(u, v.keys.data(), keyCount) == TSR_OK)
            events_.Emit(u, TSR_EVENT_READ, TSR_KIND_KEYS);
        else
            v.saved = false;

        events_.Emit(u, TSR_EVENT_START, TSR_KIND_DUCTOR);
        int percent = 0;
        if (units_.GetDuctor(u, percent) == TSR_OK) {
            v.ductor = percent;
            events_.Emit(u, TSR_EVENT_READ, TSR_KIND_DUCTOR);
        } else {
            v.saved = false;
        }

        if (config_.DuctorCycle() > 0) {
            events_.Emit(u, TSR_EVENT_START, TSR_KIND_DUCTOR_CYCLE);
            int cycle = 0;
            if (units_.GetDuctorCycle(u, cycle) == TSR_OK) {
                v.ductorCycle = cycle;
                events_.Emit(u, TSR_EVENT_READ, TSR_KIND_DUCTOR_CYCLE);
            } else {
                v.saved = false;
            }
        }
    }
    return units;
}

int JobMemory::SaveJob(int job) {
    Save(job);
    return 0;
}

JobMemory::SaveOutcome JobMemory::Save(int job) {
    PressGuard press(press_);
    WriteLogLine(log_, "memsave %d", job);
    const std::vector<UnitValues> units = ReadUnitsFromPress();
    SaveOutcome outcome;
    for (std::size_t i = 0; i < units.size(); ++i)
        if (!units[i].saved)
            outcome.notSaved.push_back(static_cast<int>(i) + 1);
    if (!outcome.notSaved.empty())
        outcome.result =
            outcome.notSaved.size() == units.size() ? SaveResult::Nothing : SaveResult::SomeUnits;
    if (outcome.result == SaveResult::Nothing) {
        // Nothing read, nothing to store: the job stored before stays.
        log_.WriteText("memsave nothing read, job kept", 3);
        return outcome;
    }

    std::lock_guard files(files_);
    DeleteJob(job);
    log_.WriteText("set", 3);
    // Writes into a missing folder fail one by one; the job then does not exist.
    IniFile ini(fs_, JobFileName(job));
    for (std::size_t i = 0; i < units.size(); ++i) {
        const int unit = static_cast<int>(i) + 1;
        const std::string section = UnitSection(unit);
        if (!units[i].saved) {
            // Holds the unit's place: the units after it are still recalled.
            WriteLogLine(log_, "memsave u%d not read, not saved", unit);
            ini.WriteString(section, "SAVED", "0");
            continue;
        }
        ini.WriteString(section, "KEYS", JoinKeys(units[i].keys));
        ini.WriteString(section, "DUCTOR", std::to_string(units[i].ductor));
        ini.WriteString(section, "DUCTORCYCLE", std::to_string(units[i].ductorCycle));
    }
    return outcome;
}

std::vector<JobMemory::UnitValues> JobMemory::ReadUnitsFromFile(const std::string& path) const {
    const IniFile ini(fs_, path);
    std::vector<UnitValues> units;
    for (int u = 1; u <= kMaxJobUnits; ++u) {
        const std::string section = UnitSection(u);
        const std::string keys = ini.ReadString(section, "KEYS", "", kMaxKeysText);
        if (keys.empty()) {
            // A unit a save could not read keeps its place; any other gap ends the job.
            if (ini.ReadString(section, "SAVED", "", 9) != "0")
                break;
            UnitValues notSaved;
            notSaved.saved = false;
            units.push_back(std::move(notSaved));
            continue;
        }
        UnitValues v = ParseKeys(keys);
        v.ductor = ini.ReadInt(section, "DUCTOR", kDefaultDuctor);
        v.ductorCycle = ini.ReadInt(section, "DUCTORCYCLE", kDefaultDuctorCycle);
        units.push_back(std::move(v));
    }
    return units;
}

void JobMemory::SendUnit(int unit, const UnitValues& values, int keyCount) {
    events_.Emit(unit, TSR_EVENT_START, TSR_KIND_KEYS);
    if (protocol_.SetKeys(unit, values.keys.data(), keyCount) == TSR_OK)
        events_.Emit(unit, TSR_EVENT_DONE, TSR_KIND_KEYS);

    events_.Emit(unit, TSR_EVENT_START, TSR_KIND_DUCTOR);
    if (protocol_.SetDuctor(unit, UnitSetting::PercentToWire(values.ductor)) == TSR_OK)
        events_.Emit(unit, TSR_EVENT_DONE, TSR_KIND_DUCTOR);

    if (config_.DuctorCycle() > 0) {
        events_.Emit(unit, TSR_EVENT_START, TSR_KIND_DUCTOR_CYCLE);
        if (protocol_.SetDuctorCycle(unit, values.ductorCycle) == TSR_OK)
            events_.Emit(unit, TSR_EVENT_DONE, TSR_KIND_DUCTOR_CYCLE);
    }

    events_.Emit(unit, TSR_EVENT_START, TSR_KIND_UNIT);
    if (protocol_.WorkingPosition(unit) == TSR_OK)
        events_.Emit(unit, TSR_EVENT_DONE, TSR_KIND_UNIT);
}

int JobMemory::LoadJob(int job) {
    PressGuard press(press_);
    WriteLogLine(log_, "memload %d", job);
    std::vector<UnitValues> units;
    {
        std::lock_guard files(files_);
        if (!JobExists(job))
            return 1;
        units = ReadUnitsFromFile(JobFileName(job));
    }
    // every unit gets as many keys as the shortest unit of the job holds
    int keyCount = kMaxJobKeys;
    for (const UnitValues& v : units)
        if (v.saved)
            keyCount = std::min(keyCount, static_cast<int>(v.keys.size()));
    for (std::size_t i = 0; i < units.size(); ++i) {
        const int unit = static_cast<int>(i) + 1;
        if (units[i].saved)
            SendUnit(unit, units[i], keyCount);
        else
            WriteLogLine(log_, "memload u%d not saved, left as it is", unit); // nothing sent
    }
    return 0;
}

int JobMemory::GetInfo(int job, std::string& name, std::string& date) const {
    std::lock_guard files(files_);
    if (!JobExists(job))
        return 1;
    const IniFile ini(fs_, JobFileName(job));
    name = ini.ReadString(kGeneral, "NAME", "", 999);
    date = ini.ReadString(kGeneral, "DATE", "", 999);
    return 0;
}

int JobMemory::SetInfo(int job, const std::string& name, const std::string& date) {
    std::lock_guard files(files_);
    const std::string path = JobFileName(job);
    log_.WriteText(path, 3);
    if (!JobExists(job))
        return 1;
    log_.WriteText("Name=" + name, 3);
    log_.WriteText("Date=" + date, 3);
    IniFile ini(fs_, path);
    ini.WriteString(kGeneral, "NAME", name);
    ini.WriteString(kGeneral, "DATE", date);
    return 0;
}

int JobMemory::DeleteJob(int job) {
    std::lock_guard files(files_);
    WriteLogLine(log_, "memdel %d", job);
    events_.Emit(0, TSR_EVENT_START, TSR_KIND_UNIT);
    if (JobExists(job)) {
        if (fs_.DeleteFile(JobFileName(job)))
            events_.Emit(0, TSR_EVENT_DONE, TSR_KIND_UNIT);
        else
            events_.Emit(0, TSR_EVENT_RETRY3, TSR_KIND_UNIT);
    }
    return 0;
}

} // namespace tsr
