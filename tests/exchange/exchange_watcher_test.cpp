#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "exchange_rig.h"

namespace tsr::test {
namespace {

// Front: Black and Cyan; back: Magenta and Yellow, Yellow not to be updated.
const char* const kJob = R"(<?xml version="1.0" encoding="UTF-8"?>
<JDF ID="n1" Type="ProcessGroup" xmlns="http://www.CIP4.org/JDFSchema_1_1" xmlns:mr="http://www.example.com/schema/press-maker">
  <ResourcePool>
    <InkZoneProfile Class="Parameter" ID="r1"><InkZoneProfile SignatureName="SIG1"><InkZoneProfile SheetName="S1">
      <InkZoneProfile Side="Front">
        <InkZoneProfile Separation="Black" sRGB="0 0 0" ZoneSettingsX="0.1 0.5 1" mr:InkSweep="50"/>
        <InkZoneProfile Separation="Cyan" sRGB="0 0.6 0.9" ZoneSettingsX="0.25 0.75" mr:InkSweep="100"/>
      </InkZoneProfile>
      <InkZoneProfile Side="Back">
        <InkZoneProfile Separation="Magenta" sRGB="0.9 0 0.5" ZoneSettingsX="0.5" mr:InkSweep="20"/>
        <InkZoneProfile Separation="Yellow" sRGB="1 0.93 0" ZoneSettingsX="0.5" mr:InkSweep="20"/>
      </InkZoneProfile>
    </InkZoneProfile></InkZoneProfile></InkZoneProfile>
    <PrintCondition Class="Parameter" ID="r2"><PrintCondition Side="Back">
      <PrintCondition Separation="Magenta"/><PrintCondition Separation="Yellow" UpdateUnit="FALSE"/>
    </PrintCondition></PrintCondition>
  </ResourcePool>
</JDF>
)";

const char* const kJobDC = R"(<JDF Type="DuctorCycle">
  <InkZoneProfile Side="Front"><InkZoneProfile Separation="Black" ductorCycle="3"/><InkZoneProfile Separation="Cyan" ductorCycle="6"/></InkZoneProfile>
  <InkZoneProfile Side="Back"><InkZoneProfile Separation="Magenta" ductorCycle="9"/><InkZoneProfile Separation="Yellow" ductorCycle="12"/></InkZoneProfile>
</JDF>)";

ExchangeRig::Settings Press(int ductorCycle = 0, bool presetActive = true) {
    ExchangeRig::Settings s;
    s.units = 4;
    s.perfector = 2;
    s.keys = 24;
    s.ductorCycle = ductorCycle;
    s.presetActive = presetActive;
    return s;
}

std::vector<int> CommandUnits(const std::vector<sim::Frame>& frames) {
    std::vector<int> units;
    for (const sim::Frame& f : frames)
        if (!f.value && f.bytes.size() >= 2)
            units.push_back(f.bytes[1]);
    return units;
}

bool HasEvent(const std::vector<Event>& events, Event e) {
    return std::find(events.begin(), events.end(), e) != events.end();
}

std::size_t IndexOf(const std::vector<Event>& events, Event e) {
    return static_cast<std::size_t>(std::find(events.begin(), events.end(), e) - events.begin());
}

std::time_t Now() {
    return std::time(nullptr);
}

