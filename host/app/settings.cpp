#include "app/settings.h"

#include <cmath>
#include <limits>

#include "app/folder_path.h"
#include "app/library_text.h"
#include "tessaro.h"

namespace {

// Integers: whole numbers within 32 bits as they are, fractions cut toward 0,
// true as 1, a text holding a whole number as that number; anything else
// (out of range, null, other texts, arrays, objects) as 0.
int32_t IntegerMember(const JsonValue& object, const char* name) {
    const auto found = object.find(name);
    if (found == object.end())
        return 0;
    const JsonValue& v = *found;
    double number = 0;
    if (v.is_boolean())
        return v.get<bool>() ? 1 : 0;
    if (v.is_number_integer()) {
        const auto n = v.get<int64_t>();
        return n >= std::numeric_limits<int32_t>::min() && n <= std::numeric_limits<int32_t>::max()
                   ? static_cast<int32_t>(n)
                   : 0;
    }
    if (v.is_number_unsigned())
        return 0; // beyond the signed 64-bit range
    if (v.is_number_float()) {
        number = std::trunc(v.get<double>());
    } else if (v.is_string()) {
        const auto parsed = ParseLenientJson(v.get_ref<const std::string&>());
        if (!parsed || !parsed->is_number_integer())
            return 0;
        number = static_cast<double>(parsed->get<int64_t>());
    } else {
        return 0;
    }
    if (!(number >= std::numeric_limits<int32_t>::min() && number <= std::numeric_limits<int32_t>::max()))
        return 0;
    return static_cast<int32_t>(number);
}

// Flags: booleans as they are, a number other than 0 as true, the texts
// "true" and "1" as true; anything else as false.
bool FlagMember(const JsonValue& object, const char* name) {
    const auto found = object.find(name);
    if (found == object.end())
        return false;
    const JsonValue& v = *found;
    if (v.is_boolean())
        return v.get<bool>();
    if (v.is_number())
        return v.get<double>() != 0;
    if (v.is_string())
        return v.get_ref<const std::string&>() == "true" || v.get_ref<const std::string&>() == "1";
    return false;
}

// Texts: strings as they are, numbers and booleans in their JSON form;
// anything else as the empty text.
std::string TextMember(const JsonValue& object, const char* name) {
    const auto found = object.find(name);
    if (found == object.end())
        return std::string();
    const JsonValue& v = *found;
    if (v.is_string())
        return v.get<std::string>();
    if (v.is_number() || v.is_boolean())
        return v.dump();
    return std::string();
}

} // namespace

SettingsValues ReadLibrarySettings() {
    SettingsValues s;
    s.com = TSR_INI_GetCOM1();
    s.units = TSR_INI_GetUnitsNumber();
    s.keys = TSR_INI_GetKeysNumber();
    s.ductorcycle = TSR_INI_GetDuctorCycle();
    s.preset = TSR_INI_IsConnectPSX() != 0;
    s.loop = TSR_INI_IsConnectLPX() != 0;
    s.preset_input = FromLibraryText(TSR_INI_GetPathPresetRCV());
    s.loop_keys_input = FromLibraryText(TSR_INI_GetPathLoopKeysRCV());
    s.loop_keys_output = FromLibraryText(TSR_INI_GetPathLoopKeysSND());
    s.loop_scan_input = FromLibraryText(TSR_INI_GetPathLoopScanRCV());
    s.loop_scan_output = FromLibraryText(TSR_INI_GetPathLoopScanSND());
    s.loop_commands = FromLibraryText(TSR_INI_GetPathCommands());
    s.perfector = TSR_INI_GetPerfector();
    s.current_job_path = FromLibraryText(TSR_INI_GetPathCurrentJob());
    s.log_path = FromLibraryText(TSR_INI_GetPathLogs());
    s.language = FromLibraryText(TSR_INI_GetLanguage());
    return s;
}

