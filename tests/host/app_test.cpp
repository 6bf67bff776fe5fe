#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>
#include <unistd.h>

#include "app/app.h"
#include "app/page_calls.h"
#include "host/recording_browser.h"
#include "tessaro.h"

namespace {

using Calls = std::vector<std::string>;

class AppTest : public ::testing::Test {
protected:
    UiLoop ui; // the test thread is the user-interface thread
    RecordingBrowser browser;
    TApp app{ui, HostPaths{std::filesystem::temp_directory_path(), std::nullopt}};

    void Connect() { app.internalBrowser = &browser; }
};

TEST_F(AppTest, StartsWithTheDocumentedValues) {
    EXPECT_EQ(app.internalBrowser.load(), nullptr);
    EXPECT_EQ(app.GetductorCycleValues(), "2,0,3");
    EXPECT_EQ(app.GetselectedUnits(), "");
    EXPECT_TRUE(app.GetisSerialOpen());
    EXPECT_FALSE(app.FKeysIsRelativeOn);
    EXPECT_FALSE(app.FenableDuctorCycle);
    EXPECT_EQ(app.FNumberOfKeys, 0);
    for (int unit = 0; unit < TApp::kUnitSlots; ++unit) {
        EXPECT_EQ(app.FductorValues[unit], 0);
        EXPECT_EQ(app.FductorCycles[unit], 0);
        EXPECT_EQ(app.Fkeys[unit], 0);
        EXPECT_EQ(app.FkeysPercentage[unit], 0);
    }
    EXPECT_EQ(app.StateSnapshot(),
              nlohmann::json::parse(R"({"ductor_value":[],"ductor_cycle":[],"keys":[]})"));
    EXPECT_EQ(app.StateValue("ductor_value", 7), 0);
    EXPECT_EQ(app.Geterrors(), "");
}

TEST_F(AppTest, PageCallsBeforeABrowserIsKnownAreDropped) {
    app.ShowError("early");
    app.ExecuteJS("App.x()");
    EXPECT_TRUE(browser.Calls().empty());
    Connect();
    app.ShowError("later");
    EXPECT_EQ(browser.Calls(), Calls{"App.showPendingErrors()"});
    EXPECT_EQ(app.Geterrors(), "early|later"); // the messages themselves stay pending
}

struct JoinCase {
    std::vector<std::string> messages;
    std::string joined;
};

TEST(JoinPendingMessages, QuotesWhatWouldBreakTheList) {
    const JoinCase cases[] = {
        {{}, ""},
        {{""}, "\"\""},
        {{"first", "second one"}, "first|\"second one\""},
        {{"a", "", "b"}, "a||b"},
        {{"", ""}, "|"},
        {{"say \"hi\""}, "\"say \"\"hi\"\"\""},
        {{"a|b"}, "\"a|b\""},
        {{"tab\there"}, "\"tab\there\""},
        {{"line\nend"}, "\"line\nend\""},
        {{"M\xC3\xBCller", "x,y"}, "M\xC3\xBCller|x,y"},
        {{"Unit <b>3</b>: <b>0</b> / type: 2"}, "\"Unit <b>3</b>: <b>0</b> / type: 2\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JoinPendingMessages(c.messages), c.joined) << c.joined;
}

TEST_F(AppTest, ReadingErrorsEmptiesTheList) {
    Connect();
    app.ShowError("first");
    app.ShowError("second one");
    EXPECT_EQ(browser.Calls(), (Calls{"App.showPendingErrors()", "App.showPendingErrors()"}));
    EXPECT_EQ(app.Geterrors(), "first|\"second one\"");
    EXPECT_EQ(app.Geterrors(), "");
}

TEST_F(AppTest, NoMessageIsLostOrDeliveredTwiceUnderConcurrentAppends) {
    Connect();
    constexpr int kThreads = 4, kEach = 500;
    std::atomic<bool> go{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&, t] {
            while (!go) {
            }
            for (int i = 0; i < kEach; ++i)
                app.ShowError("m" + std::to_string(t) + "-" + std::to_string(i));
        });
    std::multiset<std::string> seen;
    auto collect = [&] {
        const std::string joined = app.Geterrors();
        size_t start = 0;
        while (!joined.empty() && start <= joined.size()) {
            const size_t end = std::min(joined.find('|', start), joined.size());
            seen.insert(joined.substr(start, end - start));
            start = end + 1;
        }
    };
    go = true;
    for (int round = 0; round < 200; ++round)
        collect();
    for (auto& writer : writers)
        writer.join();
    collect();
    ASSERT_EQ(seen.size(), size_t{kThreads * kEach});
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kEach; ++i)
            EXPECT_EQ(seen.count("m" + std::to_string(t) + "-" + std::to_string(i)), 1u);
}

TEST_F(AppTest, DuctorEventsOfAUnitBecomeMessagesAndProgress) {
    Connect();
    TApp::UnitEventCallback(3, TSR_EVENT_START, TSR_KIND_DUCTOR);
    TApp::UnitEventCallback(3, TSR_EVENT_DONE, TSR_KIND_DUCTOR);
    EXPECT_EQ(browser.Calls(),
              (Calls{"App.showPendingErrors()", "App.setUnitProgress(3, 0)", "App.showPendingErrors()",
                     "App.setUnitProgress(3, 4)", "App.okDuctorValue(3)"}));
    EXPECT_EQ(app.Geterrors(), "\"Unit <b>3</b>: <b>0</b> / type: 2\"|\"Unit <b>3</b>: <b>4</b> / type: 2\"");
}

struct EventCase {
    int unit, code, kind;
    Calls calls; // after the leading "App.showPendingErrors()"
};

TEST_F(AppTest, EachEventGivesItsPageCalls) {
    Connect();
    const EventCase cases[] = {
        {0, TSR_EVENT_READ, TSR_KIND_UNIT, {}},
        {0, TSR_EVENT_DONE, TSR_KIND_KEYS, {}},
        {2, TSR_EVENT_RETRY1, TSR_KIND_KEYS, {"App.setUnitProgress(2, 1)"}},
        {2, TSR_EVENT_DONE, TSR_KIND_KEYS, {"App.setUnitProgress(2, 4)", "App.resetKey(2)"}},
        {4, TSR_EVENT_DONE, TSR_KIND_DUCTOR_CYCLE, {"App.setUnitProgress(4, 4)", "App.okDuctorCycle(4)"}},
        {4, TSR_EVENT_DONE, TSR_KIND_UNIT, {"App.setUnitProgress(4, 4)"}},
        {12, TSR_EVENT_READ, TSR_KIND_DUCTOR, {"App.setUnitProgress(12, 5)"}},
        {1, TSR_EVENT_DONE, 7, {"App.setUnitProgress(1, 4)"}},
    };
    for (const auto& c : cases) {
        TApp::UnitEventCallback(c.unit, c.code, c.kind);
        Calls expected{"App.showPendingErrors()"};
        expected.insert(expected.end(), c.calls.begin(), c.calls.end());
        EXPECT_EQ(browser.TakeCalls(), expected) << c.unit << "," << c.code << "," << c.kind;
        EXPECT_EQ(app.Geterrors(), "\"" + page_calls::UnitEventMessage(c.unit, c.code, c.kind) + "\"");
    }
    EXPECT_TRUE(app.GetisSerialOpen());
}

TEST_F(AppTest, PortClosedClearsTheSerialFlagOnly) {
    Connect();
    TApp::UnitEventCallback(0, TSR_EVENT_PORT_CLOSED, TSR_KIND_UNIT);
    EXPECT_FALSE(app.GetisSerialOpen());
    EXPECT_EQ(browser.Calls(), Calls{"App.showPendingErrors()"});
    EXPECT_EQ(app.Geterrors(), "\"Unit <b>0</b>: <b>10</b> / type: 0\"");
    TApp::UnitEventCallback(0, TSR_EVENT_DONE, TSR_KIND_UNIT);
    EXPECT_FALSE(app.GetisSerialOpen()); // the host never sets it again
}

TEST_F(AppTest, KeysDoneClearsThePendingOffsetButNotThePercentage) {
    Connect();
    app.setKeys(5, 7);
    app.setKeysPercentage(5, 10);
    app.SetStateValue("keys", 5, 9);
    app.setKeys(6, 3);
    TApp::UnitEventCallback(5, TSR_EVENT_DONE, TSR_KIND_KEYS);
    EXPECT_EQ(app.Fkeys[5], 0);
    EXPECT_EQ(app.StateValue("keys", 5), 0);
    EXPECT_EQ(app.FkeysPercentage[5], 10);
    EXPECT_EQ(app.Fkeys[6], 3);
}

TEST_F(AppTest, UnitsOutsideTheArraysChangeNoValue) {
    Connect();
    for (int unit = 0; unit < TApp::kUnitSlots; ++unit)
        app.Fkeys[unit] = 1;
    const auto before = app.StateSnapshot();
    for (int unit : {31, 255, -1, -2147483647 - 1}) {
        TApp::UnitEventCallback(unit, TSR_EVENT_DONE, TSR_KIND_KEYS);
        app.setKeys(unit, 5);
        app.setKeysPercentage(unit, 5);
        app.setUnitDuctorValue(unit, 5);
        app.setUnitDuctorCycle(unit, 5);
        app.SetStateValue("ductor_value", unit, 5);
        EXPECT_EQ(app.StateValue("ductor_value", unit), 0);
    }
    EXPECT_EQ(app.StateSnapshot(), before);
    for (int unit = 0; unit < TApp::kUnitSlots; ++unit) {
        EXPECT_EQ(app.Fkeys[unit], 1);
        EXPECT_EQ(app.FkeysPercentage[unit], 0);
        EXPECT_EQ(app.FductorValues[unit], 0);
        EXPECT_EQ(app.FductorCycles[unit], 0);
    }
    // Unit 30 is the last one held.
    app.setUnitDuctorValue(30, 44);
    app.SetStateValue("ductor_value", 30, 45);
    EXPECT_EQ(app.FductorValues[30], 44);
    EXPECT_EQ(app.StateValue("ductor_value", 30), 45);
    EXPECT_EQ(app.StateValue("ductor_value", 29), 0);
}

TEST_F(AppTest, AnEventOnTheUserInterfaceThreadLetsPendingEventsRun) {
    Connect();
    bool ran = false;
    ui.Post([&] { ran = true; });
    std::thread([] { TApp::UnitEventCallback(1, TSR_EVENT_START, TSR_KIND_UNIT); }).join();
    EXPECT_FALSE(ran);
    TApp::UnitEventCallback(1, TSR_EVENT_START, TSR_KIND_UNIT);
    EXPECT_TRUE(ran);
}

TEST_F(AppTest, EventsFromManyThreadsKeepEachThreadsOrder) {
    Connect();
    std::vector<std::thread> workers;
    for (int unit = 1; unit <= 3; ++unit)
        workers.emplace_back([unit] {
            for (int code = 0; code < 5; ++code)
                TApp::UnitEventCallback(unit, code, TSR_KIND_UNIT);
        });
    for (auto& worker : workers)
        worker.join();
    const auto calls = browser.Calls();
    for (int unit = 1; unit <= 3; ++unit) {
        int next = 0;
        for (const auto& call : calls) {
            if (call.rfind("App.setUnitProgress(" + std::to_string(unit) + ", ", 0) == 0) {
                EXPECT_EQ(call, page_calls::SetUnitProgress(unit, next));
                ++next;
            }
        }
        EXPECT_EQ(next, 5);
    }
}

TEST(AppLifetime, EventsAfterTheObjectIsGoneReachNothing) {
    UiLoop ui;
    RecordingBrowser browser;
    {
        TApp app(ui, HostPaths{});
        app.internalBrowser = &browser;
        TApp::UnitEventCallback(2, 0, 0);
    }
    EXPECT_EQ(browser.Unbinds(), 1);
    TApp::UnitEventCallback(2, 4, 1);
    EXPECT_EQ(browser.Calls().size(), 2u);
}

TEST_F(AppTest, BindUICommandsBindsTheFiveButtons) {
    app.BindUICommands(); // no browser yet: nothing to bind
    EXPECT_TRUE(browser.BindOrder().empty());
    Connect();
    app.BindUICommands();
    const auto order = browser.BindOrder();
    const std::set<std::string> bound(order.begin(), order.end());
    EXPECT_EQ(bound, (std::set<std::string>{"set-working", "set-zero", "ink-up", "production-refresh",
                                            "ductor-apply"}));
    EXPECT_EQ(order.size(), 5u);
}

TEST_F(AppTest, PageSettersStoreTheirValues) {
    app.setKeys(2, 5);
    app.setKeysPercentage(3, -20);
    app.setUnitDuctorValue(4, 80);
    app.setUnitDuctorCycle(4, 3);
    EXPECT_EQ(app.Fkeys[2], 5);
    EXPECT_EQ(app.FkeysPercentage[3], -20);
    EXPECT_EQ(app.FductorValues[4], 80);
    EXPECT_EQ(app.FductorCycles[4], 3);
    app.setKeysMode(1);
    EXPECT_TRUE(app.FKeysIsRelativeOn);
    app.setKeysMode(2);
    EXPECT_FALSE(app.FKeysIsRelativeOn);
}

TEST(AppLibrary, GetConfigAnswersTheUnitCountForUnitNumberOnly) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("tsr-host-config-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto inside = [&](const char* name) { return (folder / name).string(); };
    {
        std::ofstream ini(folder / "Tessaro.ini");
        ini << "[GENERAL]\nUnitNumber=4\nCOM1=250\nPathLogs=" << inside("log")
            << "\nPathPresetRCV=" << inside("p") << "\nPathLoopKeysRCV=" << inside("k")
            << "\nPathLoopScanRCV=" << inside("s") << "\nPathLoopKeysSND=" << inside("ks")
            << "\nPathLoopScanSND=" << inside("ss") << "\nPathCommands=" << inside("c")
            << "\nPathCurrentJob=" << inside("j") << "\n";
    }
    TSR_Init(0, (folder / "Tessaro.ini").c_str(), nullptr, 0);
    UiLoop ui;
    TApp app(ui, HostPaths{});
    EXPECT_EQ(app.GetConfig("UnitNumber"), "4");
    EXPECT_EQ(app.GetConfig("unitnumber"), "");
    EXPECT_EQ(app.GetConfig(""), "");
    TSR_INI_SetUnitsNumber(6);
    EXPECT_EQ(app.GetConfig("UnitNumber"), "6");
    std::filesystem::remove_all(folder);
}

} // namespace
