#include "press_fixture.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <thread>

namespace tsr::test {
namespace {

using sim::Fault;
using sim::FaultKind;

class OperationsTest : public PressLinkTest {
protected:
    bool LogHas(const std::string& text) const {
        const std::vector<std::string> texts = LogTexts();
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }
    std::vector<LogEntry> ValueDumps() const {
        std::vector<LogEntry> out;
        for (const LogEntry& e : LogEntries())
            if (e.colour == "green" && !e.body.empty() && e.body[0] == ' ')
                out.push_back(e);
        return out;
    }
    // What the console ended up holding for a unit's keys, the first n.
    Bytes ConsoleKeys(int unit, int n = 24) const {
        const Bytes keys = sim_->Unit(unit).keys;
        return Bytes(keys.begin(), keys.begin() + n);
    }
    void Restart(const std::string& general, const std::string& inkingUp = "", int consoleKeys = 24) {
        TearDown();
        sim::ConsoleConfig console = PromptConsole();
        console.keys = consoleKeys;
        Start(console, general, inkingUp);
    }
};

const std::vector<Event> kSetKeysEvents = {{1, 0, 1}, {1, 4, 1}, {1, 4, 1}, {1, 4, 1}};

TEST_F(OperationsTest, AbsoluteKeys) {
    std::int32_t values[24];
    for (int i = 0; i < 24; ++i)
        values[i] = 100 + i;
    ASSERT_EQ(setting_->SetNewKeyAbsolute(1, values, 24), 0);
    EXPECT_EQ(Events(), kSetKeysEvents);
    EXPECT_EQ(ConsoleKeys(1)[23], 123);
    EXPECT_EQ(sim_->Unit(1).keyExecutions, 1);
    EXPECT_EQ(Opcodes(), (std::vector<int>{0x01, 0x03, 0x25}));
    const std::vector<std::string> texts = LogTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts[0], "setkeys abs 1");
    EXPECT_EQ(ValueDumps().at(0).body.substr(0, 8), " 100 101");
}

TEST_F(OperationsTest, AbsoluteKeysFailingSetStillExecutes) {
    sim_->AddFault(0x01, Fault{FaultKind::NoAnswer}, 3);
    std::int32_t values[24] = {};
    // the execute command still goes out, but the keys never reached the console
    EXPECT_EQ(setting_->SetNewKeyAbsolute(1, values, 24), 3);
    EXPECT_EQ(Events(), (std::vector<Event>{{1, 0, 1}, {1, 1, 1}, {1, 2, 1}, {1, 3, 1}, {1, 4, 1}}));
    EXPECT_EQ(Opcodes(), (std::vector<int>{0x01, 0x01, 0x01, 0x25}));
}

TEST_F(OperationsTest, AFailedSetIsNoSuccessThoughTheExecuteIsAnswered) {
    struct Case {
        int opcode;
        FaultKind fault;
        bool ductor;
        int result;
        std::vector<int> opcodes;
    } cases[] = {
        {0x01, FaultKind::BadAnswer, false, 2, {0x01, 0x01, 0x01, 0x25}},
        {0x03, FaultKind::NoAnswer, false, 3, {0x01, 0x03, 0x03, 0x03, 0x25}},
        {0x09, FaultKind::NoAnswer, true, 3, {0x09, 0x09, 0x09, 0x24}},
        {0x03, FaultKind::BadAnswer, true, 2, {0x09, 0x03, 0x03, 0x03, 0x24}},
    };
    std::int32_t values[24] = {};
    for (const Case& c : cases) {
        sim_->Update([](sim::PressConsole& console) { console.ClearFrames(); });
        sim_->AddFault(c.opcode, Fault{c.fault}, 3);
        const int r =
            c.ductor ? setting_->SetNewDuctorAbsolute(1, 40) : setting_->SetNewKeyAbsolute(1, values, 24);
        EXPECT_EQ(r, c.result) << c.opcode;
        EXPECT_EQ(Opcodes(), c.opcodes) << c.opcode;
        ASSERT_TRUE(sim_->WaitIdle(2000));
    }
    // the relative forms end the same way
    sim_->Update([](sim::PressConsole& console) { console.ClearFrames(); });
    sim_->AddFault(0x01, Fault{FaultKind::NoAnswer}, 3);
    EXPECT_EQ(setting_->SetNewKeyRelative(1, 5), 3);
    sim_->AddFault(0x09, Fault{FaultKind::NoAnswer}, 3);
    EXPECT_EQ(setting_->SetNewDuctorRelative(1, 5), 3);
    EXPECT_EQ(sim_->Unit(1).keyExecutions, 3);
    EXPECT_EQ(sim_->Unit(1).ductorExecutions, 3);
}

TEST_F(OperationsTest, KeyCountsAreLimitedToFiveHundred) {
    Restart("KeysNumber=600\nUnitNumber=2\nDuctorCycle=0\n", "", 500);
    std::vector<std::int32_t> many(700, 7);
    EXPECT_EQ(setting_->SetNewKeyAbsolute(1, many.data(), 700), 0);
    const std::vector<sim::Frame> frames = sim_->Frames();
    ASSERT_GE(frames.size(), 2u);
    EXPECT_TRUE(frames[1].value);
    EXPECT_EQ(frames[1].bytes.size(), 501u);
    std::vector<std::int32_t> read(700, -1);
    EXPECT_EQ(setting_->GetKeys(1, read.data(), 700), 0);
    EXPECT_EQ(read[499], 7);
    EXPECT_EQ(read[500], -1);
    // "KeysNumber" 600 in the relative, percentage, copy and read-back paths
    EXPECT_EQ(setting_->SetNewKeyRelative(1, 1), 0);
    EXPECT_EQ(ConsoleKeys(1, 500)[499], 8);
    std::vector<float> percent(600, 0.0f);
    EXPECT_EQ(setting_->SetNewKeyPercentage(1, percent.data()), 0);
    EXPECT_EQ(setting_->CopyUnit(2, 1), 0);
    EXPECT_EQ(ConsoleKeys(2, 500)[499], 8);
    setting_->ReadBack();
    EXPECT_EQ(table_.Get(0).zoneCount, 500);
    EXPECT_EQ(table_.Get(1).keys[499], 8);
    EXPECT_EQ(setting_->SetNewKeyAbsolute(1, many.data(), -5), 0);
    EXPECT_EQ(sim_->Frames().back().bytes[0], 0x25);
}

TEST_F(OperationsTest, RelativeKeys) {
    struct Case {
        int delta;
        Bytes expected;
    } cases[] = {{10, {10, 255, 110}}, {-20, {0, 230, 80}}, {2147483647, {255, 255, 255}}};
    for (const Case& c : cases) {
        Bytes keys(24, 0);
        keys[0] = 0;
        keys[1] = 250;
        keys[2] = 100;
        SetKeysOnConsole(1, keys);
        Events();
        ASSERT_EQ(setting_->SetNewKeyRelative(1, c.delta), 0);
        EXPECT_EQ(ConsoleKeys(1, 3), c.expected) << c.delta;
        std::vector<Event> expected = {{1, 0, 1}, {1, 5, 1}};
        expected.insert(expected.end(), kSetKeysEvents.begin(), kSetKeysEvents.end());
        EXPECT_EQ(Events(), expected);
    }
    const std::vector<std::string> texts = LogTexts();
    const std::vector<std::string> first(texts.begin(), texts.begin() + 4);
    EXPECT_EQ(first, (std::vector<std::string>{"setkeys rel 1 - v 10", "getkeys 1", "get", "Set"}));
}

TEST_F(OperationsTest, RelativeKeysStopWhenTheReadFails) {
    sim_->AddFault(0x02, Fault{FaultKind::BadAnswer}, 3);
    EXPECT_EQ(setting_->SetNewKeyRelative(1, 5), 1);
    EXPECT_EQ(Opcodes(), (std::vector<int>{0x02, 0x02, 0x02}));
}

TEST_F(OperationsTest, PercentageKeys) {
    Bytes keys(24, 100);
    keys[0] = 3;
    keys[1] = 200;
    SetKeysOnConsole(1, keys);
    std::vector<float> percent(24, 0.0f);
    percent[0] = 50.0f;
    percent[1] = 50.0f;
    percent[2] = 10.0f;
    percent[3] = -50.0f;
    ASSERT_EQ(setting_->SetNewKeyPercentage(1, percent.data()), 0);
    EXPECT_EQ(ConsoleKeys(1, 5), (Bytes{4, 255, 110, 50, 100}));
    EXPECT_EQ(LogTexts().at(0), "setpercentagekeys abs 1");
    // 0 % everywhere sends the keys unchanged
    std::fill(percent.begin(), percent.end(), 0.0f);
    sim_->Update([](sim::PressConsole& c) { c.ClearFrames(); });
    ASSERT_EQ(setting_->SetNewKeyPercentage(1, percent.data()), 0);
    EXPECT_EQ(ConsoleKeys(1, 5), (Bytes{4, 255, 110, 50, 100}));
}

TEST_F(OperationsTest, InfinitePercentagesGiveKeysInRange) {
    Bytes keys(24, 100);
    keys[0] = 0;
    keys[2] = 0;
    SetKeysOnConsole(1, keys);
    std::vector<float> percent(24, 0.0f);
    percent[0] = std::numeric_limits<float>::infinity();
    percent[1] = std::numeric_limits<float>::infinity();
    percent[2] = -std::numeric_limits<float>::infinity();
    ASSERT_EQ(setting_->SetNewKeyPercentage(1, percent.data()), 0);
    EXPECT_EQ(ConsoleKeys(1, 4), (Bytes{0, 255, 0, 100}));
    // the keys sent, as logged after "Set"
    const std::vector<LogEntry> entries = LogEntries();
    const auto set =
        std::find_if(entries.begin(), entries.end(), [](const LogEntry& e) { return e.body == "Set"; });
    ASSERT_NE(set, entries.end());
    ASSERT_NE(set + 1, entries.end());
    EXPECT_EQ((set + 1)->body.substr(0, 15), " 00 255 00 100 ") << (set + 1)->body;
}

TEST_F(OperationsTest, AbsoluteDuctor) {
    struct Case {
        int percent;
        int wire;
    } cases[] = {{50, 0x80}, {100, 0xFF}, {0, 0x00}, {60, 0x99}, {150, 0xFF}, {-10, 0x00}};
    for (const Case& c : cases) {
        Events();
        ASSERT_EQ(setting_->SetNewDuctorAbsolute(1, c.percent), 0);
        EXPECT_EQ(sim_->Unit(1).ductor, c.wire) << c.percent;
        EXPECT_EQ(Events(), (std::vector<Event>{{1, 0, 2}, {1, 4, 2}, {1, 4, 2}}));
    }
    EXPECT_EQ(LogTexts().at(0), "setDuctor abs 1 - v 50");
    EXPECT_EQ(sim_->Unit(1).ductorExecutions, 6);
}

TEST_F(OperationsTest, ReadDuctor) {
    struct Case {
        int wire;
        int percent;
    } cases[] = {{0x80, 50}, {0xFF, 100}, {0x01, 0}, {0x20, 13}};
    for (const Case& c : cases) {
        sim_->Update(
            [&](sim::PressConsole& console) { console.Unit(2).ductor = static_cast<std::uint8_t>(c.wire); });
        int percent = -1;
        ASSERT_EQ(setting_->GetDuctor(2, percent), 0);
        EXPECT_EQ(percent, c.percent);
        EXPECT_EQ(Events(), (std::vector<Event>{{2, 0, 2}, {2, 5, 2}}));
    }
}

TEST_F(OperationsTest, RelativeDuctor) {
    struct Case {
        int delta;
        int wire;
        std::string newText;
    } cases[] = {{10, 0x99, "getDuctor 60"}, {80, 0xFF, "getDuctor 100"}, {-90, 0x00, "getDuctor 0"}};
    for (const Case& c : cases) {
        sim_->Update([](sim::PressConsole& console) { console.Unit(1).ductor = 0x80; });
        Events();
        ASSERT_EQ(setting_->SetNewDuctorRelative(1, c.delta), 0);
        EXPECT_EQ(sim_->Unit(1).ductor, c.wire);
        EXPECT_EQ(Events(), (std::vector<Event>{{1, 0, 2}, {1, 4, 2}, {1, 4, 2}}));
        const std::vector<std::string> texts = LogTexts();
        EXPECT_EQ(texts[texts.size() - 2], "getDuctor 50");
        EXPECT_EQ(texts.back(), c.newText);
    }
}

TEST_F(OperationsTest, DuctorCycleWithoutAScaleSendsNothing) {
    int cycle = -1;
    EXPECT_EQ(setting_->SetNewDuctorCycleAbsolute(1, 6), 1);
    EXPECT_EQ(setting_->SetNewDuctorCycleRelative(1, 1), 1);
    EXPECT_EQ(setting_->GetDuctorCycle(1, cycle), 1);
    EXPECT_EQ(cycle, -1);
    EXPECT_TRUE(sim_->Frames().empty());
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(LogTexts(), (std::vector<std::string>{"setDuctorCycle abs 1 - v 6",
                                                    "setDuctorCycle rel 1 - v 1", "getductorcycle 1"}));
}

TEST_F(OperationsTest, DuctorCycleWithAScale) {
    Restart("KeysNumber=24\nUnitNumber=4\nDuctorCycle=3\n");
    ASSERT_EQ(setting_->SetNewDuctorCycleAbsolute(2, 9), 0);
    EXPECT_EQ(sim_->Unit(2).ductorCycle, 9);
    EXPECT_EQ(Events(), (std::vector<Event>{{2, 0, 3}, {2, 4, 3}}));
    ASSERT_EQ(setting_->SetNewDuctorCycleRelative(2, 9), 0);
    EXPECT_EQ(sim_->Unit(2).ductorCycle, 18);
    EXPECT_EQ(Events(), (std::vector<Event>{{2, 0, 3}, {2, 4, 3}}));
    int cycle = 0;
    ASSERT_EQ(setting_->GetDuctorCycle(2, cycle), 0);
    EXPECT_EQ(cycle, 18);
    EXPECT_EQ(Events(), (std::vector<Event>{{2, 0, 3}, {2, 5, 3}}));
    const std::vector<std::string> texts = LogTexts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "getDuctorC 9"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "newDuctorC 18"), texts.end());
    EXPECT_NE(config_->DuctorCycleLastVal().find("18"), std::string::npos) << config_->DuctorCycleLastVal();
}

