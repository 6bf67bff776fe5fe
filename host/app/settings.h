#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/lenient_json.h"

// The settings object the page reads and writes whole, against the
// library's configuration exports.
struct SettingsValues {
    int32_t com = 0;
    int32_t units = 0;
    int32_t keys = 0;
    int32_t ductorcycle = 0;
    bool preset = false;
    bool loop = false;
    std::string preset_input;
    std::string loop_keys_input;
    std::string loop_keys_output;
    std::string loop_scan_input;
    std::string loop_scan_output;
    std::string loop_commands;
    int32_t perfector = 0;
    std::string current_job_path;
    std::string log_path;
    std::string language;
};

// The settings as the library holds them now, with folder texts as stored.
SettingsValues ReadLibrarySettings();

// The object sent to the page inside a single-quoted script string: folder
// texts with every "\" doubled, "en" for an empty language; the texts
// shielded so that the page reads them as they are (ShieldForScriptString).
JsonValue SettingsObject(const SettingsValues& settings);

// Reads the page's settings text leniently. Nothing when it is not a JSON
// object. A missing member reads as 0, false or the empty text; a member of
// another kind is converted (see the source), never refused.
std::optional<SettingsValues> ReadSettingsText(const std::string& jsonString);

// Hands the settings to the library's setters in their order; a perfector of
// 0 stands for all units.
void StoreLibrarySettings(SettingsValues settings);

// Creates "log", "memory" and "log/memory" below the log folder.
void CreateLogSubfolders(const std::string& logFolder);
