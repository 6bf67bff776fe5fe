// The host's texts on Windows: to and from the library in the ANSI code page,
// paths made of UTF-8 texts naming the files Windows has under those names.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/host_paths.h"
#include "app/library_text.h"
#include "config/temp_folder.h"

namespace {

// Wine's code page follows the locale; the cases are those of Windows-1252.
bool WesternCodePage() {
    return ::GetACP() == 1252;
}

} // namespace

TEST(LibraryText, CrossesToTheCodePageAndBack) {
    if (!WesternCodePage())
        GTEST_SKIP() << "code page " << ::GetACP() << ", the cases are Windows-1252's";
    struct Case {
        const char* utf8;
        const char* codePage;
    } cases[] = {
        {"", ""},
        {"Preset", "Preset"},
        {"M\xC3\xBCller Gr\xC3\xBC\xC3\x9F" "e", "M\xFCller Gr\xFC\xDF" "e"},
        {"C:\\Jobs\\Ausschu\xC3\x9F", "C:\\Jobs\\Ausschu\xDF"},
        {"\xE2\x82\xAC 12", "\x80 12"}, // the euro sign has a byte of its own
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToLibraryText(c.utf8), c.codePage) << c.utf8;
        EXPECT_EQ(FromLibraryText(c.codePage), c.utf8) << c.utf8;
    }
    EXPECT_EQ(FromLibraryText(nullptr), "");
}

TEST(LibraryText, ACharacterTheCodePageLacksBecomesAQuestionMark) {
    if (!WesternCodePage())
        GTEST_SKIP() << "code page " << ::GetACP();
    // Greek capital omega: not "O", which would name another file
    EXPECT_EQ(ToLibraryText("Unit \xCE\xA9"), "Unit ?");
}

TEST(PathFromText, NamesTheFileWindowsHasUnderThatName) {
    tsr::test::TempFolder temp;
    const std::string name = "J\xC3\xBCrgen \xCE\xA9"; // beyond the code page too
    const std::filesystem::path folder = temp.Path() / PathFromText(name);
    ASSERT_TRUE(CreatePrivateFolder(folder));
    CreatePrivateFile(folder / "Tessaro.ini");
    const std::wstring wide = temp.Path().wstring() + L"\\J\u00fcrgen \u03a9\\Tessaro.ini";
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(folder.filename().string(), name); // and back to the same text
}
