#include <cstring>
#include <gtest/gtest.h>

#include "config/temp_folder.h"
#include "session/session_support.h"
#include "tessaro.h"

namespace tsr {
namespace {

class ConfigExportsTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::KeepOffRealPorts();
        ASSERT_EQ(TSR_Init(0, "Tessaro.ini", nullptr, 0), 0);
    }
    static std::string File() { return test::ReadText("Tessaro.ini"); }
    static bool FileHas(const std::string& line) {
        return File().find("\r\n" + line + "\r\n") != std::string::npos;
    }

    test::TempFolder dir;
    test::CurrentFolder here{dir.Path()};
};

struct TextExport {
    const char* key;
    const char* (*get)();
    void (*set)(const char*);
};

const TextExport kTexts[] = {
    {"PathPresetSND", TSR_INI_GetPathPresetSND, TSR_INI_SetPathPresetSND},
    {"PathPresetRCV", TSR_INI_GetPathPresetRCV, TSR_INI_SetPathPresetRCV},
    {"PathLoopKeysSND", TSR_INI_GetPathLoopKeysSND, TSR_INI_SetPathLoopKeysSND},
    {"PathLoopKeysRCV", TSR_INI_GetPathLoopKeysRCV, TSR_INI_SetPathLoopKeysRCV},
    {"PathLoopScanSND", TSR_INI_GetPathLoopScanSND, TSR_INI_SetPathLoopScanSND},
    {"PathLoopScanRCV", TSR_INI_GetPathLoopScanRCV, TSR_INI_SetPathLoopScanRCV},
    {"PathCommands", TSR_INI_GetPathCommands, TSR_INI_SetPathCommands},
    {"PathLogs", TSR_INI_GetPathLogs, TSR_INI_SetPathLogs},
    {"PathCurrentJob", TSR_INI_GetPathCurrentJob, TSR_INI_SetPathCurrentJob},
    {"Language", TSR_INI_GetLanguage, TSR_INI_SetLanguage},
};

TEST_F(ConfigExportsTest, TextExportsRoundTripThroughTheFile) {
    for (const TextExport& t : kTexts) {
        const std::string value = std::string("C:\\Tessaro\\") + t.key + " <&>";
        t.set(value.c_str());
        EXPECT_STREQ(t.get(), value.c_str()) << t.key;
        EXPECT_TRUE(FileHas(std::string(t.key) + "=" + value)) << t.key;
        t.set("");
        EXPECT_STREQ(t.get(), "") << t.key;
        EXPECT_TRUE(FileHas(std::string(t.key) + "=")) << t.key;
        t.set(nullptr); // ignored
        EXPECT_STREQ(t.get(), "") << t.key;
    }
    // every export has a buffer of its own
    const char* logs = TSR_INI_GetPathLogs();
    const char* language = TSR_INI_GetLanguage();
    EXPECT_NE(logs, language);
}

TEST_F(ConfigExportsTest, LongTextsComeBackCutTo255InTheSameBuffer) {
    const std::string longText(300, 'p');
    TSR_INI_SetPathLogs("short");
    const char* first = TSR_INI_GetPathLogs();
    EXPECT_STREQ(first, "short");
    TSR_INI_SetPathLogs(longText.c_str());
    const char* second = TSR_INI_GetPathLogs();
    EXPECT_EQ(first, second);
    EXPECT_EQ(std::strlen(second), 255u);
    EXPECT_EQ(std::string(second), longText.substr(0, 255));
    EXPECT_TRUE(FileHas("PathLogs=" + longText)); // the file and the member keep the whole text
}

struct IntExport {
    const char* line; // the line the setter writes for value 5
    int32_t (*get)();
    int32_t (*set)(int32_t);
};