TEST_F(OperationsTest, PortClosed) {
    serial_.Close();
    std::int32_t keys[24] = {};
    int value = 0;
    EXPECT_EQ(setting_->GetKeys(1, keys, 24), 1);
    EXPECT_EQ(Events(), (std::vector<Event>{{1, 0, 1}, {1, 5, 1}}));
    EXPECT_EQ(setting_->SetNewKeyAbsolute(1, keys, 24), 1);
    EXPECT_EQ(Events(), (std::vector<Event>{{1, 0, 1}}));
    EXPECT_EQ(setting_->SetNewKeyRelative(1, 3), 1);
    EXPECT_EQ(setting_->SetNewDuctorRelative(1, 3), 1);
    EXPECT_EQ(setting_->GetDuctor(1, value), 1);
    EXPECT_EQ(setting_->CopyUnit(2, 1), 1);
    Events();
    EXPECT_EQ(control_->WorkingPosition(1), 1);
    EXPECT_EQ(Events(), (std::vector<Event>{{1, 0, 0}}));
    EXPECT_TRUE(LogHas("u1=1"));
    EXPECT_EQ(control_->InkingUp(1), 0);
    EXPECT_EQ(Events(), (std::vector<Event>{{1, 0, 1}, {1, 0, 2}, {1, 0, 0}}));
    table_.Update(2, [](UnitRecord& r) { r.ductor = 77; });
    EXPECT_EQ(setting_->ReadBack(), 0);
    for (int row = 0; row < 4; ++row) {
        EXPECT_TRUE(table_.Get(row).present);
        EXPECT_EQ(table_.Get(row).zoneCount, 24);
    }
    EXPECT_EQ(table_.Get(2).ductor, 77);
    EXPECT_FALSE(table_.Get(4).present);
    EXPECT_TRUE(sim_->Frames().empty());
}

