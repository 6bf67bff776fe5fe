#include "config/configuration.h"

#include <climits>
#include <gtest/gtest.h>
#include <thread>

#include "config/temp_folder.h"
#include "platform/file_system.h"
#include "support/test_platform.h"

namespace tsr {
namespace {

const char* const kDefaultFile = "[GENERAL]\r\n"
                                 "PathPresetSND=\r\n"
                                 "PathPresetRCV=..\\Velora\\press1\\xml\\preset\r\n"
                                 "PathLoopKeysSND=..\\Velora\\press1\\xml\\keyin\r\n"
                                 "PathLoopKeysRCV=..\\Velora\\press1\\xml\\keyout\r\n"
                                 "PathLoopScanSND=..\\Velora\\press1\\xmldensity\r\n"
                                 "PathLoopScanRCV=..\\Velora\\press1\\xmldensity\\tmp\r\n"
                                 "PathCommands=..\\Marvane\\commands\r\n"
                                 "PathCurrentJob=..\\Velora\\currentjob\r\n"
                                 "PathLogs=log\r\n"
                                 "ConnectPSX=0\r\n"
                                 "ConnectLPX=0\r\n"
                                 "PresetActive=1\r\n"
                                 "Language=\r\n"
                                 "COM1=1\r\n"
                                 "KeysNumber=24\r\n"
                                 "UnitNumber=4\r\n"
                                 "Perfector=4\r\n"
                                 "DuctorCycle=0\r\n"
                                 "[INKINGUP]\r\n"
                                 "Keys=15\r\n"
                                 "Ductor=99\r\n"
                                 "DuctorCycle=1/3\r\n"
                                 "Timer=30\r\n"
                                 "[EXCHANGE]\r\n"
                                 "PressMakerNamespace=http://www.example.com/schema/press-maker\r\n"
                                 "MeasurementNamespace=http://www.example.com/schema/measurement-vendor\r\n"
                                 "PollFolders=0\r\n";

class ConfigurationTest : public ::testing::Test {
protected:
    void LoadAndSave() {
        config.Load(path);
        config.SaveAll();
    }
    std::string File() const { return test::ReadText(path); }

