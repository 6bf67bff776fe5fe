// The memory list, storing and recalling jobs, with the library started by
// the host against the simulated console.
#include "host/host_ops_rig.h"

namespace tsr::test {
namespace {

using Texts = std::vector<std::string>;

// A stored job as the library writes it.
void WriteJob(const HostRig& rig, int job, const std::string& name, const std::string& date) {
    WriteText(rig.logFolder + "/Memory/memory_" + std::to_string(job) + ".qv",
              "[UNIT 1]\r\nKEYS=1 2 3\r\nDUCTOR=50\r\nDUCTORCYCLE=4\r\n[GENERAL]\r\nNAME=" + name +
                  "\r\nDATE=" + date + "\r\n");
}

// The entry object of "App.loadMemory(%d, %s)", read as the page's script reads the literal.
nlohmann::json MemoryEntry(const std::string& call, int position) {
    const std::string prefix = "App.loadMemory(" + std::to_string(position) + ", ";
    if (call.rfind(prefix, 0) != 0 || call.back() != ')') {
        ADD_FAILURE() << call;
        return nullptr;
    }
    const std::string literal = call.substr(prefix.size(), call.size() - prefix.size() - 1);
    EXPECT_EQ(literal.find('\n'), std::string::npos) << call;
    const auto entry = nlohmann::json::parse(literal, nullptr, false);
    EXPECT_FALSE(entry.is_discarded()) << call;
    return entry;
}

TEST(MemoryList, NothingStored) {
    HostRig rig;
    rig.StartLibrary();
    rig.app->LoadMemoryList();
    EXPECT_EQ(rig.browser.Texts(), (Texts{"App.emptyMemory(0)", "App.emptyMemory(1)", "App.emptyMemory(2)",
                                          "App.emptyMemory(3)"}));
}

TEST(MemoryList, PositionsZeroAndTwoStored) {
    HostRig rig;
    rig.StartLibrary();
    WriteJob(rig, 0, "Job A", "2024-01-02 03:04:05");
    const std::string awkward = "Job \"C\" \\ back\tslash </script> M\xC3\xBCller";
    WriteJob(rig, 2, awkward, "2024-12-31 23:59:59");
    WriteJob(rig, 4, "beyond the list", "2024-01-01 00:00:00");
    rig.app->LoadMemoryList();
    const Texts calls = rig.browser.Texts();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0], R"(App.loadMemory(0, {"saved_on":"2024-01-02 03:04:05","description":"Job A"}))");
    EXPECT_EQ(calls[1], "App.emptyMemory(1)");
    EXPECT_EQ(calls[2],
              "App.loadMemory(2, {\"saved_on\":\"2024-12-31 23:59:59\",\"description\":\"Job \\\"C\\\" \\\\ "
              "back\\u0009slash </script> M\xC3\xBCller\"})");
    EXPECT_EQ(calls[3], "App.emptyMemory(3)");
    EXPECT_EQ(MemoryEntry(calls[2], 2)["description"], awkward);
}

TEST(MemoryList, ALongDescriptionIsCutNotOverrun) {
    HostRig rig;
    rig.StartLibrary();
    WriteJob(rig, 1, std::string(3000, 'n'), std::string(3000, 'd'));
    rig.app->LoadMemoryList();
    const Texts calls = rig.browser.Texts();
    ASSERT_EQ(calls.size(), 4u);
    const auto entry = MemoryEntry(calls[1], 1);
    EXPECT_EQ(entry["description"], std::string(999, 'n'));
    EXPECT_EQ(entry["saved_on"], std::string(999, 'd'));
}

