// Any text as the settings text the page hands to saveSettings, through the
// reading that checks it before anything reaches the configuration: only a
// JSON object is taken, members of their own kind read as they stand, every
// member converts the way the settings header says, and the settings read
// write back into a text that reads the same. Built as a libFuzzer target
// here and as the corpus replayer of the fuzz tests.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "app/settings.h"
#include "fuzz_check.h"

namespace {

const char* const kIntegers[] = {"com", "units", "keys", "ductorcycle", "perfector"};
const char* const kFlags[] = {"preset", "loop"};
const char* const kTexts[] = {"preset_input",     "loop_keys_input",  "loop_keys_output",
                              "loop_scan_input",  "loop_scan_output", "loop_commands",
                              "current_job_path", "log_path",         "language"};

int32_t& Integer(SettingsValues& s, const std::string& name) {
    if (name == "com")
        return s.com;
    if (name == "units")
        return s.units;
    if (name == "keys")
        return s.keys;
    if (name == "ductorcycle")
        return s.ductorcycle;
    return s.perfector;
}

bool& Flag(SettingsValues& s, const std::string& name) {
    return name == "preset" ? s.preset : s.loop;
}

std::string& Text(SettingsValues& s, const std::string& name) {
    if (name == "preset_input")
        return s.preset_input;
    if (name == "loop_keys_input")
        return s.loop_keys_input;
    if (name == "loop_keys_output")
        return s.loop_keys_output;
    if (name == "loop_scan_input")
        return s.loop_scan_input;
    if (name == "loop_scan_output")
        return s.loop_scan_output;
    if (name == "loop_commands")
        return s.loop_commands;
    if (name == "current_job_path")
        return s.current_job_path;
    if (name == "log_path")
        return s.log_path;
    return s.language;
}

bool InRange(double n) {
    return n >= std::numeric_limits<int32_t>::min() && n <= std::numeric_limits<int32_t>::max();
}

// What an integer member reads as, from the rules of the settings header.
int32_t ExpectedInteger(const JsonValue* member) {
    if (member == nullptr)
        return 0;
    if (member->is_boolean())
        return member->get<bool>() ? 1 : 0;
    if (member->is_number_unsigned())
        return 0;
    if (member->is_number_integer()) {
        const auto n = member->get<int64_t>();
        return InRange(static_cast<double>(n)) ? static_cast<int32_t>(n) : 0;
    }
    if (member->is_number_float()) {
        const double n = std::trunc(member->get<double>());
        return InRange(n) ? static_cast<int32_t>(n) : 0;
    }
    if (member->is_string()) {
        const auto inner = ParseLenientJson(member->get_ref<const std::string&>());
        if (inner && inner->is_number_integer() && InRange(static_cast<double>(inner->get<int64_t>())))
            return static_cast<int32_t>(inner->get<int64_t>());
    }
    return 0;
}

bool ExpectedFlag(const JsonValue* member) {
    if (member == nullptr)
        return false;
    if (member->is_boolean())
        return member->get<bool>();
    if (member->is_number_integer())
        return member->get<int64_t>() != 0;
    if (member->is_number_unsigned())
        return member->get<uint64_t>() != 0;
    if (member->is_number_float())
        return member->get<double>() != 0;
    if (member->is_string())
        return *member == "true" || *member == "1";
    return false;
}

std::string ExpectedText(const JsonValue* member) {
    if (member == nullptr)
        return {};
    if (member->is_string())
        return member->get<std::string>();
    if (member->is_number() || member->is_boolean())
        return member->dump();
    return {};
}

const JsonValue* Member(const JsonValue& object, const char* name) {
    const auto found = object.find(name);
    return found == object.end() ? nullptr : &*found;
}

bool SameSettings(SettingsValues a, SettingsValues b) {
    for (const char* name : kIntegers)
        if (Integer(a, name) != Integer(b, name))
            return false;
    for (const char* name : kFlags)
        if (Flag(a, name) != Flag(b, name))
            return false;
    for (const char* name : kTexts)
        if (Text(a, name) != Text(b, name))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<SettingsValues> settings = ReadSettingsText(text);
    const std::optional<JsonValue> parsed = ParseLenientJson(text);
    Check(settings.has_value() == (parsed && parsed->is_object()));
    if (!settings)
        return 0;

    SettingsValues read = *settings;
    for (const char* name : kIntegers)
        Check(Integer(read, name) == ExpectedInteger(Member(*parsed, name)));
    for (const char* name : kFlags)
        Check(Flag(read, name) == ExpectedFlag(Member(*parsed, name)));
    for (const char* name : kTexts)
        Check(Text(read, name) == ExpectedText(Member(*parsed, name)));

    // The settings as an object of their own kinds read back the same; fully
    // escaped, the numbers and flags do (texts that are no UTF-8 change).
    JsonValue own = JsonValue::object();
    for (const char* name : kIntegers)
        own[name] = Integer(read, name);
    for (const char* name : kFlags)
        own[name] = Flag(read, name);
    for (const char* name : kTexts)
        own[name] = Text(read, name);
    const std::optional<SettingsValues> again = ReadSettingsText(WriteJson(own, JsonEscaping::Minimal));
    Check(again.has_value() && SameSettings(*again, read));
    std::optional<SettingsValues> fully = ReadSettingsText(WriteJson(own, JsonEscaping::Full));
    Check(fully.has_value());
    for (const char* name : kIntegers)
        Check(Integer(*fully, name) == Integer(read, name));
    for (const char* name : kFlags)
        Check(Flag(*fully, name) == Flag(read, name));
    return 0;
}