TEST(ExchangeWatcher, PresetReachesThePressUnitByUnit) {
    ExchangeRig rig(Press(3));
    WriteText(rig.File("preset", "job_DC.xml"), kJobDC);
    WriteText(rig.File("preset", "job.xml"), kJob);
    rig.Switches(true, false);
    rig.watcher.Start();
    ASSERT_TRUE(rig.WaitPasses(2));
    rig.watcher.Stop();

    EXPECT_EQ(rig.Names("preset"), std::vector<std::string>{});
    const sim::UnitState u1 = rig.console->Unit(1);
    EXPECT_EQ(std::vector<int>(u1.keys.begin(), u1.keys.begin() + 3), (std::vector<int>{26, 128, 255}));
    EXPECT_EQ(u1.ductor, 128); // 50 % on the wire
    EXPECT_EQ(u1.ductorCycle, 3);
    EXPECT_EQ(u1.position, sim::Position::Working);
    EXPECT_EQ(rig.console->Unit(2).ductor, 255);
    EXPECT_EQ(rig.console->Unit(2).ductorCycle, 6);
    EXPECT_EQ(rig.console->Unit(3).keys[0], 128);
    EXPECT_EQ(rig.console->Unit(3).position, sim::Position::Working);
    EXPECT_EQ(rig.console->Unit(4).position, sim::Position::Zero); // UpdateUnit FALSE: left alone

    // unit after unit, never interleaved, nothing for unit 4
    std::vector<int> units = CommandUnits(rig.console->Frames());
    ASSERT_FALSE(units.empty());
    EXPECT_TRUE(std::is_sorted(units.begin(), units.end()));
    EXPECT_EQ(units.front(), 1);
    EXPECT_EQ(units.back(), 3);

    const std::vector<Event> events = EventRecord::Instance().Take();
    for (int u = 1; u <= 3; ++u) {
        EXPECT_LT(IndexOf(events, {u, 0, 1}), IndexOf(events, {u, 4, 1})) << u;
        EXPECT_LT(IndexOf(events, {u, 4, 1}), IndexOf(events, {u, 0, 2})) << u;
        EXPECT_LT(IndexOf(events, {u, 0, 2}), IndexOf(events, {u, 0, 3})) << u;
        EXPECT_TRUE(HasEvent(events, {u, 4, 3})) << u;
        EXPECT_TRUE(HasEvent(events, {u, 4, 0})) << u;
    }
    EXPECT_FALSE(HasEvent(events, {4, 0, 1}));

    const std::string log = rig.LogText();
    EXPECT_NE(log.find(">WriteData<"), std::string::npos);
    EXPECT_NE(log.find(">tF<"), std::string::npos);
    std::vector<std::string> backups = rig.Names("logs");
    EXPECT_TRUE(std::any_of(backups.begin(), backups.end(), [](const std::string& n) {
        return n.size() > 7 && n.compare(n.size() - 7, 7, "job.xml") == 0 && n.find(':') == std::string::npos;
    }));
}