std::vector<Event> ReadBackEvents(int u, bool cycle) {
    std::vector<Event> out;
    for (int kind = 1; kind <= (cycle ? 3 : 2); ++kind)
        for (int code : {0, 0, 5, 5})
            out.emplace_back(u, code, kind);
    return out;
}

TEST_F(OperationsTest, ReadBackOfOneUnit) {
    for (bool cycle : {false, true}) {
        Restart(std::string("KeysNumber=24\nUnitNumber=1\nDuctorCycle=") + (cycle ? "2" : "0") + "\n");
        Bytes keys(24, 9);
        keys[5] = 200;
        SetKeysOnConsole(1, keys);
        sim_->Update([](sim::PressConsole& c) {
            c.Unit(1).ductor = 0x80;
            c.Unit(1).ductorCycle = 16;
        });
        table_.Update(0, [](UnitRecord& r) { r.ductorCycle = 4; });
        EXPECT_EQ(setting_->ReadBack(), 0);
        EXPECT_EQ(Events(), ReadBackEvents(1, cycle));
        const UnitRecord row = table_.Get(0);
        EXPECT_TRUE(row.present);
        EXPECT_EQ(row.zoneCount, 24);
        EXPECT_EQ(row.keys[5], 200);
        EXPECT_EQ(row.keys[6], 9);
        EXPECT_EQ(row.ductor, 50);
        EXPECT_EQ(row.ductorCycle, cycle ? 16 : 4);
        EXPECT_EQ(LogTexts().at(0), "readData");
    }
}

