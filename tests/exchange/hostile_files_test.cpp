#include <gtest/gtest.h>

#include <atomic>
#include <sys/stat.h>

#include "exchange_rig.h"

namespace tsr::test {
namespace {

const std::string kGood = "<JDF><InkZoneProfile Side=\"Front\"><InkZoneProfile Separation=\"Black\" "
                          "ZoneSettingsX=\"0.5 0.5\" mr:InkSweep=\"40\"/></InkZoneProfile></JDF>";

std::vector<std::pair<std::string, std::string>> HostileFiles() {
    std::vector<std::pair<std::string, std::string>> files;
    files.emplace_back("truncated", kGood.substr(0, kGood.size() / 2));
    files.emplace_back("onlyDeclaration", "<?xml version=\"1.0\"?>");
    files.emplace_back("binary", std::string("\x01\xFF<\x80\x7F>\x02", 7));
    files.emplace_back("unclosedComment", "<JDF><!-- never closed");
    files.emplace_back("unclosedQuote", "<JDF><InkZoneProfile Side=\"Front><x/></JDF>");
    files.emplace_back("wronglyNested", "<JDF><InkZoneProfile Side=\"Front\"><a></b></InkZoneProfile></JDF>");
    std::string deep;
    for (int i = 0; i < 200000; ++i)
        deep += "<InkZoneProfile Side=\"Front\">";
    files.emplace_back("deepNesting", deep);
    std::string many = "<JDF><InkZoneProfile Side=\"Front\">";
    for (int i = 0; i < 5000; ++i)
        many += "<InkZoneProfile Separation=\"S" + std::to_string(i) + "\" ZoneSettingsX=\"1 1 1 1\"/>";
    files.emplace_back("thousandsOfUnits", many + "</InkZoneProfile></JDF>");
    std::string zones;
    for (int i = 0; i < 20000; ++i)
        zones += "0.9 ";
    files.emplace_back("thousandsOfZones",
                       "<JDF><InkZoneProfile Side=\"Front\"><InkZoneProfile Separation=\"K\" "
                       "ZoneSettingsX=\"" +
                           zones + "\"/></InkZoneProfile></JDF>");
    files.emplace_back("markupNames", "<JDF><InkZoneProfile Side=\"Front\"><InkZoneProfile "
                                      "Separation=\"&lt;script&gt;alert(1)&lt;/script&gt;\" "
                                      "ZoneSettingsX=\"&lt;img src=x&gt;\"/></InkZoneProfile></JDF>");
    files.emplace_back("huge", "<JDF><InkZoneProfile Side=\"Front\"><InkZoneProfile Separation=\"" +
                                   std::string(8 << 20, 'N') +
                                   "\" ZoneSettingsX=\"1\"/></InkZoneProfile></JDF>");
    return files;
}

TEST(HostileFiles, ReaderNeverReachesBeyondTheTable) {
    ExchangeRig::Settings s;
    s.withConsole = false;
    s.units = 12;
    s.perfector = 12;
    ExchangeRig rig(s);
    for (const auto& [name, text] : HostileFiles()) {
        const std::string path = rig.File("preset", "job.xml");
        WriteText(path, text);
        rig.watcher.Reader().ReadInkZoneProfile(path);
        for (int row = 0; row < kMaxUnits; ++row) {
            UnitRecord r = rig.table.Get(row);
            EXPECT_LE(r.zoneCount, kMaxKeys) << name;
            EXPECT_LE(r.separation.size(), 255u) << name;
        }
        fs::remove(path);
    }
    EXPECT_EQ(rig.table.Get(0).separation, std::string(255, 'N'));
    const std::string log = rig.LogText();
    EXPECT_EQ(log.find("<script>"), std::string::npos);
    EXPECT_EQ(log.find("<img"), std::string::npos);
    EXPECT_NE(log.find("&lt;script&gt;alert(1)&lt;/script&gt; 1 &lt;img src=x&gt;"), std::string::npos);
}

// Every hostile request is answered and removed, and the watcher goes on
// with the next one.
TEST(HostileFiles, WatcherAnswersEachAndKeepsRunning) {
    ExchangeRig::Settings s;
    s.units = 2;
    s.perfector = 2;
    ExchangeRig rig(s);
    rig.Switches(true, true);
    rig.watcher.Start();
    auto files = HostileFiles();
    files.emplace_back("good", kGood);
    const std::string keys = rig.File("keysIn", "NewInkKeys.xml");
    const std::string status = rig.File("commands", "statusTessaro.xml");
    for (const auto& [name, text] : files) {
        fs::remove(status);
        WriteText(rig.File("preset", "job.xml"), text);
        WriteText(keys, text);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while ((fs::exists(keys) || !fs::exists(status)) && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_FALSE(fs::exists(keys)) << name;
        ASSERT_TRUE(rig.WaitPasses(2)) << name;
        EXPECT_FALSE(fs::exists(rig.File("preset", "job.xml"))) << name;
        const std::string answer = ReadText(status);
        EXPECT_NE(answer.find("Transfered\" /> </Command> </JMF>"), std::string::npos) << name;
        for (const std::string& n : rig.Names("keysIn"))
            ADD_FAILURE() << name << " left " << n;
    }
    EXPECT_NE(ReadText(status).find("Successful Transfered"), std::string::npos);
    EXPECT_EQ(rig.console->Unit(1).keys[0], 128);
}

// A request name taken by a named pipe: opening it for reading would wait for
// a writer that never comes, and the watcher would handle nothing more.
TEST(HostileFiles, RequestThatIsAPipeDoesNotHoldTheWatcher) {
    ExchangeRig::Settings s;
    s.units = 2;
    s.perfector = 2;
    ExchangeRig rig(s);
    const std::vector<std::string> pipes = {rig.File("preset", "job.xml"), rig.File("keysIn", "NewInkKeys.xml"),
                                            rig.File("commands", "Synchronize.xml")};
    for (const std::string& p : pipes)
        ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0) << p;
    rig.Switches(true, true);
    std::atomic<bool> done{false};
    std::thread pass([&] {
        rig.watcher.RunPass();
        done = true;
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const bool passedAlone = done;
    // a watcher stuck in an open is let go by a writer that comes and goes
    while (!done) {
        for (const std::string& p : pipes) {
            const int fd = ::open(p.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pass.join();
    ASSERT_TRUE(passedAlone);
    EXPECT_EQ(rig.Names("preset"), std::vector<std::string>{});
    EXPECT_EQ(rig.Names("keysIn"), std::vector<std::string>{});
    EXPECT_NE(ReadText(rig.File("commands", "statusTessaro.xml")).find("Not Transfered"), std::string::npos);
}

} // namespace
} // namespace tsr::test
