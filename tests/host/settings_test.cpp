// Settings between the page and the library's configuration, and the folder
// picker, with the library started by the host.
#include "app/settings.h"
#include "app/folder_browser.h"
#include "host/host_ops_rig.h"

namespace tsr::test {
namespace {

using Texts = std::vector<std::string>;

// The one settings call the page received, as the page reads it.
nlohmann::json PageSettings(const HostRig& rig) {
    const Texts calls = rig.browser.Starting("App.loadSettings(");
    EXPECT_EQ(calls.size(), 1u);
    if (calls.empty())
        return nullptr;
    return PageJson(calls.back(), "App.loadSettings(");
}

std::vector<std::string> FolderNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.is_directory())
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Settings, RoundTripWithAWindowsLogFolderAndNoLanguage) {
    HostRig rig({.ductorCycle = 3, .language = "", .logFolder = "D:\\data\\log"});
    CurrentFolder here(rig.folder.Path());                       // the folder is relative here
    std::filesystem::create_directory(rig.folder.Path() / "D:"); // the drive
    rig.app->BindCallbacks();
    rig.app->LoadSettings();

    // Every "\" is quadrupled in the script text; the page sees single ones.
    const Texts calls = rig.browser.Texts();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_NE(calls[0].find(R"("log_path":"D:\\\\data\\\\log")"), std::string::npos) << calls[0];
    nlohmann::json page = PageSettings(rig);
    EXPECT_EQ(page["log_path"], "D:\\data\\log");
    EXPECT_EQ(page["language"], "en");
    EXPECT_EQ(page["units"], 4);
    EXPECT_EQ(page["keys"], 24);
    EXPECT_EQ(page["ductorcycle"], 3);
    EXPECT_EQ(page["perfector"], 4);
    EXPECT_EQ(page["preset"], false);
    EXPECT_EQ(page["preset_input"], rig.Inside("preset"));
    const std::vector<std::string> members = {"com",
                                              "units",
                                              "keys",
                                              "ductorcycle",
                                              "preset",
                                              "loop",
                                              "preset_input",
                                              "loop_keys_input",
                                              "loop_keys_output",
                                              "loop_scan_input",
                                              "loop_scan_output",
                                              "loop_commands",
                                              "perfector",
                                              "current_job_path",
                                              "log_path",
                                              "language"};
    for (const auto& member : members)
        EXPECT_TRUE(page.contains(member)) << member;
    EXPECT_EQ(page.size(), members.size());
    EXPECT_EQ(rig.app->FNumberOfKeys, 24);
    EXPECT_TRUE(rig.app->FenableDuctorCycle);

    // Below the log folder: "log", "log/memory" and one job memory folder,
    // the library's, whatever its letter case.
    const auto logFolder = rig.folder.Path() / "D:" / "data" / "log";
    EXPECT_EQ(FolderNames(logFolder), (std::vector<std::string>{"Memory", "log"}));
    EXPECT_EQ(FolderNames(logFolder / "log"), std::vector<std::string>{"memory"});

    // The page changes some settings and sends the object back as JSON.
    page["units"] = 6;
    page["perfector"] = 0;
    page["keys"] = 32;
    page["ductorcycle"] = 0;
    page["language"] = "de";
    page["preset_input"] = "D:\\jobs\\in";
    page["current_job_path"] = "..\\current job";
    rig.browser.Clear();
    rig.app->saveSettings(page.dump());
    EXPECT_EQ(rig.app->Geterrors(), "\"Settings saved successfully\"");
    EXPECT_EQ(rig.browser.Texts(), Texts{"App.showPendingErrors()"});
    EXPECT_EQ(TSR_INI_GetUnitsNumber(), 6);
    EXPECT_EQ(TSR_INI_GetPerfector(), 6); // 0 stands for all units
    EXPECT_EQ(TSR_INI_GetKeysNumber(), 32);
    EXPECT_EQ(TSR_INI_GetDuctorCycle(), 0);
    EXPECT_STREQ(TSR_INI_GetLanguage(), "de");
    EXPECT_STREQ(TSR_INI_GetPathPresetRCV(), "D:\\jobs\\in");
    EXPECT_STREQ(TSR_INI_GetPathCurrentJob(), "..\\current job");
    EXPECT_STREQ(TSR_INI_GetPathLogs(), "D:\\data\\log");
    EXPECT_FALSE(rig.app->FenableDuctorCycle);
    EXPECT_EQ(rig.app->FNumberOfKeys, 24); // taken only when the settings are loaded
    const std::string ini = ReadText(rig.IniPath());
    EXPECT_NE(ini.find("PathPresetRCV=D:\\jobs\\in\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Perfector=6"), std::string::npos) << ini;
    // The library was started again with the stored settings.
    const auto log = LogTexts(logFolder);
    EXPECT_EQ(std::count(log.begin(), log.end(), "init"), 2);
    EXPECT_TRUE(rig.app->GetisSerialOpen());

    // Read back, the page finds what it stored.
    rig.browser.Clear();
    rig.app->LoadSettings();
    nlohmann::json expected = page;
    expected["perfector"] = 6;
    EXPECT_EQ(PageSettings(rig), expected);
}

