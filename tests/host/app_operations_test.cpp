// The press operations of the application object and its start sequence,
// against the simulated console.
#include <set>

#include "app/host_object.h"
#include "host/host_ops_rig.h"

namespace tsr::test {
namespace {

using Texts = std::vector<std::string>;
using Commands = std::vector<std::pair<int, int>>;

constexpr int kGetKeys = 0x02, kSetKeys = 0x01, kCommit = 0x03, kZero = 0x05, kWorking = 0x06,
              kSetDuctor = 0x09, kGetDuctor = 0x0A, kExecuteDuctor = 0x24, kExecuteKeys = 0x25,
              kSetCycle = 0x50, kGetCycle = 0x51;

// The texts of the journal that are not the library's events.
Texts WithoutEvents(const Texts& texts) {
    Texts out;
    for (const std::string& t : texts)
        if (t != "App.showPendingErrors()" && t.rfind("App.setUnitProgress(", 0) != 0)
            out.push_back(t);
    return out;
}

// The values of the value frame that followed the command frame (opcode, unit).
std::vector<std::uint8_t> ValuesSent(const HostRig& rig, int opcode, int unit) {
    bool after = false;
    for (const sim::Frame& f : rig.console->Frames()) {
        if (!f.value)
            after = f.bytes.size() == 4 && f.bytes[0] == opcode && f.bytes[1] == unit;
        else if (after)
            return std::vector<std::uint8_t>(f.bytes.begin(), f.bytes.end() - 1);
    }
    return {};
}

void ExpectStartSequence(const HostRig& rig, bool portOpen) {
    const Texts ui = rig.browser.UiTexts();
    ASSERT_EQ(ui.size(), portOpen ? 14u : 15u) << ::testing::PrintToString(ui);
    // 1-2: settings and languages
    const auto settings = PageJson(ui[0], "App.loadSettings(");
    EXPECT_EQ(settings["units"], 3);
    EXPECT_EQ(settings["keys"], 24);
    EXPECT_EQ(settings["ductorcycle"], 2);
    EXPECT_EQ(settings["com"], portOpen ? 1 : 7);
    EXPECT_EQ(settings["language"], "en");
    EXPECT_EQ(settings["log_path"], rig.logFolder);
    EXPECT_EQ(ui[1], R"(App.loadLanguages('{"en":{"translation":{"hello":"Hi"}}}'))");
    // 3: the unit count
    EXPECT_EQ(ui[2], "App.loadUnits(3)");
    // 4: the five buttons
    const std::set<std::string> bound(ui.begin() + 3, ui.begin() + 8);
    EXPECT_EQ(bound, (std::set<std::string>{"bind:set-working", "bind:set-zero", "bind:ink-up",
                                            "bind:production-refresh", "bind:ductor-apply"}));
    // 5: the cycle list of the press
    EXPECT_EQ(ui[8], "App.reloadDuctorCycles()");
    // 6: the memory list
    EXPECT_EQ(Texts(ui.begin() + 9, ui.begin() + 13), (Texts{"App.emptyMemory(0)", "App.emptyMemory(1)",
                                                             "App.emptyMemory(2)", "App.emptyMemory(3)"}));
    // 7-8: the read-back runs on; the messages are fetched; the serial port
    EXPECT_EQ(ui[13], "App.showPendingErrors()");
    if (!portOpen) {
        EXPECT_EQ(ui[14], "App.showSerialError()");
    }
}

TEST(StartSequence, DeliversEverythingInOrderAndReadsTheUnitsBack) {
    HostRig rig({.units = 3});
    rig.WriteLocale("en.json", R"({"hello": "Hi"})");
    rig.app->startApp();
    ExpectStartSequence(rig, true);
    EXPECT_TRUE(rig.app->GetisSerialOpen());
    EXPECT_EQ(rig.app->GetductorCycleValues(), "2,4,8,16,32,64");
    EXPECT_EQ(rig.app->FNumberOfKeys, 24);
    EXPECT_TRUE(rig.app->FenableDuctorCycle);
    // The library was started with the configuration file of the storage folder.
    EXPECT_NE(ReadText(rig.IniPath()).find("Timer=30"), std::string::npos);
    EXPECT_EQ(rig.LogStarting("init"), Texts{"init"});
    EXPECT_EQ(rig.LogStarting("tessaro "), Texts{"tessaro " TSR_VERSION_TEXT}); // which program wrote the log

    // The read-back began after the memory list and goes on after startApp returned.
    ASSERT_TRUE(rig.RunCompletions(1));
    const Texts all = rig.browser.Texts();
    const long memoryEnd = rig.browser.IndexOf("App.emptyMemory(3)");
    const long firstEvent = rig.browser.IndexOf("App.setUnitProgress(1, 0)");
    ASSERT_GE(firstEvent, 0);
    EXPECT_GT(firstEvent, memoryEnd);
    Commands expected;
    for (int u = 1; u <= 3; ++u)
        expected.insert(expected.end(), {{kGetKeys, u}, {kGetDuctor, u}, {kGetCycle, u}});
    EXPECT_EQ(rig.Commands(), expected);
    EXPECT_EQ(rig.LogStarting("readData"), Texts{"readData"});

    // A second start (the page was reloaded) runs the whole sequence again.
    rig.browser.Clear();
    rig.console->ClearRecord();
    rig.app->startApp();
    ExpectStartSequence(rig, true);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_EQ(rig.LogStarting("init"), (Texts{"init", "init"}));
    EXPECT_EQ(rig.LogStarting("tessaro ").size(), 2u);
    EXPECT_EQ(rig.Commands(), expected);
}

TEST(StartSequence, WithThePortClosedEndsWithTheSerialError) {
    HostRig rig({.units = 3, .portOpen = false});
    rig.WriteLocale("en.json", R"({"hello": "Hi"})");
    rig.app->startApp();
    // The library's event came from the worker that ran TSR_Init.
    const auto journal = rig.browser.Journal();
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.front().text, "App.showPendingErrors()");
    EXPECT_FALSE(journal.front().onUiThread);
    ExpectStartSequence(rig, false);
    EXPECT_FALSE(rig.app->GetisSerialOpen());
    const std::string errors = rig.app->Geterrors();
    EXPECT_EQ(errors.rfind("\"Unit <b>0</b>: <b>10</b> / type: 0\"", 0), 0u) << errors;
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_TRUE(rig.console->Frames().empty());
    EXPECT_FALSE(rig.app->GetisSerialOpen()); // the host never sets it again
}

TEST(RunAsyncCommand, ZeroPositionGoesThroughUnitZeroAndTheSelectionWithPauses) {
    HostRig rig;
    rig.StartLibrary();
    for (int u = 1; u <= 4; ++u) {
        sim::UnitState s = rig.console->Unit(u);
        s.position = sim::Position::Working;
        rig.console->SetUnit(u, s);
    }
    rig.app->SetselectedUnits("2,3");
    const auto started = Clock::now();
    rig.app->RunAsyncCommand(tcZeroPosition);
    ASSERT_TRUE(rig.RunCompletions(1));
    const auto took = Clock::now() - started;

    EXPECT_EQ(rig.Commands(), (Commands{{kZero, 2}, {kZero, 3}}));
    EXPECT_EQ(rig.LogStarting("ZeroPos u"), (Texts{"ZeroPos u0", "ZeroPos u2", "ZeroPos u3"}));
    const auto frames = rig.console->Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_GE(frames[1].timeUs - frames[0].timeUs, 400000); // the pause after unit 2
    EXPECT_GE(took, 1200ms);                                // a pause after each of 0, 2 and 3
    EXPECT_EQ(rig.console->Unit(2).position, sim::Position::Zero);
    EXPECT_EQ(rig.console->Unit(3).position, sim::Position::Zero);
    EXPECT_EQ(rig.console->Unit(1).position, sim::Position::Working);
    EXPECT_EQ(rig.console->Unit(4).position, sim::Position::Working);

    const Texts progress = Only(rig.browser.Texts(), {"App.startUnits", "App.setUnitProgress"});
    EXPECT_EQ(progress, (Texts{"App.startUnits()", "App.setUnitProgress(2, 0)", "App.setUnitProgress(2, 4)",
                               "App.setUnitProgress(3, 0)", "App.setUnitProgress(3, 4)"}));
    EXPECT_EQ(rig.browser.Texts().front(), "App.startUnits()");
}

TEST(RunAsyncCommand, InkingUpWithNoSelectionCountsDownAndTakesUnitZeroOnly) {
    HostRig rig;
    rig.StartLibrary();
    const auto started = Clock::now();
    rig.app->RunAsyncCommand(tcInkingUp);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_GE(Clock::now() - started, 400ms);
    EXPECT_EQ(rig.browser.Texts(), (Texts{"App.startUnits()", "App.showCountdown(30)"}));
    EXPECT_TRUE(rig.console->Frames().empty());
    EXPECT_EQ(rig.LogStarting("Inkingup u"), Texts{"Inkingup u0"});

    // The countdown is the configured inking-up time.
    TSR_INI_Inkingup_SetTimmer(45);
    rig.browser.Clear();
    rig.app->RunAsyncCommand(tcInkingUp);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_EQ(rig.browser.Texts(), (Texts{"App.startUnits()", "App.showCountdown(45)"}));
}

TEST(RunAsyncCommand, WorkingPositionLogsEachUnitBeforeItsCommand) {
    HostRig rig;
    rig.StartLibrary();
    rig.app->SetselectedUnits("1");
    rig.app->RunAsyncCommand(tcWorkingPosition);
    ASSERT_TRUE(rig.RunCompletions(1));
    Texts lines;
    for (const std::string& line : rig.Log())
        if (line.rfind("log for ", 0) == 0 || line.rfind("WorkingPos", 0) == 0)
            lines.push_back(line);
    EXPECT_EQ(lines, (Texts{"log for 0", "WorkingPos u0", "log for 1", "WorkingPos u1"}));
    EXPECT_EQ(rig.Commands(), (Commands{{kWorking, 1}}));
    EXPECT_EQ(rig.console->Unit(1).position, sim::Position::Working);
    EXPECT_EQ(rig.browser.Texts().front(), "App.startUnits()");
}

// With the port closed the library announces each unit's operation and then
// gives up at once: the page must not be left showing the unit at work.
struct ClosedPortCase {
    const char* name;
    std::function<void(TApp&)> run;
    std::vector<int> units;
};

TEST(PortClosed, EveryUnitOperationEndsAsGivenUpWithTheSerialError) {
    const std::vector<ClosedPortCase> cases = {
        {"working", [](TApp& a) { a.SetselectedUnits("2,3"); a.RunAsyncCommand(tcWorkingPosition); }, {2, 3}},
        {"zero", [](TApp& a) { a.SetselectedUnits("1"); a.RunAsyncCommand(tcZeroPosition); }, {1}},
        {"apply", [](TApp& a) {
             a.setUnitDuctorValue(3, 60);
             a.setKeys(3, 5);
             a.SetselectedUnits("3");
             a.RunAsyncCommand(tcApplySettings);
         }, {3}},
        {"copy", [](TApp& a) { a.CopyUnit(1, 2); }, {1, 2}},
        {"swap", [](TApp& a) { a.SwapUnit(3, 1); }, {1, 3}},
    };
    for (const ClosedPortCase& c : cases) {
        SCOPED_TRACE(c.name);
        HostRig rig({.units = 3, .portOpen = false});
        rig.StartLibrary();
        rig.app->SetisSerialOpen(true); // as the page may set it
        c.run(*rig.app);
        ASSERT_TRUE(rig.RunCompletions(1));
        const Texts texts = rig.browser.Texts();
        for (int u : c.units) {
            const std::string gaveUp = "App.setUnitProgress(" + std::to_string(u) + ", 3)";
            const auto last = std::find_if(texts.rbegin(), texts.rend(), [u](const std::string& t) {
                return t.rfind("App.setUnitProgress(" + std::to_string(u) + ",", 0) == 0;
            });
            ASSERT_NE(last, texts.rend()) << u << ::testing::PrintToString(texts);
            EXPECT_EQ(*last, gaveUp) << ::testing::PrintToString(texts);
        }
        EXPECT_NE(std::find(texts.begin(), texts.end(), "App.showSerialError()"), texts.end());
        EXPECT_FALSE(rig.app->GetisSerialOpen());
        EXPECT_TRUE(rig.console->Frames().empty());
    }
}

TEST(PortOpen, AnOperationThatSucceedsShowsNoSerialError) {
    HostRig rig;
    rig.StartLibrary();
    rig.app->SetselectedUnits("2");
    rig.app->RunAsyncCommand(tcWorkingPosition);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_FALSE(rig.browser.Has("App.showSerialError()"));
    EXPECT_FALSE(rig.browser.Has("App.setUnitProgress(2, 3)"));
    EXPECT_TRUE(rig.app->GetisSerialOpen());
}

// A console that answers units 1 and 2 only: unit 3's operations fail on a
// working line. The unit shows as given up; the line is not called closed.
TEST(PortOpen, AUnitThatDoesNotAnswerFailsAloneWithoutTheSerialError) {
    const std::vector<ClosedPortCase> cases = {
        {"key offset", [](TApp& a) { a.setKeys(3, 5); a.SetselectedUnits("3"); a.RunAsyncCommand(tcApplySettings); }, {3}},
        {"swap", [](TApp& a) { a.SwapUnit(3, 1); }, {3}},
    };
    for (const ClosedPortCase& c : cases) {
        SCOPED_TRACE(c.name);
        HostRig rig({.units = 3, .consoleUnits = 2});
        rig.StartLibrary();
        c.run(*rig.app);
        ASSERT_TRUE(rig.RunCompletions(1));
        const Texts texts = rig.browser.Texts();
        for (int u : c.units) {
            const auto last = std::find_if(texts.rbegin(), texts.rend(), [u](const std::string& t) {
                return t.rfind("App.setUnitProgress(" + std::to_string(u) + ",", 0) == 0;
            });
            ASSERT_NE(last, texts.rend()) << ::testing::PrintToString(texts);
            EXPECT_EQ(*last, "App.setUnitProgress(" + std::to_string(u) + ", 3)");
        }
        EXPECT_FALSE(rig.browser.Has("App.showSerialError()")) << ::testing::PrintToString(texts);
        EXPECT_TRUE(rig.app->GetisSerialOpen());
    }
}

TEST(ApplySettings, NothingChangedSendsNothing) {
    HostRig rig;
    rig.StartLibrary();
    rig.app->SetselectedUnits("1,2,3,4");
    rig.app->RunAsyncCommand(tcApplySettings);
    ASSERT_TRUE(rig.RunCompletions(1)); // the task has ended
    EXPECT_TRUE(rig.browser.Texts().empty()) << ::testing::PrintToString(rig.browser.Texts());
    EXPECT_TRUE(rig.console->Frames().empty());
}

TEST(ApplySettings, OneChangedDuctorIsAnnouncedAndSentAlone) {
    HostRig rig;
    rig.StartLibrary();
    rig.app->setUnitDuctorValue(3, 60);
    rig.app->SetselectedUnits("1,2,3,4");
    rig.app->RunAsyncCommand(tcApplySettings);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_EQ(rig.browser.Texts().front(), "App.startUnits(\"3\")");
    EXPECT_EQ(WithoutEvents(rig.browser.Texts()),
              (Texts{"App.startUnits(\"3\")", "App.okDuctorValue(3)", "App.okDuctorValue(3)"}));
    EXPECT_EQ(rig.Commands(), (Commands{{kSetDuctor, 3}, {kCommit, 3}, {kExecuteDuctor, 3}}));
    EXPECT_EQ(ValuesSent(rig, kSetDuctor, 3), std::vector<std::uint8_t>{153}); // 60 % of 256
    EXPECT_EQ(rig.console->Unit(3).ductor, 153);
    // The state is the page's to refresh: the same apply sends it again.
    rig.browser.Clear();
    rig.console->ClearRecord();
    rig.app->RunAsyncCommand(tcApplySettings);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_EQ(rig.Commands(), (Commands{{kSetDuctor, 3}, {kCommit, 3}, {kExecuteDuctor, 3}}));
    // After a read of the unit nothing differs any more.
    rig.app->GetDuctor(3);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_TRUE(rig.browser.Has("App.setDuctorValue(3, 60)"));
    EXPECT_EQ(rig.app->StateValue("ductor_value", 3), 60);
    rig.browser.Clear();
    rig.console->ClearRecord();
    rig.app->RunAsyncCommand(tcApplySettings);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_TRUE(rig.browser.Texts().empty());
    EXPECT_TRUE(rig.console->Frames().empty());
}

TEST(ApplySettings, AKeyOffsetIsSentOnceAndTheKeysDoneEventClearsIt) {
    HostRig rig;
    rig.StartLibrary();
    rig.SetConsoleKeys(2, 100);
    rig.app->setKeysMode(0);
    rig.app->setKeys(2, 5);
    rig.app->SetselectedUnits("2");
    rig.app->RunAsyncCommand(tcApplySettings);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_EQ(rig.browser.Texts().front(), "App.startUnits(\"2\")");
    EXPECT_TRUE(rig.browser.Has("App.resetKey(2)"));
    EXPECT_EQ(rig.LogStarting("setkeys rel"), Texts{"setkeys rel 2 - v 5"});
    EXPECT_EQ(rig.Commands(), (Commands{{kGetKeys, 2}, {kSetKeys, 2}, {kCommit, 2}, {kExecuteKeys, 2}}));
    EXPECT_EQ(rig.console->Unit(2).keys, std::vector<std::uint8_t>(24, 105));
    EXPECT_EQ(rig.app->Fkeys[2], 0);
    EXPECT_EQ(rig.app->StateValue("keys", 2), 0);

    rig.browser.Clear();
    rig.console->ClearRecord();
    rig.app->RunAsyncCommand(tcApplySettings);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_TRUE(rig.browser.Texts().empty());
    EXPECT_TRUE(rig.console->Frames().empty());
    EXPECT_EQ(rig.console->Unit(2).keys, std::vector<std::uint8_t>(24, 105));
}

TEST(ApplySettings, PercentagesAreSentForEveryKeyEachTime) {
    HostRig rig;
    rig.StartLibrary();
    ASSERT_EQ(rig.app->FNumberOfKeys, 24);
    rig.SetConsoleKeys(2, 100);
    rig.app->setKeysMode(1);
    rig.app->setKeysPercentage(2, 10);
    rig.app->SetselectedUnits("2");
    rig.app->RunAsyncCommand(tcApplySettings);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_EQ(rig.browser.Texts().front(), "App.startUnits(\"2\")");
    EXPECT_EQ(rig.LogStarting("setpercentagekeys"), Texts{"setpercentagekeys abs 2"});
    EXPECT_EQ(rig.console->Unit(2).keys, std::vector<std::uint8_t>(24, 110));
    EXPECT_EQ(rig.app->FkeysPercentage[2], 10); // no event resets a percentage

    // Sent again, on top of the last result.
    rig.browser.Clear();
    rig.app->RunAsyncCommand(tcApplySettings);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_EQ(rig.browser.Texts().front(), "App.startUnits(\"2\")");
    EXPECT_EQ(rig.console->Unit(2).keys, std::vector<std::uint8_t>(24, 121));

    // Until the page sets it back to 0.
    rig.app->setKeysPercentage(2, 0);
    rig.browser.Clear();
    rig.console->ClearRecord();
    rig.app->RunAsyncCommand(tcApplySettings);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_TRUE(rig.browser.Texts().empty());
    EXPECT_TRUE(rig.console->Frames().empty());
}

TEST(ApplySettings, PercentagesCoverTheKeyCountTheLibraryHasNow) {
    // The settings were read with 24 keys; the library has 32 since.
    HostRig rig({.keys = 24, .consoleKeys = 32});
    rig.StartLibrary();
    ASSERT_EQ(rig.app->FNumberOfKeys, 24);
    TSR_INI_SetKeysNumber(32);
    rig.SetConsoleKeys(1, 100);
    rig.app->setKeysMode(1);
    rig.app->setKeysPercentage(1, -50);
    rig.app->SetselectedUnits("1");
    rig.app->RunAsyncCommand(tcApplySettings);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_EQ(rig.console->Unit(1).keys, std::vector<std::uint8_t>(32, 50));
}

TEST(ApplySettings, TheCycleIsSentOnlyWhenThePressHasOne) {
    struct Case {
        int ductorCycle;
        Commands commands;
    };
    const Case cases[] = {{0, {}}, {2, {{kSetCycle, 4}, {kCommit, 4}}}};
    for (const auto& c : cases) {
        HostRig rig({.ductorCycle = c.ductorCycle});
        rig.StartLibrary();
        ASSERT_EQ(rig.app->FenableDuctorCycle, c.ductorCycle > 0);
        rig.app->setUnitDuctorCycle(4, 8);
        rig.app->SetselectedUnits("4");
        rig.app->RunAsyncCommand(tcApplySettings);
        ASSERT_TRUE(rig.RunCompletions(1));
        // The unit is announced either way.
        EXPECT_EQ(rig.browser.Texts().front(), "App.startUnits(\"4\")") << c.ductorCycle;
        EXPECT_EQ(rig.Commands(), c.commands) << c.ductorCycle;
        EXPECT_EQ(rig.LogStarting("setDuctorCycle abs").size(), c.ductorCycle > 0 ? 1u : 0u) << c.ductorCycle;
    }
}

TEST(ApplySettings, ChangesOfSeveralUnitsAreAnnouncedTogetherInSelectionOrder) {
    HostRig rig;
    rig.StartLibrary();
    rig.SetConsoleKeys(1, 10);
    rig.app->setUnitDuctorValue(4, 50);
    rig.app->setUnitDuctorCycle(4, 4);
    rig.app->setKeys(1, -3);
    rig.app->SetselectedUnits("4,2,1");
    rig.app->RunAsyncCommand(tcApplySettings);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_EQ(rig.browser.Texts().front(), "App.startUnits(\"4,1\")");
    EXPECT_EQ(rig.Commands(), (Commands{{kSetDuctor, 4},
                                        {kCommit, 4},
                                        {kExecuteDuctor, 4},
                                        {kSetCycle, 4},
                                        {kCommit, 4},
                                        {kGetKeys, 1},
                                        {kSetKeys, 1},
                                        {kCommit, 1},
                                        {kExecuteKeys, 1}}));
    EXPECT_EQ(rig.console->Unit(1).keys, std::vector<std::uint8_t>(24, 7));
    EXPECT_EQ(rig.console->Unit(4).ductorCycle, 4);
}

TEST(CopyUnit, CopiesTheFirstArgumentsUnitOntoTheSecond) {
    HostRig rig;
    rig.StartLibrary();
    rig.SetConsoleKeys(1, 40);
    rig.SetConsoleDuctor(1, 0x80, 8);
    rig.SetConsoleKeys(2, 7);
    rig.SetConsoleDuctor(2, 0x10, 2);
    rig.app->CopyUnit(1, 2);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_EQ(rig.browser.Texts().front(), "App.stopCopyUnit()");
    EXPECT_EQ(rig.LogStarting("copyunit"), Texts{"copyunit d=2 s=1"});
    EXPECT_EQ(rig.console->Unit(2).keys, std::vector<std::uint8_t>(24, 40));
    EXPECT_EQ(rig.console->Unit(2).ductor, 0x80);
    EXPECT_EQ(rig.console->Unit(2).ductorCycle, 8);
    EXPECT_EQ(rig.console->Unit(1).keys, std::vector<std::uint8_t>(24, 40));
    EXPECT_EQ(rig.console->Unit(1).ductor, 0x80);
    const Commands commands = rig.Commands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(Commands(commands.begin(), commands.begin() + 3),
              (Commands{{kGetKeys, 1}, {kGetDuctor, 1}, {kGetCycle, 1}}));
    for (const auto& [opcode, unit] : commands) {
        if (opcode != kGetKeys && opcode != kGetDuctor && opcode != kGetCycle) {
            EXPECT_EQ(unit, 2) << "opcode " << opcode;
        }
    }
}

TEST(SwapUnit, ExchangesTheValuesOfBothUnits) {
    HostRig rig;
    rig.StartLibrary();
    rig.SetConsoleKeys(1, 40);
    rig.SetConsoleDuctor(1, 0x80, 8);
    rig.SetConsoleKeys(3, 7);
    rig.SetConsoleDuctor(3, 0x40, 16);
    rig.app->SwapUnit(1, 3);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_EQ(rig.browser.Texts().front(), "App.stopCopyUnit()");
    EXPECT_EQ(rig.console->Unit(1).keys, std::vector<std::uint8_t>(24, 7));
    EXPECT_EQ(rig.console->Unit(1).ductor, 0x40);
    EXPECT_EQ(rig.console->Unit(1).ductorCycle, 16);
    EXPECT_EQ(rig.console->Unit(3).keys, std::vector<std::uint8_t>(24, 40));
    EXPECT_EQ(rig.console->Unit(3).ductor, 0x80);
    EXPECT_EQ(rig.console->Unit(3).ductorCycle, 8);
}

// A key count above what the library holds per unit, as the settings page
// can store it: the host's buffers and the page's profile keep to 500 keys.
TEST(LoadInitialState, AKeyCountAboveTheLibrarysLimitIsReadAsTheLimit) {
    HostRig rig({.units = 1, .keys = 600, .consoleKeys = 500});
    rig.StartLibrary();
    rig.app->LoadInitialState();
    ASSERT_TRUE(rig.RunCompletions(1));
    const Texts texts = rig.browser.Texts();
    const auto keys = std::find_if(texts.begin(), texts.end(),
                                   [](const std::string& t) { return t.rfind("App.showUnitKeys(1, ", 0) == 0; });
    ASSERT_NE(keys, texts.end()) << ::testing::PrintToString(texts);
    EXPECT_EQ(std::count(keys->begin(), keys->end(), ','), 500) << *keys; // after the unit: 500 values
}

TEST(LoadInitialState, ReadsEveryUnitInOrder) {
    struct Case {
        int ductorCycle;
        Texts calls;
        Commands commands;
    };
    const Case cases[] = {
        {2,
         {"App.setDuctorValue(1, 50)", "App.setDuctorCycleValue(1, 4)", "App.setDuctorValue(2, 25)",
          "App.setDuctorCycleValue(2, 8)", "App.setDuctorValue(3, 100)", "App.setDuctorCycleValue(3, 16)",
          "App.setDuctorValue(4, 0)", "App.setDuctorCycleValue(4, 2)"},
         {{kGetKeys, 1},
          {kGetDuctor, 1},
          {kGetCycle, 1},
          {kGetKeys, 2},
          {kGetDuctor, 2},
          {kGetCycle, 2},
          {kGetKeys, 3},
          {kGetDuctor, 3},
          {kGetCycle, 3},
          {kGetKeys, 4},
          {kGetDuctor, 4},
          {kGetCycle, 4}}},
        {0,
         {"App.setDuctorValue(1, 50)", "App.setDuctorValue(2, 25)", "App.setDuctorValue(3, 100)",
          "App.setDuctorValue(4, 0)"},
         {{kGetKeys, 1},
          {kGetDuctor, 1},
          {kGetKeys, 2},
          {kGetDuctor, 2},
          {kGetKeys, 3},
          {kGetDuctor, 3},
          {kGetKeys, 4},
          {kGetDuctor, 4}}},
    };
    for (const auto& c : cases) {
        HostRig rig({.ductorCycle = c.ductorCycle});
        rig.StartLibrary();
        const std::uint8_t wires[] = {0x80, 0x40, 0xFF, 0x00};
        const std::uint8_t cycles[] = {4, 8, 16, 2};
        for (int u = 1; u <= 4; ++u) {
            rig.SetConsoleDuctor(u, wires[u - 1], cycles[u - 1]);
            rig.app->setKeys(u, 9);
            rig.app->setKeysPercentage(u, 3);
        }
        rig.app->SetStateValue("keys", 2, 9);
        rig.app->LoadInitialState();
        ASSERT_TRUE(rig.RunCompletions(1));
        EXPECT_EQ(rig.browser.Starting("App.setDuctor"), c.calls) << c.ductorCycle;
        EXPECT_EQ(rig.Commands(), c.commands) << c.ductorCycle;
        const int percents[] = {50, 25, 100, 0};
        for (int u = 1; u <= 4; ++u) {
            EXPECT_EQ(rig.app->FductorValues[u], percents[u - 1]) << u;
            EXPECT_EQ(rig.app->StateValue("ductor_value", u), percents[u - 1]) << u;
            EXPECT_EQ(rig.app->Fkeys[u], 0) << u;
            EXPECT_EQ(rig.app->StateValue("keys", u), 0) << u;
            EXPECT_EQ(rig.app->FkeysPercentage[u], 3) << u;
            if (c.ductorCycle > 0) {
                EXPECT_EQ(rig.app->FductorCycles[u], cycles[u - 1]) << u;
                EXPECT_EQ(rig.app->StateValue("ductor_cycle", u), cycles[u - 1]) << u;
            }
        }
    }
}

TEST(GetDuctor, ReadsOneUnitAndTellsThePage) {
    HostRig rig({.ductorCycle = 0});
    rig.StartLibrary();
    rig.SetConsoleDuctor(2, 0x80, 8);
    rig.app->GetDuctor(2);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_EQ(WithoutEvents(rig.browser.Texts()), Texts{"App.setDuctorValue(2, 50)"});
    EXPECT_EQ(rig.app->FductorValues[2], 50);
    EXPECT_EQ(rig.app->StateValue("ductor_value", 2), 50);
    // The page hears of the cycle even where the press has none: the read
    // fails, so the page shows it as unknown and the state keeps its value.
    rig.app->SetStateValue("ductor_cycle", 2, 3);
    rig.browser.Clear();
    rig.app->GetDuctorCycle(2);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_EQ(WithoutEvents(rig.browser.Texts()), Texts{"App.showReadFailed(2, 3)"});
    EXPECT_EQ(rig.CommandsOf(kGetCycle), Commands{});
    EXPECT_EQ(rig.app->StateValue("ductor_cycle", 2), 3);
}

// A read that fails is shown as unknown: never as the 0 the value started as,
// and the values last read (and the operator's targets) stay as they were.
TEST(FailedReads, AreShownAsUnknownAndChangeNoState) {
    struct Case {
        const char* what;
        std::function<void(TApp&)> start;
        Texts calls;
    };
    const Case cases[] = {
        {"ductor", [](TApp& a) { a.GetDuctor(2); }, {"App.showReadFailed(2, 2)"}},
        {"cycle", [](TApp& a) { a.GetDuctorCycle(2); }, {"App.showReadFailed(2, 3)"}},
        {"refresh", [](TApp& a) { a.LoadInitialState(); },
         {"App.showReadFailed(1, 1)", "App.showReadFailed(1, 2)", "App.showReadFailed(1, 3)",
          "App.showReadFailed(2, 1)", "App.showReadFailed(2, 2)", "App.showReadFailed(2, 3)"}},
    };
    for (const Case& c : cases) {
        HostRig rig({.units = 2, .portOpen = false});
        rig.StartLibrary();
        rig.app->SetStateValue("ductor_value", 2, 40);
        rig.app->SetStateValue("ductor_cycle", 2, 3);
        rig.app->setUnitDuctorValue(2, 45);
        rig.browser.Clear();
        c.start(*rig.app);
        ASSERT_TRUE(rig.RunCompletions(1)) << c.what;
        EXPECT_EQ(Only(rig.browser.Texts(), {"App.showReadFailed", "App.setDuctor", "App.showUnitKeys"}), c.calls)
            << c.what;
        EXPECT_EQ(rig.app->StateValue("ductor_value", 2), 40) << c.what;
        EXPECT_EQ(rig.app->StateValue("ductor_cycle", 2), 3) << c.what;
        EXPECT_EQ(rig.app->FductorValues[2], 45) << c.what;
    }
}

// setUnitKeys as the page calls it through the host object: one row per
// unit, integers 0 to 255, no more than the press has keys.
TEST(SetUnitKeys, TakesOnlyARowThePressCanHold) {
    HostRig rig({.units = 4, .keys = 6});
    rig.StartLibrary();
    HostObject host(*rig.app);
    struct Case {
        nlohmann::json args;
        bool refused;
        std::vector<int32_t> row; // unit 2's row afterwards
    };
    const Case cases[] = {
        {{2, "1,2,3"}, false, {1, 2, 3}},
        {{2, " 10, 0 ,255,7,8,9"}, false, {10, 0, 255, 7, 8, 9}},
        {{2, "1,2,3,4,5,6,7"}, true, {10, 0, 255, 7, 8, 9}}, // more values than keys
        {{2, "1,256"}, true, {10, 0, 255, 7, 8, 9}},
        {{2, "1,-1"}, true, {10, 0, 255, 7, 8, 9}},
        {{2, "1,,3"}, true, {10, 0, 255, 7, 8, 9}},
        {{2, "1.5"}, true, {10, 0, 255, 7, 8, 9}},
        {{2, "0x10"}, true, {10, 0, 255, 7, 8, 9}},
        {{2, "1,2,"}, true, {10, 0, 255, 7, 8, 9}},
        {{0, "1"}, true, {10, 0, 255, 7, 8, 9}},
        {{5, "1"}, true, {10, 0, 255, 7, 8, 9}}, // UnitNumber is 4
        {{-1, "1"}, true, {10, 0, 255, 7, 8, 9}},
        {{2, 1}, true, {10, 0, 255, 7, 8, 9}},       // a number for the text
        {{"2", "1"}, true, {10, 0, 255, 7, 8, 9}},   // a text for the unit
        {{2}, true, {10, 0, 255, 7, 8, 9}},          // one argument missing
        {{2, ""}, false, {}},                        // the empty text drops the row
    };
    for (const Case& c : cases) {
        const auto reply = host.Invoke(ScriptObject::Access::Call, "setUnitKeys", c.args);
        EXPECT_EQ(reply.refused, c.refused) << c.args.dump();
        EXPECT_FALSE(reply.value.has_value()) << c.args.dump();
        EXPECT_EQ(rig.app->UnitKeyRow(2), c.row) << c.args.dump();
    }
    EXPECT_TRUE(rig.console->Frames().empty());
}

TEST(ApplySettings, AKeyRowIsSentAbsoluteInPlaceOfTheOffsetAndReadBack) {
    HostRig rig({.keys = 6});
    rig.StartLibrary();
    rig.SetConsoleKeys(2, 50);
    rig.app->setKeysMode(0);
    rig.app->setKeys(2, 5); // the row wins over the offset
    ASSERT_TRUE(rig.app->setUnitKeys(2, "50,50,80,90,50,50"));
    rig.app->setUnitDuctorValue(3, 20);
    rig.app->SetselectedUnits("3,2");
    rig.app->RunAsyncCommand(tcApplySettings);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_EQ(rig.browser.Texts().front(), "App.startUnits(\"3,2\")");
    EXPECT_EQ(rig.LogStarting("setkeys"), Texts{"setkeys abs 2"});
    EXPECT_EQ(rig.Commands(), (Commands{{kSetDuctor, 3},
                                        {kCommit, 3},
                                        {kExecuteDuctor, 3},
                                        {kSetKeys, 2},
                                        {kCommit, 2},
                                        {kExecuteKeys, 2},
                                        {kGetKeys, 2}}));
    EXPECT_EQ(ValuesSent(rig, kSetKeys, 2), (std::vector<std::uint8_t>{50, 50, 80, 90, 50, 50}));
    EXPECT_EQ(rig.console->Unit(2).keys, (std::vector<std::uint8_t>{50, 50, 80, 90, 50, 50}));
    // The page is shown the row the press now holds, then the write's result.
    const Texts keys = Only(rig.browser.Texts(), {"App.showUnitKeys(2", "App.unitKeysResult(2"});
    EXPECT_EQ(keys, (Texts{"App.showUnitKeys(2, \"50,50,80,90,50,50\")", "App.unitKeysResult(2, 0)"}));
    // Sent once: the row is gone.
    EXPECT_TRUE(rig.app->UnitKeyRow(2).empty());
    rig.browser.Clear();
    rig.console->ClearRecord();
    rig.app->SetselectedUnits("2");
    rig.app->RunAsyncCommand(tcApplySettings);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_TRUE(rig.console->Frames().empty());
}

TEST(ApplySettings, AKeyWriteTheConsoleRefusedKeepsWhatTheOperatorEntered) {
    struct Case {
        const char* what;
        std::function<void(TApp&)> enter;
        std::function<void(TApp&)> expectKept;
    };
    const Case cases[] = {
        {"row", [](TApp& a) { ASSERT_TRUE(a.setUnitKeys(2, "9,9,9,9,9,9")); },
         [](TApp& a) { EXPECT_EQ(a.UnitKeyRow(2), std::vector<int32_t>(6, 9)); }},
        {"offset", [](TApp& a) { a.setKeys(2, 7); }, [](TApp& a) { EXPECT_EQ(a.Fkeys[2], 7); }},
    };
    for (const Case& c : cases) {
        HostRig rig({.keys = 6});
        rig.StartLibrary();
        rig.SetConsoleKeys(2, 50);
        // The console refuses every commit: the values never become the unit's.
        rig.console->AddFault(kCommit, {sim::FaultKind::BadAnswer}, -1);
        rig.app->setKeysMode(0);
        c.enter(*rig.app);
        rig.app->SetselectedUnits("2");
        rig.app->RunAsyncCommand(tcApplySettings);
        ASSERT_TRUE(rig.RunCompletions(1)) << c.what;
        const Texts results = rig.browser.Starting("App.unitKeysResult(2, ");
        ASSERT_EQ(results.size(), 1u) << c.what;
        EXPECT_NE(results.front(), "App.unitKeysResult(2, 0)") << c.what;
        c.expectKept(*rig.app);
        EXPECT_EQ(rig.console->Unit(2).keys, std::vector<std::uint8_t>(6, 50)) << c.what;
    }
}

// Events raised on a thread that is no host task (the library's exchange
// watcher applying a preset or corrected keys) make the host read the unit.
TEST(TransfersOfOthers, AreReadBackFromThePressAndShown) {
    HostRig rig({.keys = 6});
    rig.StartLibrary();
    rig.SetConsoleKeys(3, 77);
    rig.SetConsoleDuctor(3, 0x80, 8);
    rig.SetConsoleKeys(4, 11);
    std::thread watcher([] {
        for (int kind : {1, 2, 3}) {
            TApp::UnitEventCallback(3, TSR_EVENT_START, kind);
            TApp::UnitEventCallback(3, TSR_EVENT_DONE, kind);
        }
        TApp::UnitEventCallback(4, TSR_EVENT_RETRY3, 1); // a transfer given up: what is there now?
        TApp::UnitEventCallback(1, TSR_EVENT_DONE, 0);   // a position: no value changed
        TApp::UnitEventCallback(2, TSR_EVENT_READ, 1);   // a read: nothing changed
    });
    watcher.join();
    ASSERT_TRUE(rig.PumpUntil([&] {
        return rig.browser.Has("App.setDuctorCycleValue(3, 8)") && !rig.browser.Starting("App.showUnitKeys(4").empty();
    }));
    EXPECT_TRUE(rig.browser.Has("App.showUnitKeys(3, \"77,77,77,77,77,77\")"));
    EXPECT_TRUE(rig.browser.Has("App.setDuctorValue(3, 50)"));
    EXPECT_TRUE(rig.browser.Has("App.showUnitKeys(4, \"11,11,11,11,11,11\")"));
    EXPECT_EQ(rig.app->StateValue("ductor_value", 3), 50);
    // Only the units whose values were written are read.
    ASSERT_TRUE(rig.console->WaitIdle(2000));
    for (const auto& [opcode, unit] : rig.Commands())
        EXPECT_TRUE(unit == 3 || unit == 4) << opcode << " u" << unit;
}

TEST(CopyUnit, TheUnitCopiedOntoIsReadAndShown) {
    HostRig rig({.keys = 6});
    rig.StartLibrary();
    rig.SetConsoleKeys(1, 40);
    rig.SetConsoleDuctor(1, 0x80, 8);
    rig.app->CopyUnit(1, 2);
    ASSERT_TRUE(rig.PumpUntil([&] { return rig.browser.Has("App.setDuctorCycleValue(2, 8)"); }));
    EXPECT_TRUE(rig.browser.Has("App.showUnitKeys(2, \"40,40,40,40,40,40\")"));
    EXPECT_TRUE(rig.browser.Has("App.setDuctorValue(2, 50)"));
}

TEST(GetDuctorCycle, ReadsOneUnitAndTellsThePage) {
    HostRig rig;
    rig.StartLibrary();
    rig.SetConsoleDuctor(3, 0x10, 16);
    rig.app->GetDuctorCycle(3);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_EQ(WithoutEvents(rig.browser.Texts()), Texts{"App.setDuctorCycleValue(3, 16)"});
    EXPECT_EQ(rig.app->FductorCycles[3], 16);
    EXPECT_EQ(rig.app->StateValue("ductor_cycle", 3), 16);
}

TEST(RunAsyncCommand, AnEntryThatIsNoNumberEndsTheCommandAndReachesTheErrorReport) {
    struct Case {
        const char* selection;
        const char* entry;
    };
    const Case cases[] = {{"2,x,3", "x"}, {"2,,3", ""}, {"2,", ""}};
    HostRig rig;
    rig.StartLibrary();
    const std::string reportFile = (rig.storage / "bugreport.txt").string();
    size_t reports = 0;
    for (const auto& c : cases) {
        rig.browser.Clear();
        rig.console->ClearRecord();
        rig.app->Geterrors();
        rig.app->SetselectedUnits(c.selection);
        rig.app->RunAsyncCommand(tcZeroPosition);
        ASSERT_TRUE(rig.RunCompletions(1)) << c.selection;
        // The units before the entry were handled, none after it.
        EXPECT_EQ(rig.Commands(), (Commands{{kZero, 2}})) << c.selection;
        // A report in the storage folder, and a message the operator can go on from.
        const std::string error = std::string("'") + c.entry + "' is not a valid integer value";
        const std::string report = ReadText(reportFile);
        EXPECT_NE(report.find("unexpected error: " + error), std::string::npos) << report;
        ++reports;
        EXPECT_EQ(static_cast<size_t>(std::count(report.begin(), report.end(), '\n')), reports);
        const std::string errors = rig.app->Geterrors();
        EXPECT_NE(errors.find("Unexpected error: " + error), std::string::npos) << errors;
        EXPECT_NE(errors.find(reportFile), std::string::npos) << errors;
        const auto journal = rig.browser.Journal();
        ASSERT_FALSE(journal.empty());
        EXPECT_EQ(journal.back().text, "App.showPendingErrors()");
        EXPECT_TRUE(journal.back().onUiThread);
    }
    EXPECT_EQ(rig.LogStarting("ZeroPos u"),
              (Texts{"ZeroPos u0", "ZeroPos u2", "ZeroPos u0", "ZeroPos u2", "ZeroPos u0", "ZeroPos u2"}));
}

TEST(RunAsyncCommand, TheSameEntryStopsTheWorkingPositionAfterItsLogLine) {
    HostRig rig;
    rig.StartLibrary();
    rig.app->SetselectedUnits("1 x 2");
    rig.app->RunAsyncCommand(tcWorkingPosition);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_EQ(rig.Commands(), (Commands{{kWorking, 1}}));
    EXPECT_EQ(rig.LogStarting("log for "), (Texts{"log for 0", "log for 1", "log for x"}));
    EXPECT_NE(rig.app->Geterrors().find("Unexpected error: 'x' is not a valid integer value"),
              std::string::npos);
}

TEST(ApplySettings, AnEntryThatIsNoNumberEndsTheTaskInItsFirstPass) {
    HostRig rig;
    rig.StartLibrary();
    rig.app->setUnitDuctorValue(3, 60);
    rig.app->SetselectedUnits("3,x,4");
    rig.app->RunAsyncCommand(tcApplySettings);
    ASSERT_TRUE(rig.RunCompletions(1));
    // The changes are looked for before anything is sent; nothing was.
    EXPECT_TRUE(rig.console->Frames().empty());
    EXPECT_EQ(rig.browser.Texts(), Texts{"App.showPendingErrors()"});
    EXPECT_NE(rig.app->Geterrors().find("Unexpected error: 'x' is not a valid integer value"),
              std::string::npos);
    EXPECT_NE(ReadText(rig.storage / "bugreport.txt").find("'x' is not a valid integer value"),
              std::string::npos);
}

TEST(UnitNumbers, AboveThirtyNeverIndexTheArrays) {
    // A press configured with 40 units; the arrays hold units 0 to 30.
    HostRig rig({.units = 40});
    rig.StartLibrary();
    for (int u = 1; u <= 40; ++u)
        rig.SetConsoleDuctor(u, 0x80, 8);
    // Values that no unit above 30 may reach: the arrays lie side by side.
    for (int u = 0; u < TApp::kUnitSlots; ++u)
        rig.app->FkeysPercentage[u] = 77;
    rig.app->FductorValues[0] = 44;
    rig.app->FductorCycles[0] = 66;
    rig.app->Fkeys[0] = 55;
    // Unit 0 is in every command's list: as read, so that it has nothing to send.
    rig.app->SetStateValue("ductor_value", 0, 44);
    rig.app->SetStateValue("ductor_cycle", 0, 66);
    rig.app->SetStateValue("keys", 0, 55);
    auto expectUntouched = [&](const char* when) {
        for (int u = 0; u < TApp::kUnitSlots; ++u)
            EXPECT_EQ(rig.app->FkeysPercentage[u], 77) << when << " unit " << u;
        EXPECT_EQ(rig.app->FductorValues[0], 44) << when;
        EXPECT_EQ(rig.app->FductorCycles[0], 66) << when;
        EXPECT_EQ(rig.app->Fkeys[0], 55) << when;
        const auto state = rig.app->StateSnapshot();
        for (const char* member : {"ductor_value", "ductor_cycle", "keys"})
            EXPECT_LE(state[member].size(), static_cast<size_t>(TApp::kUnitSlots)) << when << " " << member;
    };

    rig.app->LoadInitialState();
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_TRUE(rig.browser.Has("App.setDuctorValue(40, 50)"));
    EXPECT_TRUE(rig.browser.Has("App.setDuctorCycleValue(31, 8)"));
    EXPECT_EQ(rig.app->FductorValues[30], 50);
    EXPECT_EQ(rig.app->FductorCycles[30], 8);
    expectUntouched("refresh");

    rig.browser.Clear();
    rig.app->GetDuctor(35);
    rig.app->GetDuctorCycle(33);
    ASSERT_TRUE(rig.RunCompletions(2));
    EXPECT_TRUE(rig.browser.Has("App.setDuctorValue(35, 50)"));
    EXPECT_TRUE(rig.browser.Has("App.setDuctorCycleValue(33, 8)"));
    EXPECT_EQ(rig.app->StateValue("ductor_value", 35), 0);
    expectUntouched("reads");

    // Units above 30 have no values to send; the others in the selection do.
    rig.browser.Clear();
    rig.console->ClearRecord();
    rig.app->setUnitDuctorValue(2, 60);
    rig.app->setUnitDuctorValue(31, 60);
    rig.app->SetselectedUnits("31,2,255,1000,-4");
    rig.app->RunAsyncCommand(tcApplySettings);
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_EQ(rig.browser.Texts().front(), "App.startUnits(\"2\")");
    EXPECT_EQ(rig.Commands(), (Commands{{kSetDuctor, 2}, {kCommit, 2}, {kExecuteDuctor, 2}}));
    expectUntouched("apply");

    // Events of such units change no value either.
    TApp::UnitEventCallback(31, TSR_EVENT_DONE, TSR_KIND_KEYS);
    TApp::UnitEventCallback(40, TSR_EVENT_DONE, TSR_KIND_KEYS);
    expectUntouched("events");
}

TEST(Initialize, AConfiguredUnitCountAboveThirtyStartsCleanly) {
    HostRig rig({.units = 40});
    rig.app->startApp();
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_TRUE(rig.browser.Has("App.loadUnits(40)"));
    // The library reads back the units its table holds.
    EXPECT_TRUE(rig.browser.Has("App.setUnitProgress(12, 5)"));
    EXPECT_EQ(rig.app->StateSnapshot()["ductor_value"].size(), 0u);
}

} // namespace
} // namespace tsr::test

