#include "log/activity_log.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <regex>
#include <thread>

#include "config/temp_folder.h"
#include "log/fake_clock.h"
#include "platform/file_system.h"
#include "support/test_platform.h"

namespace tsr {
namespace {

// The real file system, counting the files it opens for appending.
class CountingFileSystem final : public FileSystem {
public:
    std::string Resolve(const std::string& p) const override { return real->Resolve(p); }
    bool Exists(const std::string& p) const override { return real->Exists(p); }
    bool IsFolder(const std::string& p) const override { return real->IsFolder(p); }
    bool CreateFolder(const std::string& p) override { return real->CreateFolder(p); }
    std::vector<DirEntry> List(const std::string& f, const std::string& pat) const override {
        return real->List(f, pat);
    }
    bool DeleteFile(const std::string& p) override { return real->DeleteFile(p); }
    bool MoveFile(const std::string& a, const std::string& b) override { return real->MoveFile(a, b); }
    bool CopyFile(const std::string& a, const std::string& b) override { return real->CopyFile(a, b); }
    bool CopyFileAsNew(const std::string& a, const std::string& b) override { return real->CopyFileAsNew(a, b); }
    std::optional<std::string> ReadFile(const std::string& p) const override { return real->ReadFile(p); }
    std::optional<std::string> ReadExclusive(const std::string& p) const override {
        return real->ReadExclusive(p);
    }
    bool WriteAtomic(const std::string& p, const std::string& c) override { return real->WriteAtomic(p, c); }
    std::unique_ptr<AppendFile> OpenForAppend(const std::string& p) override {
        ++opens;
        return real->OpenForAppend(p);
    }

    std::unique_ptr<FileSystem> real = MakeFileSystem();
    int opens = 0;
};

class ActivityLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(dir.Path() / "log");
        log.SetFolder(folder);
    }
    std::string File(const std::string& name) const { return test::ReadText(dir.Path() / "log" / name); }

    test::TempFolder dir;
    std::string folder = dir / "log";
    test::FakeClock clock{test::kMay27At140311};
    CountingFileSystem fs;
    ActivityLog log{clock, fs};
};

TEST_F(ActivityLogTest, EntriesHaveTheExactBytes) {
    const std::uint8_t bytes[] = {0x01, 0x0A, 0xFF, 0x00};
    const std::int32_t values[] = {5, 42, 255, 7, -3, 100, 0, -100};
    log.WriteText("init", 3);
    log.WriteBytes(bytes, 4, 1);
    log.WriteValues(values, 8, 2);
    log.WriteBytes(bytes, 0, 3);
    log.WriteValues(nullptr, 0, 3);
    log.WriteText("<b>a & b</b>", 0);
    log.WriteValues(values, -1, 7);
    const std::string t = "2016-05-27 14:03:11  <span style='color:";
    EXPECT_EQ(File("2016052714_log.html"), t + "green'>init</span></BR>" +                            //
                                               t + "red'> 01 0A FF 00</span></BR>" +                  //
                                               t + "blue'> 05 42 255 07 -3 100 00 -100</span></BR>" + //
                                               t + "green'></span></BR>" +                            //
                                               t + "green'></span></BR>" +                            //
                                               t + "green'><b>a & b</b></span></BR>" +                //
                                               t + "green'></span></BR>");
    EXPECT_EQ(fs.opens, 1);
}

TEST_F(ActivityLogTest, NewHourSwitchesToANewFile) {
    clock.Set(test::kMay27At140311 + 56 * 60 + 48); // 14:59:59
    log.WriteText("last", 3);
    clock.Set(test::kMay27At140311 + 56 * 60 + 49); // 15:00:00
    log.WriteText("first", 3);
    log.WriteText("second", 3);
    EXPECT_EQ(File("2016052714_log.html"), "2016-05-27 14:59:59  <span style='color:green'>last</span></BR>");
    EXPECT_EQ(File("2016052715_log.html"),
              "2016-05-27 15:00:00  <span style='color:green'>first</span></BR>"
              "2016-05-27 15:00:00  <span style='color:green'>second</span></BR>");
    EXPECT_EQ(fs.opens, 2); // the first file is not opened again
}

TEST_F(ActivityLogTest, FileNameDifferingOnlyInCaseKeepsTheOpenFile) {
    log.WriteText("one", 3);
    log.SetFolder(dir / "LOG");
    log.WriteText("two", 3);
    EXPECT_EQ(fs.opens, 1);
    log.SetFolder(dir / "log/../log");
    log.WriteText("three", 3);
    EXPECT_EQ(fs.opens, 2);
    const std::string content = File("2016052714_log.html");
    EXPECT_NE(content.find("one"), std::string::npos);
    EXPECT_NE(content.find("two"), std::string::npos);
    EXPECT_NE(content.find("three"), std::string::npos);
}

TEST_F(ActivityLogTest, MissingFolderDropsEntriesUntilItCanBeWritten) {
    log.SetFolder(dir / "later");
    log.WriteText("lost", 3);
    log.WriteText("lost too", 3);
    EXPECT_EQ(fs.opens, 2); // tried again with every entry
    std::filesystem::create_directory(dir.Path() / "later");
    log.WriteText("kept", 3);
    EXPECT_EQ(test::ReadText(dir.Path() / "later/2016052714_log.html"),
              "2016-05-27 14:03:11  <span style='color:green'>kept</span></BR>");
    const int opens = fs.opens;
    log.SetFolder(""); // no folder: dropped, never written to the root folder
    log.WriteText("dropped", 3);
    EXPECT_EQ(fs.opens, opens);
}