TEST(MemoryJobs, SaveToPositionZeroThenRecall) {
    HostRig rig;
    rig.StartLibrary();
    for (int u = 1; u <= 4; ++u) {
        rig.SetConsoleKeys(u, static_cast<std::uint8_t>(10 * u));
        rig.SetConsoleDuctor(u, static_cast<std::uint8_t>(0x20 * u), static_cast<std::uint8_t>(2 * u));
    }
    rig.app->saveConfig(0, "Job \"A\"");
    ASSERT_TRUE(rig.RunCompletions(1));

    Texts lines;
    for (const std::string& line : rig.Log())
        if (line.rfind("Saving memory", 0) == 0 || line.rfind("Memory ", 0) == 0 ||
            line.rfind("memsave", 0) == 0)
            lines.push_back(line);
    EXPECT_EQ(lines, (Texts{"Saving memory 0", "memsave 0", "Memory saved", "Memory info updated"}));
    // The page hears of the save before the press is read.
    const long saving = rig.browser.IndexOf("App.savingMemory(0)");
    const long firstRead = rig.browser.IndexOf("App.setUnitProgress(1, 0)");
    ASSERT_GE(saving, 0);
    EXPECT_LT(saving, firstRead);
    // Then the message, with positions counted from 1, and a fresh list.
    const std::string errors = rig.app->Geterrors();
    EXPECT_NE(errors.find("\"Configuration saved to position 1\""), std::string::npos) << errors;
    const Texts tail = Only(rig.browser.Texts(), {"App.loadMemory", "App.emptyMemory"});
    ASSERT_EQ(tail.size(), 4u);
    const auto entry = MemoryEntry(tail[0], 0);
    EXPECT_EQ(entry["description"], "Job \"A\"");
    const std::string date = entry["saved_on"];
    EXPECT_TRUE(std::regex_match(date, std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})"))) << date;
    EXPECT_EQ(Texts(tail.begin() + 1, tail.end()),
              (Texts{"App.emptyMemory(1)", "App.emptyMemory(2)", "App.emptyMemory(3)"}));
    const auto journal = rig.browser.Journal();
    EXPECT_TRUE(journal.back().onUiThread);
    EXPECT_EQ(journal.back().text, "App.emptyMemory(3)");
    const std::string job = ReadText(rig.logFolder + "/Memory/memory_0.qv");
    EXPECT_NE(job.find("KEYS=20 20 20"), std::string::npos) << job;

    // The press moves on; the recall brings the stored job back.
    for (int u = 1; u <= 4; ++u) {
        rig.SetConsoleKeys(u, 99);
        rig.SetConsoleDuctor(u, 0x01, 3);
    }
    rig.browser.Clear();
    rig.console->ClearRecord();
    rig.app->loadConfig(0);
    ASSERT_TRUE(rig.RunCompletions(1)); // the recall
    ASSERT_TRUE(rig.RunCompletions(1)); // the refresh it started
    const Texts page = Only(rig.browser.Texts(), {"App.makeDirtyValues", "App.setDuctor"});
    EXPECT_EQ(page, (Texts{"App.makeDirtyValues()", "App.makeDirtyValues()", "App.setDuctorValue(1, 13)",
                           "App.setDuctorCycleValue(1, 2)", "App.setDuctorValue(2, 25)",
                           "App.setDuctorCycleValue(2, 4)", "App.setDuctorValue(3, 38)",
                           "App.setDuctorCycleValue(3, 6)", "App.setDuctorValue(4, 50)",
                           "App.setDuctorCycleValue(4, 8)"}));
    const auto recall = rig.browser.Journal();
    std::vector<bool> dirtyOnUi;
    for (const auto& e : recall)
        if (e.text == "App.makeDirtyValues()")
            dirtyOnUi.push_back(e.onUiThread);
    EXPECT_EQ(dirtyOnUi, (std::vector<bool>{false, true}));
    for (int u = 1; u <= 4; ++u) {
        EXPECT_EQ(rig.console->Unit(u).keys, std::vector<std::uint8_t>(24, static_cast<std::uint8_t>(10 * u)))
            << u;
        EXPECT_EQ(rig.console->Unit(u).ductorCycle, 2 * u) << u;
        EXPECT_EQ(rig.console->Unit(u).position, sim::Position::Working) << u;
        EXPECT_EQ(rig.app->FductorCycles[u], 2 * u) << u;
    }
}

