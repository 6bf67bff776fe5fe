#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>

#include "config/temp_folder.h"
#include "session/session_support.h"
#include "tessaro.h"

namespace tsr {
namespace {

namespace fsys = std::filesystem;
using test::Event;

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::KeepOffRealPorts();
        test::EventRecorder::First().Take();
        test::EventRecorder::Second().Take();
    }
    int32_t Init(TSR_EventCallback callback = test::RecordFirst, int32_t window = 1) {
        return TSR_Init(window, "Tessaro.ini", callback, 0);
    }
    // The text of every log file of folder, in name order.
    static std::string LogText(const fsys::path& folder) {
        std::vector<fsys::path> files;
        for (const auto& e : fsys::directory_iterator(folder))
            if (e.is_regular_file())
                files.push_back(e.path());
        std::sort(files.begin(), files.end());
        std::string all;
        for (const auto& f : files)
            all += test::ReadText(f);
        return all;
    }

    test::TempFolder dir;
    test::CurrentFolder here{dir.Path()};
};

TEST_F(SessionTest, InitLoadsAndWritesTheConfigurationAndLogsInitThenOpenSerial) {
    fsys::create_directory("log");
    EXPECT_EQ(Init(), 0);
    EXPECT_EQ(test::EventRecorder::First().Take(), (std::vector<Event>{{0, 10, 0}}));
    EXPECT_TRUE(fsys::is_directory("log/Memory"));
    const std::string ini = test::ReadText("Tessaro.ini");
    EXPECT_EQ(ini.rfind("[GENERAL]\r\nPathPresetSND=\r\n", 0), 0u) << ini;
    EXPECT_NE(ini.find("[INKINGUP]\r\nKeys=15\r\nDuctor=99\r\nDuctorCycle=1/3\r\nTimer=30\r\n"),
              std::string::npos);
    EXPECT_EQ(ini.find("DuctorCycleLastVal"), std::string::npos);

    const std::string log = LogText("log");
    const std::size_t init = log.find("  <span style='color:green'>init</span></BR>");
    const std::size_t open = log.find("  <span style='color:green'>open serial</span></BR>");
    ASSERT_NE(init, std::string::npos) << log;
    ASSERT_NE(open, std::string::npos) << log;
    EXPECT_LT(init, open);
    EXPECT_EQ(log.size(),
              2 * std::strlen("2016-05-27 14:03:11  <span style='color:green'></span></BR>") + 4 + 11);
}

TEST_F(SessionTest, MissingLogFolderDropsEntriesUntilItExists) {
    // a name of its own: the log keeps its file open while the name stays the same
    test::WriteText("Tessaro.ini", "[GENERAL]\r\nPathLogs=later\r\n");
    EXPECT_EQ(Init(), 0);
    EXPECT_FALSE(fsys::exists("later")); // a single-piece path creates no folder
    TSR_WriteLogFile("lost");
    fsys::create_directory("later");
    TSR_WriteLogFile("<b>kept</b>");
    TSR_WriteLogFile(nullptr);
    const std::string log = LogText("later");
    EXPECT_EQ(log.find("lost"), std::string::npos);
    EXPECT_EQ(log.find("'>init<"), std::string::npos) << log;
    EXPECT_NE(log.find("<span style='color:green'><b>kept</b></span></BR>"), std::string::npos) << log;
}

TEST_F(SessionTest, LogFolderInWindowsFormIsCreatedAlongItsPath) {
    fsys::create_directory("data");
    test::WriteText("Tessaro.ini", "[GENERAL]\r\nPathLogs=data\\press\\log\r\n");
    EXPECT_EQ(Init(), 0);
    EXPECT_TRUE(fsys::is_directory("data/press/log/Memory"));
    EXPECT_NE(LogText("data/press/log").find("'>init<"), std::string::npos);
    EXPECT_STREQ(TSR_INI_GetPathLogs(), "data\\press\\log"); // the text itself stays as it was
}

TEST_F(SessionTest, EntriesWrittenWhileInitMovesTheLogToANewFolderAreKept) {
    fsys::create_directory("data");
    auto initIn = [&](int n) {
        test::WriteText("Tessaro.ini", "[GENERAL]\r\nPathLogs=data/log" + std::to_string(n) + "\r\n");
        EXPECT_EQ(Init(test::RecordFirst, 0), 0);
    };
    initIn(0);
    std::atomic<bool> stop{false};
    long written = 0;
    std::thread writer([&] {
        while (!stop) {
            TSR_WriteLogFile("entry");
            ++written;
        }
    });
    for (int n = 1; n <= 40; ++n)
        initIn(n);
    stop = true;
    writer.join();
    long found = 0;
    for (int n = 0; n <= 40; ++n) {
        const std::string log = LogText("data/log" + std::to_string(n));
        for (std::size_t at = log.find("'>entry<"); at != std::string::npos; at = log.find("'>entry<", at + 1))
            ++found;
    }
    EXPECT_EQ(found, written);
}

TEST_F(SessionTest, EmptyLogFolderCreatesNoMemoryFolderAtTheRoot) {
    if (fsys::exists("/Memory"))
        GTEST_SKIP() << "/Memory is there already";
    test::WriteText("Tessaro.ini", "[GENERAL]\r\nPathLogs=\r\n");
    EXPECT_EQ(Init(), 0);
    const bool created = fsys::exists("/Memory");
    std::error_code ignored;
    fsys::remove("/Memory", ignored);
    EXPECT_FALSE(created);
    EXPECT_STREQ(TSR_INI_GetPathLogs(), "");
}

