#include "exchange/preset_dry_run.h"

#include <algorithm>

#include "config/configuration.h"
#include "exchange/exchange_files.h"
#include "exchange/exchange_text.h"
#include "exchange/profile_reader.h"
#include "log/activity_log.h"
#include "platform/file_system.h"
#include "presslink/unit_setting.h"
#include "session/unit_table.h"

namespace tsr {

namespace {

std::string Side(const ProfileReader::UnitPlace& place) {
    return std::string(place.front ? "front " : "back ") + std::to_string(place.n);
}

// Why the watcher would leave this row unsent; empty when it sends it.
std::string SkipReason(const UnitRecord& row) {
    if (row.separation.empty())
        return "no separation for it in the file";
    if (!row.present)
        return "its ink is \"" + row.separation + "\" (no ink)";
    if (!row.transfer)
        return "Transfer is off for its side";
    if (!row.updateUnit)
        return "UpdateUnit=\"FALSE\" in its print condition";
    return {};
}

} // namespace

PresetDryRun::PresetDryRun(Configuration& config, FileSystem& fs, const Clock& clock, XmlDefaults& xml)
    : config_(config), fs_(fs), clock_(clock), xml_(xml) {}

PresetDryRun::Result PresetDryRun::Run(const std::string& path, std::string& report) {
    report.clear();
    ActivityLog quiet(clock_, fs_); // no folder: the readers' entries are dropped
    ExchangeFiles files(fs_, clock_, quiet);
    UnitTable table;
    table.Reset();
    ProfileReader reader(files, config_, quiet, table, xml_);
    reader.KeepRequestFiles(true);

    report += "file " + path + "\n";
    if (!reader.ReadInkZoneProfile(path)) {
        report += "not read: the file is missing, empty, not XML, or has no InkZoneProfile for Side "
                  "\"Front\" or \"Back\"; the press would get nothing\n";
        return NotReadable;
    }
    const int keys = std::clamp(config_.KeysNumber(), 0, kMaxKeys);
    const bool cycles = config_.DuctorCycle() > 0;
    const std::string companion = DuctorCyclePath(path);
    bool companionRead = false;
    if (cycles) {
        companionRead = reader.ReadDuctorCycleProfile(companion);
        report += "ductor cycles from " + companion + (companionRead ? "\n" : ": not read, every cycle is 0\n");
    }
    report += "press: " + std::to_string(config_.UnitNumber()) + " units, " + std::to_string(keys) +
              " keys, ductor cycle scale " + std::to_string(config_.DuctorCycle()) + ", perfector after unit " +
              std::to_string(config_.Perfector()) + "\n";
    if (!config_.ConnectPSX())
        report += "note: ConnectPSX=0: the host does not watch the preset folder, a job.xml stays there; "
                  "corrected keys (NewInkKeys.xml) are sent as below when ConnectLPX=1\n";
    else if (!config_.PresetActive())
        report += "note: PresetActive=0: a job.xml is deleted unsent; corrected keys are sent as below\n";

    int sent = 0;
    for (const ProfileReader::UnitPlace& place : reader.Places()) {
        const UnitRecord row = table.Get(place.row);
        const int unit = place.row + 1;
        std::string line = "unit " + std::to_string(unit) + " (" + Side(place) + "): ";
        const std::string skip = SkipReason(row);
        if (!skip.empty()) {
            report += line + "skipped: " + skip + "\n";
            continue;
        }
        ++sent;
        const int percent = DuctorToPercent(row.ductor);
        line += row.separation + ": keys";
        for (int k = 0; k < keys; ++k) {
            line += ' '; // appended apart: GCC 12 warns falsely on " " + a temporary (-Wrestrict)
            line += std::to_string(row.keys[static_cast<std::size_t>(k)] & 0xFF);
        }
        if (row.ductorGiven)
            line += "; ductor " + std::to_string(percent) + " % (byte " +
                    std::to_string(UnitSetting::PercentToWire(percent)) + ")";
        else
            line += "; no ductor in the file: the press keeps its own";
        if (cycles)
            line += "; cycle " + std::to_string(row.ductorCycle);
        line += "; then working position";
        report += line + "\n";
        if (row.zoneCount < keys)
            report += "  note: the file has " + std::to_string(row.zoneCount) + " zones for it, the press " +
                      std::to_string(keys) + " keys: keys " + std::to_string(row.zoneCount + 1) + " to " +
                      std::to_string(keys) +
                      " are not in the file and go out as the library holds them (0 above; on the press "
                      "PC what the last preset or read-back left)\n";
        if (row.zoneCount > keys)
            report += "  note: the file has " + std::to_string(row.zoneCount) + " zones for it; only the first " +
                      std::to_string(keys) + " are sent\n";
    }
    report += std::to_string(sent) + " of " + std::to_string(reader.Places().size()) + " units would be sent\n";
    return Read;
}

} // namespace tsr
