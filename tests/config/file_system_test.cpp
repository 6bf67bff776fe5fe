#include "platform/file_system.h"

#include <algorithm>
#include <gtest/gtest.h>

#include "config/temp_folder.h"
#include "support/test_platform.h"

namespace tsr {
namespace {

class FileSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir.Path() / "Velora" / "Press1");
        test::WriteText(dir.Path() / "Velora" / "Press1" / "Job.XML", "job");
    }
    std::vector<std::string> Names(const std::string& folder, const std::string& pattern) {
        std::vector<std::string> names;
        for (const DirEntry& e : fs->List(folder, pattern))
            names.push_back(e.name);
        std::sort(names.begin(), names.end());
        return names;
    }
    test::TempFolder dir;
    std::unique_ptr<FileSystem> fs = MakeFileSystem();
};

TEST_F(FileSystemTest, BothSeparatorsAndAnyLetterCaseReachTheExistingEntry) {
    const std::string root = dir.Path().generic_string();
    EXPECT_EQ(fs->Resolve(root + "\\velora\\PRESS1\\job.xml"), root + "/Velora/Press1/Job.XML");
    EXPECT_EQ(fs->Resolve(root + "/VELORA/press1/new/file.txt"), root + "/Velora/Press1/new/file.txt");
    EXPECT_EQ(fs->Resolve(root + "\\velora\\"), root + "/Velora/");
    EXPECT_EQ(fs->ReadFile(root + "\\VELORA\\press1\\JOB.xml"), "job");
    EXPECT_TRUE(fs->IsFolder(root + "\\velora\\press1"));
    EXPECT_FALSE(fs->IsFolder(root + "\\velora\\press1\\job.xml"));

    test::CurrentFolder here(dir.Path());
    EXPECT_EQ(fs->Resolve("..\\" + dir.Path().filename().string() + "\\velora"),
              "../" + dir.Path().filename().string() + "/Velora");
    EXPECT_TRUE(fs->Exists("velora\\press1\\job.xml"));
}

TEST_F(FileSystemTest, CreateFolderNeedsItsParent) {
    EXPECT_TRUE(fs->CreateFolder(dir / "velora\\press1\\xml"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "Velora/Press1/xml"));
    EXPECT_FALSE(fs->CreateFolder(dir / "VELORA/press1/XML")); // exists, in another letter case
    EXPECT_FALSE(fs->CreateFolder(dir / "missing/child"));
    EXPECT_FALSE(fs->CreateFolder(""));
}

TEST_F(FileSystemTest, ListMatchesWildcardsIgnoringCase) {
    const std::string folder = dir / "velora/press1";
    const std::filesystem::path real = dir.Path() / "Velora/Press1";
    for (const char* name : {"a.xml", "b.XmL", "c.txt", "xml", "d.xml.bak", "e.xmlx"})
        test::WriteText(real / name, "");
    std::filesystem::create_directory(real / "sub.xml");
    EXPECT_EQ(Names(folder, "*.xml"), (std::vector<std::string>{"Job.XML", "a.xml", "b.XmL", "sub.xml"}));
    EXPECT_EQ(Names(folder, "?.txt"), std::vector<std::string>{"c.txt"});
    EXPECT_EQ(Names(folder, "*"), (std::vector<std::string>{"Job.XML", "a.xml", "b.XmL", "c.txt", "d.xml.bak",
                                                            "e.xmlx", "sub.xml", "xml"}));
    EXPECT_EQ(Names(folder, "*x*l*k"), std::vector<std::string>{"d.xml.bak"});
    const auto entries = fs->List(folder, "SUB.*");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].isFolder);
    EXPECT_GT(entries[0].lastWrite, 0);
    EXPECT_TRUE(fs->List(dir / "missing", "*").empty());
    EXPECT_TRUE(fs->List("", "*").empty());
}

TEST_F(FileSystemTest, MoveFailsOnAnExistingTargetCopyReplaces) {
    const std::string job = dir / "velora/press1/job.xml";
    test::WriteText(dir.Path() / "Other.xml", "other");
    EXPECT_FALSE(fs->MoveFile(job, dir / "other.XML"));
    EXPECT_EQ(test::ReadText(dir.Path() / "Other.xml"), "other");
    EXPECT_TRUE(fs->CopyFile(job, dir / "OTHER.xml"));
    EXPECT_EQ(test::ReadText(dir.Path() / "Other.xml"), "job");
    EXPECT_TRUE(fs->MoveFile(job, dir / "moved.xml"));
    EXPECT_FALSE(fs->Exists(job));
    EXPECT_EQ(test::ReadText(dir.Path() / "moved.xml"), "job");
    EXPECT_FALSE(fs->CopyFile(job, dir / "again.xml"));
    EXPECT_TRUE(fs->DeleteFile(dir / "MOVED.xml"));
    EXPECT_FALSE(fs->DeleteFile(dir / "MOVED.xml"));
}

TEST_F(FileSystemTest, ReadExclusiveWaitsUntilTheProducerHasClosedTheFile) {
    const std::string path = dir / "incoming.xml";
    {
        test::HeldForWriting writer(path, "<a/>");
        ASSERT_TRUE(writer.ok());
        EXPECT_EQ(fs->ReadExclusive(path), std::nullopt);
        EXPECT_EQ(fs->ReadFile(path), "<a/>"); // an ordinary read is not kept out
    }
    EXPECT_EQ(fs->ReadExclusive(path), "<a/>");
    EXPECT_EQ(fs->ReadExclusive(dir / "missing.xml"), std::nullopt);
    EXPECT_EQ(fs->ReadExclusive(dir / "velora"), std::nullopt);
}

TEST_F(FileSystemTest, WriteAtomicReplacesTheWholeContentAndLeavesNothingBeside) {
    const std::string path = dir / "velora/press1/job.xml";
    EXPECT_TRUE(fs->WriteAtomic(path, "new content"));
    EXPECT_EQ(test::ReadText(dir.Path() / "Velora/Press1/Job.XML"), "new content");
    EXPECT_EQ(Names(dir / "velora/press1", "*"), std::vector<std::string>{"Job.XML"});
    EXPECT_FALSE(fs->WriteAtomic(dir / "missing/file.txt", "x"));
    EXPECT_FALSE(fs->WriteAtomic(dir / "velora/", "x"));
}

TEST_F(FileSystemTest, AppendFileAddsAtTheEnd) {
    const std::string path = dir / "VELORA/log.html";
    {
        auto file = fs->OpenForAppend(path);
        ASSERT_TRUE(file);
        file->WriteAndFlush("one");
        EXPECT_EQ(test::ReadText(dir.Path() / "Velora/log.html"), "one"); // on disk before close
        file->WriteAndFlush("two");
    }
    fs->OpenForAppend(path)->WriteAndFlush("three");
    EXPECT_EQ(test::ReadText(dir.Path() / "Velora/log.html"), "onetwothree");
    EXPECT_EQ(fs->OpenForAppend(dir / "missing/log.html"), nullptr);
}

} // namespace
} // namespace tsr
