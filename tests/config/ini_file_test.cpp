#include "config/ini_file.h"

#include <climits>
#include <vector>
#include <gtest/gtest.h>

#include "config/temp_folder.h"
#include "platform/file_system.h"
#include "support/test_platform.h"

namespace tsr {
namespace {

class IniFileTest : public ::testing::Test {
protected:
    test::TempFolder dir;
    std::unique_ptr<FileSystem> fs = MakeFileSystem();
    std::string path = dir / "Tessaro.ini";
    IniFile ini{*fs, path};
};

TEST_F(IniFileTest, ReadsIgnoringCaseAndTrimsTheValueAfterTheFirstEquals) {
    test::WriteText(path, "[General]\r\n  PathLogs =  a=b c \t\r\nEmpty=\r\n[Other]\r\nPathLogs=other\r\n");
    EXPECT_EQ(ini.ReadString("GENERAL", "pathlogs", "def"), "a=b c");
    EXPECT_EQ(ini.ReadString("OTHER", "PATHLOGS", "def"), "other");
    EXPECT_EQ(ini.ReadString("GENERAL", "Empty", "def"), "");
    EXPECT_EQ(ini.ReadString("GENERAL", "Missing", "def"), "def");
    EXPECT_EQ(ini.ReadString("Nowhere", "PathLogs", "def"), "def");
    EXPECT_EQ(ini.ReadInt("GENERAL", "Empty", 7), 0);
    EXPECT_EQ(ini.ReadInt("GENERAL", "Missing", 7), 7);
}

TEST_F(IniFileTest, MissingOrUnreadableFileGivesDefaults) {
    EXPECT_EQ(ini.ReadString("GENERAL", "PathLogs", "log"), "log");
    EXPECT_EQ(ini.ReadInt("GENERAL", "COM1", 1), 1);
    ASSERT_TRUE(std::filesystem::create_directory(path)); // a folder where the file should be
    EXPECT_EQ(ini.ReadInt("GENERAL", "COM1", 1), 1);
    EXPECT_FALSE(ini.WriteString("GENERAL", "COM1", "2"));
    IniFile noPath(*fs, "");
    EXPECT_EQ(noPath.ReadInt("GENERAL", "COM1", 3), 3);
    EXPECT_FALSE(noPath.WriteString("GENERAL", "COM1", "2"));
}

// A file that is there but cannot be read is not taken for a missing one: a
// write would replace every other key and section of it with the one key.
TEST_F(IniFileTest, ExistingFileThatCannotBeReadIsNeverReplaced) {
    const std::string content = "[GENERAL]\r\nCOM1=1\r\n[INKINGUP]\r\nKeys=15\r\n";
    if (test::MakeFifo(path + ".fifo")) { // open for reading fails: no regular file
        IniFile fifo(*fs, path + ".fifo");
        EXPECT_FALSE(fifo.WriteString("GENERAL", "COM1", "2"));
        EXPECT_EQ(std::filesystem::status(path + ".fifo").type(), std::filesystem::file_type::fifo);
    }

    if (test::PermissionsIgnored())
        return; // permissions keep nothing from root
    test::WriteText(path, content);
    if (!test::SetReadable(path, false))
        return; // no read right to take away here
    EXPECT_FALSE(ini.WriteString("GENERAL", "COM1", "2"));
    ASSERT_TRUE(test::SetReadable(path, true));
    EXPECT_EQ(test::ReadText(path), content);
}

TEST_F(IniFileTest, ReadLimitCutsLongValues) {
    const std::string longValue(1500, 'x');
    test::WriteText(path, "[G]\nA=" + longValue + "\nB=1/1234567890\n");
    EXPECT_EQ(ini.ReadString("G", "A", ""), std::string(999, 'x'));
    EXPECT_EQ(ini.ReadString("G", "B", "", 9), "1/1234567");
}

TEST(IniFileLeadingInt, ReadsTheNumberAtTheStart) {
    const std::pair<std::string, int> cases[] = {
        {"12", 12},
        {"  42abc", 42},
        {"-3", -3},
        {"+5", 5},
        {"abc", 0},
        {"", 0},
        {"1/4", 1},
        {"99999999999", INT_MAX},
        {"-99999999999", INT_MIN},
        {"-2147483648", INT_MIN},
        {"7 8", 7},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(IniFile::LeadingInt(text), value) << "text '" << text << "'";
}

TEST_F(IniFileTest, WriteCreatesTheFile) {
    EXPECT_TRUE(ini.WriteString("GENERAL", "COM1", "3"));
    EXPECT_EQ(test::ReadText(path), "[GENERAL]\r\nCOM1=3\r\n");
}

TEST_F(IniFileTest, WriteReplacesInPlaceAppendsToItsSectionOrAddsTheSection) {
    test::WriteText(path, "; kept\r\n[general]\r\ncom1 = 1\r\nOther=x\r\n\r\n[INKINGUP]\r\nKeys=15\r\n");
    EXPECT_TRUE(ini.WriteString("GENERAL", "COM1", "5"));
    EXPECT_TRUE(ini.WriteString("GENERAL", "Language", "de"));
    EXPECT_TRUE(ini.WriteString("NEW", "Key", ""));
    // the replaced key keeps the file's spelling, as the system's function keeps it
    EXPECT_EQ(test::ReadText(path), "; kept\r\n[general]\r\ncom1=5\r\nOther=x\r\nLanguage=de\r\n\r\n"
                                    "[INKINGUP]\r\nKeys=15\r\n[NEW]\r\nKey=\r\n");
    EXPECT_EQ(ini.ReadString("New", "KEY", "def"), "");
}

// What the system's private-profile functions read from hand-edited files.
TEST_F(IniFileTest, ValuesReadAsTheSystemReadsThem) {
    struct Case {
        const char* line;
        const char* value;
    };
    const Case cases[] = {
        {"PathLogs=\"C:\\Program Files\\Tessaro\\log\"", "C:\\Program Files\\Tessaro\\log"},
        {"PathLogs = 'log' ", "log"},
        {"PathLogs=\"\"", ""},
        {"PathLogs=\"log'", "\"log'"},           // quotes that do not match stay
        {"PathLogs=\"", "\""},                  // one quote alone stays
        {"PathLogs=\"\"log\"\"", "\"log\""},      // one pair only
        {"PathLogs=a \"b\"", "a \"b\""},          // quotes inside stay
        {"PathLogs=log\r", "log"},               // a CR before the CR LF
        {"PathLogs=log \r\r", "log"},
    };
    for (const Case& c : cases) {
        test::WriteText(path, std::string("[GENERAL]\r\n") + c.line + "\r\nCOM1=\"7\"\r\n");
        EXPECT_EQ(ini.ReadString("GENERAL", "PathLogs", "x"), c.value) << c.line;
        EXPECT_EQ(ini.ReadInt("GENERAL", "COM1", 1), 7) << c.line;
    }
    EXPECT_EQ(ini.ReadString("GENERAL", "Missing", "log  "), "log"); // a default's trailing blanks are cut
    EXPECT_EQ(ini.ReadString("GENERAL", "Missing", "  log\t"), "  log\t");
}

TEST_F(IniFileTest, FileWithBareLineFeedsKeepsThem) {
    test::WriteText(path, "[A]\nx=1"); // no line end after the last line
    EXPECT_TRUE(ini.WriteString("A", "y", "2"));
    EXPECT_EQ(test::ReadText(path), "[A]\nx=1\ny=2\n");
}

TEST_F(IniFileTest, ValueWithLineEndsCannotAddLines) {
    EXPECT_TRUE(ini.WriteString("A", "x", "first\r\n[B]\r\ny=2"));
    EXPECT_EQ(test::ReadText(path), "[A]\r\nx=first\r\n");
    EXPECT_EQ(ini.ReadString("B", "y", "none"), "none");
}

// Editors may put a byte order mark before the first section of a file edited
// by hand; that section must still be found, not added a second time.
TEST_F(IniFileTest, ByteOrderMarkBeforeTheFirstSectionIsPassedOverAndKept) {
    test::WriteText(path, "\xEF\xBB\xBF[GENERAL]\r\nUnitNumber=6\r\n");
    EXPECT_EQ(ini.ReadInt("GENERAL", "UnitNumber", 4), 6);
    EXPECT_TRUE(ini.WriteString("GENERAL", "KeysNumber", "32"));
    EXPECT_EQ(test::ReadText(path), "\xEF\xBB\xBF[GENERAL]\r\nUnitNumber=6\r\nKeysNumber=32\r\n");
}

TEST_F(IniFileTest, FileNameIsFoundIgnoringCase) {
    test::WriteText(dir / "tessaro.INI", "[A]\r\nx=1\r\n");
    EXPECT_EQ(ini.ReadInt("A", "x", 0), 1);
    EXPECT_TRUE(ini.WriteString("A", "x", "2"));
    EXPECT_EQ(test::ReadText(dir / "tessaro.INI"), "[A]\r\nx=2\r\n");
    std::vector<std::string> names; // the file keeps its name, no second file beside it
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"tessaro.INI"});
}

} // namespace
} // namespace tsr
