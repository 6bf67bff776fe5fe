// The press link through the Windows serial layer: over the simulated
// console's named pipe (TESSARO_SERIAL_DIR as the pipe prefix), and over a
// COM port that Wine maps to the Linux console's pseudo-terminal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "config/temp_folder.h"
#include "pipe_console.h"
#include "platform/serial_port.h"
#include "platform/win32_api.h"
#include "session/session_support.h"
#include "sim_options.h"
#include "support/test_platform.h"
#include "tessaro.h"
#include "tessarox.h"

namespace tsr {
namespace {

using test::Event;
using test::EventRecorder;

std::string ConfigText(int port) {
    return "[GENERAL]\r\nCOM1=" + std::to_string(port) +
           "\r\nUnitNumber=4\r\nKeysNumber=24\r\nPathLogs=log\r\nPathCommands=in\r\nPathPresetRCV=in\r\n"
           "PathLoopKeysRCV=in\r\nPathLoopScanRCV=in\r\n";
}

// Keys set and read back, a position reached, as the operator would do it.
void DriveTheConsole() {
    std::vector<std::int32_t> keys(24);
    for (int i = 0; i < 24; ++i)
        keys[static_cast<std::size_t>(i)] = (i * 11 + 7) % 256;
    EXPECT_EQ(TSR_SetNewKey_Absolute(2, keys.data(), 24), 0);
    std::vector<std::int32_t> back(24, -1);
    EXPECT_EQ(TSR_GetKeys(2, back.data(), 24), 0);
    EXPECT_EQ(back, keys);
    EventRecorder::First().Take();
    EXPECT_EQ(TSR_WorkingPosition(1), 0);
    EXPECT_EQ(EventRecorder::First().Take(), (std::vector<Event>{{1, 0, 0}, {1, 4, 0}}));
    std::int32_t percent = -1;
    EXPECT_EQ(TSR_SetNewDuctor_Absolute(3, 40), 0);
    EXPECT_EQ(TSR_GetDuctor(3, &percent), 0);
    EXPECT_EQ(percent, 40);
}

class PipePort : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir.Path() / "in");
        std::filesystem::create_directories(dir.Path() / "log");
        test::SetEnvironment("TESSARO_SERIAL_DIR", prefix, true);
    }
    void TearDown() override { TSR_Destroy(); }
    test::TempFolder dir;
    const std::string prefix = "\\\\.\\pipe\\tessaro-test-" + std::to_string(::GetCurrentProcessId());
};

TEST_F(PipePort, UnitOperationsReachTheSimulatedConsoleOnItsPipe) {
    sim::ConsoleConfig config;
    config.movementMs = 20;
    sim::PipeConsole console(prefix, 12, config); // port 12: the \\.\COM12 form of the name
    ASSERT_TRUE(console.ok());
    test::WriteText(dir.Path() / "Tessaro.ini", ConfigText(12));
    EventRecorder::First().Take();
    ASSERT_EQ(TSR_Init(0, (dir / "Tessaro.ini").c_str(), test::RecordFirst, 0), 0);
    ASSERT_EQ(EventRecorder::First().Take(), std::vector<Event>{}); // no (0, 10, 0): the port opened
    DriveTheConsole();
    EXPECT_EQ(console.Unit(1).position, sim::Position::Working);
    EXPECT_EQ(console.Unit(2).keys[5], (5 * 11 + 7) % 256);

    // The port is the library's alone while it holds it.
    SerialPort second;
    EXPECT_FALSE(second.Open(prefix + "\\COM12"));

    // Closed and opened again by the next TSR_Init: the console takes it back.
    EventRecorder::First().Take();
    ASSERT_EQ(TSR_Init(0, (dir / "Tessaro.ini").c_str(), test::RecordFirst, 0), 0);
    EXPECT_EQ(EventRecorder::First().Take(), std::vector<Event>{});
    EXPECT_EQ(TSR_ZeroPosition(1), 0);
}