namespace tsr::test {
namespace {

int Counted(const nlohmann::json& status, int unit, const char* span, const char* counter) {
    return status["units"][static_cast<size_t>(unit - 1)][span][counter].get<int>();
}

// The service view's line status as the page reads it through the host object.
nlohmann::json LineStatusOf(TApp& app) {
    HostObject host(app);
    const auto reply = host.Invoke(ScriptObject::Access::Call, "getLineStatus", nlohmann::json::array());
    EXPECT_FALSE(reply.refused);
    return reply.value.value_or(nlohmann::json());
}

TEST(LineStatus, AUnitThatStaysSilentIsNamedBesideOneThatAnswers) {
    HostRig rig({.units = 3});
    rig.StartLibrary();
    sim::Fault silent;
    silent.kind = sim::FaultKind::NoAnswer;
    silent.unit = 2;
    rig.console->AddFault(sim::kAnyFrame, silent, -1);
    // Counters run since the library was loaded: earlier tests counted too.
    const nlohmann::json before = LineStatusOf(*rig.app);
    rig.app->GetDuctor(1);
    rig.app->GetDuctor(2);
    ASSERT_TRUE(rig.RunCompletions(2));
    const nlohmann::json after = LineStatusOf(*rig.app);
    const auto grew = [&](int unit, const char* span, const char* counter) {
        return Counted(after, unit, span, counter) - Counted(before, unit, span, counter);
    };
    EXPECT_EQ(after["portOpen"], true);
    EXPECT_EQ(after["portFailure"], "");
    ASSERT_EQ(after["units"].size(), 3u);
    EXPECT_EQ(after["units"][0]["state"], "answering");
    EXPECT_EQ(after["units"][1]["state"], "notAnswering");
    EXPECT_EQ(after["notAnswering"], nlohmann::json::array({2}));
    EXPECT_EQ(after["console"], "answering"); // unit 1 answers: the console does
    // Every attempt at unit 2 waited in vain, and the link tried again.
    EXPECT_GE(grew(2, "sinceStart", "silent"), 3);
    EXPECT_GE(grew(2, "lastMinute", "silent"), 3);
    EXPECT_GE(grew(2, "sinceStart", "retries"), 2);
    EXPECT_EQ(grew(2, "sinceStart", "answered"), 0);
    EXPECT_GE(grew(1, "sinceStart", "answered"), 1);
    EXPECT_EQ(grew(1, "sinceStart", "silent"), 0);
    EXPECT_FALSE(after["lastAnswer"].get<std::string>().empty());
    EXPECT_GE(after["secondsSinceAnswer"].get<int>(), 0);
}

// The page asks every second while transactions run on workers, here while
// the device goes away under one: the library answers without the press lock,
// from what the line's last operation left (the race detector's build runs
// this too).
TEST(LineStatus, IsReadWhileTheDeviceGoesAwayUnderATransaction) {
    HostRig rig({.units = 2});
    rig.StartLibrary();
    sim::Fault hangUp;
    hangUp.kind = sim::FaultKind::HangUp;
    hangUp.delayMs = 100;
    hangUp.unit = 2;
    rig.console->AddFault(sim::kAnyFrame, hangUp, 1);
    rig.app->GetDuctor(2);
    const auto end = Clock::now() + 600ms;
    while (Clock::now() < end) {
        LineStatusOf(*rig.app);
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(rig.RunCompletions(1));
    EXPECT_EQ(LineStatusOf(*rig.app)["portOpen"], false);
}

TEST(LineStatus, AConsoleWhoseUnitsAllGiveUpIsSilent) {
    HostRig rig({.units = 2});
    rig.StartLibrary();
    sim::Fault silent;
    silent.kind = sim::FaultKind::NoAnswer; // every unit
    rig.console->AddFault(sim::kAnyFrame, silent, -1);
    rig.app->GetDuctor(1);
    rig.app->GetDuctor(2);
    ASSERT_TRUE(rig.RunCompletions(2));
    const nlohmann::json status = LineStatusOf(*rig.app);
    EXPECT_EQ(status["portOpen"], true);
    EXPECT_EQ(status["console"], "silent");
    EXPECT_EQ(status["notAnswering"], nlohmann::json::array({1, 2}));
}

TEST(LineStatus, APortThatDidNotOpenIsNamedWithTheSystemsReasonAndWhatToDo) {
    HostRig rig({.units = 2, .portOpen = false});
    rig.StartLibrary();
    const nlohmann::json status = LineStatusOf(*rig.app);
    EXPECT_EQ(status["portOpen"], false);
    EXPECT_EQ(status["portFailure"], rig.console->LinkFolder() + "/COM7: no such file or directory");
    EXPECT_EQ(status["portAdvice"], "missing");
    EXPECT_EQ(status["console"], "unknown");
}

} // namespace
} // namespace tsr::test