    test::TempFolder dir;
    std::unique_ptr<FileSystem> fs = MakeFileSystem();
    std::string path = dir / "Tessaro.ini";
    Configuration config{*fs};
};

TEST_F(ConfigurationTest, ConstructionValuesHoldUntilTheFirstLoad) {
    EXPECT_EQ(config.Com1(), 1);
    EXPECT_EQ(config.UnitNumber(), 0);
    EXPECT_EQ(config.PathLogs(), "");
    EXPECT_TRUE(config.PresetActive());
    EXPECT_FALSE(config.ConnectPSX());
    config.SetLanguage("de"); // no file path yet: nothing is written anywhere
    EXPECT_EQ(config.Language(), "de");
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(ConfigurationTest, FileWrittenFromScratchHoldsEveryDefaultInOrder) {
    LoadAndSave();
    EXPECT_EQ(File(), kDefaultFile);
    EXPECT_EQ(config.FilePath(), path);
    EXPECT_EQ(config.PathLogs(), "log");
    EXPECT_EQ(config.KeysNumber(), 24);
    EXPECT_EQ(config.InkingUpDuctorCycle(), 3);
    EXPECT_EQ(config.InkingUpDuctor(), 99);
    EXPECT_EQ(config.InkingUpTimer(), 30);
}

TEST_F(ConfigurationTest, PartialFileIsCompletedWithDefaults) {
    test::WriteText(path, "[GENERAL]\r\nUnitNumber=6\r\n");
    LoadAndSave();
    EXPECT_EQ(config.UnitNumber(), 6);
    std::string expected = kDefaultFile;
    // the existing key keeps its place, the others follow it in their order
    expected.replace(expected.find("UnitNumber=4\r\n"), 14, "");
    expected.insert(std::string("[GENERAL]\r\n").size(), "UnitNumber=6\r\n");
    EXPECT_EQ(File(), expected);
}

TEST_F(ConfigurationTest, EmptyValueIsNotAMissingKey) {
    test::WriteText(path, "[GENERAL]\r\nPathLogs=\r\nKeysNumber=\r\n");
    config.Load(path);
    EXPECT_EQ(config.PathLogs(), "");
    EXPECT_EQ(config.KeysNumber(), 0);
    EXPECT_EQ(config.PathCommands(), "..\\Marvane\\commands");
}

TEST_F(ConfigurationTest, FlagIsOnOnlyForExactlyOne) {
    const std::pair<const char*, bool> cases[] = {{"1", true},   {"2", false},   {"0", false},
                                                  {"-1", false}, {"yes", false}, {"1x", true}};
    for (const auto& [text, on] : cases) {
        test::WriteText(path,
                        std::string("[GENERAL]\r\nConnectPSX=") + text + "\r\nPresetActive=" + text + "\r\n");
        config.Load(path);
        EXPECT_EQ(config.ConnectPSX(), on) << text;
        EXPECT_EQ(config.PresetActive(), on) << text;
    }
}

TEST_F(ConfigurationTest, InkingUpDuctorCycleReadsOneInN) {
    const std::pair<const char*, int> cases[] = {
        {"1/4", 4}, {"4", 4}, {"6", 6}, {"x", 0}, {"", 0}, {"1/", 0}, {"21/7", 7}, {"1/123456789", 1234567}};
    for (const auto& [text, n] : cases) {
        test::WriteText(path, std::string("[INKINGUP]\r\nDuctorCycle=") + text + "\r\n");
        config.Load(path);
        EXPECT_EQ(config.InkingUpDuctorCycle(), n) << text;
    }
    config.SetInkingUpDuctorCycle(5);
    EXPECT_EQ(config.InkingUpDuctorCycle(), 5);
    EXPECT_NE(File().find("[INKINGUP]\r\nDuctorCycle=1/5\r\n"), std::string::npos) << File();
}

TEST_F(ConfigurationTest, DuctorCycleScaleKeepsOnlyNoneTwoAndThree) {
    LoadAndSave();
    const std::pair<int, int> cases[] = {{0, 0}, {1, 0}, {2, 2}, {3, 3}, {4, 0}, {-2, 0}};
    for (const auto& [given, kept] : cases) {
        config.SetDuctorCycle(given);
        EXPECT_EQ(config.DuctorCycle(), kept) << given;
        EXPECT_NE(File().find("\r\nDuctorCycle=" + std::to_string(kept) + "\r\n[INKINGUP]"),
                  std::string::npos);
    }
    // the file's own value is taken as it is
    test::WriteText(path, "[GENERAL]\r\nDuctorCycle=7\r\n");
    config.Load(path);
    EXPECT_EQ(config.DuctorCycle(), 7);
}

TEST_F(ConfigurationTest, SettersWriteTheirKeyAtOnce) {
    LoadAndSave();
    config.SetPathLogs("D:\\data\\log");
    config.SetUnitNumber(20);
    config.SetConnectLPX(true);
    config.SetInkingUpTimer(-5);
    Configuration other(*fs);
    other.Load(path);
    EXPECT_EQ(other.PathLogs(), "D:\\data\\log");
    EXPECT_EQ(other.UnitNumber(), 20);
    EXPECT_TRUE(other.ConnectLPX());
    EXPECT_EQ(other.InkingUpTimer(), -5);
}

TEST_F(ConfigurationTest, SetCom1WritesEveryMemberOverHandEdits) {
    LoadAndSave();
    std::string edited = File();
    edited.replace(edited.find("PathLogs=log"), 12, "PathLogs=elsewhere");
    edited.replace(edited.find("Keys=15"), 7, "Keys=77");
    test::WriteText(path, edited);
    config.SetCom1(3);
    std::string expected = kDefaultFile;
    expected.replace(expected.find("COM1=1"), 6, "COM1=3");
    EXPECT_EQ(File(), expected);
}

TEST_F(ConfigurationTest, UnitAndKeyCountsAreStoredAsGivenButLimitedForTheTable) {
    LoadAndSave();
    const std::pair<int, int> units[] = {{4, 4}, {12, 12}, {13, 12}, {1000, 12}, {0, 0}, {-1, 0}};
    for (const auto& [given, inTable] : units) {
        config.SetUnitNumber(given);
        EXPECT_EQ(config.UnitNumber(), given);
        EXPECT_EQ(config.UnitsInTable(), inTable);
    }
    const std::pair<int, int> keys[] = {{24, 24}, {500, 500}, {501, 500}, {-7, 0}};
    for (const auto& [given, inTable] : keys) {
        config.SetKeysNumber(given);
        EXPECT_EQ(config.KeysNumber(), given);
        EXPECT_EQ(config.KeysInTable(), inTable);
    }
}

TEST_F(ConfigurationTest, DuctorCycleLastValKeepsOnePositionPerUnit) {
    LoadAndSave();
    config.SetDuctorCycleLastVal(2, 7);
    EXPECT_EQ(config.DuctorCycleLastVal(), "#7#0#0"); // the empty list starts with one empty piece
    config.SetDuctorCycleLastVal(1, 3);
    config.SetDuctorCycleLastVal(4, 12);
    config.SetDuctorCycleLastVal(5, 9); // no such position: unchanged
    config.SetDuctorCycleLastVal(0, 9);
    EXPECT_EQ(config.DuctorCycleLastVal(), "3#7#0#12");
    config.SetUnitNumber(2);
    config.SetDuctorCycleLastVal(1, 1);
    EXPECT_EQ(config.DuctorCycleLastVal(), "1#7");
    config.SetUnitNumber(1000000); // the list never grows past the table
    config.SetDuctorCycleLastVal(12, 5);
    EXPECT_EQ(config.DuctorCycleLastVal(), "1#7#0#0#0#0#0#0#0#0#0#5");
    Configuration other(*fs);
    other.Load(path);
    EXPECT_EQ(other.DuctorCycleLastVal(), "1#7#0#0#0#0#0#0#0#0#0#5");
    // SaveAll leaves the key as it is
    config.SaveAll();
    EXPECT_NE(File().find("DuctorCycleLastVal=1#7#0"), std::string::npos);
}

TEST_F(ConfigurationTest, GarbageInTheFileNeverBreaksLoading) {
    std::string garbage = "[GENERAL\r\n=\r\n==\r\n[]\r\nx=1\r\n[GENERAL]\r\nUnitNumber=-"
                          "2147483649\r\nKeysNumber=99999999999999\r\n";
    garbage += std::string("COM1=\x01\xff\0abc", 9) + "\r\n[INKINGUP]\r\nDuctorCycle=1/1/1/1/1/1\r\n";
    garbage += std::string(5000, '[') + "\r\nTimer" + std::string(3000, ' ') + "=12\r\n";
    test::WriteText(path, garbage);
    LoadAndSave();
    EXPECT_EQ(config.UnitNumber(), INT_MIN);
    EXPECT_EQ(config.KeysNumber(), INT_MAX);
    EXPECT_EQ(config.UnitsInTable(), 0);
    EXPECT_EQ(config.Com1(), 0);
    EXPECT_EQ(config.InkingUpDuctorCycle(), 1);
    EXPECT_EQ(config.InkingUpTimer(), 12);
}

TEST_F(ConfigurationTest, UnreadableFileGivesDefaults) {
    std::filesystem::create_directory(path); // a folder stands where the file should be
    config.Load(path);
    config.SaveAll();
    EXPECT_EQ(config.UnitNumber(), 4);
    EXPECT_EQ(config.PathLogs(), "log");
    config.SetUnitNumber(6); // the write fails; the member keeps the value
    EXPECT_EQ(config.UnitNumber(), 6);
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST_F(ConfigurationTest, FileThatIsThereButCannotBeReadIsNotOverwrittenWithDefaults) {
    if (!test::MakeFifo(path))
        GTEST_SKIP() << "folders hold no named pipes here";
    LoadAndSave();
    EXPECT_EQ(config.UnitNumber(), 4);
    config.SetUnitNumber(6);
    EXPECT_EQ(config.UnitNumber(), 6);
    EXPECT_EQ(std::filesystem::status(path).type(), std::filesystem::file_type::fifo);
}

TEST_F(ConfigurationTest, TextMembersAreReplacedAndCopiedWithoutRaces) {
    LoadAndSave();
    const std::string a(300, 'a'), b(40, 'b');
    std::thread writer([&] {
        for (int i = 0; i < 50; ++i)
            config.SetPathLoopScanRCV(i % 2 ? a : b);
    });
    for (int i = 0; i < 2000; ++i) {
        const std::string v = config.PathLoopScanRCV();
        ASSERT_TRUE(v == a || v == b || v == "..\\Velora\\press1\\xmldensity\\tmp") << v.size();
    }
    writer.join();
    Configuration other(*fs);
    other.Load(path);
    EXPECT_EQ(other.PathLoopScanRCV(), config.PathLoopScanRCV());
}

} // namespace
} // namespace tsr
