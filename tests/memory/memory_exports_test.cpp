#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config/temp_folder.h"
#include "simulated_console.h"
#include "tessaro.h"

namespace tsr::test {
namespace {

namespace fs = std::filesystem;

// The job memory through the library's C interface, with the simulated
// console behind COM1 of a configuration in a temporary folder.
class MemoryExports : public ::testing::Test {
protected:
    MemoryExports() : sim(Options(folder)) {
        const std::string f = folder.Path().string();
        WriteText(folder / "Tessaro.ini", "[GENERAL]\r\nPathLogs=" + f + "/log\r\nPathCommands=" + f +
                                              "/in\r\nPathLoopKeysRCV=" + f + "/in\r\nPathLoopScanRCV=" + f +
                                              "/in\r\nPathPresetRCV=" + f +
                                              "/in\r\nCOM1=1\r\nUnitNumber=4\r\nKeysNumber=24\r\n"
                                              "DuctorCycle=2\r\n");
        // the host makes "memory" below the log folder, the library says "Memory"
        fs::create_directories(folder / "log/memory");
    }
    ~MemoryExports() override { TSR_Destroy(); }

    static sim::SimOptions Options(const TempFolder& folder) {
        sim::SimOptions s;
        s.console.movementMs = 5;
        s.console.extraReplyMs = 2;
        s.linkFolder = (folder.Path() / "ports").string();
        return s;
    }

    void Init() {
        // the console's link, whatever the test runner points the library at
        ::setenv("TESSARO_SERIAL_DIR", sim.LinkFolder().c_str(), 1);
        ASSERT_EQ(TSR_Init(0, (folder / "Tessaro.ini").c_str(), nullptr, 0), 0);
    }

    TempFolder folder;
    sim::SimulatedConsole sim;
};

struct Saved {
    std::vector<std::uint8_t> keys;
    std::uint8_t ductor;
    std::uint8_t cycle;
};

TEST_F(MemoryExports, SaveDescribeListAndRecallRoundTrip) {
    // ductor bytes that come back the same through percent and back
    const std::uint8_t ductors[4] = {0, 64, 128, 255};
    std::vector<Saved> saved;
    for (int u = 1; u <= 4; ++u) {
        sim::UnitState s = sim.Unit(u);
        for (std::size_t k = 0; k < s.keys.size(); ++k)
            s.keys[k] = static_cast<std::uint8_t>(u * 40 + k * 3);
        s.ductor = ductors[u - 1];
        s.ductorCycle = static_cast<std::uint8_t>(u + 1);
        sim.SetUnit(u, s);
        saved.push_back({s.keys, s.ductor, s.ductorCycle});
    }
    Init();

    EXPECT_EQ(TSR_MemorySaveJob(2), 0);
    EXPECT_EQ(TSR_MemorySetInfo(2, "Job A", "2024-05-01 10:00:00"), 0);

    // the memory list: only position 2 holds a job; the others leave the buffers alone
    for (int p = 0; p < 4; ++p) {
        char name[1000], date[1000];
        std::memset(name, 'x', sizeof name);
        std::memset(date, 'x', sizeof date);
        const int r = TSR_MemoryGetInfo(p, name, date);
        if (p == 2) {
            EXPECT_EQ(r, 0);
            EXPECT_STREQ(name, "Job A");
            EXPECT_STREQ(date, "2024-05-01 10:00:00");
        } else {
            EXPECT_EQ(r, 1) << p;
            EXPECT_EQ(name[0], 'x');
            EXPECT_EQ(date[999], 'x');
        }
    }
    EXPECT_TRUE(fs::is_regular_file(folder / "log/memory/memory_2.qv"));
    EXPECT_FALSE(fs::exists(folder / "log/Memory"));

    // the press moves on; the recall brings the saved inking back
    for (int u = 1; u <= 4; ++u) {
        sim::UnitState s = sim.Unit(u);
        std::fill(s.keys.begin(), s.keys.end(), 7);
        s.ductor = 9;
        s.ductorCycle = 9;
        s.position = sim::Position::Zero;
        sim.SetUnit(u, s);
    }
    EXPECT_EQ(TSR_MemoryLoadJob(2), 0);
    for (int u = 1; u <= 4; ++u) {
        const sim::UnitState s = sim.Unit(u);
        EXPECT_EQ(s.keys, saved[u - 1].keys) << u;
        EXPECT_EQ(s.ductor, saved[u - 1].ductor) << u;
        EXPECT_EQ(s.ductorCycle, saved[u - 1].cycle) << u;
        EXPECT_EQ(s.position, sim::Position::Working) << u;
    }

    EXPECT_EQ(TSR_MemoryDeleteJob(2), 0);
    char name[1000], date[1000];
    EXPECT_EQ(TSR_MemoryGetInfo(2, name, date), 1);
    EXPECT_EQ(TSR_MemoryLoadJob(2), 1);
}

TEST_F(MemoryExports, NullTextsAndBuffersAreTakenAsEmpty) {
    Init();
    EXPECT_EQ(TSR_MemorySetInfo(1, nullptr, nullptr), 1);
    EXPECT_EQ(TSR_MemorySaveJob(1), 0);
    EXPECT_EQ(TSR_MemorySetInfo(1, nullptr, "d"), 0);
    char date[1000];
    EXPECT_EQ(TSR_MemoryGetInfo(1, nullptr, date), 0);
    EXPECT_STREQ(date, "d");
}

} // namespace
} // namespace tsr::test