TEST_F(OperationsTest, ReadBackKeepsOldValuesOfFailedReadsAndGoesOn) {
    Restart("KeysNumber=24\nUnitNumber=2\nDuctorCycle=0\n");
    sim_->AddFault(0x0A, Fault{FaultKind::NoAnswer}, 3);
    sim_->Update([](sim::PressConsole& c) { c.Unit(2).ductor = 0xFF; });
    table_.Update(0, [](UnitRecord& r) { r.ductor = 33; });
    EXPECT_EQ(setting_->ReadBack(), 0);
    EXPECT_EQ(table_.Get(0).ductor, 33);
    EXPECT_EQ(table_.Get(1).ductor, 100);
}

TEST_F(OperationsTest, ReadBackTouchesOnlyRowsTheTableHolds) {
    Restart("KeysNumber=24\nUnitNumber=14\nDuctorCycle=0\n");
    EXPECT_EQ(setting_->ReadBack(), 0);
    EXPECT_TRUE(table_.Get(11).present);
    int highest = 0;
    for (const Bytes& f : CommandFrames())
        highest = std::max<int>(highest, f[1]);
    EXPECT_EQ(highest, 12);
}

TEST_F(OperationsTest, CopyUnit) {
    SetKeysOnConsole(1, Bytes(24, 44));
    sim_->Update([](sim::PressConsole& c) { c.Unit(1).ductor = 0x80; });
    ASSERT_EQ(setting_->CopyUnit(2, 1), 0);
    EXPECT_EQ(ConsoleKeys(2), Bytes(24, 44));
    EXPECT_EQ(sim_->Unit(2).ductor, 0x80);
    ASSERT_TRUE(sim_->WaitIdle(1000));
    EXPECT_EQ(sim_->Unit(2).position, sim::Position::Working);
    EXPECT_EQ(Events(), (std::vector<Event>{
                            {1, 0, 1}, {1, 5, 1}, {1, 0, 2}, {1, 5, 2}, {2, 4, 1}, {2, 0, 0}, {2, 4, 0}}));
    EXPECT_EQ(Opcodes(), (std::vector<int>{0x02, 0x0A, 0x01, 0x03, 0x09, 0x03, 0x06}));
    EXPECT_EQ(LogTexts().at(0), "copyunit d=2 s=1");
}

