#include <gtest/gtest.h>

#include <map>
#include <sys/stat.h>

#include "exchange/exchange_files.h"
#include "exchange_rig.h"
#include "log/fake_clock.h"

namespace tsr::test {
namespace {

// 2016-12-31 23:59:59 UTC
constexpr std::time_t kNewYearsEve = 1483228799;

struct FilesFixture : ::testing::Test {
    FilesFixture() : clock(kMay27At140311), log(clock, *fs), files(*fs, clock, log) {
        fs::create_directories(temp.Path() / "logs");
        log.SetFolder(temp / "logs");
    }
    TempFolder temp;
    std::unique_ptr<FileSystem> fs = MakeFileSystem();
    FakeClock clock;
    ActivityLog log;
    ExchangeFiles files;
};

TEST_F(FilesFixture, StatusMessageIsTheOneLineJmfText) {
    const std::string path = temp / "statusTessaro.xml";
    clock.Set(kNewYearsEve);
    files.WriteStatusMessage(path, true, kDefaultMeasurementNamespace);
    EXPECT_EQ(
        ReadText(path),
        "<?xml version=\"1.0\" encoding=\"utf-8\" ?> <JMF SenderID=\"Color Measurement System\" "
        "Version=\"1.3\" xmlns=\"http://www.CIP4.org/JDFSchema_1_1\" "
        "xmlns:qv=\"http://www.example.com/schema/measurement-vendor\"> <Command ID=\"cmd.1\" "
        "Type=\"Resource\" Time=\"2016-12-31T23:59:59GMT\"> <qv:command Transfer=\"Successful Transfered\" "
        "/> </Command> </JMF>");

    // written again it replaces the first, and the stamp has no leading zeros
    clock.Set(1464339907); // 2016-05-27 09:05:07 UTC
    files.WriteStatusMessage(path, false, kDefaultMeasurementNamespace);
    const std::string second = ReadText(path);
    EXPECT_NE(second.find("Time=\"2016-05-27T9:5:7GMT\"> <qv:command Transfer=\"Not Transfered\" />"),
              std::string::npos);
    EXPECT_EQ(second.find("<?xml"), 0u);
    EXPECT_EQ(second.find("<?xml", 1), std::string::npos);
    EXPECT_EQ(second.find('\n'), std::string::npos);
}

TEST(StatusMessageText, UsesUtcWhateverTheLocalZone) {
    std::tm utc{};
    const std::time_t t = 1464359400; // 14:30:00 UTC
    gmtime_r(&t, &utc);
    EXPECT_NE(ExchangeFiles::StatusMessageText(utc, true, kDefaultMeasurementNamespace).find("Time=\"2016-05-27T14:30:0GMT\""),
              std::string::npos);
    // the real clock's UTC reading is used, not local time
    setenv("TZ", "Pacific/Kiritimati", 1);
    tzset();
    TempFolder temp;
    auto fs = MakeFileSystem();
    SystemClock clock;
    ActivityLog log(clock, *fs);
    ExchangeFiles files(*fs, clock, log);
    const std::time_t before = std::time(nullptr);
    files.WriteStatusMessage(temp / "s.xml", true, kDefaultMeasurementNamespace);
    std::tm now{};
    gmtime_r(&before, &now);
    char hour[8];
    std::snprintf(hour, sizeof hour, "T%d:", now.tm_hour);
    const std::string text = ReadText(temp.Path() / "s.xml");
    unsetenv("TZ");
    tzset();
    EXPECT_NE(text.find(hour), std::string::npos) << text;
}

TEST_F(FilesFixture, ReadWholeFileStopsAtZeroByteAndSkipsFilesBeingWritten) {
    const std::string path = temp / "in.xml";
    WriteText(path, std::string("<a/>\0tail", 9));
    EXPECT_EQ(files.ReadWholeFile(path), "<a/>");
    EXPECT_EQ(files.ReadWholeFile(temp / "IN.XML"), "<a/>"); // names ignore letter case
    EXPECT_EQ(files.ReadWholeFile(temp / "missing.xml"), "");
    {
        OpenWriter writer(temp / "busy.xml");
        writer.Write("<JDF/>");
        EXPECT_EQ(files.ReadWholeFile(temp / "busy.xml"), "");
        EXPECT_FALSE(files.DeleteRequestFile(temp / "busy.xml"));
        EXPECT_TRUE(fs::exists(temp.Path() / "busy.xml"));
    }
    EXPECT_EQ(files.ReadWholeFile(temp / "busy.xml"), "<JDF/>");
    EXPECT_TRUE(files.DeleteRequestFile(temp / "BUSY.xml"));
    EXPECT_FALSE(fs::exists(temp.Path() / "busy.xml"));
}

TEST_F(FilesFixture, WriteWholeFileReplacesTheFileWholeAndAtOnce) {
    const std::string path = temp / "out.xml";
    WriteText(path, std::string(5000, 'x'));
    struct stat before {};
    ::stat(path.c_str(), &before);
    // a neighbour that has the old file open keeps reading the old content
    std::ifstream reader(path, std::ios::binary);
    EXPECT_TRUE(files.WriteWholeFile(path, "short"));
    EXPECT_EQ(ReadText(path), "short");
    std::string old((std::istreambuf_iterator<char>(reader)), std::istreambuf_iterator<char>());
    EXPECT_EQ(old, std::string(5000, 'x'));
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(temp.Path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"logs", "out.xml"})); // nothing left beside it
    EXPECT_FALSE(files.WriteWholeFile(temp / "no-folder/out.xml", "x"));
}

