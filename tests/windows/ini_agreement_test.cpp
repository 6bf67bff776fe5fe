// IniFile against the system's private-profile functions on the same
// generated files: every read agrees, and a write leaves the same bytes in
// the line it touched (the system's function may rewrite untouched lines; the
// comparison is of the touched line and of what both read afterwards).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "config/ini_file.h"
#include "config/temp_folder.h"
#include "platform/file_system.h"
#include "platform/win32_api.h"

namespace tsr {
namespace {

// A small fixed generator, so that every run sees the same files.
class Dice {
public:
    explicit Dice(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
    std::uint32_t Next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    template <typename T, std::size_t N> const T& Pick(const T (&items)[N]) { return items[Next() % N]; }
    bool Chance(int percent) { return static_cast<int>(Next() % 100) < percent; }

private:
    std::uint32_t state_;
};

const char* const kSections[] = {"GENERAL", "General", "general", "INKINGUP", "Memory"};
const char* const kKeys[] = {"PathLogs", "pathlogs", "COM1", "UnitNumber", "Language", "Timer"};
const char* const kValues[] = {"log", "C:\\Program Files\\Tessaro\\log", "\"C:\\Program Files\\Tessaro\\log\"",
                               "'de'", "\"half", "a \"b\" c", "12", "  7  ", "", "\"\"", "1/3", "x=y"};
const char* const kDefaults[] = {"", "log", "log   ", "  padded", "4"};

std::string MakeFile(Dice& dice) {
    std::string text;
    const int sections = 1 + static_cast<int>(dice.Next() % 3);
    for (int s = 0; s < sections; ++s) {
        text += dice.Chance(20) ? " [" : "[";
        text += dice.Pick(kSections);
        text += dice.Chance(20) ? "] \r\n" : "]\r\n";
        const int keys = static_cast<int>(dice.Next() % 5);
        for (int k = 0; k < keys; ++k) {
            if (dice.Chance(15))
                text += "\r\n";
            text += dice.Chance(20) ? "  " : "";
            text += dice.Pick(kKeys);
            text += dice.Chance(30) ? " = " : "=";
            text += dice.Pick(kValues);
            text += dice.Chance(20) ? "\r\r\n" : (dice.Chance(20) ? "  \r\n" : "\r\n");
        }
    }
    return text;
}

std::string SystemRead(const std::string& path, const char* section, const char* key, const char* def) {
    char buffer[1000] = {};
    ::GetPrivateProfileStringA(section, key, def, buffer, sizeof buffer, path.c_str());
    return buffer;
}

// The line of key in section (found ignoring case), as the file holds it.
std::string TouchedLine(const std::string& content, const std::string& section, const std::string& key) {
    auto same = [](const std::string& a, const std::string& b) {
        return a.size() == b.size() && ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1,
                                                         b.c_str(), -1) == CSTR_EQUAL;
    };
    auto trim = [](const std::string& t) {
        const std::size_t a = t.find_first_not_of(" \t\r");
        return a == std::string::npos ? std::string() : t.substr(a, t.find_last_not_of(" \t\r") - a + 1);
    };
    bool inSection = false;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos)
            end = content.size();
        const std::string line = content.substr(start, end - start);
        start = end + 1;
        const std::string t = trim(line);
        if (!t.empty() && t.front() == '[') {
            inSection = same(trim(t.substr(1, t.find(']') - 1)), section);
            continue;
        }
        const std::size_t eq = line.find('=');
        if (inSection && eq != std::string::npos && same(trim(line.substr(0, eq)), key))
            return line;
    }
    return "(none)";
}

TEST(IniAgreement, GeneratedFilesReadAndWriteAsTheSystemFunctionsDo) {
    test::TempFolder dir;
    std::unique_ptr<FileSystem> fs = MakeFileSystem();
    int reads = 0;
    for (std::uint32_t n = 0; n < 240; ++n) {
        Dice dice(n);
        const std::string content = MakeFile(dice);
        const std::string ours = dir / ("ours" + std::to_string(n) + ".ini");
        const std::string theirs = dir / ("system" + std::to_string(n) + ".ini");
        test::WriteText(ours, content);
        test::WriteText(theirs, content);
        IniFile ini(*fs, ours);
        auto compareReads = [&](const char* when) {
            // a dozen of the section and key pairs, in the spellings the file may hold
            for (int pair = 0; pair < 12; ++pair) {
                const char* section = dice.Pick(kSections);
                const char* key = dice.Pick(kKeys);
                const char* def = kDefaults[(reads++) % std::size(kDefaults)];
                ASSERT_EQ(ini.ReadString(section, key, def), SystemRead(theirs, section, key, def))
                    << when << " file " << n << " [" << section << "] " << key << "\n" << content;
                // A key there with an empty value reads as 0 by our rule; the
                // system's function gives the default then.
                if (SystemRead(theirs, section, key, "").empty())
                    continue;
                ASSERT_EQ(ini.ReadInt(section, key, -5),
                          static_cast<int>(::GetPrivateProfileIntA(section, key, -5, theirs.c_str())))
                    << when << " file " << n << " [" << section << "] " << key << "\n" << content;
            }
        };
        compareReads("before writing");
        const char* section = dice.Pick(kSections);
        const char* key = dice.Pick(kKeys);
        const std::string value = dice.Chance(50) ? "written value" : "C:\\data\\log";
        ASSERT_TRUE(ini.WriteString(section, key, value));
        ASSERT_TRUE(::WritePrivateProfileStringA(section, key, value.c_str(), theirs.c_str()));
        EXPECT_EQ(TouchedLine(test::ReadText(ours), section, key), TouchedLine(test::ReadText(theirs), section, key))
            << "file " << n << " [" << section << "] " << key << "\n" << content;
        compareReads("after writing");
    }
}

} // namespace
} // namespace tsr