// A technician may delete the hour's file, or the whole folder, while the log
// holds it open; later entries must not go into the deleted file.
TEST_F(ActivityLogTest, FileDeletedWhileOpenIsMadeAgainByTheNextEntry) {
    log.WriteText("first", 3);
    std::filesystem::remove(dir.Path() / "log/2016052714_log.html");
    std::error_code ec;
    if (std::filesystem::exists(dir.Path() / "log/2016052714_log.html", ec))
        GTEST_SKIP() << "this system keeps a file deleted while it is open (Wine does)";
    log.WriteText("second", 3);
    EXPECT_EQ(File("2016052714_log.html"), "2016-05-27 14:03:11  <span style='color:green'>second</span></BR>");

    std::filesystem::remove_all(dir.Path() / "log");
    log.WriteText("lost", 3); // no folder: dropped
    std::filesystem::create_directory(dir.Path() / "log");
    log.WriteText("third", 3);
    EXPECT_EQ(File("2016052714_log.html"), "2016-05-27 14:03:11  <span style='color:green'>third</span></BR>");
    EXPECT_EQ(fs.opens, 1); // the log's own file switch is unchanged
}

TEST_F(ActivityLogTest, NamedPipeUnderTheFileNameDropsEntriesWithoutHoldingTheWriter) {
    const std::string pipe = (dir.Path() / "log/2016052714_log.html").string();
    if (!test::MakeFifo(pipe)) // opening it for writing waits for a reader
        GTEST_SKIP() << "folders hold no named pipes here";
    log.WriteText("dropped", 3);
    log.WriteText("dropped too", 3);
    EXPECT_EQ(fs.opens, 2);
    clock.Set(test::kMay27At140311 + 3600);
    log.WriteText("next hour", 3);
    EXPECT_NE(File("2016052715_log.html").find("next hour"), std::string::npos);
}

TEST_F(ActivityLogTest, EntriesOfSeveralThreadsArriveWhole) {
    constexpr int kThreads = 4, kEntries = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            const std::string text(100 + t * 50, static_cast<char>('a' + t));
            const std::int32_t values[] = {t, t, t};
            for (int i = 0; i < kEntries; ++i) {
                if (i % 2)
                    log.WriteText(text, 3);
                else
                    log.WriteValues(values, 3, 2);
                if (t == 0 && i == kEntries / 2)
                    clock.Set(test::kMay27At140311 + 3600); // one thread crosses the hour
            }
        });
    for (auto& th : threads)
        th.join();
    const std::string all = File("2016052714_log.html") + File("2016052715_log.html");
    const std::regex entry("2016-05-27 1[45]:03:11  <span style='color:(green|blue)'>"
                           "(a{100}|b{150}|c{200}|d{250}|( 0[0-3]){3})</span>");
    ASSERT_GE(all.size(), 5u);
    ASSERT_EQ(all.substr(all.size() - 5), "</BR>");
    std::size_t count = 0, start = 0;
    while (start < all.size()) {
        const std::size_t end = all.find("</BR>", start);
        ASSERT_NE(end, std::string::npos);
        const std::string one = all.substr(start, end - start);
        ASSERT_TRUE(std::regex_match(one, entry)) << one;
        ++count;
        start = end + 5;
    }
    EXPECT_EQ(count, static_cast<std::size_t>(kThreads * kEntries));
}

// A clock that moves on by one second at every reading and lets other
// threads run right after it was read, as a busy machine does.
class SteppingClock final : public Clock {
public:
    explicit SteppingClock(std::time_t start) : next_(start) {}
    std::time_t Now() const override {
        const std::time_t t = next_.fetch_add(1);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        return t;
    }
    std::tm LocalTime(std::time_t t) const override { return UtcTime(t); }
    std::tm UtcTime(std::time_t t) const override { return test::CivilTime(t); }
    std::int64_t MonotonicMs() const override { return 0; }
    void SleepMs(int) const override {}

private:
    mutable std::atomic<std::time_t> next_;
};

TEST_F(ActivityLogTest, TwoThreadsAcrossTheHourKeepEachFileInOrderAndNeverReopenTheOldHour) {
    SteppingClock stepping(test::kMay27At140311 + 3409 - 100); // 100 readings before 15:00:00
    CountingFileSystem counted;
    ActivityLog stepped(stepping, counted);
    stepped.SetFolder(folder);
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i)
                stepped.WriteText("entry", 3);
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(counted.opens, 2); // 14:00 once, 15:00 once

    for (const char* name : {"2016052714_log.html", "2016052715_log.html"}) {
        const std::string text = File(name);
        std::vector<std::string> stamps;
        for (std::size_t at = 0; (at = text.find("2016-05-27 ", at)) != std::string::npos; at += 19)
            stamps.push_back(text.substr(at, 19));
        ASSERT_FALSE(stamps.empty()) << name;
        EXPECT_TRUE(std::is_sorted(stamps.begin(), stamps.end())) << name;
        const std::string hour = name[9] == '4' ? "2016-05-27 14:" : "2016-05-27 15:";
        for (const std::string& stamp : stamps) {
            EXPECT_EQ(stamp.rfind(hour, 0), 0u) << name << " holds " << stamp;
        }
    }
}

TEST_F(ActivityLogTest, CloseLetsTheNextEntryOpenAgain) {
    log.WriteText("a", 3);
    log.Close();
    log.WriteText("b", 3);
    EXPECT_EQ(fs.opens, 2);
    EXPECT_NE(File("2016052714_log.html").find("b</span>"), std::string::npos);
}

} // namespace
} // namespace tsr
