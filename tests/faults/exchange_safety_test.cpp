// Exchange files against producers in other processes: a request that its
// producer is still writing is never taken half-written, and a writer killed
// at any moment leaves every outgoing file whole, old or new.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <random>
#include <thread>

#include <sys/wait.h>

#include "exchange/exchange_files.h"
#include "exchange/ink_key_writer.h"
#include "exchange/xml_node.h"
#include "exchange_rig.h"

namespace tsr::test {
namespace {

// Three fronts and a back; a file cut anywhere before its end does not parse.
const std::string kProfile = R"(<?xml version="1.0" encoding="UTF-8"?>
<JDF ID="n1" Type="ProcessGroup" xmlns="http://www.CIP4.org/JDFSchema_1_1" xmlns:mr="http://www.example.com/schema/press-maker">
  <ResourcePool>
    <InkZoneProfile Class="Parameter" ID="r1"><InkZoneProfile SignatureName="SIG1"><InkZoneProfile SheetName="S1">
      <InkZoneProfile Side="Front">
        <InkZoneProfile Separation="Black" sRGB="0 0 0" ZoneSettingsX="0.1 0.5 1" mr:InkSweep="50"/>
        <InkZoneProfile Separation="Cyan" sRGB="0 0.6 0.9" ZoneSettingsX="0.25 0.75" mr:InkSweep="100"/>
        <InkZoneProfile Separation="Magenta" sRGB="0.9 0 0.5" ZoneSettingsX="0.5" mr:InkSweep="20"/>
      </InkZoneProfile>
      <InkZoneProfile Side="Back">
        <InkZoneProfile Separation="Yellow" sRGB="1 0.93 0" ZoneSettingsX="0.2 0.2 0.2" mr:InkSweep="40"/>
      </InkZoneProfile>
    </InkZoneProfile></InkZoneProfile></InkZoneProfile>
  </ResourcePool>
</JDF>
)";

RigSettings Press() {
    RigSettings s;
    s.units = 4;
    s.perfector = 3;
    s.consoleMovementMs = 5;
    return s;
}

// A producer in a process of its own: writes the file in pieces with pauses
// between them, then closes it.
pid_t SlowProducer(const std::string& path, const std::string& text, int pieces, int pauseMs) {
    const pid_t child = ::fork();
    if (child != 0)
        return child;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        ::_exit(2);
    const std::size_t step = text.size() / static_cast<std::size_t>(pieces) + 1;
    for (std::size_t at = 0; at < text.size(); at += step) {
        const std::size_t n = std::min(step, text.size() - at);
        if (::write(fd, text.data() + at, n) != static_cast<ssize_t>(n))
            ::_exit(3);
        ::usleep(static_cast<useconds_t>(pauseMs) * 1000);
    }
    ::close(fd);
    ::_exit(0);
}

bool WaitGone(const std::string& path, int seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (fs::exists(path)) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

struct Request {
    const char* folder;
    const char* name;
    bool preset;
};

class SlowProducerTest : public ::testing::TestWithParam<Request> {};

TEST_P(SlowProducerTest, RequestIsTakenOnlyWhenComplete) {
    const Request request = GetParam();
    ExchangeRig rig(Press());
    rig.Switches(request.preset, !request.preset);
    rig.watcher.Start();
    const std::string path = rig.File(request.folder, request.name);

    const pid_t producer = SlowProducer(path, kProfile, 4, 150);
    ASSERT_GT(producer, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(producer, &status, 0), producer);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(WaitGone(path, 20));
    ASSERT_TRUE(rig.WaitPasses(2));
    rig.watcher.Stop();

    // Handled once, whole: the last unit of the file reached the press.
    const std::string log = rig.LogText();
    EXPECT_EQ(log.find("load file err"), std::string::npos);
    EXPECT_EQ(rig.table.Get(3).separation, "Yellow");
    EXPECT_EQ(rig.console->Unit(4).position, sim::Position::Working);
    const sim::UnitState u4 = rig.console->Unit(4);
    EXPECT_EQ(u4.keys[0], u4.keys[2]);
    EXPECT_NE(u4.keys[0], 0);
    if (!request.preset) {
        EXPECT_NE(ReadText(rig.File("commands", "statusTessaro.xml")).find("\"Successful Transfered\""),
                  std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Exchange, SlowProducerTest,
                         ::testing::Values(Request{"preset", "job.xml", true},
                                           Request{"keysIn", "NewInkKeys.xml", false}),
                         [](const auto& p) {
                             return std::string(p.param.preset ? "Preset" : "CorrectedKeys");
                         });

// A whole XML document: parses strictly to its last byte.
bool Whole(const std::string& text, XmlDefaults& xml) {
    if (text.empty())
        return false;
    XmlParseOptions options = xml.DefaultParseOptions().Snapshot();
    options.errorOccurred = false;
    XmlNode root;
    const std::optional<std::size_t> end = root.Parse(text, options);
    return end && !options.errorOccurred && !root.Children().empty() &&
           text.find_first_not_of(" \t\r\n", *end) == std::string::npos;
}

// A writer killed at random moments, over and over: each outgoing file is
// always a whole document.
TEST(ExchangeSafety, KilledWriterLeavesEveryOutgoingFileWhole) {
    RigSettings s = Press();
    s.withConsole = false;
    ExchangeRig rig(s);
    const std::string keys = rig.File("keysOut", "InkKeys.xml");
    const std::string cycles = rig.File("keysOut", "InkKeys_DC.xml");
    const std::string status = rig.File("commands", "statusTessaro.xml");
    std::mt19937 random(12345);
    int killedWhileRunning = 0;
    for (int round = 0; round < 25; ++round) {
        const pid_t writer = ::fork();
        ASSERT_GE(writer, 0);
        if (writer == 0) {
            ExchangeFiles files(*rig.files, rig.clock, rig.log);
            InkKeyWriter keyWriter(rig.watcher.Reader(), files, rig.config, rig.log, rig.table, rig.xml);
            for (int i = 0;; ++i) {
                UnitRecord row = rig.table.Get(0);
                row.present = true;
                row.separation = "Black";
                row.zoneCount = 24;
                row.keys.fill((i * 7 + round) % 256);
                row.ductorCycle = i % 4;
                rig.table.Set(0, row);
                keyWriter.WriteInkKeys();
                files.WriteStatusMessage(status, i % 2 == 0, kDefaultMeasurementNamespace);
            }
        }
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution<>(2000, 40000)(random)));
        ASSERT_EQ(::kill(writer, SIGKILL), 0);
        int st = 0;
        ASSERT_EQ(::waitpid(writer, &st, 0), writer);
        killedWhileRunning += WIFSIGNALED(st) ? 1 : 0;

        for (const std::string& file : {keys, cycles, status})
            if (fs::exists(file)) {
                EXPECT_TRUE(Whole(ReadText(file), rig.xml)) << file << " after round " << round;
            }
        if (fs::exists(status)) {
            const std::string text = ReadText(status);
            EXPECT_TRUE(text.find("Transfer=\"Successful Transfered\"") != std::string::npos ||
                        text.find("Transfer=\"Not Transfered\"") != std::string::npos);
        }
    }
    EXPECT_EQ(killedWhileRunning, 25);
}

} // namespace
} // namespace tsr::test