TEST(Settings, ALenientTextIsStoredAndMissingMembersReadAsNothing) {
    HostRig rig;
    rig.StartLibrary();
    ASSERT_TRUE(rig.app->FenableDuctorCycle);
    const std::string text = "{com: " + std::to_string(rig.console->Port()) +
                             ", units: 6, perfector: 0, 'keys': 24, ductorcycle: 0, log_path: '" +
                             rig.logFolder + "', language: 'fr', preset: false}";
    rig.app->saveSettings(text);
    EXPECT_EQ(rig.app->Geterrors(), "\"Settings saved successfully\"");
    EXPECT_EQ(TSR_INI_GetUnitsNumber(), 6);
    EXPECT_EQ(TSR_INI_GetPerfector(), 6);
    EXPECT_EQ(TSR_INI_GetDuctorCycle(), 0);
    EXPECT_FALSE(rig.app->FenableDuctorCycle);
    EXPECT_STREQ(TSR_INI_GetLanguage(), "fr");
    EXPECT_STREQ(TSR_INI_GetPathPresetRCV(), ""); // not given
    EXPECT_STREQ(TSR_INI_GetPathCommands(), "");
    EXPECT_EQ(TSR_INI_IsConnectLPX(), 0);
    EXPECT_TRUE(rig.app->GetisSerialOpen());

    // A perfector given is kept; a cycle scale switches the cycles on.
    rig.app->saveSettings("{\"com\":" + std::to_string(rig.console->Port()) +
                          ",\"units\":5,\"perfector\":2,\"ductorcycle\":2,\"log_path\":\"" + rig.logFolder +
                          "\"}");
    EXPECT_EQ(TSR_INI_GetUnitsNumber(), 5);
    EXPECT_EQ(TSR_INI_GetPerfector(), 2);
    EXPECT_EQ(TSR_INI_GetDuctorCycle(), 2);
    EXPECT_TRUE(rig.app->FenableDuctorCycle);
    EXPECT_STREQ(TSR_INI_GetLanguage(), "");
}

TEST(Settings, ATextThatIsNoObjectChangesNothing) {
    HostRig rig;
    rig.StartLibrary();
    const std::string before = ReadText(rig.IniPath());
    const size_t inits = rig.LogStarting("init").size();
    for (const char* text : {"{units: 6", "units=6", "[{\"units\":6}]", "\"{\\\"units\\\":6}\"", "", "null",
                             "{\"units\":6}x", "{\"units\":6,}", "6"}) {
        rig.browser.Clear();
        rig.app->saveSettings(text);
        EXPECT_EQ(rig.app->Geterrors(), "\"Settings not saved: the settings text is not a JSON object\"")
            << text;
        EXPECT_EQ(rig.browser.Texts(), Texts{"App.showPendingErrors()"}) << text;
        EXPECT_EQ(ReadText(rig.IniPath()), before) << text;
        EXPECT_EQ(TSR_INI_GetUnitsNumber(), 4) << text;
        EXPECT_TRUE(rig.app->FenableDuctorCycle) << text;
    }
    EXPECT_EQ(rig.LogStarting("init").size(), inits); // the library was not started again
}