// The Windows console takes its faults from the same command line as the
// Linux one: a silent unit's waits run out, a late unit's first wait does (how
// long the link waits here follows the system's sleep granularity, so the
// delay is well beyond it; what the late reply is taken for is not asked).
TEST_F(PipePort, FaultsFromTheCommandLineReachTheLibraryAsSilentAndLateReplies) {
    sim::SimCommandLine line;
    ASSERT_EQ(sim::ParseSimCommandLine({"--movement-ms", "20", "--silent-unit", "2", "--late-unit", "3:2000",
                                        "--pipe-prefix", prefix, "--port", "11"},
                                       sim::LinkKind::NamedPipe, line),
              "");
    sim::PipeConsole console(line.pipePrefix, line.port, line.console);
    ASSERT_TRUE(console.ok());
    sim::AddUnitFaults(console, line);
    test::WriteText(dir.Path() / "Tessaro.ini", ConfigText(11));
    ASSERT_EQ(TSR_Init(0, (dir / "Tessaro.ini").c_str(), test::RecordFirst, 0), 0);
    std::int32_t before[4][TSRX_COUNTERS] = {};
    for (int unit = 1; unit <= 3; ++unit)
        TSRX_GetLineCounters(unit, before[unit], nullptr);
    std::int32_t percent = -1;
    EXPECT_EQ(TSR_GetDuctor(1, &percent), 0);
    EXPECT_EQ(TSR_GetDuctor(2, &percent), 3); // no reply
    TSR_GetDuctor(3, &percent);
    std::int32_t after[4][TSRX_COUNTERS] = {};
    EXPECT_EQ(TSRX_GetLineCounters(1, after[1], nullptr), TSRX_UNIT_ANSWERING);
    EXPECT_EQ(TSRX_GetLineCounters(2, after[2], nullptr), TSRX_UNIT_NOT_ANSWERING);
    TSRX_GetLineCounters(3, after[3], nullptr);
    EXPECT_GE(after[1][TSRX_ANSWERED] - before[1][TSRX_ANSWERED], 1);
    EXPECT_GE(after[2][TSRX_SILENT] - before[2][TSRX_SILENT], 3);
    EXPECT_EQ(after[2][TSRX_ANSWERED] - before[2][TSRX_ANSWERED], 0);
    EXPECT_GE(after[3][TSRX_SILENT] - before[3][TSRX_SILENT], 1);
    EXPECT_GE(after[3][TSRX_RETRIES] - before[3][TSRX_RETRIES], 1);
}

TEST_F(PipePort, PortWithoutConsoleIsReportedClosed) {
    test::WriteText(dir.Path() / "Tessaro.ini", ConfigText(4));
    EventRecorder::First().Take();
    ASSERT_EQ(TSR_Init(0, (dir / "Tessaro.ini").c_str(), test::RecordFirst, 0), 0);
    EXPECT_EQ(EventRecorder::First().Take(), (std::vector<Event>{{0, 10, 0}}));
    EXPECT_EQ(TSR_WorkingPosition(1), 1);
}

// Registered only where the test script has mapped the port (TSR_WINE_COM_PORT).
TEST(ComPort, UnitOperationsReachTheConsoleBehindTheComPort) {
    const char* port = std::getenv("TESSARO_TEST_COM_PORT");
    if (!port)
        GTEST_SKIP() << "no COM port mapped to a simulated console";
    test::TempFolder dir;
    std::filesystem::create_directories(dir.Path() / "in");
    std::filesystem::create_directories(dir.Path() / "log");
    test::SetEnvironment("TESSARO_SERIAL_DIR", "", true); // the system's own ports
    test::WriteText(dir.Path() / "Tessaro.ini", ConfigText(std::atoi(port)));
    EventRecorder::First().Take();
    ASSERT_EQ(TSR_Init(0, (dir / "Tessaro.ini").c_str(), test::RecordFirst, 0), 0);
    ASSERT_EQ(EventRecorder::First().Take(), std::vector<Event>{});
    DriveTheConsole();
    TSR_Destroy();
}

} // namespace
} // namespace tsr