TEST_F(OperationsTest, CopyStopsAtTheFirstFailingWrite) {
    sim_->AddFault(0x09, Fault{FaultKind::NoAnswer}, 3);
    EXPECT_EQ(setting_->CopyUnit(2, 1), 3);
    EXPECT_EQ(Opcodes(), (std::vector<int>{0x02, 0x0A, 0x01, 0x03, 0x09, 0x09, 0x09}));
}

TEST_F(OperationsTest, SwapUnits) {
    SetKeysOnConsole(1, Bytes(24, 11));
    SetKeysOnConsole(4, Bytes(24, 44));
    sim_->Update([](sim::PressConsole& c) {
        c.Unit(1).ductor = 0x80;
        c.Unit(4).ductor = 0xFF;
    });
    UnitRecord a;
    a.separation = "Cyan";
    UnitRecord d;
    d.separation = "Black";
    table_.Set(0, a);
    table_.Set(3, d);
    ASSERT_EQ(setting_->SwapUnits(1, 4), 0);
    EXPECT_EQ(ConsoleKeys(1), Bytes(24, 44));
    EXPECT_EQ(ConsoleKeys(4), Bytes(24, 11));
    EXPECT_EQ(sim_->Unit(1).ductor, 0xFF);
    EXPECT_EQ(sim_->Unit(4).ductor, 0x80);
    EXPECT_EQ(table_.Get(0).separation, "Black");
    EXPECT_EQ(table_.Get(3).separation, "Cyan");
    const std::vector<Event> events = Events();
    const std::vector<Event> tail(events.end() - 6, events.end());
    EXPECT_EQ(tail, (std::vector<Event>{{1, 4, 1}, {1, 0, 0}, {1, 4, 0}, {4, 4, 1}, {4, 0, 0}, {4, 4, 0}}));

    // a unit beyond "UnitNumber" swaps the press values but not the rows
    ASSERT_EQ(setting_->SwapUnits(1, 5), 1);
    EXPECT_EQ(ConsoleKeys(5), Bytes(24, 44));
    EXPECT_EQ(table_.Get(0).separation, "Black");
}

