#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

#include "config/ini_file.h"
#include "memory_rig.h"

namespace tsr::test {
namespace {

namespace fs = std::filesystem;

std::uint8_t KeyOf(int unit, int key) {
    return static_cast<std::uint8_t>((unit * 37 + key * 11) % 256);
}

// Puts distinct values on every unit of the console.
void FillConsole(MemoryRig& rig, int units, int keys, const std::vector<int>& ductorWire,
                 const std::vector<int>& cycles) {
    for (int u = 1; u <= units; ++u) {
        sim::UnitState s = rig.sim.Unit(u);
        s.keys.resize(static_cast<std::size_t>(keys));
        for (int k = 0; k < keys; ++k)
            s.keys[static_cast<std::size_t>(k)] = KeyOf(u, k);
        s.ductor = static_cast<std::uint8_t>(ductorWire[static_cast<std::size_t>(u - 1)]);
        s.ductorCycle = static_cast<std::uint8_t>(cycles[static_cast<std::size_t>(u - 1)]);
        rig.sim.SetUnit(u, s);
    }
}

std::string KeysText(int unit, int keys) {
    std::string text;
    for (int k = 0; k < keys; ++k)
        text += (k ? " " : "") + std::to_string(KeyOf(unit, k));
    return text;
}

std::string Section(int unit, const std::string& keys, int ductor, int cycle) {
    return "[UNIT " + std::to_string(unit) + "]\r\nKEYS=" + keys + "\r\nDUCTOR=" + std::to_string(ductor) +
           "\r\nDUCTORCYCLE=" + std::to_string(cycle) + "\r\n";
}

// ---- save ----

struct SaveCase {
    int ductorCycle;
    std::vector<int> expectedCycle; // what the file holds per unit
    friend void PrintTo(const SaveCase& c, std::ostream* os) { *os << "DuctorCycle=" << c.ductorCycle; }
};

class SaveTest : public ::testing::TestWithParam<SaveCase> {};

TEST_P(SaveTest, WritesEveryUnitInOrderWithoutGeneral) {
    MemoryRig rig({.units = 4, .keys = 24, .ductorCycle = GetParam().ductorCycle});
    // wire 128, 255, 0, 77 are 50, 100, 0 and 30 percent
    FillConsole(rig, 4, 24, {128, 255, 0, 77}, {2, 3, 4, 6});

    EXPECT_EQ(rig.memory.SaveJob(3), 0);

    const std::vector<int> percent = {50, 100, 0, 30};
    std::string expected;
    for (int u = 1; u <= 4; ++u)
        expected += Section(u, KeysText(u, 24), percent[static_cast<std::size_t>(u - 1)],
                            GetParam().expectedCycle[static_cast<std::size_t>(u - 1)]);
    EXPECT_EQ(ReadText(rig.JobFile(3)), expected);

    // our start and read events wrap those of the read operations themselves
    std::vector<Event> unit2 = {{2, 0, 1}, {2, 0, 1}, {2, 5, 1}, {2, 5, 1},
                                {2, 0, 2}, {2, 0, 2}, {2, 5, 2}, {2, 5, 2}};
    if (GetParam().ductorCycle > 0)
        unit2.insert(unit2.end(), {{2, 0, 3}, {2, 0, 3}, {2, 5, 3}, {2, 5, 3}});
    EXPECT_EQ(rig.recorder.Of(2), unit2);
    // no old file: the delete step starts and ends there
    EXPECT_EQ(rig.recorder.Of(0), (std::vector<Event>{{0, 0, 0}}));

    int cycleReads = 0;
    for (auto [op, unit] : rig.Commands())
        cycleReads += op == 0x51;
    EXPECT_EQ(cycleReads, GetParam().ductorCycle > 0 ? 4 : 0);
}

INSTANTIATE_TEST_SUITE_P(CycleScale, SaveTest,
                         ::testing::Values(SaveCase{0, {0, 0, 0, 0}}, SaveCase{2, {2, 3, 4, 6}}));

TEST(JobMemorySave, ReplacesTheOldJobWholeAndDropsItsDescription) {
    MemoryRig rig({.units = 2, .keys = 3});
    FillConsole(rig, 2, 3, {128, 128}, {0, 0});
    WriteText(rig.JobFile(1), "[UNIT 1]\r\nKEYS=1 2 3\r\n[UNIT 7]\r\nKEYS=9\r\n[GENERAL]\r\nNAME=old\r\n");

    rig.memory.SaveJob(1);
    ASSERT_EQ(rig.memory.SetInfo(1, "Job", "2024-05-01 10:00:00"), 0);
    rig.recorder.Clear();
    rig.memory.SaveJob(1);

    const std::string text = ReadText(rig.JobFile(1));
    EXPECT_EQ(text, Section(1, KeysText(1, 3), 50, 0) + Section(2, KeysText(2, 3), 50, 0));
    // the old file was deleted with its own events
    EXPECT_EQ(rig.recorder.Of(0), (std::vector<Event>{{0, 0, 0}, {0, 4, 0}}));
    std::string name = "x", date = "y";
    EXPECT_EQ(rig.memory.GetInfo(1, name, date), 0);
    EXPECT_EQ(name, "");
    EXPECT_EQ(date, "");
}

std::string NotSaved(int unit) {
    return "[UNIT " + std::to_string(unit) + "]\r\nSAVED=0\r\n";
}

// A value the console does not deliver is never stored as a guess: the unit is
// marked not saved and named; a save that read nothing keeps the old job.
TEST(JobMemorySave, StoresOnlyWhatThePressDeliveredAndNamesTheUnitsNotSaved) {
    MemoryRig rig({.units = 3, .keys = 4, .ductorCycle = 3});
    FillConsole(rig, 3, 4, {128, 128, 128}, {5, 5, 5});
    const std::string full = Section(1, KeysText(1, 4), 50, 5) + Section(2, KeysText(2, 4), 50, 5) +
                             Section(3, KeysText(3, 4), 50, 5);
    sim::Fault silent;
    silent.kind = sim::FaultKind::NoAnswer;
    struct Case {
        const char* name;
        int opcode;  // the read that goes unanswered (0: none)
        int unit;    // for that unit only (0: every unit)
        JobMemory::SaveResult result;
        std::vector<int> notSaved;
        std::string file; // after the save; the save before it stored "full"
    } cases[] = {
        {"all answered", 0, 0, JobMemory::SaveResult::AllUnits, {}, full},
        {"keys of unit 1", 0x02, 1, JobMemory::SaveResult::SomeUnits, {1},
         NotSaved(1) + Section(2, KeysText(2, 4), 50, 5) + Section(3, KeysText(3, 4), 50, 5)},
        {"ductor of unit 2", 0x0A, 2, JobMemory::SaveResult::SomeUnits, {2},
         Section(1, KeysText(1, 4), 50, 5) + NotSaved(2) + Section(3, KeysText(3, 4), 50, 5)},
        {"cycle of unit 3", 0x51, 3, JobMemory::SaveResult::SomeUnits, {3},
         Section(1, KeysText(1, 4), 50, 5) + Section(2, KeysText(2, 4), 50, 5) + NotSaved(3)},
        {"the port is gone", -1, 0, JobMemory::SaveResult::Nothing, {1, 2, 3},
         full + "[GENERAL]\r\nNAME=kept\r\nDATE=\r\n"}, // the job before, description and all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rig.sim.ClearFaults();
        ASSERT_EQ(rig.memory.Save(0).result, JobMemory::SaveResult::AllUnits);
        ASSERT_EQ(rig.memory.SetInfo(0, "kept", ""), 0);
        if (c.opcode > 0) {
            sim::Fault f = silent;
            f.unit = c.unit;
            rig.sim.AddFault(c.opcode, f, -1);
        }
        if (c.opcode < 0)
            rig.serial.Close(); // every read fails at once
        const JobMemory::SaveOutcome outcome = rig.memory.Save(0);
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(outcome.notSaved, c.notSaved);
        EXPECT_EQ(ReadText(rig.JobFile(0)), c.file);
    }
}

// A unit marked not saved is left alone by the recall; the units after it are recalled.
TEST(JobMemoryLoad, AUnitNotSavedIsLeftAloneAndTheOthersAreRecalled) {
    MemoryRig rig({.units = 3, .keys = 2});
    std::ofstream(rig.JobFile(1), std::ios::binary)
        << Section(1, "10 20", 50, 0) + NotSaved(2) + Section(3, "30 40", 100, 0);
    EXPECT_EQ(rig.memory.LoadJob(1), 0);
    EXPECT_EQ(rig.sim.Unit(1).keys, (std::vector<std::uint8_t>{10, 20}));
    EXPECT_EQ(rig.sim.Unit(3).keys, (std::vector<std::uint8_t>{30, 40}));
    EXPECT_EQ(rig.sim.Unit(3).ductor, 255);
    for (auto [op, unit] : rig.Commands())
        EXPECT_NE(unit, 2) << "opcode " << op;
}

TEST(JobMemorySave, NeverHoldsMoreThanTheTableLimits) {
    // "KeysNumber" 600 and "UnitNumber" 14: 500 keys of 12 units are read and stored
    MemoryRig rig({.units = 14, .keys = 600, .consoleUnits = 14, .consoleKeys = 500});
    rig.memory.SaveJob(1);
    const IniFile ini(*rig.fs, rig.JobFile(1));
    for (int u = 1; u <= 12; ++u) {
        const std::string keys = ini.ReadString("UNIT " + std::to_string(u), "KEYS", "", 5000);
        EXPECT_EQ(std::count(keys.begin(), keys.end(), ' '), 499) << u;
    }
    EXPECT_EQ(ini.ReadString("UNIT 13", "KEYS", "none"), "none");
    for (auto [op, unit] : rig.Commands())
        EXPECT_LE(unit, 12);
}

TEST(JobMemorySave, MissingMemoryFolderFailsSilently) {
    MemoryRig rig({.units = 2, .keys = 3});
    fs::remove_all(rig.logFolder + "/Memory");
    EXPECT_EQ(rig.memory.SaveJob(1), 0);
    EXPECT_FALSE(rig.memory.JobExists(1));
    EXPECT_FALSE(fs::exists(rig.logFolder + "/Memory"));
    std::string name, date;
    EXPECT_EQ(rig.memory.GetInfo(1, name, date), 1);
    EXPECT_EQ(rig.memory.LoadJob(1), 1);
}

// The host creates "memory" where the library says "Memory"; both must be one folder.
TEST(JobMemoryFiles, UsesAFolderOfTheSameNameInAnotherLetterCase) {
    MemoryRig rig({.units = 2, .keys = 3});
    // the log folder is known as ".../log", the disk holds ".../Log/memory"
    fs::remove_all(rig.logFolder);
    fs::create_directories(rig.folder / "Log/memory");
    FillConsole(rig, 2, 3, {128, 255}, {0, 0});
    rig.memory.SaveJob(2);
    EXPECT_TRUE(fs::is_regular_file(rig.folder / "Log/memory/memory_2.qv"));
    EXPECT_FALSE(fs::exists(rig.folder / "log"));
    EXPECT_FALSE(fs::exists(rig.folder / "Log/Memory"));
    EXPECT_TRUE(rig.memory.JobExists(2));
    EXPECT_EQ(rig.memory.SetInfo(2, "n", "d"), 0);
    std::string name, date;
    EXPECT_EQ(rig.memory.GetInfo(2, name, date), 0);
    EXPECT_EQ(name, "n");

    // a file whose name differs in case is the same job too
    fs::rename(rig.folder / "Log/memory/memory_2.qv", rig.folder / "Log/memory/MEMORY_2.QV");
    rig.sim.ClearRecord();
    EXPECT_EQ(rig.memory.LoadJob(2), 0);
    EXPECT_EQ(rig.sim.Unit(2).ductor, 255);
    rig.memory.DeleteJob(2);
    EXPECT_FALSE(fs::exists(rig.folder / "Log/memory/MEMORY_2.QV"));
}

TEST(JobMemoryFiles, FileNameTakesTheNumberBeforeTheLastDot) {
    EXPECT_EQ(JobMemory::JobFileName("log", 2), "log/Memory/memory_2.qv");
    EXPECT_EQ(JobMemory::JobFileName("C:\\data.v2\\log", -1), "C:\\data.v2\\log/Memory/memory_-1.qv");
    EXPECT_EQ(JobMemory::JobFileName("", 0), "/Memory/memory_0.qv");
}

// ---- recall ----

class RecallTest : public ::testing::Test {
protected:
    void Recall(const std::string& file, int job = 1) {
        WriteText(rig.JobFile(job), file);
        rig.sim.ClearRecord();
        rig.recorder.Clear();
        ASSERT_EQ(rig.memory.LoadJob(job), 0);
    }
    std::vector<int> UnitsSent(int opcode) const {
        std::vector<int> out;
        for (auto [op, unit] : rig.Commands())
            if (op == opcode)
                out.push_back(unit);
        return out;
    }
    MemoryRig rig{{.units = 4, .keys = 24, .ductorCycle = 2, .consoleUnits = 14}};
};

TEST_F(RecallTest, StopsAtTheFirstUnitWithoutKeys) {
    Recall("[UNIT 1]\nKEYS=1 2\n[UNIT 2]\nKEYS=3 4\n[UNIT 3]\nDUCTOR=40\n[UNIT 4]\nKEYS=5 6\n");
    EXPECT_EQ(UnitsSent(0x01), (std::vector<int>{1, 2}));
    EXPECT_EQ(UnitsSent(0x06), (std::vector<int>{1, 2}));
    // an empty KEYS ends it the same way
    Recall("[UNIT 1]\nKEYS=1 2\n[UNIT 2]\nKEYS=\n[UNIT 3]\nKEYS=5 6\n");
    EXPECT_EQ(UnitsSent(0x01), (std::vector<int>{1}));
}

TEST_F(RecallTest, SendsTheShortestKeyCountToEveryUnit) {
    std::string keys24, keys20;
    for (int k = 0; k < 24; ++k)
        keys24 += (k ? " " : "") + std::to_string(100 + k);
    for (int k = 0; k < 20; ++k)
        keys20 += (k ? " " : "") + std::to_string(50 + k);
    Recall("[UNIT 1]\nKEYS=" + keys24 + "\n[UNIT 2]\nKEYS=" + keys20 + "\n[UNIT 3]\nKEYS=" + keys24 + "\n");
    for (int u = 1; u <= 3; ++u) {
        const std::vector<std::uint8_t> sent = rig.ValuesSent(0x01, u);
        ASSERT_EQ(sent.size(), 20u) << u;
        EXPECT_EQ(sent[19], u == 2 ? 69 : 119);
        // keys beyond the 20 keep what the console had
        EXPECT_EQ(rig.sim.Unit(u).keys[20], 0);
    }
    EXPECT_EQ(rig.sim.Unit(1).keys[0], 100);
}

TEST_F(RecallTest, DuctorAndCycleDefaultsAndScale) {
    Recall("[UNIT 1]\nKEYS=1\n"
           "[UNIT 2]\nKEYS=1\nDUCTOR=100\nDUCTORCYCLE=3\n"
           "[UNIT 3]\nKEYS=1\nDUCTOR=50\nDUCTORCYCLE=\n"
           "[UNIT 4]\nKEYS=1\nDUCTOR=-20\nDUCTORCYCLE=6\n");
    struct Expect {
        int unit, ductor, cycle;
    };
    // 14 % goes out as 35; an empty value reads as 0, a missing one as 14
    for (const Expect& e : {Expect{1, 35, 14}, Expect{2, 255, 3}, Expect{3, 128, 0}, Expect{4, 0, 6}}) {
        EXPECT_EQ(rig.ValuesSent(0x09, e.unit), (std::vector<std::uint8_t>{std::uint8_t(e.ductor)}))
            << e.unit;
        EXPECT_EQ(rig.sim.Unit(e.unit).ductor, e.ductor) << e.unit;
        EXPECT_EQ(rig.sim.Unit(e.unit).ductorCycle, e.cycle) << e.unit;
    }
}

TEST_F(RecallTest, NoCycleIsSentWithoutACycleScale) {
    rig.config.SetDuctorCycle(0);
    Recall("[UNIT 1]\nKEYS=1\nDUCTORCYCLE=6\n");
    EXPECT_TRUE(UnitsSent(0x50).empty());
    EXPECT_EQ(
        rig.recorder.Of(1),
        (std::vector<Event>{{1, 0, 1}, {1, 4, 1}, {1, 4, 1}, {1, 0, 2}, {1, 4, 2}, {1, 0, 0}, {1, 4, 0}}));
}

TEST_F(RecallTest, RecallsAtMostTwelveUnitsAndLeavesTheTableAlone) {
    std::string file;
    for (int u = 1; u <= 14; ++u)
        file += "[UNIT " + std::to_string(u) + "]\nKEYS=" + std::to_string(u) + "\n";
    rig.table.Update(0, [](UnitRecord& r) { r.keys[0] = 77; });
    Recall(file);
    std::vector<int> twelve(12);
    for (int u = 1; u <= 12; ++u)
        twelve[static_cast<std::size_t>(u - 1)] = u;
    EXPECT_EQ(UnitsSent(0x01), twelve);
    EXPECT_EQ(UnitsSent(0x06), twelve);
    EXPECT_EQ(rig.sim.Unit(12).position, sim::Position::Working);
    EXPECT_EQ(rig.sim.Unit(13).position, sim::Position::Zero);
    EXPECT_EQ(rig.table.Get(0).keys[0], 77);
}

TEST_F(RecallTest, UnitEventsAndOrderOfSteps) {
    Recall("[UNIT 1]\nKEYS=1 2\nDUCTOR=50\nDUCTORCYCLE=3\n");
    EXPECT_EQ(rig.recorder.Events(), (std::vector<Event>{{1, 0, 1},
                                                         {1, 4, 1},
                                                         {1, 4, 1},
                                                         {1, 0, 2},
                                                         {1, 4, 2},
                                                         {1, 0, 3},
                                                         {1, 4, 3},
                                                         {1, 0, 0},
                                                         {1, 4, 0}}));
    std::vector<int> ops;
    for (auto [op, unit] : rig.Commands())
        ops.push_back(op);
    EXPECT_EQ(ops, (std::vector<int>{0x01, 0x03, 0x09, 0x03, 0x50, 0x03, 0x06}));
}

TEST_F(RecallTest, AFailedStepDoesNotStopTheRecall) {
    sim::Fault silent;
    silent.kind = sim::FaultKind::NoAnswer;
    rig.sim.AddFault(0x09, silent, 3);
    Recall("[UNIT 1]\nKEYS=1\nDUCTOR=50\n[UNIT 2]\nKEYS=2\nDUCTOR=100\n");
    const auto u1 = rig.recorder.Of(1);
    EXPECT_EQ(std::count(u1.begin(), u1.end(), Event{1, 4, 2}), 0);
    EXPECT_EQ(std::count(u1.begin(), u1.end(), Event{1, 3, 2}), 1);
    EXPECT_EQ(rig.sim.Unit(1).position, sim::Position::Working);
    EXPECT_EQ(rig.sim.Unit(2).ductor, 255);
    EXPECT_EQ(rig.sim.Unit(2).keys[0], 2);
}

TEST_F(RecallTest, NoJobFileReturnsOneAndSendsNothing) {
    rig.sim.ClearRecord();
    EXPECT_EQ(rig.memory.LoadJob(9), 1);
    EXPECT_TRUE(rig.Commands().empty());
    EXPECT_TRUE(rig.recorder.Events().empty());
    // a folder of the job file's name is no job
    fs::create_directories(rig.JobFile(9));
    EXPECT_EQ(rig.memory.LoadJob(9), 1);
}

struct KeyCase {
    std::string keys;
    std::vector<std::uint8_t> sent;
    friend void PrintTo(const KeyCase& c, std::ostream* os) { *os << '"' << c.keys << '"'; }
};

class HandEditedKeys : public RecallTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(HandEditedKeys, ReadAsLeadingNumbersAndSentAsLowBytes) {
    Recall("; edited by hand\n\n[unit 1]\n\n  keys =  " + GetParam().keys + "  \ngarbage line\n");
    EXPECT_EQ(rig.ValuesSent(0x01, 1), GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(
    Values, HandEditedKeys,
    ::testing::Values(KeyCase{"300", {44}}, KeyCase{"10 0 255", {10, 0, 255}},
                      // pieces without digits give 0; an empty piece between two blanks counts
                      KeyCase{"abc 12x -1 +7 - 5", {0, 12, 255, 7, 0, 5}}, KeyCase{"1  2", {1, 0, 2}},
                      // numbers beyond the integer range are held at its ends
                      KeyCase{"99999999999999999999 -99999999999999999999", {0xFF, 0x00}},
                      KeyCase{"1\t2 3", {1, 3}}));

TEST_F(RecallTest, MoreThanFiveHundredValuesAreCutToFiveHundred) {
    // blanks between the values make empty pieces: 700 pieces in fewer than 999 characters
    std::string keys = "9" + std::string(698, ' ') + "9";
    Recall("[UNIT 1]\nKEYS=" + keys + "\n[UNIT 2]\nKEYS=" + keys + "\n");
    const std::vector<std::uint8_t> sent = rig.ValuesSent(0x01, 2);
    ASSERT_EQ(sent.size(), 500u);
    EXPECT_EQ(sent[0], 9);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 0), 499);
}

// Five hundred keys of three digits make a "KEYS" text of about 2000
// characters; the job saved so must come back whole, its last value uncut.
TEST(JobMemoryRecall, AJobOfFiveHundredKeysComesBackAsSaved) {
    MemoryRig rig({.units = 2, .keys = 500});
    FillConsole(rig, 2, 500, {128, 128}, {5, 5});
    rig.memory.SaveJob(2);
    rig.sim.ClearRecord();
    ASSERT_EQ(rig.memory.LoadJob(2), 0);
    for (int u = 1; u <= 2; ++u) {
        std::vector<std::uint8_t> expected;
        for (int k = 0; k < 500; ++k)
            expected.push_back(KeyOf(u, k));
        const std::vector<std::uint8_t> sent = rig.ValuesSent(0x01, u);
        ASSERT_EQ(sent.size(), expected.size()) << u;
        EXPECT_EQ(sent, expected) << u;
    }
}

TEST_F(RecallTest, BinaryJunkIsReadWithoutACrash) {
    std::string junk = "[UNIT 1]\nKEYS=";
    for (int i = 1; i < 256; ++i)
        junk += static_cast<char>(i);
    junk += "\n[UNIT 2\nKEYS=\xff\xfe\n=\n[]\nDUCTOR\n";
    Recall(junk);
    ASSERT_FALSE(UnitsSent(0x06).empty());
    EXPECT_EQ(UnitsSent(0x06)[0], 1);
}

// ---- description and delete ----

TEST(JobMemoryInfo, SetInfoNeedsASavedJob) {
    MemoryRig rig({.units = 1, .keys = 2});
    EXPECT_EQ(rig.memory.SetInfo(0, "name", "date"), 1);
    EXPECT_FALSE(fs::exists(rig.JobFile(0)));
    std::string name = "keep", date = "keep";
    EXPECT_EQ(rig.memory.GetInfo(0, name, date), 1);
    EXPECT_EQ(name, "keep");
}

TEST(JobMemoryInfo, DescriptionFollowsTheUnitsAndReadsBack) {
    MemoryRig rig({.units = 2, .keys = 3});
    FillConsole(rig, 2, 3, {0, 0}, {0, 0});
    rig.memory.SaveJob(1);
    EXPECT_EQ(rig.memory.SetInfo(1, "Job \"A\" = 1", "2024-05-01 10:00:00"), 0);
    EXPECT_EQ(ReadText(rig.JobFile(1)),
              Section(1, KeysText(1, 3), 0, 0) + Section(2, KeysText(2, 3), 0, 0) +
                  "[GENERAL]\r\nNAME=Job \"A\" = 1\r\nDATE=2024-05-01 10:00:00\r\n");
    std::string name, date;
    EXPECT_EQ(rig.memory.GetInfo(1, name, date), 0);
    EXPECT_EQ(name, "Job \"A\" = 1");
    EXPECT_EQ(date, "2024-05-01 10:00:00");

    // a line break cannot add lines to the job file
    EXPECT_EQ(rig.memory.SetInfo(1, "first\r\n[UNIT 1]\r\nKEYS=1", "d"), 0);
    EXPECT_EQ(rig.memory.GetInfo(1, name, date), 0);
    EXPECT_EQ(name, "first");
    EXPECT_EQ(IniFile(*rig.fs, rig.JobFile(1)).ReadString("UNIT 1", "KEYS", ""), KeysText(1, 3));
}

TEST(JobMemoryInfo, LongTextsAreCutTo999Characters) {
    MemoryRig rig({.units = 1, .keys = 1});
    rig.memory.SaveJob(0);
    const std::string longName(1500, 'n');
    ASSERT_EQ(rig.memory.SetInfo(0, longName, "d"), 0);
    std::string name, date;
    EXPECT_EQ(rig.memory.GetInfo(0, name, date), 0);
    EXPECT_EQ(name, std::string(999, 'n'));
}

TEST(JobMemoryDelete, EventsWithAndWithoutAFile) {
    MemoryRig rig({.units = 1, .keys = 1});
    WriteText(rig.JobFile(2), "[UNIT 1]\nKEYS=1\n");
    EXPECT_EQ(rig.memory.DeleteJob(2), 0);
    EXPECT_FALSE(fs::exists(rig.JobFile(2)));
    EXPECT_EQ(rig.recorder.Events(), (std::vector<Event>{{0, 0, 0}, {0, 4, 0}}));
    rig.recorder.Clear();
    EXPECT_EQ(rig.memory.DeleteJob(2), 0);
    EXPECT_EQ(rig.recorder.Events(), (std::vector<Event>{{0, 0, 0}}));
}

// ---- the press lock ----

TEST(JobMemoryLock, SaveAndRecallHoldThePressLockForTheirWholeRun) {
    MemoryRig rig({.units = 2, .keys = 3, .ductorCycle = 2});
    bool freeDuringRun = false;
    // every event comes from inside the run: another thread must not get the lock then
    rig.recorder.OnEvent([&] {
        if (std::async(std::launch::async, [&] {
                const bool got = rig.press.try_lock();
                if (got)
                    rig.press.unlock();
                return got;
            }).get())
            freeDuringRun = true;
    });
    rig.memory.SaveJob(1);
    rig.memory.LoadJob(1);
    EXPECT_FALSE(freeDuringRun);
    rig.recorder.OnEvent(nullptr);

    // and a run waits for the lock before it sends anything
    rig.sim.ClearRecord();
    rig.press.lock();
    auto recall = std::async(std::launch::async, [&] { return rig.memory.LoadJob(1); });
    EXPECT_EQ(recall.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    EXPECT_TRUE(rig.Commands().empty());
    rig.press.unlock();
    EXPECT_EQ(recall.get(), 0);
    EXPECT_FALSE(rig.Commands().empty());
}

} // namespace
} // namespace tsr::test