TEST_F(SessionTest, InitEmptiesTheIncomingFoldersOfXmlFilesOnly) {
    fsys::create_directory("log");
    for (const char* folder : {"in/commands/sub.xml", "in/keys", "in/preset", "in/keyin", "in/scan"})
        fsys::create_directories(folder);
    for (const char* file : {"in/commands/a.xml", "in/commands/B.XML", "in/commands/keep.txt",
                             "in/commands/sub.xml/inner.xml", "in/keys/x.xml", "in/preset/job.xml",
                             "in/preset/job.txt", "in/keyin/out.xml", "in/scan/scan.xml.part"})
        test::WriteText(file, "x");
    const std::string back = "..\\" + dir.Path().filename().string();
    test::WriteText("Tessaro.ini", "[GENERAL]\r\nPathCommands=IN\\Commands\r\nPathLoopKeysRCV=in/keys\r\n"
                                   "PathLoopScanRCV=in\\missing\r\nPathPresetRCV=" +
                                       back + "\\in\\preset\r\nPathLoopKeysSND=in\\keyin\r\n");
    EXPECT_EQ(Init(), 0);
    for (const char* gone : {"in/commands/a.xml", "in/commands/B.XML", "in/keys/x.xml", "in/preset/job.xml"})
        EXPECT_FALSE(fsys::exists(gone)) << gone;
    for (const char* kept : {"in/commands/keep.txt", "in/commands/sub.xml/inner.xml", "in/preset/job.txt",
                             "in/keyin/out.xml", "in/scan/scan.xml.part"})
        EXPECT_TRUE(fsys::exists(kept)) << kept;
    // each dropped file first went into the log folder, under its role name
    std::vector<std::string> backups;
    for (const auto& e : fsys::directory_iterator("log"))
        if (e.is_regular_file() && e.path().extension() != ".html")
            backups.push_back(e.path().filename().string().substr(31));
    std::sort(backups.begin(), backups.end());
    EXPECT_EQ(backups, (std::vector<std::string>{"B.XML", "a.xml", "job.xml", "x.xml"}));
}

TEST_F(SessionTest, EmptyIncomingFolderTextTouchesNothing) {
    test::WriteText("stray.xml", "x");
    test::WriteText("Tessaro.ini", "[GENERAL]\r\nPathCommands=\r\nPathPresetRCV=\r\n");
    EXPECT_EQ(Init(), 0);
    EXPECT_TRUE(fsys::exists("stray.xml"));
}

TEST_F(SessionTest, SecondInitReloadsTheFileAndReplacesTheCallback) {
    EXPECT_EQ(Init(test::RecordFirst), 0);
    std::string ini = test::ReadText("Tessaro.ini");
    ini.replace(ini.find("UnitNumber=4"), 12, "UnitNumber=7");
    test::WriteText("Tessaro.ini", ini);
    EXPECT_EQ(Init(test::RecordSecond, 0), 0);
    EXPECT_EQ(TSR_INI_GetUnitsNumber(), 7);
    EXPECT_EQ(test::EventRecorder::First().Take(), (std::vector<Event>{{0, 10, 0}}));
    EXPECT_EQ(test::EventRecorder::Second().Take(), (std::vector<Event>{{0, 10, 0}}));
    EXPECT_EQ(Init(nullptr), 0); // no callback: the event is dropped
    EXPECT_TRUE(test::EventRecorder::Second().Take().empty());
}

TEST_F(SessionTest, DestroyKeepsTheSession) {
    EXPECT_EQ(Init(), 0);
    TSR_INI_SetUnitsNumber(3);
    EXPECT_EQ(TSR_Destroy(), 0);
    EXPECT_EQ(TSR_Destroy(), 0);
    EXPECT_EQ(TSR_INI_GetUnitsNumber(), 3);
    char name[256];
    int32_t colour = 0;
    uint8_t present = 0;
    EXPECT_EQ(TSR_GetUnitDetails(2, name, &colour, &present), 0);
}

TEST_F(SessionTest, GetUnitDetailsChecksTheIndexAgainstUnitNumberAndTheTable) {
    EXPECT_EQ(Init(), 0);
    struct Case {
        int units;
        int index;
        int32_t result;
    };
    const Case cases[] = {{4, -1, 1},  {4, 0, 0},   {4, 3, 0},   {4, 4, 1},        {0, 0, 1},
                          {20, 11, 0}, {20, 12, 1}, {20, 19, 1}, {20, 1 << 30, 1}, {-5, 0, 1}};
    for (const Case& c : cases) {
        TSR_INI_SetUnitsNumber(c.units);
        char name[256];
        std::memset(name, 'Z', sizeof name);
        int32_t colour = 77;
        uint8_t present = 9;
        EXPECT_EQ(TSR_GetUnitDetails(c.index, name, &colour, &present), c.result)
            << c.units << " units, index " << c.index;
        if (c.result == 0) {
            EXPECT_EQ(name[0], '\0');
            EXPECT_EQ(colour, 0);
            EXPECT_EQ(present, 0);
        } else {
            EXPECT_EQ(name[0], 'Z'); // nothing written
            EXPECT_EQ(colour, 77);
            EXPECT_EQ(present, 9);
        }
    }
    TSR_INI_SetUnitsNumber(4);
    EXPECT_EQ(TSR_GetUnitDetails(0, nullptr, nullptr, nullptr), 0);
}

TEST_F(SessionTest, InitWithoutConfigurationPathRunsOnDefaults) {
    EXPECT_EQ(TSR_Init(0, nullptr, test::RecordFirst, 0), 0);
    EXPECT_EQ(TSR_INI_GetUnitsNumber(), 4);
    EXPECT_STREQ(TSR_INI_GetPathLogs(), "log");
    EXPECT_TRUE(fsys::is_empty(dir.Path()));
    EXPECT_EQ(test::EventRecorder::First().Take(), (std::vector<Event>{{0, 10, 0}}));
}

} // namespace
} // namespace tsr