TEST(MemoryJobs, ASaveThatLeavesNoJobIsReportedAsNotSaved) {
    HostRig rig;
    // A file where the job memory folder belongs: no job file can be written.
    std::filesystem::create_directories(rig.logFolder);
    WriteText(rig.logFolder + "/Memory", "");
    rig.StartLibrary();
    rig.app->saveConfig(0, "Job A");
    ASSERT_TRUE(rig.RunCompletions(1));
    const std::string errors = rig.app->Geterrors();
    EXPECT_NE(errors.find("\"Configuration not saved to position 1\""), std::string::npos) << errors;
    EXPECT_EQ(errors.find("Configuration saved"), std::string::npos) << errors;
    // The page still gets the list, which clears its busy position.
    EXPECT_EQ(Only(rig.browser.Texts(), {"App.loadMemory", "App.emptyMemory"}),
              (Texts{"App.emptyMemory(0)", "App.emptyMemory(1)", "App.emptyMemory(2)", "App.emptyMemory(3)"}));
}

TEST(MemoryJobs, TheLargestPositionIsCountedOnWithoutOverflow) {
    HostRig rig;
    rig.StartLibrary();
    rig.app->saveConfig(INT32_MAX, "Far");
    ASSERT_TRUE(rig.RunCompletions(1));
    const std::string errors = rig.app->Geterrors();
    EXPECT_NE(errors.find("\"Configuration saved to position 2147483648\""), std::string::npos) << errors;
}

TEST(MemoryJobs, RecallingAnEmptyPositionSaysSoAtOnce) {
    HostRig rig;
    rig.StartLibrary();
    rig.app->loadConfig(3);
    ASSERT_TRUE(rig.RunCompletions(1));
    // No stale values, the message, and the list whose empty position ends the page's "Recalling".
    EXPECT_EQ(rig.browser.Texts(),
              (Texts{"App.showPendingErrors()", "App.emptyMemory(0)", "App.emptyMemory(1)", "App.emptyMemory(2)",
                     "App.emptyMemory(3)"}));
    const std::string errors = rig.app->Geterrors();
    EXPECT_NE(errors.find("Nothing recalled: no job is stored in position 4"), std::string::npos) << errors;
    EXPECT_TRUE(rig.console->Frames().empty());
}

// A unit that does not answer is not saved as zeros: the operator hears which.
TEST(MemoryJobs, ASaveNamesTheUnitsThatDidNotAnswerAndASaveOfNothingKeepsTheOldJob) {
    HostRig rig({.units = 3});
    rig.StartLibrary();
    rig.app->saveConfig(1, "Old");
    ASSERT_TRUE(rig.RunCompletions(1));
    const std::string before = ReadText(rig.logFolder + "/Memory/memory_1.qv");
    ASSERT_NE(before.find("NAME=Old"), std::string::npos) << before;

    sim::Fault silent;
    silent.unit = 3;
    rig.console->AddFault(sim::kAnyFrame, silent, -1);
    rig.app->Geterrors();
    rig.app->saveConfig(1, "Some");
    ASSERT_TRUE(rig.RunCompletions(1));
    std::string errors = rig.app->Geterrors();
    EXPECT_NE(errors.find("Configuration saved to position 2 without unit 3, which did not answer"),
              std::string::npos)
        << errors;
    const std::string some = ReadText(rig.logFolder + "/Memory/memory_1.qv");
    EXPECT_NE(some.find("[UNIT 3]\r\nSAVED=0\r\n"), std::string::npos) << some;

    // The adapter is pulled: nothing can be read.
    rig.console->HangUp();
    rig.app->saveConfig(1, "Nothing");
    ASSERT_TRUE(rig.RunCompletions(1));
    errors = rig.app->Geterrors();
    EXPECT_NE(errors.find("Configuration not saved to position 2: no unit answered; the job stored there before "
                          "is kept"),
              std::string::npos)
        << errors;
    EXPECT_EQ(ReadText(rig.logFolder + "/Memory/memory_1.qv"), some);
}

} // namespace
} // namespace tsr::test
