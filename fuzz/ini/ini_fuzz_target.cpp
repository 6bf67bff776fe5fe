// Any file as the INI file: reads agree with each other, a write reads back
// as written, leaves every other key as it was, and a second write of the
// same value changes no byte. Built as a libFuzzer target here and as the
// corpus replayer of the fuzz tests.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "config/ini_file.h"
#include "platform/file_system.h"

namespace {

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

// A line end cannot be part of a value, so it tells a missing key.
const std::string kMissing = "\n";

// Names from a small alphabet, so that the file's own names are met often
// and letter case is put to the test.
std::string Name(const std::uint8_t*& p, const std::uint8_t* end) {
    static const char alphabet[] = "abAB01_K";
    std::string name;
    if (p >= end)
        return "k";
    const int length = 1 + *p++ % 4;
    for (int i = 0; i < length && p < end; ++i)
        name += alphabet[*p++ % 8];
    return name.empty() ? "k" : name;
}

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

const std::string& IniPath() {
    static const std::string path = [] {
        // tmpfs where there is one: every write is flushed to disk
        char shm[] = "/dev/shm/tsr-ini-fuzz-XXXXXX";
        char tmp[] = "/tmp/tsr-ini-fuzz-XXXXXX";
        const char* folder = ::mkdtemp(shm);
        if (folder == nullptr)
            folder = ::mkdtemp(tmp);
        Check(folder != nullptr);
        return std::string(folder) + "/Tessaro.ini";
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::unique_ptr<tsr::FileSystem> fs = tsr::MakeFileSystem();
    const std::uint8_t* p = data;
    const std::uint8_t* end = data + size;
    const std::string section = Name(p, end);
    const std::string key = Name(p, end);
    const std::string otherSection = Name(p, end);
    const std::string otherKey = Name(p, end);
    const std::size_t valueLength = p < end ? *p++ % 16 : 0;
    const std::size_t take = std::min<std::size_t>(valueLength, static_cast<std::size_t>(end - p));
    const std::string value(reinterpret_cast<const char*>(p), take);
    p += take;
    const std::string content(reinterpret_cast<const char*>(p), static_cast<std::size_t>(end - p));

    const std::string& path = IniPath();
    Check(fs->WriteAtomic(path, content));
    tsr::IniFile ini(*fs, path);

    // Reads agree: integer, cut text and full text of the same key.
    const std::string full = ini.ReadString(section, key, kMissing, -1);
    Check(full == kMissing || full.find_first_of("\n") == std::string::npos);
    Check(ini.ReadInt(section, key, -5) == (full == kMissing ? -5 : tsr::IniFile::LeadingInt(full)));
    Check(ini.ReadString(section, key, kMissing, 3) == full.substr(0, 3));
    const std::string otherBefore = ini.ReadString(otherSection, otherKey, kMissing, -1);

    if (!ini.WriteString(section, key, value))
        return 0;
    const std::string written = Trimmed(value.substr(0, value.find_first_of("\r\n")));
    Check(ini.ReadString(section, key, kMissing, -1) == written);
    const std::string otherAfter = ini.ReadString(otherSection, otherKey, kMissing, -1);
    if (SameName(section, otherSection) && SameName(key, otherKey))
        Check(otherAfter == written);
    else
        Check(otherAfter == otherBefore);

    // The same write again changes no byte. A stray CR before a line end
    // makes the file's line ends ambiguous (it reads as CR LF next time), so
    // there only the values must stay.
    const std::optional<std::string> once = fs->ReadFile(path);
    Check(once.has_value());
    Check(ini.WriteString(section, key, value));
    if (content.find('\r') == std::string::npos)
        Check(fs->ReadFile(path) == once);
    Check(ini.ReadString(section, key, kMissing, -1) == written);
    Check(ini.ReadString(otherSection, otherKey, kMissing, -1) == otherAfter);
    return 0;
}