TEST_F(OperationsTest, AFailedSwapPutsBackWhatItHadWritten) {
    // The ductor set fails on the first unit written, or on the second after
    // its keys went in; neither unit may be left without its own values.
    struct Case {
        int ductorSetsBefore; // ductor sets the console answers before the failing one
        int result;
    } cases[] = {{0, 3}, {1, 3}};
    for (const Case& c : cases) {
        Restart("KeysNumber=24\nUnitNumber=4\nDuctorCycle=0\n");
        SetKeysOnConsole(1, Bytes(24, 11));
        SetKeysOnConsole(2, Bytes(24, 22));
        sim_->Update([](sim::PressConsole& console) {
            console.Unit(1).ductor = 0x80;
            console.Unit(2).ductor = 0xFF;
        });
        UnitRecord first;
        first.separation = "Cyan";
        table_.Set(0, first);
        if (c.ductorSetsBefore > 0)
            sim_->AddFault(0x09, Fault{FaultKind::Delay, 0}, c.ductorSetsBefore);
        sim_->AddFault(0x09, Fault{FaultKind::NoAnswer}, 3);
        EXPECT_EQ(setting_->SwapUnits(1, 2), c.result) << c.ductorSetsBefore;
        ASSERT_TRUE(sim_->WaitIdle(2000));
        EXPECT_EQ(ConsoleKeys(1), Bytes(24, 11)) << c.ductorSetsBefore;
        EXPECT_EQ(ConsoleKeys(2), Bytes(24, 22)) << c.ductorSetsBefore;
        EXPECT_EQ(sim_->Unit(1).ductor, 0x80) << c.ductorSetsBefore;
        EXPECT_EQ(sim_->Unit(2).ductor, 0xFF) << c.ductorSetsBefore;
        EXPECT_EQ(table_.Get(0).separation, "Cyan");
    }
}