TEST_F(ConfigExportsTest, IntegerExportsRoundTripThroughTheFile) {
    const IntExport ints[] = {
        {"COM1=5", TSR_INI_GetCOM1, TSR_INI_SetCOM1},
        {"UnitNumber=5", TSR_INI_GetUnitsNumber, TSR_INI_SetUnitsNumber},
        {"KeysNumber=5", TSR_INI_GetKeysNumber, TSR_INI_SetKeysNumber},
        {"Perfector=5", TSR_INI_GetPerfector, TSR_INI_SetPerfector},
        {"Keys=5", TSR_INI_Inkingup_GetKeys, TSR_INI_Inkingup_SetKeys},
        {"Ductor=5", TSR_INI_Inkingup_GetDuctor, TSR_INI_Inkingup_SetDuctor},
        {"DuctorCycle=1/5", TSR_INI_Inkingup_GetDuctorCycle, TSR_INI_Inkingup_SetDuctorCycle},
        {"Timer=5", TSR_INI_Inkingup_GetTimmer, TSR_INI_Inkingup_SetTimmer},
    };
    for (const IntExport& i : ints) {
        EXPECT_EQ(i.set(5), 0) << i.line;
        EXPECT_EQ(i.get(), 5) << i.line;
        EXPECT_TRUE(FileHas(i.line)) << i.line;
    }
    EXPECT_EQ(TSR_INI_SetUnitsNumber(-40), 0);
    EXPECT_EQ(TSR_INI_GetUnitsNumber(), -40); // stored as given
}

TEST_F(ConfigExportsTest, InkingUpDuctorAndDuctorCycleAreDifferentValues) {
    EXPECT_EQ(TSR_INI_Inkingup_GetDuctor(), 99);
    EXPECT_EQ(TSR_INI_Inkingup_GetDuctorCycle(), 3);
    TSR_INI_Inkingup_SetDuctorCycle(5);
    EXPECT_EQ(TSR_INI_Inkingup_GetDuctor(), 99);
    EXPECT_TRUE(FileHas("Ductor=99"));
    EXPECT_TRUE(FileHas("DuctorCycle=1/5"));
    EXPECT_TRUE(FileHas("DuctorCycle=0")); // the press's scale in GENERAL is untouched
}

TEST_F(ConfigExportsTest, DuctorCycleScaleKeepsOnlyNoneTwoAndThree) {
    const std::pair<int32_t, int32_t> cases[] = {{3, 3}, {1, 0}, {2, 2}, {4, 0}, {-1, 0}, {0, 0}};
    for (const auto& [given, kept] : cases) {
        EXPECT_EQ(TSR_INI_SetDuctorCycle(given), 0);
        EXPECT_EQ(TSR_INI_GetDuctorCycle(), kept) << given;
        EXPECT_TRUE(FileHas("DuctorCycle=" + std::to_string(kept) + "\r\n[INKINGUP]")) << given;
    }
}

TEST_F(ConfigExportsTest, ConnectFlagsAreOnlyExactlyOne) {
    TSR_INI_SetConnectPSX(1);
    TSR_INI_SetConnectLPX(1);
    EXPECT_EQ(TSR_INI_IsConnectPSX(), 1);
    EXPECT_EQ(TSR_INI_IsConnectLPX(), 1);
    EXPECT_TRUE(FileHas("ConnectPSX=1"));
    TSR_INI_SetConnectPSX(2);
    EXPECT_EQ(TSR_INI_IsConnectPSX(), 0);
    EXPECT_TRUE(FileHas("ConnectPSX=0"));
    TSR_INI_SetConnectLPX(0);
    EXPECT_EQ(TSR_INI_IsConnectLPX(), 0);
    EXPECT_TRUE(FileHas("ConnectLPX=0"));
}

TEST_F(ConfigExportsTest, SetCom1WritesTheMembersOverHandEdits) {
    TSR_INI_SetLanguage("de");
    const std::string before = File();
    std::string edited = before;
    edited.replace(edited.find("Language=de"), 11, "Language=fr");
    edited.replace(edited.find("Timer=30"), 8, "Timer=99");
    edited += "[EXTRA]\r\nKept=1\r\n";
    test::WriteText("Tessaro.ini", edited);
    EXPECT_EQ(TSR_INI_SetCOM1(7), 0);
    std::string expected = before;
    expected.replace(expected.find("COM1=1"), 6, "COM1=7");
    EXPECT_EQ(File(), expected + "[EXTRA]\r\nKept=1\r\n");
    EXPECT_STREQ(TSR_INI_GetLanguage(), "de");
}

} // namespace
} // namespace tsr