JsonValue SettingsObject(const SettingsValues& s) {
    JsonValue o = JsonValue::object();
    o["com"] = s.com;
    o["units"] = s.units;
    o["keys"] = s.keys;
    o["ductorcycle"] = s.ductorcycle;
    o["preset"] = s.preset;
    o["loop"] = s.loop;
    o["preset_input"] = ShieldForScriptString(s.preset_input);
    o["loop_keys_input"] = ShieldForScriptString(s.loop_keys_input);
    o["loop_keys_output"] = ShieldForScriptString(s.loop_keys_output);
    o["loop_scan_input"] = ShieldForScriptString(s.loop_scan_input);
    o["loop_scan_output"] = ShieldForScriptString(s.loop_scan_output);
    o["loop_commands"] = ShieldForScriptString(s.loop_commands);
    o["perfector"] = s.perfector;
    o["current_job_path"] = ShieldForScriptString(s.current_job_path);
    o["log_path"] = ShieldForScriptString(s.log_path);
    o["language"] = ShieldForScriptString(s.language.empty() ? std::string("en") : s.language);
    return o;
}

std::optional<SettingsValues> ReadSettingsText(const std::string& jsonString) {
    const auto parsed = ParseLenientJson(jsonString);
    if (!parsed || !parsed->is_object())
        return std::nullopt;
    const JsonValue& o = *parsed;
    SettingsValues s;
    s.com = IntegerMember(o, "com");
    s.units = IntegerMember(o, "units");
    s.keys = IntegerMember(o, "keys");
    s.ductorcycle = IntegerMember(o, "ductorcycle");
    s.preset = FlagMember(o, "preset");
    s.loop = FlagMember(o, "loop");
    s.preset_input = TextMember(o, "preset_input");
    s.loop_keys_input = TextMember(o, "loop_keys_input");
    s.loop_keys_output = TextMember(o, "loop_keys_output");
    s.loop_scan_input = TextMember(o, "loop_scan_input");
    s.loop_scan_output = TextMember(o, "loop_scan_output");
    s.loop_commands = TextMember(o, "loop_commands");
    s.perfector = IntegerMember(o, "perfector");
    s.current_job_path = TextMember(o, "current_job_path");
    s.log_path = TextMember(o, "log_path");
    s.language = TextMember(o, "language");
    return s;
}

void StoreLibrarySettings(SettingsValues s) {
    TSR_INI_SetCOM1(s.com);
    TSR_INI_SetUnitsNumber(s.units);
    TSR_INI_SetKeysNumber(s.keys);
    TSR_INI_SetDuctorCycle(s.ductorcycle);
    if (s.perfector == 0)
        s.perfector = s.units;
    TSR_INI_SetPerfector(s.perfector);
    TSR_INI_SetConnectPSX(s.preset ? 1 : 0);
    TSR_INI_SetConnectLPX(s.loop ? 1 : 0);
    TSR_INI_SetPathPresetRCV(ToLibraryText(s.preset_input).c_str());
    TSR_INI_SetPathLoopKeysRCV(ToLibraryText(s.loop_keys_input).c_str());
    TSR_INI_SetPathLoopKeysSND(ToLibraryText(s.loop_keys_output).c_str());
    TSR_INI_SetPathLoopScanRCV(ToLibraryText(s.loop_scan_input).c_str());
    TSR_INI_SetPathLoopScanSND(ToLibraryText(s.loop_scan_output).c_str());
    TSR_INI_SetPathCommands(ToLibraryText(s.loop_commands).c_str());
    TSR_INI_SetPathCurrentJob(ToLibraryText(s.current_job_path).c_str());
    TSR_INI_SetPathLogs(ToLibraryText(s.log_path).c_str());
    TSR_INI_SetLanguage(ToLibraryText(s.language).c_str());
}

void CreateLogSubfolders(const std::string& logFolder) {
    // An empty log folder would put them at the root of the disk.
    if (logFolder.empty())
        return;
    for (const char* below : {"\\log", "\\memory", "\\log\\memory"})
        CreateFolderPathIgnoringCase(logFolder + below);
}