TEST(ExchangeWatcher, CycleFileForTheNextJobSurvivesTheTransferOfThisOne) {
    ExchangeRig::Settings settings = Press(3);
    settings.consoleMovementMs = 100; // a transfer long enough to drop a file into
    ExchangeRig rig(settings);
    WriteText(rig.File("preset", "job_DC.xml"), kJobDC);
    WriteText(rig.File("preset", "job.xml"), kJob);
    rig.Switches(true, false);
    rig.watcher.Start();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (CommandUnits(rig.console->Frames()).empty() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_FALSE(CommandUnits(rig.console->Frames()).empty());

    // the prepress system sends the next job's cycles first
    std::string next = kJobDC;
    next.replace(next.find("ductorCycle=\"3\""), 15, "ductorCycle=\"7\"");
    WriteText(rig.File("preset", "job_DC.xml"), next);
    ASSERT_TRUE(rig.WaitPasses(2));
    rig.watcher.Stop();

    EXPECT_EQ(rig.console->Unit(1).ductorCycle, 3);
    EXPECT_EQ(rig.Names("preset"), std::vector<std::string>{"job_DC.xml"});
    EXPECT_EQ(ReadText(rig.File("preset", "job_DC.xml")), next);
}

TEST(ExchangeWatcher, PresetNotActiveIsBackedUpAndDeletedWithItsCycleFile) {
    ExchangeRig rig(Press(0, false));
    WriteText(rig.File("preset", "job_DC.xml"), kJobDC);
    WriteText(rig.File("preset", "job.xml"), kJob);
    rig.Switches(true, false);
    rig.watcher.RunPass();
    EXPECT_EQ(rig.Names("preset"), std::vector<std::string>{});
    EXPECT_TRUE(rig.console->Frames().empty());
    EXPECT_EQ(rig.table.Get(0).separation, "");
    EXPECT_EQ(rig.LogText().find(">load file<"), std::string::npos);
    const std::vector<std::string> logs = rig.Names("logs");
    ASSERT_EQ(logs.size(), 1u); // the backup alone: nothing was read, nothing logged
    EXPECT_EQ(logs[0].substr(logs[0].size() - 7), "job.xml");
}

TEST(ExchangeWatcher, SynchronizeSoonAfterAJobIsDropped) {
    for (int gap : {3, 10}) {
        ExchangeRig rig(Press());
        const std::time_t jobTime = Now() - 60;
        WriteText(rig.File("preset", "job.xml"), kJob);
        SetFileAge(rig.File("preset", "job.xml"), jobTime);
        WriteText(rig.File("commands", "Synchronize.xml"), "<JMF/>");
        SetFileAge(rig.File("commands", "Synchronize.xml"), jobTime + gap);
        rig.Switches(true, false);
        rig.watcher.RunPass();
        EXPECT_EQ(rig.console->Unit(1).position, sim::Position::Working) << gap;
        EXPECT_FALSE(fs::exists(rig.File("commands", "Synchronize.xml"))) << gap;
        EXPECT_EQ(fs::exists(rig.File("keysOut", "InkKeys.xml")), gap == 10) << gap;
        EXPECT_EQ(rig.LogText().find(">read file success<") != std::string::npos, gap == 10) << gap;
    }
}

TEST(ExchangeWatcher, SynchronizeThatCannotBeDeletedIsRepeatedOnceOlderThanFiveSeconds) {
    for (int age : {2, 6}) {
        ExchangeRig rig(Press());
        const std::string sync = rig.File("commands", "Synchronize.xml");
        OpenWriter holder(sync); // its writer keeps it open: it cannot be deleted
        SetFileAge(sync, Now() - age);
        rig.Switches(true, false);
        rig.watcher.RunPass();
        EXPECT_TRUE(fs::exists(rig.File("keysOut", "InkKeys.xml"))) << age;
        fs::remove(rig.File("keysOut", "InkKeys.xml"));
        rig.watcher.RunPass();
        EXPECT_EQ(fs::exists(rig.File("keysOut", "InkKeys.xml")), age == 6) << age;
        EXPECT_TRUE(fs::exists(sync));
    }
}

TEST(ExchangeWatcher, ScanIsReleasedAfterTheKeysAndOnlyOnce) {
    ExchangeRig rig(Press());
    rig.Switches(false, true);
    WriteText(rig.File("scanOut", "Scan.xml"), "old");
    WriteText(rig.File("scanIn", "Scan.xml"), "<scan/>");
    rig.watcher.RunPass();
    EXPECT_TRUE(fs::exists(rig.File("keysOut", "InkKeys.xml")));
    EXPECT_EQ(ReadText(rig.File("scanOut", "Scan.xml")), "<scan/>");
    EXPECT_EQ(rig.Names("scanIn"), std::vector<std::string>{});

    // one that cannot be moved stays and is not handled again while its time stays
    const std::string held = rig.File("scanIn", "Scan.xml");
    OpenWriter holder(held);
    SetFileAge(held, Now() - 30);
    rig.watcher.RunPass();
    EXPECT_TRUE(fs::exists(held));
    EXPECT_EQ(ReadText(rig.File("scanOut", "Scan.xml")), "<scan/>");
    fs::remove(rig.File("keysOut", "InkKeys.xml"));
    rig.watcher.RunPass();
    rig.watcher.RunPass();
    EXPECT_FALSE(fs::exists(rig.File("keysOut", "InkKeys.xml")));
    EXPECT_TRUE(fs::exists(held));
}

TEST(ExchangeWatcher, ScanJustAfterAJobIsDropped) {
    ExchangeRig rig(Press());
    const std::time_t jobTime = Now() - 60;
    WriteText(rig.File("preset", "job.xml"), kJob);
    SetFileAge(rig.File("preset", "job.xml"), jobTime);
    WriteText(rig.File("scanIn", "Scan.xml"), "<scan/>");
    SetFileAge(rig.File("scanIn", "Scan.xml"), jobTime + 2);
    rig.Switches(true, true);
    rig.watcher.RunPass();
    EXPECT_EQ(rig.Names("scanIn"), std::vector<std::string>{});
    EXPECT_EQ(rig.Names("scanOut"), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(rig.File("keysOut", "InkKeys.xml")));
}

// Release folder set to the incoming one itself (here spelt another way):
// making room for the file at the target must not delete the file.
TEST(ExchangeWatcher, ScansReleasedIntoTheirOwnFolderStay) {
    ExchangeRig rig(Press());
    rig.config.SetPathLoopScanSND(rig.temp / "SCANIN/.");
    rig.Switches(false, true);
    WriteText(rig.File("scanIn", "a.TVF"), "scan a");
    WriteText(rig.File("scanIn", "Scan.xml"), "<scan/>");
    rig.watcher.RunPass();
    rig.watcher.RunPass();
    EXPECT_EQ(rig.Names("scanIn"), (std::vector<std::string>{"Scan.xml", "a.TVF"}));
    EXPECT_EQ(ReadText(rig.File("scanIn", "a.TVF")), "scan a");
    EXPECT_EQ(ReadText(rig.File("scanIn", "Scan.xml")), "<scan/>");
    EXPECT_TRUE(fs::exists(rig.File("keysOut", "InkKeys.xml")));
}

TEST(ExchangeWatcher, OneTvfFilePerPass) {
    ExchangeRig rig(Press());
    rig.Switches(false, true);
    WriteText(rig.File("scanIn", "a.TVF"), "new a");
    WriteText(rig.File("scanIn", "b.tvf"), "new b");
    WriteText(rig.File("scanOut", "a.TVF"), "old a");
    WriteText(rig.File("scanOut", "b.tvf"), "old b");
    rig.watcher.RunPass();
    EXPECT_EQ(rig.Names("scanIn").size(), 1u);
    rig.watcher.RunPass();
    EXPECT_EQ(rig.Names("scanIn"), std::vector<std::string>{});
    EXPECT_EQ(ReadText(rig.File("scanOut", "a.TVF")), "new a");
    EXPECT_EQ(ReadText(rig.File("scanOut", "b.tvf")), "new b");
}

struct StatusCase {
    const char* name;
    const char* keys; // content of NewInkKeys.xml
    int cycleScale;
    int faultOpcode; // 0: none
    const char* transfer;
};

class NewInkKeys : public ::testing::TestWithParam<StatusCase> {};

TEST_P(NewInkKeys, StatusMessageTellsTheOutcome) {
    const StatusCase& c = GetParam();
    ExchangeRig rig(Press(c.cycleScale));
    if (c.faultOpcode)
        rig.console->AddFault(c.faultOpcode, sim::Fault{sim::FaultKind::BadAnswer}, -1);
    WriteText(rig.File("keysIn", "NewInkKeys.xml"), c.keys);
    rig.Switches(false, true);
    rig.watcher.RunPass();
    EXPECT_EQ(rig.Names("keysIn"), std::vector<std::string>{});
    const std::string status = ReadText(rig.File("commands", "statusTessaro.xml"));
    EXPECT_NE(status.find(std::string("<qv:command Transfer=\"") + c.transfer + "\" />"), std::string::npos)
        << status;
    std::vector<std::string> backups = rig.Names("logs");
    EXPECT_TRUE(std::any_of(backups.begin(), backups.end(), [](const std::string& n) {
        return n.find("newInkKeys.xml") != std::string::npos;
    }));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NewInkKeys,
    ::testing::Values(StatusCase{"applied", kJob, 0, 0, "Successful Transfered"},
                      StatusCase{"notParsing", "<JDF><InkZoneProfile Side=\"Front\"></JDF", 0, 0,
                                 "Not Transfered"},
                      StatusCase{"failingCycleCounts0", kJob, 3, 0x50, "Successful Transfered"},
                      StatusCase{"failingWorkingPosition", kJob, 0, 0x06, "Not Transfered"},
                      // the console answers the execute command but never took the keys
                      StatusCase{"failingKeys", kJob, 0, 0x01, "Not Transfered"}),
    [](const ::testing::TestParamInfo<StatusCase>& p) { return p.param.name; });

// The watcher told to stop (the library unloading) while corrected keys go
// to the press leaves the later units unsent: the answer must not claim them.
ExchangeWatcher* stopOnFirstKeys = nullptr;

TEST(ExchangeWatcher, TransferCutShortByAStopIsNotReportedAsDone) {
    ExchangeRig rig(Press());
    stopOnFirstKeys = &rig.watcher;
    rig.events.SetCallback([](std::int32_t unit, std::int32_t code, std::int32_t kind) {
        if (unit == 1 && code == TSR_EVENT_START && kind == TSR_KIND_KEYS && stopOnFirstKeys)
            stopOnFirstKeys->Stop();
    });
    WriteText(rig.File("keysIn", "NewInkKeys.xml"), kJob);
    rig.Switches(false, true);
    rig.watcher.RunPass();
    rig.events.SetCallback(nullptr);
    stopOnFirstKeys = nullptr;
    EXPECT_EQ(rig.console->Unit(2).position, sim::Position::Zero);
    const std::string status = ReadText(rig.File("commands", "statusTessaro.xml"));
    EXPECT_NE(status.find("<qv:command Transfer=\"Not Transfered\" />"), std::string::npos) << status;
}

TEST(ExchangeWatcher, WriteDataSendsWhatTheRowsAllow) {
    ExchangeRig rig(Press());
    for (int row = 0; row < 4; ++row)
        rig.table.Update(row, [row](UnitRecord& r) {
            r.present = true;
            r.transfer = row != 1;
            r.updateUnit = row != 2;
            r.zoneCount = 3;
            r.keys.fill(0);
            r.keys[0] = 10;
            r.keys[23] = 99; // beyond zoneCount: KeysNumber values are sent whatever the count
            r.ductor = 127;
        });
    EXPECT_EQ(rig.watcher.WriteData(), 0);
    EXPECT_EQ(rig.console->Unit(1).keys[23], 99);
    EXPECT_EQ(rig.console->Unit(1).ductor, 128);
    EXPECT_EQ(rig.console->Unit(2).position, sim::Position::Zero); // transfer off
    EXPECT_EQ(rig.console->Unit(3).position, sim::Position::Zero); // updateUnit off
    EXPECT_EQ(rig.console->Unit(4).position, sim::Position::Working);
    const std::vector<Event> events = EventRecord::Instance().Take();
    EXPECT_FALSE(
        std::any_of(events.begin(), events.end(), [](const Event& e) { return std::get<2>(e) == 3; }));
    const std::string log = rig.LogText();
    const std::size_t first = log.find(">tA<");
    EXPECT_LT(first, log.find(">tF<"));
}

TEST(ExchangeWatcher, BothSwitchesOffOrNoHostWindowTouchNoFile) {
    ExchangeRig rig(Press());
    WriteText(rig.File("preset", "job.xml"), kJob);
    WriteText(rig.File("keysIn", "NewInkKeys.xml"), kJob);
    WriteText(rig.File("commands", "Synchronize.xml"), "<JMF/>");
    WriteText(rig.File("scanIn", "Scan.xml"), "<scan/>");
    WriteText(rig.File("scanIn", "x.TVF"), "tvf");
    rig.watcher.Start();
    rig.watcher.SetPresetPolling(true); // switches on, but no host window yet
    rig.watcher.SetLoopPolling(true);
    ASSERT_TRUE(rig.WaitPasses(3));
    rig.watcher.SetPresetPolling(false);
    rig.watcher.SetLoopPolling(false);
    rig.watcher.SetActive(true);
    ASSERT_TRUE(rig.WaitPasses(3));
    rig.watcher.Stop();
    EXPECT_EQ(rig.Names("preset"), std::vector<std::string>{"job.xml"});
    EXPECT_EQ(rig.Names("keysIn"), std::vector<std::string>{"NewInkKeys.xml"});
    EXPECT_EQ(rig.Names("commands"), std::vector<std::string>{"Synchronize.xml"});
    EXPECT_EQ(rig.Names("scanIn"), (std::vector<std::string>{"Scan.xml", "x.TVF"}));
    EXPECT_EQ(rig.Names("scanOut"), std::vector<std::string>{});
    EXPECT_EQ(rig.Names("keysOut"), std::vector<std::string>{});
    EXPECT_EQ(rig.Names("logs"), std::vector<std::string>{});
    EXPECT_TRUE(rig.console->Frames().empty());
}

// A request written slowly is left alone until its producer closes it.
TEST(ExchangeWatcher, RequestStillBeingWrittenWaitsForItsProducer) {
    ExchangeRig rig(Press());
    rig.Switches(true, false);
    rig.watcher.Start();
    {
        OpenWriter writer(rig.File("preset", "job.xml"));
        std::string text = kJob;
        writer.Write(text.substr(0, text.size() / 2));
        ASSERT_TRUE(rig.WaitPasses(3));
        EXPECT_TRUE(fs::exists(rig.File("preset", "job.xml")));
        writer.Write(text.substr(text.size() / 2));
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (fs::exists(rig.File("preset", "job.xml")) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(rig.WaitPasses(2));
    rig.watcher.Stop();
    EXPECT_EQ(rig.console->Unit(1).position, sim::Position::Working);
    EXPECT_EQ(rig.table.Get(0).separation, "Black");
}

// Standard JDF presets carry no ductor: such a separation leaves its unit's
// ductor as it is on the press; keys, cycle and working position still go.
TEST(ExchangeWatcher, SeparationWithoutInkSweepLeavesTheDuctorAlone) {
    ExchangeRig rig(Press(3));
    for (int u = 1; u <= 4; ++u) {
        sim::UnitState state = rig.console->Unit(u);
        state.ductor = 77;
        rig.console->SetUnit(u, state);
    }
    std::string job = kJob;
    // Black keeps its 50 %, Cyan and both back units give none (one of them an empty value)
    job.replace(job.find(" mr:InkSweep=\"100\""), 18, "");
    job.replace(job.find(" mr:InkSweep=\"20\""), 17, " mr:InkSweep=\"\"");
    job.replace(job.find(" mr:InkSweep=\"20\""), 17, "");
    job.replace(job.find("UpdateUnit=\"FALSE\""), 18, "");
    WriteText(rig.File("preset", "job_DC.xml"), kJobDC);
    WriteText(rig.File("preset", "job.xml"), job);
    rig.Switches(true, false);
    rig.watcher.RunPass();

    EXPECT_EQ(rig.console->Unit(1).ductor, 128); // given: 50 %
    const std::vector<Event> events = EventRecord::Instance().Take();
    EXPECT_TRUE(HasEvent(events, {1, 4, 2}));
    for (int u = 2; u <= 4; ++u) {
        const sim::UnitState unit = rig.console->Unit(u);
        EXPECT_EQ(unit.ductor, 77) << u;
        EXPECT_EQ(unit.ductorExecutions, 0) << u;
        EXPECT_EQ(unit.position, sim::Position::Working) << u;
        EXPECT_TRUE(HasEvent(events, {u, 4, 1})) << u;
        EXPECT_TRUE(HasEvent(events, {u, 4, 3})) << u;
        EXPECT_FALSE(HasEvent(events, {u, 0, 2})) << u;
    }
    EXPECT_EQ(rig.console->Unit(2).keys[0], 64);
    EXPECT_EQ(rig.console->Unit(2).ductorCycle, 6);
    const std::string log = rig.LogText();
    for (int u = 1; u <= 4; ++u) {
        const std::string line = ">no ductor given u" + std::to_string(u) + ", ductor left as set<";
        const std::size_t at = log.find(line);
        EXPECT_EQ(at != std::string::npos, u != 1) << u;
        if (at != std::string::npos) {
            EXPECT_EQ(log.find(line, at + 1), std::string::npos) << "logged twice: " << u;
        }
    }
}

// A companion whose writer never lets go must not stop every preset: the
// job waits about 2 s, saying so once, then goes without its cycles.
TEST(ExchangeWatcher, CompanionHeldOpenDelaysTheJobBoundedAndSaysSo) {
    ExchangeRig rig(Press(3));
    OpenWriter companion(rig.File("preset", "job_DC.xml"));
    companion.Write(std::string(kJobDC).substr(0, 40));
    WriteText(rig.File("preset", "job.xml"), kJob);
    rig.Switches(true, false);
    rig.watcher.Start();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (fs::exists(rig.File("preset", "job.xml")) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(rig.WaitPasses(2));
    rig.watcher.Stop();

    EXPECT_FALSE(fs::exists(rig.File("preset", "job.xml")));
    EXPECT_TRUE(fs::exists(rig.File("preset", "job_DC.xml"))); // still its writer's
    EXPECT_EQ(rig.console->Unit(1).position, sim::Position::Working);
    EXPECT_EQ(rig.console->Unit(1).keys[1], 128);
    const std::string log = rig.LogText();
    const std::string waits = ">job_DC.xml still being written, job waits up to 2 s<";
    const std::size_t wait = log.find(waits);
    ASSERT_NE(wait, std::string::npos) << log;
    EXPECT_EQ(log.find(waits, wait + 1), std::string::npos); // said once, not at every pass
    const std::size_t gaveUp = log.find(">job_DC.xml still being written after 2 s, job applied without its cycles<");
    ASSERT_NE(gaveUp, std::string::npos);
    const std::size_t cycles = log.find(">load file DC<", gaveUp);
    ASSERT_NE(cycles, std::string::npos);
    EXPECT_NE(log.find(">file empty<", cycles), std::string::npos);
    EXPECT_LT(wait, gaveUp);
}

// The companion its job went without is dropped once its writer lets go,
// with a backup, so that it cannot give its cycles to the next job.
TEST(ExchangeWatcher, CompanionFinishedAfterItsJobIsDroppedWithABackup) {
    ExchangeRig rig(Press(3));
    rig.Switches(true, false);
    {
        OpenWriter companion(rig.File("preset", "job_DC.xml"));
        companion.Write(kJobDC);
        WriteText(rig.File("preset", "job.xml"), kJob);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (fs::exists(rig.File("preset", "job.xml")) && std::chrono::steady_clock::now() < end) {
            rig.watcher.RunPass();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_FALSE(fs::exists(rig.File("preset", "job.xml")));
        rig.watcher.RunPass();
        EXPECT_TRUE(fs::exists(rig.File("preset", "job_DC.xml"))); // its writer still has it
    }
    rig.watcher.RunPass();
    EXPECT_FALSE(fs::exists(rig.File("preset", "job_DC.xml")));
    std::vector<std::string> kept;
    for (const std::string& name : rig.Names("logs"))
        if (name.find("job_DC.xml") != std::string::npos)
            kept.push_back(ReadText(rig.File("logs", name)));
    EXPECT_EQ(kept, std::vector<std::string>{kJobDC});
    EXPECT_NE(rig.LogText().find(">job_DC.xml finished after its job, dropped, backup "), std::string::npos);

    // the next job's own companion, dropped before it, is its job's again
    WriteText(rig.File("preset", "job_DC.xml"), kJobDC);
    rig.watcher.RunPass();
    EXPECT_TRUE(fs::exists(rig.File("preset", "job_DC.xml")));
}

// Appends text to path in pieces, opening and closing the file for each, as
// a copy from another machine over a share looks locally.
void AppendInPieces(const std::string& path, const std::string& text, int pieces, int pauseMs) {
    const std::size_t step = (text.size() + static_cast<std::size_t>(pieces) - 1) / static_cast<std::size_t>(pieces);
    for (std::size_t at = 0; at < text.size(); at += step) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ASSERT_GE(fd, 0);
        const std::string piece = text.substr(at, step);
        ASSERT_EQ(::write(fd, piece.data(), piece.size()), static_cast<ssize_t>(piece.size()));
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
}

struct SettleCase {
    const char* name;
    const char* folder;
    const char* file;
    const char* backupRole;
};

class PolledShare : public ::testing::TestWithParam<SettleCase> {};

// A request another machine copies in pieces is open in no local process; on
// a polled folder it is taken only once it has stopped changing.
TEST_P(PolledShare, RequestCopiedInPiecesIsTakenWhole) {
    const SettleCase& c = GetParam();
    ExchangeRig::Settings settings = Press();
    settings.pollFolders = true;
    ExchangeRig rig(settings);
    rig.Switches(true, true);
    rig.watcher.Start();
    ASSERT_TRUE(rig.WaitPasses(2));
    const std::string path = rig.File(c.folder, c.file);
    AppendInPieces(path, kJob, 8, 60);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (fs::exists(path) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(rig.WaitPasses(2));
    rig.watcher.Stop();

    EXPECT_FALSE(fs::exists(path));
    const std::string log = rig.LogText();
    EXPECT_EQ(log.find(">load file err<"), std::string::npos) << log;
    EXPECT_EQ(rig.table.Get(0).separation, "Black");
    EXPECT_EQ(rig.console->Unit(1).position, sim::Position::Working);
    std::vector<std::string> backups;
    for (const std::string& name : rig.Names("logs"))
        if (name.find(c.backupRole) != std::string::npos)
            backups.push_back(ReadText(rig.File("logs", name)));
    EXPECT_EQ(backups, std::vector<std::string>{kJob});
}

INSTANTIATE_TEST_SUITE_P(Cases, PolledShare,
                         ::testing::Values(SettleCase{"preset", "preset", "job.xml", "job.xml"},
                                           SettleCase{"correctedKeys", "keysIn", "NewInkKeys.xml",
                                                      "newInkKeys.xml"}),
                         [](const ::testing::TestParamInfo<SettleCase>& p) { return p.param.name; });

TEST(ExchangeWatcher, LocalFoldersAreNoShares) {
    TempFolder temp;
    EXPECT_FALSE(FolderNotifier::OnNetworkShare(temp.Path().string()));
    EXPECT_FALSE(FolderNotifier::OnNetworkShare((temp.Path() / "missing").string()));
    EXPECT_FALSE(FolderNotifier::OnNetworkShare(""));
}

TEST(ExchangeWatcher, StopsPromptlyAndSwitchesTakeEffectOnTheNextPass) {
    ExchangeRig rig(Press());
    rig.Switches(false, true);
    rig.watcher.Start();
    ASSERT_TRUE(rig.WaitPasses(2));
    rig.watcher.SetLoopPolling(false);
    ASSERT_TRUE(rig.WaitPasses(2));
    WriteText(rig.File("scanIn", "x.TVF"), "tvf");
    ASSERT_TRUE(rig.WaitPasses(3));
    EXPECT_TRUE(fs::exists(rig.File("scanIn", "x.TVF")));
    const auto before = std::chrono::steady_clock::now();
    rig.watcher.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
}

} // namespace
} // namespace tsr::test