TEST_F(OperationsTest, SwapNeverReachesPastTheTable) {
    Restart("KeysNumber=24\nUnitNumber=20\nDuctorCycle=0\n");
    UnitRecord a;
    a.separation = "Cyan";
    table_.Set(0, a);
    EXPECT_EQ(setting_->SwapUnits(1, 13), 1);
    EXPECT_EQ(setting_->SwapUnits(0, 1), 3); // the console does not answer for unit 0
    EXPECT_EQ(table_.Get(0).separation, "Cyan");
}

TEST_F(OperationsTest, Positions) {
    EXPECT_EQ(control_->WorkingPosition(0), 0);
    EXPECT_EQ(control_->ZeroPosition(-3), 0);
    EXPECT_EQ(control_->Reset(0), 0);
    EXPECT_TRUE(Events().empty());
    EXPECT_TRUE(sim_->Frames().empty());
    EXPECT_EQ(control_->WorkingPosition(2), 0);
    EXPECT_EQ(Events(), (std::vector<Event>{{2, 0, 0}, {2, 4, 0}}));
    ASSERT_TRUE(sim_->WaitIdle(1000));
    EXPECT_EQ(sim_->Unit(2).position, sim::Position::Working);
    EXPECT_EQ(control_->ZeroPosition(2), 0);
    ASSERT_TRUE(sim_->WaitIdle(1000));
    EXPECT_EQ(sim_->Unit(2).position, sim::Position::Zero);
    EXPECT_EQ(control_->Reset(2), 0);
    EXPECT_EQ(sim_->Unit(2).resets, 1);
    EXPECT_EQ(LogTexts(),
              (std::vector<std::string>{"WorkingPos u0", "ZeroPos u-3", "Reset u0", "WorkingPos u2", "u2=0",
                                        "ZeroPos u2", "u2=0", "Reset u2"}));
}

struct InkingCase {
    std::string general;
    std::string inkingUp;
    int ductor;
    bool cycle;
};

TEST_F(OperationsTest, InkingUp) {
    const InkingCase cases[] = {
        {"KeysNumber=24\nUnitNumber=4\nDuctorCycle=0\n", "", 0xFD, false},
        {"KeysNumber=24\nUnitNumber=4\nDuctorCycle=3\n", "", 0xFD, true},
        {"KeysNumber=24\nUnitNumber=4\nDuctorCycle=2\n", "Keys=200\nDuctor=50\nDuctorCycle=1/8\n", 0x7F,
         true},
    };
    for (const InkingCase& c : cases) {
        Restart(c.general, c.inkingUp);
        EXPECT_EQ(control_->InkingUp(1), 0);
        ASSERT_TRUE(sim_->WaitIdle(1000));
        const sim::UnitState u = sim_->Unit(1);
        EXPECT_EQ(u.keys, Bytes(24, c.inkingUp.empty() ? 15 : 200));
        EXPECT_EQ(u.ductor, c.ductor);
        EXPECT_EQ(u.position, sim::Position::Working);
        std::vector<Event> expected = {{1, 0, 1}, {1, 4, 1}, {1, 4, 1}, {1, 0, 2}, {1, 4, 2}};
        if (c.cycle) {
            EXPECT_EQ(u.ductorCycle, c.inkingUp.empty() ? 3 : 8);
            expected.insert(expected.end(), {{1, 0, 3}, {1, 4, 3}});
        }
        expected.insert(expected.end(), {{1, 0, 0}, {1, 4, 0}});
        EXPECT_EQ(Events(), expected);
        const std::vector<int> opcodes = Opcodes();
        EXPECT_EQ(std::count(opcodes.begin(), opcodes.end(), 0x50), c.cycle ? 1 : 0);
        EXPECT_EQ(opcodes.back(), 0x06);
        EXPECT_EQ(LogTexts().at(0), "Inkingup u1");
        EXPECT_EQ(LogTexts().at(1), "u1");
    }
}

TEST_F(OperationsTest, InkingUpRepeatsAFailingStep) {
    sim_->AddFault(0x09, Fault{FaultKind::NoAnswer}, 4);
    EXPECT_EQ(control_->InkingUp(1), 0);
    const std::vector<int> opcodes = Opcodes();
    EXPECT_EQ(std::count(opcodes.begin(), opcodes.end(), 0x09), 5);
    EXPECT_EQ(sim_->Unit(1).ductor, 0xFD);
}

