#include "presslink/serial_channel.h"
#include "simulated_console.h"
#include "tessaro.h"
#include "tessarox.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Event = std::tuple<int, int, int>;

std::mutex eventGuard;
std::vector<Event> events;

void TSR_CALL OnEvent(int32_t unit, int32_t code, int32_t kind) {
    std::lock_guard<std::mutex> lock(eventGuard);
    events.emplace_back(unit, code, kind);
}

std::vector<Event> TakeEvents() {
    std::lock_guard<std::mutex> lock(eventGuard);
    return std::exchange(events, {});
}

// The library opens COM<port> found as ports/COM<port> beside its configuration file.
class SessionPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("TESSARO_SERIAL_DIR");
        TakeEvents();
    }
    void TearDown() override {
        TSR_Destroy();
        fs::remove_all(folder);
    }

    std::string WriteConfig(int port) {
        std::ofstream(folder / "Tessaro.ini", std::ios::binary)
            << "[GENERAL]\r\nPathLogs=" << (folder / "log").string() << "\r\nCOM1=" << port << "\r\n";
        return (folder / "Tessaro.ini").string();
    }

    // Whether another program (this test) could take the console's port now.
    bool PortFree(const tsr::sim::SimulatedConsole& target) {
        tsr::SerialChannel probe;
        std::string error;
        bool ok = probe.Open(target.DevicePath(), 9600, "N", 8, 1, false, false, 8192, error);
        probe.Close();
        return ok;
    }

    static tsr::sim::SimOptions Options(const fs::path& links, int port) {
        tsr::sim::SimOptions options;
        options.linkFolder = links.string();
        options.port = port;
        return options;
    }

    fs::path folder = fs::temp_directory_path() / ("tessaro-session-port-" + std::to_string(::getpid()));
    tsr::sim::SimulatedConsole console{Options(folder / "ports", 1)};
};

TEST_F(SessionPortTest, InitOpensThePortAndASecondInitReopensIt) {
    const std::string config = WriteConfig(1);
    EXPECT_EQ(TSR_Init(0, config.c_str(), OnEvent, 0), 0);
    EXPECT_TRUE(TakeEvents().empty());
    EXPECT_FALSE(PortFree(console));

    // The device goes away under the open port; the next TSR_Init opens the new one.
    console.HangUp();
    ASSERT_TRUE(console.Reconnect());
    EXPECT_TRUE(PortFree(console));
    EXPECT_EQ(TSR_Init(0, config.c_str(), OnEvent, 0), 0);
    EXPECT_TRUE(TakeEvents().empty());
    EXPECT_FALSE(PortFree(console));

    // Again with the port open: closed first, so the open does not fail.
    EXPECT_EQ(TSR_Init(0, config.c_str(), OnEvent, 0), 0);
    EXPECT_TRUE(TakeEvents().empty());
    EXPECT_FALSE(PortFree(console));

    TSR_Destroy();
    EXPECT_TRUE(PortFree(console));
    EXPECT_TRUE(TakeEvents().empty());
}

TEST_F(SessionPortTest, PortWithoutDeviceRaisesPortClosed) {
    const std::string config = WriteConfig(2); // no ports/COM2
    ::setenv("TESSARO_SERIAL_DIR", (folder / "ports").c_str(), 1);
    EXPECT_EQ(TSR_Init(0, config.c_str(), OnEvent, 0), 0);
    EXPECT_EQ(TakeEvents(), (std::vector<Event>{{0, 10, 0}}));
    ::unsetenv("TESSARO_SERIAL_DIR");
}

// What the host's banner names when the port does not open: the device and the system's reason.
TEST_F(SessionPortTest, PortFailureNamesTheDeviceAndTheReason) {
    const fs::path links = folder / "ports";
    fs::create_directories(links);
    std::ofstream(links / "COM3") << "not a device";
    tsr::SerialChannel holder; // another program holding the console's port
    std::string error;
    struct Case {
        int port;
        std::string expected; // empty: the port opens
        bool held;
    } cases[] = {
        {1, "", false},
        {2, (links / "COM2").string() + ": no such file or directory", false},
        {3, (links / "COM3").string() + ": not a serial device (inappropriate ioctl for device)", false},
        {1, (links / "COM1").string() + ": device or resource busy", true},
    };
    ::setenv("TESSARO_SERIAL_DIR", links.c_str(), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE("COM" + std::to_string(c.port));
        if (c.held) {
            ASSERT_TRUE(holder.Open(console.DevicePath(), 9600, "N", 8, 1, false, false, 8192, error)) << error;
        }
        const std::string config = WriteConfig(c.port);
        EXPECT_EQ(TSR_Init(0, config.c_str(), OnEvent, 0), 0);
        EXPECT_EQ(std::string(TSRX_GetPortFailure()), c.expected);
        EXPECT_EQ(TSRX_IsPortOpen(), c.expected.empty() ? 1 : 0);
        EXPECT_EQ(TakeEvents().empty(), c.expected.empty());
        TSR_Destroy();
        holder.Close();
    }
    ::unsetenv("TESSARO_SERIAL_DIR");
}

TEST_F(SessionPortTest, PortTenIsFoundByItsLongName) {
    tsr::sim::SimulatedConsole tenth(Options(folder / "ports", 10));
    const std::string config = WriteConfig(10);
    EXPECT_EQ(TSR_Init(0, config.c_str(), OnEvent, 0), 0);
    EXPECT_TRUE(TakeEvents().empty());
    EXPECT_FALSE(PortFree(tenth));
    EXPECT_TRUE(PortFree(console));
}

} // namespace