TEST(Settings, FolderTextsWithQuotesAndBackslashesReachThePageAsTheyAre) {
    HostRig rig;
    CurrentFolder here(rig.folder.Path()); // relative folders stay inside
    rig.StartLibrary();
    const std::string awkward[] = {
        "D:\\it's \"new\"\\x",
        "\\\\server\\share\\",
        "/tmp/a'b",
        "C:\\a\\\\b",
        "tab\there",
        "a\\\"b",
        "x\\'y",
    };
    TSR_INI_SetPathPresetRCV(awkward[0].c_str());
    TSR_INI_SetPathLoopKeysRCV(awkward[1].c_str());
    TSR_INI_SetPathLoopKeysSND(awkward[2].c_str());
    TSR_INI_SetPathLoopScanRCV(awkward[3].c_str());
    TSR_INI_SetPathLoopScanSND(awkward[4].c_str());
    TSR_INI_SetPathCommands(awkward[5].c_str());
    TSR_INI_SetPathCurrentJob(awkward[6].c_str());
    TSR_INI_SetLanguage("it's");
    rig.app->LoadSettings();
    const auto page = PageSettings(rig);
    EXPECT_EQ(page["preset_input"], awkward[0]);
    EXPECT_EQ(page["loop_keys_input"], awkward[1]);
    EXPECT_EQ(page["loop_keys_output"], awkward[2]);
    EXPECT_EQ(page["loop_scan_input"], awkward[3]);
    EXPECT_EQ(page["loop_scan_output"], awkward[4]);
    EXPECT_EQ(page["loop_commands"], awkward[5]);
    EXPECT_EQ(page["current_job_path"], awkward[6]);
    EXPECT_EQ(page["language"], "it's");
    EXPECT_EQ(page["log_path"], rig.logFolder);

    // What the page sends back is stored as it is.
    rig.app->saveSettings(page.dump());
    EXPECT_EQ(rig.app->Geterrors(), "\"Settings saved successfully\"");
    EXPECT_EQ(TSR_INI_GetPathPresetRCV(), awkward[0]);
    EXPECT_EQ(TSR_INI_GetPathLoopKeysRCV(), awkward[1]);
    EXPECT_EQ(TSR_INI_GetPathCommands(), awkward[5]);
    EXPECT_STREQ(TSR_INI_GetLanguage(), "it's");
}

TEST(Settings, ThePickersChoiceReachesThePageWithDoubledBackslashes) {
    HostRig rig;
    rig.StartLibrary();
    rig.app->browseFolder("preset_input");
    ASSERT_TRUE(rig.browser.Confirm("D:\\jobs\\in"));
    EXPECT_EQ(rig.browser.Texts(), Texts{"App.setSettingsFolder(\"preset_input\", \"D:\\\\jobs\\\\in\")"});

    struct Case {
        std::string target, folder;
    };
    const Case cases[] = {
        {"loop_commands", "/srv/a\"b\\c'd"},
        {"log_path", "C:\\\\server\\x\ty"},
        {"x\"y", "plain"},
    };
    for (const auto& c : cases) {
        rig.browser.Clear();
        rig.app->browseFolder(c.target);
        ASSERT_TRUE(rig.browser.Confirm(c.folder));
        const Texts calls = rig.browser.Texts();
        ASSERT_EQ(calls.size(), 1u);
        const auto args = ScriptStringArguments(calls[0], "App.setSettingsFolder(");
        ASSERT_TRUE(args.has_value()) << calls[0];
        EXPECT_EQ(*args, (std::vector<std::string>{c.target, c.folder})) << calls[0];
    }
}

TEST(Settings, ThePickerOpensAtTheConfiguredFolderAndCancelSendsNothing) {
    HostRig rig;
    rig.StartLibrary();
    const auto preset = rig.folder.Path() / "preset";
    std::filesystem::create_directories(preset / "b");
    std::filesystem::create_directories(preset / "a");
    WriteText(preset / "file.xml", "");
    rig.app->browseFolder("preset_input");
    EXPECT_EQ(rig.browser.PickerStart(), preset.string());
    // Nothing reaches the page until a folder is confirmed (a cancelled picker never is).
    EXPECT_TRUE(rig.browser.Texts().empty());

    const auto listing = nlohmann::json::parse(FolderListing(preset.string(), std::string()));
    EXPECT_EQ(listing["path"], preset.string());
    EXPECT_EQ(listing["parent"], rig.folder.Path().string());
    EXPECT_EQ(listing["folders"], nlohmann::json::array({"a", "b"}));
    EXPECT_EQ(listing["error"], "");
}

} // namespace
} // namespace tsr::test
