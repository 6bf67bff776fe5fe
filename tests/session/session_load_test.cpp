#include <cstring>
#include <gtest/gtest.h>

#include "config/temp_folder.h"
#include "session/session_support.h"
#include "tessaro.h"

namespace tsr {
namespace {

// Runs alone in its process: the library as loaded, then after the first TSR_Init.
TEST(SessionLoad, LibraryStartsWithConstructionValuesAndAnEmptyTable) {
    test::KeepOffRealPorts();
    test::TempFolder dir;
    test::CurrentFolder here(dir.Path());
    EXPECT_EQ(TSR_INI_GetCOM1(), 1);
    EXPECT_EQ(TSR_INI_GetUnitsNumber(), 0);
    EXPECT_STREQ(TSR_INI_GetPathLogs(), "");
    EXPECT_EQ(TSR_INI_IsConnectPSX(), 0);
    char name[256] = "x";
    int32_t colour = 5;
    uint8_t present = 5;
    EXPECT_EQ(TSR_GetUnitDetails(0, name, &colour, &present), 1); // no unit in use yet
    TSR_WriteLogFile("before init");                              // no log folder: dropped
    TSR_INI_SetLanguage("de");                                    // no file yet: kept in memory only
    EXPECT_STREQ(TSR_INI_GetLanguage(), "de");
    EXPECT_EQ(TSR_Destroy(), 0);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));

    EXPECT_EQ(TSR_Init(0, "Tessaro.ini", test::RecordFirst, 0), 0);
    EXPECT_STREQ(TSR_INI_GetLanguage(), ""); // the file's defaults from here on
    for (int32_t index = 0; index < 4; ++index) {
        std::memset(name, 'Z', sizeof name);
        EXPECT_EQ(TSR_GetUnitDetails(index, name, &colour, &present), 0);
        EXPECT_STREQ(name, "");
        EXPECT_EQ(colour, 0);
        EXPECT_EQ(present, 0);
    }
}

} // namespace
} // namespace tsr
