// What the exchange leaves behind: a whole backup of every request, under a
// name that every platform accepts, and the namespaces the site configured.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>

#include "exchange_rig.h"

namespace tsr::test {
namespace {

// A profile for one front unit that names itself in JobID.
std::string Profile(const std::string& identity) {
    return "<JDF JobID=\"" + identity +
           "\"><ResourcePool><InkZoneProfile><InkZoneProfile Side=\"Front\">"
           "<InkZoneProfile Separation=\"Black\" ZoneSettingsX=\"0.5 0.25\" mr:InkSweep=\"40\"/>"
           "</InkZoneProfile></InkZoneProfile></ResourcePool></JDF>";
}

ExchangeRig::Settings OneUnit(bool presetActive = true) {
    ExchangeRig::Settings s;
    s.units = 1;
    s.perfector = 1;
    s.keys = 4;
    s.presetActive = presetActive;
    return s;
}

// Windows refuses these characters, a name ending in a blank or a dot, and
// the device names (with any extension).
bool LegalOnWindows(const std::string& name) {
    if (name.empty() || name.size() > 255 || name.back() == ' ' || name.back() == '.')
        return false;
    for (char c : name)
        if (static_cast<unsigned char>(c) < 32 || std::string("<>:\"/\\|?*").find(c) != std::string::npos)
            return false;
    std::string stem = name.substr(0, name.find('.'));
    for (char& c : stem)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const std::set<std::string> devices{"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                               "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                               "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
    return devices.count(stem) == 0;
}

// Every name below root, folders included.
std::vector<std::string> AllNames(const fs::path& root) {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(root))
        names.push_back(e.path().filename().string());
    return names;
}

// role name -> backed-up texts, read from the rig's log folder.
std::map<std::string, std::multiset<std::string>> Backups(const ExchangeRig& rig) {
    std::map<std::string, std::multiset<std::string>> backups;
    for (const std::string& name : rig.Names("logs")) {
        if (name.find("_log.html") != std::string::npos || name == "Memory")
            continue;
        std::string role = name.substr(31); // "yyyymmdd_hhmmss_yyyymmdd_hhmmss" before the role
        const std::size_t dash = role.rfind('-');
        if (dash != std::string::npos)
            role = role.substr(0, dash) + role.substr(role.rfind('.'));
        backups[role].insert(ReadText(rig.File("logs", name)));
    }
    return backups;
}

TEST(ExchangeRecords, RequestsOfEachKindWithinOneSecondEachKeepTheirWholeBackup) {
    ExchangeRig rig(OneUnit(false));
    rig.clock.Freeze(std::time(nullptr));
    rig.Switches(true, true);
    std::map<std::string, std::multiset<std::string>> dropped;
    auto drop = [&](const char* folder, const char* file, const char* role, const std::string& text) {
        WriteText(rig.File(folder, file), text);
        rig.watcher.RunPass();
        EXPECT_FALSE(fs::exists(rig.File(folder, file))) << file;
        dropped[role].insert(text);
    };
    for (int i = 1; i <= 3; ++i)
        drop("preset", "job.xml", "job.xml", Profile("job-" + std::to_string(i)));
    rig.watcher.RunPass(); // no job in this pass: what follows is not "just after a job"
    for (int i = 1; i <= 3; ++i) {
        drop("keysIn", "NewInkKeys.xml", "newInkKeys.xml", Profile("keys-" + std::to_string(i)));
        drop("commands", "Synchronize.xml", "Synch.xml", "<JMF ID=\"sync-" + std::to_string(i) + "\"/>");
        rig.watcher.RunPass(); // the scan check sees the folder empty before the next scan
        drop("scanIn", "Scan.xml", "Scan.xml", "<JMF ID=\"scan-" + std::to_string(i) + "\"/>");
        rig.watcher.RunPass();
    }
    EXPECT_EQ(Backups(rig), dropped);
}

TEST(ExchangeRecords, InitBacksUpAndLogsEveryIncomingFileItDrops) {
    ExchangeRig rig(OneUnit());
    const std::map<std::string, std::string> files{
        {"preset/job.xml", "<JDF ID=\"preset\"/>"},     {"preset/job_DC.xml", "<JDF ID=\"cycles\"/>"},
        {"keysIn/NewInkKeys.xml", "<JDF ID=\"keys\"/>"}, {"commands/Synchronize.xml", "<JMF ID=\"sync\"/>"},
        {"commands/statusTessaro.xml", "<JMF/>"},       {"scanIn/Scan.xml", "<JMF ID=\"scan\"/>"}};
    for (const auto& [path, text] : files)
        WriteText(rig.temp / path, text);
    WriteText(rig.File("scanIn", "x.TVF"), "tvf");
    rig.watcher.EmptyIncomingFolders();

    for (const auto& [path, text] : files) {
        EXPECT_FALSE(fs::exists(rig.temp / path)) << path;
    }
    EXPECT_TRUE(fs::exists(rig.File("scanIn", "x.TVF")));
    const std::map<std::string, std::multiset<std::string>> expected{
        {"job.xml", {"<JDF ID=\"preset\"/>"}},  {"job_DC.xml", {"<JDF ID=\"cycles\"/>"}},
        {"newInkKeys.xml", {"<JDF ID=\"keys\"/>"}}, {"Synch.xml", {"<JMF ID=\"sync\"/>"}},
        {"statusTessaro.xml", {"<JMF/>"}},       {"Scan.xml", {"<JMF ID=\"scan\"/>"}}};
    EXPECT_EQ(Backups(rig), expected);
    const std::string log = rig.LogText();
    for (const std::string& name : rig.Names("logs")) {
        if (name.find("_log.html") == std::string::npos) {
            EXPECT_NE(log.find(", backup " + name + "<"), std::string::npos) << name << "\n" << log;
        }
    }
    EXPECT_NE(log.find("dropped at start: " + rig.File("preset", "job.xml") + ", backup "), std::string::npos);
}

// Everything the library writes, in every folder, under its real names.
TEST(ExchangeRecords, EveryNameTheLibraryWritesIsALegalWindowsName) {
    ExchangeRig::Settings settings = OneUnit();
    settings.ductorCycle = 3;
    ExchangeRig rig(settings);
    WriteText(rig.File("preset", "NewInkKeys.xml"), "<JDF/>");
    rig.watcher.EmptyIncomingFolders();
    rig.Switches(true, true);
    WriteText(rig.File("preset", "job_DC.xml"), "<JDF><InkZoneProfile Side=\"Front\"><InkZoneProfile "
                                                "Separation=\"Black\" ductorCycle=\"3\"/></InkZoneProfile></JDF>");
    WriteText(rig.File("preset", "job.xml"), Profile("job"));
    rig.watcher.RunPass();
    rig.watcher.RunPass();
    WriteText(rig.File("keysIn", "NewInkKeys.xml"), Profile("keys"));
    WriteText(rig.File("commands", "Synchronize.xml"), "<JMF/>");
    WriteText(rig.File("scanIn", "Scan.xml"), "<JMF/>");
    WriteText(rig.File("scanIn", "a.TVF"), "tvf");
    for (int i = 0; i < 3; ++i)
        rig.watcher.RunPass();
    EXPECT_TRUE(fs::exists(rig.File("commands", "statusTessaro.xml")));
    EXPECT_TRUE(fs::exists(rig.File("keysOut", "InkKeys.xml")));
    EXPECT_TRUE(fs::exists(rig.File("scanOut", "Scan.xml")));
    const std::vector<std::string> names = AllNames(rig.temp.Path());
    EXPECT_GT(rig.Names("logs").size(), 5u);
    for (const std::string& name : names) {
        EXPECT_TRUE(LegalOnWindows(name)) << name;
    }
    for (const char* refused : {"a:b.xml", "x.xml.", "CON.xml", "q?.xml", "lpt1"}) {
        EXPECT_FALSE(LegalOnWindows(refused)) << refused;
    }
}

struct NamespaceCase {
    const char* name;
    const char* section; // the configuration's EXCHANGE section, as the site wrote it
    const char* pressMaker;
    const char* measurement;
};

class Namespaces : public ::testing::TestWithParam<NamespaceCase> {};

TEST_P(Namespaces, OutgoingFilesCarryTheConfiguredUris) {
    const NamespaceCase& c = GetParam();
    ExchangeRig rig(OneUnit());
    const std::string written = ReadText(rig.ini);
    WriteText(rig.ini, written.substr(0, written.find("[EXCHANGE]")) + c.section); // the site's section alone
    rig.config.Load(rig.ini);
    rig.config.SaveAll();
    const std::string ini = ReadText(rig.ini);
    // (the site's section name may be written in any letter case)
    for (const char* key : {"PressMakerNamespace=", "MeasurementNamespace=", "PollFolders=0"}) {
        EXPECT_NE(ini.find(key), std::string::npos) << ini;
    }

    WriteText(rig.File("keysIn", "NewInkKeys.xml"), Profile("keys"));
    WriteText(rig.File("commands", "Synchronize.xml"), "<JMF/>");
    rig.Switches(false, true);
    rig.watcher.RunPass();
    const XmlEntityTable entities = XmlEntityTable::Predefined();
    const std::string mr = "xmlns:mr=\"" + entities.Encode(c.pressMaker) + "\"";
    const std::string qv = "xmlns:qv=\"" + entities.Encode(c.measurement) + "\"";
    EXPECT_NE(ReadText(rig.File("keysOut", "InkKeys.xml")).find(mr), std::string::npos);
    EXPECT_NE(ReadText(rig.File("keysOut", "InkKeys_DC.xml")).find(mr), std::string::npos);
    EXPECT_NE(ReadText(rig.File("commands", "statusTessaro.xml")).find(qv), std::string::npos);
    // what the file holds after a new load and save is what the site wrote
    rig.config.Load(rig.ini);
    EXPECT_EQ(rig.config.PressMakerNamespace(), c.pressMaker);
    EXPECT_EQ(rig.config.MeasurementNamespace(), c.measurement);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Namespaces,
    ::testing::Values(NamespaceCase{"absentGivesTheDefaults", "", kDefaultPressMakerNamespace,
                                    kDefaultMeasurementNamespace},
                      NamespaceCase{"siteUris",
                                    "[exchange]\r\nPressMakerNamespace = urn:press:ext:2\r\n"
                                    "MeasurementNamespace=http://measure.example/ns?v=1&x=<2>\r\n",
                                    "urn:press:ext:2", "http://measure.example/ns?v=1&x=<2>"},
                      NamespaceCase{"emptyValueGivesTheDefault", "[EXCHANGE]\r\nPressMakerNamespace=\r\n",
                                    kDefaultPressMakerNamespace, kDefaultMeasurementNamespace}),
    [](const ::testing::TestParamInfo<NamespaceCase>& p) { return p.param.name; });

} // namespace
} // namespace tsr::test