TEST_F(OperationsTest, GetInfoFlags) {
    sim_->Update([](sim::PressConsole& c) {
        c.Unit(3).status = {0x80, 0, 0, 0, 0, 0, 0x01};
        c.Unit(3).position = sim::Position::Working;
    });
    std::uint8_t flags[56];
    std::fill(std::begin(flags), std::end(flags), 1);
    int first = -1, second = -1, third = -1;
    ASSERT_EQ(control_->GetInfo(3, first, second, third, flags), 0);
    EXPECT_EQ(first, 3);
    EXPECT_EQ(second, 24);
    EXPECT_EQ(third, 0);
    for (int k = 0; k < 56; ++k)
        EXPECT_EQ(flags[k], (k == 0 || k == 55) ? 1 : 0) << k;
    EXPECT_EQ(Events(), (std::vector<Event>{{3, 0, 0}, {3, 5, 0}}));

    // only marked entries receive their bit
    sim_->Update([](sim::PressConsole& c) { c.Unit(3).status = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0xFF}; });
    std::fill(std::begin(flags), std::end(flags), 0);
    flags[1] = 7;
    flags[8] = 1;
    flags[9] = 1;
    ASSERT_EQ(control_->GetInfo(3, first, second, third, flags), 0);
    for (int k = 0; k < 56; ++k)
        EXPECT_EQ(flags[k], (k == 1 || k == 8) ? 1 : 0) << k;
}

TEST_F(OperationsTest, SmallControlOperations) {
    EXPECT_EQ(control_->SetDuctorCalibration(1, 256), 0);
    EXPECT_EQ(control_->SetDuctorCalibration(1, 1), 0);
    EXPECT_TRUE(sim_->Unit(1).ductorCalibration);
    EXPECT_EQ(control_->SetModeCalibration(2), 0);
    EXPECT_EQ(sim_->Unit(2).mode, sim::Mode::Calibration);
    EXPECT_EQ(control_->SetModeNormal(2), 0);
    EXPECT_EQ(sim_->Unit(2).mode, sim::Mode::Normal);
    int type = -1, speed = -1;
    EXPECT_EQ(control_->GetMachineType(1, type), 0);
    EXPECT_EQ(type, 2);
    EXPECT_EQ(control_->GetMachineSpeed(1, speed), 0);
    EXPECT_EQ(speed, 0);
    EXPECT_EQ(control_->ResetCassette(1), 0);
    EXPECT_EQ(sim_->Unit(1).cassetteResets, 1);
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(control_->SetModeRemote(4, 257), 1);
    EXPECT_EQ(Events(), (std::vector<Event>{{4, 3, 0}}));
    EXPECT_EQ(Opcodes(), (std::vector<int>{0x41, 0x40, 0x0B, 0x0B, 0x0F, 0x0F, 0x52, 0x53, 0x80}));
    EXPECT_EQ(LogTexts(),
              (std::vector<std::string>{"DucCalib u1: 0", "DucCalib u1: 1", "CalMode u2", "NormMode u2",
                                        "MType u1", "MSpeed u1", "ResetCast u1", "RemoteMode u4: 1"}));
}

TEST_F(OperationsTest, DuctorCalibrationRetriesWithKindOne) {
    sim_->AddFault(0x41, Fault{FaultKind::NoAnswer}, 1);
    EXPECT_EQ(control_->SetDuctorCalibration(1, 0), 0);
    EXPECT_EQ(Events(), (std::vector<Event>{{1, 1, 1}}));
}

TEST_F(OperationsTest, DuctorCycleList) {
    struct Case {
        int scale;
        std::string list;
    } cases[] = {{2, "2,4,8,16,32,64"}, {3, "3,6,9,18,36,72"}, {0, ""}};
    for (const Case& c : cases) {
        config_->SetDuctorCycle(c.scale);
        EXPECT_EQ(std::string(control_->GetDuctorCycleList()), c.list);
        EXPECT_EQ(LogTexts().back(), c.list);
    }
}

} // namespace
} // namespace tsr::test