TEST_F(FilesFixture, BackupCleanUpKeepsTheLastTenDays) {
    const fs::path logs = temp.Path() / "logs";
    for (const char* name : {"20160516_090000_x.xml", "2016051610_log.html", "20160517_090000_x.xml",
                             "readme.txt", "00000000_zero.xml", "2016051", "x20160101.xml"})
        WriteText(logs / name, "old");
    fs::create_directories(logs / "Memory");
    const std::string source = temp / "job.xml";
    WriteText(source, "<JDF/>");

    clock.Set(kMay27At140311);
    EXPECT_EQ(files.BackupExchangeFile("20160527_140311job.xml", source, true),
              "20160527_140311_20160527_140311job.xml");

    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(logs))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"00000000_zero.xml", "2016051", "20160517_090000_x.xml",
                                               "20160527_140311_20160527_140311job.xml", "Memory",
                                               "readme.txt", "x20160101.xml"}));
    EXPECT_EQ(ReadText(logs / "20160527_140311_20160527_140311job.xml"), "<JDF/>");

    // without clean-up nothing old goes
    WriteText(logs / "20160101_000000_x.xml", "old");
    files.BackupExchangeFile("Synch.xml", source, false);
    EXPECT_TRUE(fs::exists(logs / "20160101_000000_x.xml"));
    EXPECT_TRUE(fs::exists(logs / "20160527_140311_Synch.xml"));
}

// Requests handled within one second each keep their own whole backup; a
// name that is taken is never written over, and every later copy still
// begins with its date.
TEST_F(FilesFixture, BackupsWithinOneSecondAreAllKeptWhole) {
    const fs::path logs = temp.Path() / "logs";
    WriteText(logs / "20160527_140311_Scan.xml", "not ours"); // there before: kept as it is
    std::map<std::string, std::string> expected{{"20160527_140311_Scan.xml", "not ours"}};
    for (const char* role : {"job.xml", "newInkKeys.xml", "Synch.xml", "Scan.xml"})
        for (int copy = 1; copy <= 3; ++copy) {
            const std::string text = std::string("<JDF ID=\"") + role + std::to_string(copy) + "\">" +
                                     std::string(std::size_t(2000) * copy, 'z') + "</JDF>";
            const std::string source = temp / "request.xml";
            WriteText(source, text);
            const std::string name = files.BackupExchangeFile(role, source, copy == 2);
            ASSERT_FALSE(name.empty()) << role << copy;
            EXPECT_EQ(ExchangeFiles::DatePrefix(name), 20160527) << name;
            EXPECT_TRUE(expected.emplace(name, text).second) << name << " given twice";
        }
    EXPECT_EQ(expected.count("20160527_140311_job-3.xml"), 1u);
    EXPECT_EQ(expected.count("20160527_140311_Scan-4.xml"), 1u);
    std::map<std::string, std::string> found;
    for (const auto& e : fs::directory_iterator(logs))
        found[e.path().filename().string()] = ReadText(e.path());
    EXPECT_EQ(found, expected);
}

TEST_F(FilesFixture, BackupThatCannotBeMadeIsLoggedAndGivesNoName) {
    EXPECT_EQ(files.BackupExchangeFile("job.xml", temp / "missing.xml", false), "");
    bool logged = false;
    for (const auto& e : fs::directory_iterator(temp.Path() / "logs"))
        logged = logged || ReadText(e.path()).find("backup failed: 20160527_140311_job.xml") != std::string::npos;
    EXPECT_TRUE(logged);
}

TEST(ExchangeFilesNames, BackupNamesAreLegalWindowsNames) {
    std::tm t{};
    const std::time_t at = kMay27At140311;
    gmtime_r(&at, &t);
    EXPECT_EQ(ExchangeFiles::BackupName(t, "20160527_14:03:11job.xml"), "20160527_140311_20160527_140311job.xml");
    EXPECT_EQ(ExchangeFiles::BackupName(t, "a<b>c\"d/e\\f|g?h*i\x01.xml."),
              "20160527_140311_a_b_c_d_e_f_g_h_i_.xml_");
    EXPECT_EQ(ExchangeFiles::NumberedName("x.xml", 1), "x.xml");
    EXPECT_EQ(ExchangeFiles::NumberedName("x.xml", 12), "x-12.xml");
    EXPECT_EQ(ExchangeFiles::NumberedName("noext", 2), "noext-2");
}

TEST(ExchangeFilesNames, DatePrefixAndCutOff) {
    FakeClock clock(kMay27At140311);
    EXPECT_EQ(ExchangeFiles::CleanUpCutOff(clock, clock.Now()), 20160517);
    EXPECT_EQ(ExchangeFiles::DatePrefix("20160516_x"), 20160516);
    EXPECT_EQ(ExchangeFiles::DatePrefix("20160516"), 0); // not longer than 8
    EXPECT_EQ(ExchangeFiles::DatePrefix("2016ab16_x"), 2016);
    EXPECT_EQ(ExchangeFiles::DatePrefix("Memory.bak"), 0);
}

} // namespace
} // namespace tsr::test
